#pragma once

#include "speech/ParakeetModel.h"
#include "speech/Qwen3ASRModel.h"
#include "speech/TranscriptionEngine.h"
#include "speech/WhisperModel.h"

#include <memory>

namespace murel {

// The engines behind the catalogue rows' makeEngine. Each family defines its
// own factory next to its engine; all are callable from any thread and return
// a new, unloaded engine every time.
std::shared_ptr<TranscriptionEngine> makeWhisperEngine(WhisperModel::Case model);
std::shared_ptr<TranscriptionEngine> makeParakeetEngine();
std::shared_ptr<TranscriptionEngine> makeQwen3ASREngine(Qwen3ASRModel::Case model);

// `engine` behind the voice-activity segmenter, fed speech stretches of at most
// maxSegmentSeconds.
std::shared_ptr<TranscriptionEngine> makeSegmentingEngine(std::shared_ptr<TranscriptionEngine> engine,
                                                          double maxSegmentSeconds);

}  // namespace murel
