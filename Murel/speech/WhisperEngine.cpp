#include "speech/WhisperEngine.h"

#include "speech/EngineError.h"
#include "speech/WhisperLog.h"
#include "speech/WhisperParams.h"

#include <QCoroFuture>
#include <QDir>

#include <limits>

namespace murel {

// One whisper.cpp context; used only on its engine's worker.
class WhisperContext {
 public:
  WhisperContext(const QString& modelPath, QString vadModelPath, const Logger& log)
      : vadModelPath_(std::move(vadModelPath)), nThreads_(engineThreadCount()) {
    whisper_context_params params = whisper_context_default_params();
    params.use_gpu = true;
    params.flash_attn = true;
    routeWhisperLogs();
    ctx_ = whisper_init_from_file_with_params(modelPath.toLocal8Bit().constData(), params);
    if (!ctx_) throw EngineError::initFailed(QStringLiteral("Whisper"));
    log.info(QStringLiteral("Whisper context initialized from ") + modelPath);
  }
  ~WhisperContext() {
    if (ctx_) whisper_free(ctx_);
  }
  WhisperContext(const WhisperContext&) = delete;
  WhisperContext& operator=(const WhisperContext&) = delete;

  TranscriptionResult transcribe(const AudioSamples& samples, const WhisperDecodingRequest& request) {
    if (!ctx_) throw EngineError::notLoaded();
    const QByteArray vadPath = vadModelPath_.toLocal8Bit();
    const whisper_full_params params = makeWhisperFullParams(
        nThreads_, request.language.constData(),
        request.initialPrompt ? request.initialPrompt->constData() : nullptr, vadPath.constData());
    const int status = whisper_full(ctx_, params, samples.data(), static_cast<int>(samples.size()));
    if (status != 0) throw EngineError::runFailed(QStringLiteral("Whisper"), status);

    // Segment texts carry their own leading spaces: joined as they are.
    QByteArray text;
    const int count = whisper_full_n_segments(ctx_);
    for (int i = 0; i < count; ++i) {
      if (const char* segment = whisper_full_get_segment_text(ctx_, i)) text.append(segment);
    }
    TranscriptionResult result{QString::fromUtf8(text), std::nullopt};
    if (const char* code = whisper_lang_str(whisper_full_lang_id(ctx_))) result.language = QString::fromUtf8(code);
    return result;
  }

 private:
  whisper_context* ctx_ = nullptr;
  const QString vadModelPath_;
  const int nThreads_;
};

whisper_full_params makeWhisperFullParams(int nThreads, const char* language, const char* initialPrompt,
                                          const char* vadModelPath) {
  whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
  params.strategy = WHISPER_SAMPLING_GREEDY;
  params.n_threads = nThreads;
  params.translate = false;
  params.no_context = true;
  params.single_segment = false;
  params.print_special = false;
  params.print_progress = false;
  params.print_realtime = false;
  params.print_timestamps = false;
  params.suppress_nst = true;
  params.language = language;
  if (initialPrompt) {
    params.initial_prompt = initialPrompt;
    params.carry_initial_prompt = true;
  }
  params.vad = true;
  params.vad_model_path = vadModelPath;
  params.vad_params.min_silence_duration_ms = 500;
  params.vad_params.speech_pad_ms = 200;
  return params;
}

WhisperDecodingRequest whisperDecodingRequest(const std::optional<QString>& language, const QStringList& vocabulary) {
  WhisperDecodingRequest request;
  request.language = language ? language->toUtf8() : QByteArrayLiteral("auto");
  // The host has already trimmed, de-duplicated and cut the terms to the budget.
  if (!vocabulary.isEmpty()) request.initialPrompt = vocabulary.join(QStringLiteral(", ")).toUtf8();
  return request;
}

WhisperEngine::WhisperEngine(WhisperModel::Case model)
    : WhisperEngine(model, WhisperModel::descriptor(model), vadModelResourcePath) {}

WhisperEngine::WhisperEngine(WhisperModel::Case model, SpeechModelDescriptor descriptor, VadModelLocator locateVad)
    : model_(model), descriptor_(std::move(descriptor)), locateVad_(std::move(locateVad)) {}

WhisperEngine::~WhisperEngine() = default;

QCoro::Task<void> WhisperEngine::load() {
  co_await worker_.run([this] {
    if (context_) return;
    if (!descriptor_.isModelInstalled()) throw EngineError::modelMissing();
    const std::optional<QString> vadPath = locateVad_ ? locateVad_() : std::nullopt;
    if (!vadPath) throw EngineError::vadModelMissing();
    const QString modelPath = QDir(descriptor_.storageDirectory).filePath(descriptor_.artifacts.value(0).filename);
    context_ = std::make_shared<WhisperContext>(modelPath, *vadPath, residency_.logger());
    residency_.setLoaded(true);
  });
}

QCoro::Task<void> WhisperEngine::unload() {
  co_await worker_.run([this] {
    context_.reset();
    residency_.setLoaded(false);
  });
}

QCoro::Task<TranscriptionResult> WhisperEngine::transcribe(AudioSamples samples, std::optional<QString> language,
                                                           QStringList vocabulary, CancellationToken cancel) {
  const AudioSamples* input = &samples;  // the frame outlives the job: it is awaited below
  co_return co_await worker_.run([this, input, &language, &vocabulary, cancel]() -> TranscriptionResult {
    const std::shared_ptr<WhisperContext> context = context_;
    if (!context) throw EngineError::notLoaded();
    if (cancel.isCancelled()) throw OperationCancelled();
    if (input->size() > static_cast<size_t>(std::numeric_limits<int>::max()))
      throw EngineError::audioConversionFailed(QStringLiteral("the recording is too long"));
    return context->transcribe(*input, whisperDecodingRequest(language, vocabulary));
  });
}

}  // namespace murel
