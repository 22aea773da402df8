#include "speech/EngineFactories.h"
#include "speech/Qwen3ASREngine.h"

namespace murel {

// The bare model engine; the host wraps it in the voice-activity segmenter that
// the catalogue row asks for.
std::shared_ptr<TranscriptionEngine> makeQwen3ASREngine(Qwen3ASRModel::Case model) {
  return std::make_shared<Qwen3ASREngine>(model);
}

}  // namespace murel
