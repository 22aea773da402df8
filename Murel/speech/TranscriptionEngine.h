#pragma once

#include "runtime/Cancellation.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace murel {

// Mono audio at 16,000 samples per second, 32-bit float.
using AudioSamples = std::vector<float>;

struct TranscriptionResult {
  QString text;
  // The language the engine used or detected; empty when it does not report one.
  std::optional<QString> language;

  bool operator==(const TranscriptionResult&) const = default;
};

// One speech engine (Whisper, Parakeet, Qwen3-ASR, or the segmenting wrapper).
// The engine host holds engines only through this interface.
//
// Every implementation guarantees:
// - isLoaded() answers at once from any thread, without waiting for a running
//   operation; it is true from the end of a successful load() until unload().
// - load() is called once on a new engine; it fails with EngineError
//   (modelMissing, initFailed, vadModelMissing) or a lower layer's error and then
//   leaves the engine unloaded.
// - unload() frees everything load() made, never fails, and is harmless when
//   nothing is loaded.
// - transcribe() fails with EngineError::notLoaded without a loaded model, with
//   runFailed carrying the library's code when inference fails, and with
//   OperationCancelled when `cancel` fired before inference.
// - Operations of one engine are serialised on the engine's own worker and never
//   run inference on the main thread; different engines may run in parallel.
// - warmUp() never fails, and once `cancel` fires it ends with the library
//   step it is in, so a call queued behind it waits at most for that step.
class TranscriptionEngine {
 public:
  virtual ~TranscriptionEngine() = default;

  virtual bool isLoaded() const = 0;
  virtual QCoro::Task<void> load() = 0;
  virtual QCoro::Task<void> unload() = 0;
  // `language` is a code such as "en", or empty to let the engine detect it.
  // `vocabulary` holds hint terms, already trimmed, de-duplicated and cut to the
  // model's budget by the host (empty when the model takes none).
  virtual QCoro::Task<TranscriptionResult> transcribe(AudioSamples samples, std::optional<QString> language,
                                                      QStringList vocabulary, CancellationToken cancel) = 0;
  // One short pass on silence with the parameters transcribe() uses for
  // `language`. The first inference on a freshly loaded model is markedly slower
  // than the next (memory touched and threads started for the first time): this
  // pays that cost before a user waits for it. True when the pass ran to its
  // end; false when it was cancelled or there was nothing to warm. The default
  // does nothing.
  virtual QCoro::Task<bool> warmUp(std::optional<QString> language, CancellationToken cancel);
};

// How long a cancelled warm-up should still hold its engine: the longest step
// of Whisper's pass that cannot be interrupted. Parakeet's pass is a single
// encoder step its library cannot interrupt, and takes longer on a fresh
// engine (a few hundred milliseconds), which the waiting call would otherwise
// spend on its own first inference.
inline constexpr std::chrono::milliseconds kWarmUpCancelBound{50};

inline QCoro::Task<bool> TranscriptionEngine::warmUp(std::optional<QString>, CancellationToken) { co_return false; }

// How the engine host turns an audio file into samples: the sample loader in
// the application, anything with the same contract in tests. loadSamples may be
// called from any thread and must not touch main-thread state.
struct TranscriptionPipeline {
  std::function<AudioSamples(const QString& filePath)> loadSamples;

  // The application's pipeline, on AudioSampleLoader.
  static TranscriptionPipeline standard();
};

}  // namespace murel
