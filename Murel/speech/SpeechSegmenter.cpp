#include "speech/SpeechSegmenter.h"

#include "runtime/AppPaths.h"
#include "runtime/SystemLog.h"
#include "speech/EngineError.h"
#include "speech/WhisperLog.h"
#include "speech/WhisperParams.h"

#include <whisper.h>

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

namespace murel {

namespace {

const Logger& vadLog() {
  static const Logger log("vad");
  return log;
}

constexpr double kSamplesPerCentisecond = 160.0;

}  // namespace

std::optional<QString> vadModelResourcePath() {
  static const std::optional<QString> path = []() -> std::optional<QString> {
    const QString file = AppPaths::resource(QStringLiteral("ggml-silero-v6.2.0.bin"));
    if (QFileInfo(file).isFile()) return file;
    return std::nullopt;
  }();
  return path;
}

SpeechSegmenter::SpeechSegmenter(const QString& modelPath, double maxSegmentSeconds)
    : maxSegmentSeconds_(maxSegmentSeconds) {
  whisper_vad_context_params params = whisper_vad_default_context_params();
  // Tiny graphs, one per 32 ms of audio: more threads only add barriers, which
  // stall on a busy machine (the Whisper engine's own detection does the same).
  params.n_threads = kWhisperVadThreads;
  params.use_gpu = false;
  routeWhisperLogs();
  ctx_ = whisper_vad_init_from_file_with_params(modelPath.toLocal8Bit().constData(), params);
  if (!ctx_) throw EngineError::initFailed(QStringLiteral("VAD"));
  vadLog().info(QStringLiteral("VAD context initialized from ") + modelPath);
}

SpeechSegmenter::~SpeechSegmenter() {
  if (ctx_) whisper_vad_free(ctx_);
}

std::vector<SampleRange> SpeechSegmenter::segments(const AudioSamples& samples) {
  const qint64 n = static_cast<qint64>(samples.size());
  if (n == 0) return {};

  whisper_vad_params params = whisper_vad_default_params();
  params.min_silence_duration_ms = 500;
  params.max_speech_duration_s = static_cast<float>(maxSegmentSeconds_);
  params.speech_pad_ms = 200;

  whisper_vad_segments* found = whisper_vad_segments_from_samples(ctx_, params, samples.data(), static_cast<int>(n));
  if (!found) throw EngineError::runFailed(QStringLiteral("VAD"), -1);

  std::vector<SampleRange> ranges;
  const int count = whisper_vad_segments_n_segments(found);
  ranges.reserve(static_cast<size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    const qint64 start = centisecondsToSampleIndex(whisper_vad_segments_get_segment_t0(found, i), n);
    const qint64 end = centisecondsToSampleIndex(whisper_vad_segments_get_segment_t1(found, i), n);
    if (start != end) ranges.push_back({start, end});
  }
  whisper_vad_free_segments(found);
  return ranges;
}

std::unique_ptr<SpeechSegmenting> makeSpeechSegmenter(double maxSegmentSeconds, const VadModelLocator& locate) {
  const std::optional<QString> path = locate ? locate() : std::nullopt;
  if (!path) throw EngineError::vadModelMissing();
  return std::make_unique<SpeechSegmenter>(*path, maxSegmentSeconds);
}

qint64 centisecondsToSampleIndex(double centiseconds, qint64 sampleCount) {
  const double exact = std::round(centiseconds * kSamplesPerCentisecond);  // halves away from zero
  if (!(exact > 0)) return 0;                                              // also NaN
  if (exact >= static_cast<double>(sampleCount)) return sampleCount;
  return static_cast<qint64>(exact);
}

std::vector<SampleRange> mergeSpeechRanges(std::vector<SampleRange> ranges, qint64 maxSamples) {
  std::erase_if(ranges, [](const SampleRange& r) { return r.end <= r.start; });
  std::stable_sort(ranges.begin(), ranges.end(),
                   [](const SampleRange& a, const SampleRange& b) { return a.start < b.start; });
  std::vector<SampleRange> chunks;
  if (ranges.empty()) return chunks;
  const qint64 limit = std::max<qint64>(maxSamples, 1);

  auto close = [&](qint64 start, qint64 end) {
    for (qint64 from = start; from < end; from += limit) chunks.push_back({from, std::min(from + limit, end)});
  };

  qint64 groupStart = ranges.front().start;
  qint64 groupEnd = ranges.front().end;
  for (size_t i = 1; i < ranges.size(); ++i) {
    const SampleRange& r = ranges[i];
    if (r.end - groupStart > limit) {
      close(groupStart, groupEnd);
      groupStart = r.start;
      groupEnd = r.end;
    } else {
      groupEnd = std::max(groupEnd, r.end);
    }
  }
  close(groupStart, groupEnd);
  return chunks;
}

}  // namespace murel
