#include "speech/ParakeetEngine.h"

#include "speech/EngineError.h"
#include "speech/WhisperLog.h"

#include <parakeet.h>

#include <QCoroFuture>
#include <QDir>

#include <limits>

namespace murel {
namespace {

// Silence of the warm-up pass.
constexpr double kWarmUpSeconds = 1.0;

}  // namespace

// One Parakeet library context; used only on its engine's worker.
class ParakeetContext {
 public:
  ParakeetContext(const QString& modelPath, const Logger& log) {
    parakeet_context_params params = parakeet_context_default_params();
    params.use_gpu = true;
    routeWhisperLogs();
    ctx_ = parakeet_init_from_file_with_params(modelPath.toLocal8Bit().constData(), params);
    if (!ctx_) throw EngineError::initFailed(QStringLiteral("Parakeet"));
    log.info(QStringLiteral("Parakeet context initialized from ") + modelPath);
  }
  ~ParakeetContext() {
    if (ctx_) parakeet_free(ctx_);
  }
  ParakeetContext(const ParakeetContext&) = delete;
  ParakeetContext& operator=(const ParakeetContext&) = delete;

  QString transcribe(const AudioSamples& samples) {
    if (!ctx_) throw EngineError::notLoaded();
    parakeet_full_params params = parakeet_full_default_params(PARAKEET_SAMPLING_GREEDY);
    params.n_threads = inferenceThreadCountNow();
    params.no_context = true;
    const int status = parakeet_full(ctx_, params, samples.data(), static_cast<int>(samples.size()));
    if (status != 0) throw EngineError::runFailed(QStringLiteral("Parakeet"), status);

    QByteArray text;
    const int count = parakeet_full_n_segments(ctx_);
    for (int i = 0; i < count; ++i) {
      if (const char* segment = parakeet_full_get_segment_text(ctx_, i)) text.append(segment);
    }
    return QString::fromUtf8(text);
  }

  // The same call on silence; a fired `cancel` stops the library at the end of
  // the step it is in.
  bool warmUp(const CancellationToken& cancel) {
    if (!ctx_ || cancel.isCancelled()) return false;
    const AudioSamples silence(static_cast<size_t>(kWarmUpSeconds * 16000), 0.f);
    parakeet_full_params params = parakeet_full_default_params(PARAKEET_SAMPLING_GREEDY);
    params.n_threads = inferenceThreadCountNow();
    params.no_context = true;
    params.abort_callback = [](void* token) { return static_cast<const CancellationToken*>(token)->isCancelled(); };
    params.abort_callback_user_data = const_cast<CancellationToken*>(&cancel);
    const QuietWhisperLogs quiet;
    const int status = parakeet_full(ctx_, params, silence.data(), static_cast<int>(silence.size()));
    return status == 0 && !cancel.isCancelled();
  }

 private:
  parakeet_context* ctx_ = nullptr;
};

ParakeetEngine::ParakeetEngine() : ParakeetEngine(ParakeetModel::descriptor(ParakeetModel::tdt06bV3Q8)) {}

ParakeetEngine::ParakeetEngine(SpeechModelDescriptor descriptor) : descriptor_(std::move(descriptor)) {}

ParakeetEngine::~ParakeetEngine() = default;

QCoro::Task<void> ParakeetEngine::load() {
  auto job = [this] {
    if (context_) return;
    if (!descriptor_.isModelInstalled()) throw EngineError::modelMissing();
    const QString modelPath = QDir(descriptor_.storageDirectory).filePath(descriptor_.artifacts.value(0).filename);
    context_ = std::make_shared<ParakeetContext>(modelPath, residency_.logger());
    residency_.setLoaded(true);
  };
  co_await worker_.run(std::move(job));
}

QCoro::Task<void> ParakeetEngine::unload() {
  auto job = [this] {
    context_.reset();
    residency_.setLoaded(false);
  };
  co_await worker_.run(std::move(job));
}

QCoro::Task<TranscriptionResult> ParakeetEngine::transcribe(AudioSamples samples, std::optional<QString>, QStringList,
                                                            CancellationToken cancel) {
  const AudioSamples* input = &samples;  // the frame outlives the job: it is awaited below
  auto job = [this, input, cancel]() -> TranscriptionResult {
    const std::shared_ptr<ParakeetContext> context = context_;
    if (!context) throw EngineError::notLoaded();
    if (cancel.isCancelled()) throw OperationCancelled();
    if (input->empty()) return {};
    if (input->size() > static_cast<size_t>(std::numeric_limits<int>::max()))
      throw EngineError::audioConversionFailed(QStringLiteral("the recording is too long"));
    return {context->transcribe(*input), std::nullopt};
  };
  co_return co_await worker_.run(std::move(job));
}

QCoro::Task<bool> ParakeetEngine::warmUp(std::optional<QString>, CancellationToken cancel) {
  auto job = [this, cancel] {
    const std::shared_ptr<ParakeetContext> context = context_;
    return context && context->warmUp(cancel);
  };
  co_return co_await worker_.run(std::move(job));
}

}  // namespace murel
