#include "speech/UnavailableEngine.h"

#include "speech/EngineError.h"

namespace murel {

QCoro::Task<void> UnavailableEngine::load() {
  throw EngineError::initFailed(engineName_);
  co_return;
}

QCoro::Task<void> UnavailableEngine::unload() { co_return; }

QCoro::Task<TranscriptionResult> UnavailableEngine::transcribe(AudioSamples, std::optional<QString>, QStringList,
                                                               CancellationToken) {
  throw EngineError::notLoaded();
  co_return TranscriptionResult{};
}

}  // namespace murel
