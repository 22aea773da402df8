#pragma once

#include "speech/TranscriptionEngine.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct whisper_vad_context;

namespace murel {

// A half-open range of sample indices, start ..< end.
struct SampleRange {
  qint64 start = 0;
  qint64 end = 0;

  qint64 length() const { return end - start; }
  bool operator==(const SampleRange&) const = default;
};

// Finds the stretches of speech in 16 kHz mono samples.
class SpeechSegmenting {
 public:
  virtual ~SpeechSegmenting() = default;
  // Ascending, non-empty ranges within 0 ... samples.size(); may throw EngineError.
  virtual std::vector<SampleRange> segments(const AudioSamples& samples) = 0;
};

// The application's voice-activity model file ("ggml-silero-v6.2.0.bin" among the
// resources), looked up once per process; empty when the file is not there.
std::optional<QString> vadModelResourcePath();

// Where a component finds the voice-activity model; tests put their own in.
using VadModelLocator = std::function<std::optional<QString>()>;

// whisper.cpp's voice-activity detector with the Silero model. Not thread-safe:
// one caller at a time (the segmenting engine's worker).
class SpeechSegmenter final : public SpeechSegmenting {
 public:
  // Throws EngineError::initFailed("VAD") when the library refuses the file.
  SpeechSegmenter(const QString& modelPath, double maxSegmentSeconds);
  ~SpeechSegmenter() override;
  SpeechSegmenter(const SpeechSegmenter&) = delete;
  SpeechSegmenter& operator=(const SpeechSegmenter&) = delete;

  // Speech with 500 ms of minimum silence between stretches, 200 ms of padding
  // on each side and stretches of at most maxSegmentSeconds. Throws
  // EngineError::runFailed("VAD", -1) when detection fails.
  std::vector<SampleRange> segments(const AudioSamples& samples) override;

 private:
  whisper_vad_context* ctx_ = nullptr;
  double maxSegmentSeconds_;
};

// A segmenter on the resource model; EngineError::vadModelMissing without it.
std::unique_ptr<SpeechSegmenting> makeSpeechSegmenter(double maxSegmentSeconds,
                                                      const VadModelLocator& locate = vadModelResourcePath);

// A library time in hundredths of a second as a sample index at 16 kHz: × 160,
// rounded half away from zero, clamped into 0 ... sampleCount.
qint64 centisecondsToSampleIndex(double centiseconds, qint64 sampleCount);

// Packs speech ranges into chunks of at most maxSamples: empty ranges are
// dropped, the rest sorted by start; neighbours join while the group, pauses
// included, stays within the limit; a single longer range is cut into pieces
// of exactly the limit (the last one shorter).
std::vector<SampleRange> mergeSpeechRanges(std::vector<SampleRange> ranges, qint64 maxSamples);

}  // namespace murel
