#pragma once

#include "speech/TranscriptionEngine.h"

#include <QString>

namespace murel {

// Decodes an audio (or video) file to what every speech engine takes: mono
// 32-bit float samples at 16 kHz. Stateless; any thread; concurrent calls do
// not interact.
class AudioSampleLoader {
 public:
  // Fails with SystemError when the file cannot be opened as audio, and with
  // EngineError::audioConversionFailed when it cannot be converted. A file that
  // breaks off part-way yields the samples decoded up to there.
  static AudioSamples loadSamples(const QString& filePath);

  static constexpr int kTargetSampleRate = 16000;
};

}  // namespace murel
