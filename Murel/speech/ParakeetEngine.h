#pragma once

#include "runtime/Async.h"
#include "speech/EngineResidency.h"
#include "speech/ParakeetModel.h"
#include "speech/TranscriptionEngine.h"

#include <memory>

namespace murel {

class ParakeetContext;

// NVIDIA Parakeet TDT 0.6B v3 through whisper.cpp's Parakeet library. The model
// detects the language itself and takes no hints: the language and vocabulary
// arguments are ignored and no language is reported. Calls run one at a time on
// the engine's own worker.
class ParakeetEngine final : public TranscriptionEngine {
 public:
  ParakeetEngine();
  // The model file as `descriptor` lists it; the application uses the catalogue row.
  explicit ParakeetEngine(SpeechModelDescriptor descriptor);
  ~ParakeetEngine() override;

  bool isLoaded() const override { return residency_.isLoaded(); }
  QCoro::Task<void> load() override;
  QCoro::Task<void> unload() override;
  // Empty samples give the empty text without running the library (it would
  // otherwise hand back the previous call's text).
  QCoro::Task<TranscriptionResult> transcribe(AudioSamples samples, std::optional<QString> language,
                                              QStringList vocabulary, CancellationToken cancel) override;
  QCoro::Task<bool> warmUp(std::optional<QString> language, CancellationToken cancel) override;

  const EngineResidency& residency() const { return residency_; }

 private:
  const SpeechModelDescriptor descriptor_;
  EngineResidency residency_{QStringLiteral("Parakeet"), "parakeet"};
  std::shared_ptr<ParakeetContext> context_;           // used on worker_ only
  SerialExecutor worker_{QStringLiteral("parakeet")};  // last: joined before the context goes
};

}  // namespace murel
