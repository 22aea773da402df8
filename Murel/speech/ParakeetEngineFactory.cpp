#include "speech/EngineFactories.h"
#include "speech/UnavailableEngine.h"

namespace murel {

// Replaced by the Parakeet engine when it joins the build.
std::shared_ptr<TranscriptionEngine> makeParakeetEngine() {
  return std::make_shared<UnavailableEngine>(QStringLiteral("Parakeet"));
}

}  // namespace murel
