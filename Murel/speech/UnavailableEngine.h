#pragma once

#include "speech/TranscriptionEngine.h"

namespace murel {

// Stands in for an engine family that this build does not contain: it never
// loads (initFailed with the family's name), so choosing such a model reports an
// error instead of crashing.
class UnavailableEngine final : public TranscriptionEngine {
 public:
  explicit UnavailableEngine(QString engineName) : engineName_(std::move(engineName)) {}

  bool isLoaded() const override { return false; }
  QCoro::Task<void> load() override;
  QCoro::Task<void> unload() override;
  QCoro::Task<TranscriptionResult> transcribe(AudioSamples samples, std::optional<QString> language,
                                              QStringList vocabulary, CancellationToken cancel) override;

 private:
  QString engineName_;
};

}  // namespace murel
