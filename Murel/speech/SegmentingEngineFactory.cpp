#include "speech/EngineFactories.h"
#include "speech/SegmentingEngine.h"
#include "speech/SpeechSegmenter.h"

namespace murel {

std::shared_ptr<TranscriptionEngine> makeSegmentingEngine(std::shared_ptr<TranscriptionEngine> engine,
                                                          double maxSegmentSeconds) {
  return std::make_shared<SegmentingEngine>(std::move(engine), maxSegmentSeconds,
                                            [maxSegmentSeconds] { return makeSpeechSegmenter(maxSegmentSeconds); });
}

}  // namespace murel
