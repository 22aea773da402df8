#include "speech/SegmentingEngine.h"

#include "runtime/SystemLog.h"
#include "speech/EngineError.h"

#include <QCoroFuture>
#include <QPromise>

#include <exception>
#include <utility>

namespace murel {

namespace {

const Logger& segmentingLog() {
  static const Logger log("segmenting");
  return log;
}

constexpr double kSampleRate = 16000.0;

}  // namespace

SegmentingEngine::SegmentingEngine(std::shared_ptr<TranscriptionEngine> inner, double maxSegmentSeconds,
                                   SegmenterFactory makeSegmenter)
    : inner_(std::move(inner)), maxSegmentSeconds_(maxSegmentSeconds), makeSegmenter_(std::move(makeSegmenter)) {}

SegmentingEngine::~SegmentingEngine() = default;

QCoro::Task<std::shared_ptr<void>> SegmentingEngine::takeTurn() {
  auto done = std::make_shared<QPromise<void>>();
  done->start();
  QFuture<void> previous = std::exchange(lastCall_, done->future());
  std::shared_ptr<void> turn(nullptr, [done](void*) { done->finish(); });
  if (previous.isValid()) co_await previous;
  co_return turn;
}

QCoro::Task<void> SegmentingEngine::load() {
  const std::shared_ptr<void> turn = co_await takeTurn();
  co_await inner_->load();
  std::exception_ptr failure;
  try {
    auto job = [this] {
      if (!segmenter_) segmenter_ = makeSegmenter_();
    };
    co_await worker_.run(std::move(job));
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    co_await inner_->unload();
    std::rethrow_exception(failure);
  }
}

QCoro::Task<void> SegmentingEngine::unload() {
  const std::shared_ptr<void> turn = co_await takeTurn();
  auto job = [this] { segmenter_.reset(); };
  co_await worker_.run(std::move(job));
  co_await inner_->unload();
}

QCoro::Task<TranscriptionResult> SegmentingEngine::transcribe(AudioSamples samples, std::optional<QString> language,
                                                              QStringList vocabulary, CancellationToken cancel) {
  const std::shared_ptr<void> turn = co_await takeTurn();
  const AudioSamples* all = &samples;  // the frame outlives the job: it is awaited below
  auto job = [this, all] {
    if (!segmenter_) throw EngineError::notLoaded();
    return segmenter_->segments(*all);
  };
  const std::vector<SampleRange> ranges = co_await worker_.run(std::move(job));

  const auto limit = static_cast<qint64>(maxSegmentSeconds_ * kSampleRate);
  const std::vector<SampleRange> chunks = mergeSpeechRanges(ranges, limit);
  segmentingLog().info(QStringLiteral("Transcribing %1 speech chunks").arg(chunks.size()));
  if (chunks.empty()) co_return TranscriptionResult{};

  std::optional<QString> reported;
  QStringList texts;
  for (const SampleRange& chunk : chunks) {
    if (cancel.isCancelled()) throw OperationCancelled();
    AudioSamples piece(samples.begin() + chunk.start, samples.begin() + chunk.end);
    const TranscriptionResult result =
        co_await inner_->transcribe(std::move(piece), language ? language : reported, vocabulary, cancel);
    if (result.language && !reported) reported = result.language;
    const QString text = result.text.trimmed();
    if (!text.isEmpty()) texts.append(text);
  }
  co_return TranscriptionResult{texts.join(QLatin1Char(' ')), reported};
}

QCoro::Task<bool> SegmentingEngine::warmUp(std::optional<QString> language, CancellationToken cancel) {
  const std::shared_ptr<void> turn = co_await takeTurn();
  if (cancel.isCancelled()) co_return false;
  co_return co_await inner_->warmUp(std::move(language), std::move(cancel));
}

}  // namespace murel
