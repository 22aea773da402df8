#include "speech/WhisperEngine.h"

#include "speech/EngineError.h"
#include "speech/WhisperLog.h"
#include "speech/WhisperParams.h"

#include <QCoroFuture>
#include <QDir>

#include <algorithm>
#include <cmath>
#include <limits>

namespace murel {
namespace {

// Silence of the warm-up pass: whisper.cpp pads every window to 30 s anyway.
constexpr double kWarmUpSeconds = 1.0;
// Decoder steps of the warm-up pass.
constexpr int kWarmUpTokens = 8;
// Encoder frames of the warm-up pass (20 ms each): the encoder cannot be
// interrupted, and over the full 30 s window it would hold a transcription
// that arrives meanwhile for a whole encoder pass. Its first run costs little
// more than its later ones; the decoder's first steps are the slow ones.
constexpr int kWarmUpAudioContext = 32;

}  // namespace

// One whisper.cpp context; used only on its engine's worker.
class WhisperContext {
 public:
  WhisperContext(const QString& modelPath, const QString& vadModelPath, const Logger& log) {
    whisper_context_params params = whisper_context_default_params();
    params.use_gpu = true;
    params.flash_attn = true;
    routeWhisperLogs();
    ctx_ = whisper_init_from_file_with_params(modelPath.toLocal8Bit().constData(), params);
    if (!ctx_) throw EngineError::initFailed(QStringLiteral("Whisper"));
    // whisper_full's own detection would make a context with four threads
    // whatever we ask for; this one is ours, with the same model and ranges.
    whisper_vad_context_params vadParams = whisper_vad_default_context_params();
    vadParams.n_threads = kWhisperVadThreads;
    vadParams.use_gpu = false;
    vad_ = whisper_vad_init_from_file_with_params(vadModelPath.toLocal8Bit().constData(), vadParams);
    if (!vad_) {
      whisper_free(ctx_);
      throw EngineError::initFailed(QStringLiteral("VAD"));
    }
    log.info(QStringLiteral("Whisper context initialized from ") + modelPath);
  }
  ~WhisperContext() {
    if (vad_) whisper_vad_free(vad_);
    if (ctx_) whisper_free(ctx_);
  }
  WhisperContext(const WhisperContext&) = delete;
  WhisperContext& operator=(const WhisperContext&) = delete;

  TranscriptionResult transcribe(const AudioSamples& samples, const WhisperDecodingRequest& request) {
    if (!ctx_) throw EngineError::notLoaded();
    const std::vector<float> speech = detectSpeech(samples);
    // Segment texts carry their own leading spaces: joined as they are.
    QByteArray text;
    // Without speech there is nothing to transcribe, as whisper_full decides too.
    if (!speech.empty()) {
      const whisper_full_params params =
          makeWhisperFullParams(inferenceThreadCountNow(), request.language.constData(),
                                request.initialPrompt ? request.initialPrompt->constData() : nullptr);
      const int status = whisper_full(ctx_, params, speech.data(), static_cast<int>(speech.size()));
      if (status != 0) throw EngineError::runFailed(QStringLiteral("Whisper"), status);
      const int count = whisper_full_n_segments(ctx_);
      for (int i = 0; i < count; ++i) {
        if (const char* segment = whisper_full_get_segment_text(ctx_, i)) text.append(segment);
      }
    }
    TranscriptionResult result{QString::fromUtf8(text), std::nullopt};
    if (const char* code = whisper_lang_str(whisper_full_lang_id(ctx_))) result.language = QString::fromUtf8(code);
    return result;
  }

  // A transcription's road on silence: the detector, then whisper_full on the
  // silence itself (after detection nothing would be left to run), with a short
  // encoder window, and a decoder that stops after a few tokens and without
  // temperature fallbacks. A fired `cancel` stops whisper.cpp before its
  // encoder or at the end of the step it is in.
  bool warmUp(const WhisperDecodingRequest& request, const CancellationToken& cancel) {
    if (!ctx_) return false;
    const AudioSamples silence(static_cast<size_t>(kWarmUpSeconds * WHISPER_SAMPLE_RATE), 0.f);
    const QuietWhisperLogs quiet;
    detectSpeech(silence);
    if (cancel.isCancelled()) return false;
    whisper_full_params params =
        makeWhisperFullParams(inferenceThreadCountNow(), request.language.constData(),
                              request.initialPrompt ? request.initialPrompt->constData() : nullptr);
    params.max_tokens = kWarmUpTokens;
    params.temperature_inc = 0.f;
    params.audio_ctx = kWarmUpAudioContext;
    const auto stillWanted = [](whisper_context*, whisper_state*, void* token) {
      return !static_cast<const CancellationToken*>(token)->isCancelled();
    };
    const auto cancelled = [](void* token) { return static_cast<const CancellationToken*>(token)->isCancelled(); };
    params.encoder_begin_callback = stillWanted;
    params.encoder_begin_callback_user_data = const_cast<CancellationToken*>(&cancel);
    params.abort_callback = cancelled;
    params.abort_callback_user_data = const_cast<CancellationToken*>(&cancel);
    const int status = whisper_full(ctx_, params, silence.data(), static_cast<int>(silence.size()));
    return status == 0 && !cancel.isCancelled();
  }

 private:
  std::vector<float> detectSpeech(const AudioSamples& samples) {
    const whisper_vad_params params = makeWhisperVadParams();
    whisper_vad_segments* segments =
        whisper_vad_segments_from_samples(vad_, params, samples.data(), static_cast<int>(samples.size()));
    if (!segments) throw EngineError::runFailed(QStringLiteral("VAD"), -1);
    std::vector<SpeechRange> ranges;
    const int count = whisper_vad_segments_n_segments(segments);
    ranges.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
      ranges.push_back({static_cast<qint64>(whisper_vad_segments_get_segment_t0(segments, i)),
                        static_cast<qint64>(whisper_vad_segments_get_segment_t1(segments, i))});
    }
    whisper_vad_free_segments(segments);
    return speechOnlySamples(samples.data(), static_cast<int>(samples.size()), ranges, params.samples_overlap);
  }

  whisper_context* ctx_ = nullptr;
  whisper_vad_context* vad_ = nullptr;
};

whisper_full_params makeWhisperFullParams(int nThreads, const char* language, const char* initialPrompt) {
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
  params.vad = false;
  params.vad_params = makeWhisperVadParams();
  return params;
}

whisper_vad_params makeWhisperVadParams() {
  whisper_vad_params params = whisper_vad_default_params();
  params.min_silence_duration_ms = 500;
  params.speech_pad_ms = 200;
  return params;
}

std::vector<float> speechOnlySamples(const float* samples, int count, const std::vector<SpeechRange>& ranges,
                                     float overlapSeconds) {
  // Rounded as whisper.cpp rounds, so the same audio reaches the decoder.
  constexpr int kRate = WHISPER_SAMPLE_RATE;
  const auto toSamples = [](qint64 cs) {
    return static_cast<int>(std::lround((static_cast<double>(cs) / 100.0) * kRate));
  };
  const int overlap = static_cast<int>(overlapSeconds * kRate);
  const int silence = static_cast<int>(0.1 * kRate);
  std::vector<float> out;
  if (count <= 0) return out;
  for (size_t i = 0; i < ranges.size(); ++i) {
    const bool last = i + 1 == ranges.size();
    const int start = std::min(toSamples(ranges[i].startCs), count - 1);
    int end = std::min(toSamples(ranges[i].endCs), count - 1);
    if (!last) end = std::min(end + overlap, count - 1);
    if (end <= start) continue;
    out.insert(out.end(), samples + start, samples + end);
    if (!last) out.insert(out.end(), static_cast<size_t>(silence), 0.f);
  }
  return out;
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
  auto job = [this] {
    if (context_) return;
    if (!descriptor_.isModelInstalled()) throw EngineError::modelMissing();
    const std::optional<QString> vadPath = locateVad_ ? locateVad_() : std::nullopt;
    if (!vadPath) throw EngineError::vadModelMissing();
    const QString modelPath = QDir(descriptor_.storageDirectory).filePath(descriptor_.artifacts.value(0).filename);
    context_ = std::make_shared<WhisperContext>(modelPath, *vadPath, residency_.logger());
    residency_.setLoaded(true);
  };
  co_await worker_.run(std::move(job));
}

QCoro::Task<void> WhisperEngine::unload() {
  auto job = [this] {
    context_.reset();
    residency_.setLoaded(false);
  };
  co_await worker_.run(std::move(job));
}

QCoro::Task<TranscriptionResult> WhisperEngine::transcribe(AudioSamples samples, std::optional<QString> language,
                                                           QStringList vocabulary, CancellationToken cancel) {
  const AudioSamples* input = &samples;  // the frame outlives the job: it is awaited below
  auto job = [this, input, &language, &vocabulary, cancel]() -> TranscriptionResult {
    const std::shared_ptr<WhisperContext> context = context_;
    if (!context) throw EngineError::notLoaded();
    if (cancel.isCancelled()) throw OperationCancelled();
    if (input->size() > static_cast<size_t>(std::numeric_limits<int>::max()))
      throw EngineError::audioConversionFailed(QStringLiteral("the recording is too long"));
    return context->transcribe(*input, whisperDecodingRequest(language, vocabulary));
  };
  co_return co_await worker_.run(std::move(job));
}

QCoro::Task<bool> WhisperEngine::warmUp(std::optional<QString> language, CancellationToken cancel) {
  auto job = [this, &language, cancel] {
    const std::shared_ptr<WhisperContext> context = context_;
    if (!context || cancel.isCancelled()) return false;
    try {
      return context->warmUp(whisperDecodingRequest(language, {}), cancel);
    } catch (...) {
      return false;  // the next transcription meets the same fault and reports it
    }
  };
  co_return co_await worker_.run(std::move(job));
}

}  // namespace murel
