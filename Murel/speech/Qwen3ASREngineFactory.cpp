#include "speech/EngineFactories.h"
#include "speech/UnavailableEngine.h"

namespace murel {

// Replaced by the Qwen3-ASR engine when it joins the build.
std::shared_ptr<TranscriptionEngine> makeQwen3ASREngine(Qwen3ASRModel::Case) {
  return std::make_shared<UnavailableEngine>(QStringLiteral("Qwen3-ASR"));
}

}  // namespace murel
