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
  // EngineError::audioConversionFailed when it cannot be converted or its header
  // is outside the limits below. A file that breaks off part-way yields the
  // samples decoded up to there.
  static AudioSamples loadSamples(const QString& filePath);

  static constexpr int kTargetSampleRate = 16000;
  // The highest rate audio files really use.
  static constexpr int kMaxSampleRate = 384000;
  static constexpr int kMaxChannels = 64;
  // The engines take at most 2^32 - 1 samples (about 74 hours at 16 kHz).
  static constexpr double kMaxSeconds = 4294967295.0 / kTargetSampleRate;
};

}  // namespace murel
