#include "speech/EngineFactories.h"
#include "speech/ParakeetEngine.h"

namespace murel {

std::shared_ptr<TranscriptionEngine> makeParakeetEngine() { return std::make_shared<ParakeetEngine>(); }

}  // namespace murel
