#include "speech/EngineFactories.h"
#include "speech/UnavailableEngine.h"

namespace murel {

// Replaced by the Whisper engine when it joins the build.
std::shared_ptr<TranscriptionEngine> makeWhisperEngine(WhisperModel::Case) {
  return std::make_shared<UnavailableEngine>(QStringLiteral("Whisper"));
}

}  // namespace murel
