#include "speech/EngineFactories.h"
#include "speech/WhisperEngine.h"

namespace murel {

std::shared_ptr<TranscriptionEngine> makeWhisperEngine(WhisperModel::Case model) {
  return std::make_shared<WhisperEngine>(model);
}

}  // namespace murel
