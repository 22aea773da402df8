#include "runtime/SystemLog.h"
#include "speech/EngineError.h"
#include "speech/SegmentingEngine.h"
#include "speech/SpeechSegmenter.h"
#include "support/AwaitTask.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using namespace murel;
using murel::test::awaitTask;

namespace {

constexpr qint64 kRate = 16000;
SampleRange seconds(double from, double to) {
  return {static_cast<qint64>(from * kRate), static_cast<qint64>(to * kRate)};
}

TEST(MergeSpeechRanges, PacksNeighboursIntoChunksOfAtMostTheLimit) {
  const qint64 limit30 = 30 * kRate;
  const struct {
    const char* name;
    std::vector<SampleRange> ranges;
    qint64 limit;
    std::vector<SampleRange> chunks;
  } cases[] = {
      {"neighbours join while the group fits",
       {seconds(0, 5), seconds(10, 20), seconds(26, 40)},
       limit30,
       {seconds(0, 20), seconds(26, 40)}},
      {"one long range is cut into pieces of the limit",
       {seconds(0, 75)},
       limit30,
       {seconds(0, 30), seconds(30, 60), seconds(60, 75)}},
      {"nothing", {}, limit30, {}},
      {"empty ranges are dropped, the rest sorted",
       {{500, 500}, {300, 400}, {100, 200}, {900, 800}},
       1000,
       {{100, 400}}},
      {"a range reaching past the limit opens a new group", {{0, 100}, {50, 101}}, 100, {{0, 100}, {50, 101}}},
      {"overlapping ranges keep the larger end", {{0, 80}, {10, 40}, {60, 90}}, 100, {{0, 90}}},
      {"a limit below one counts as one", {{0, 3}}, 0, {{0, 1}, {1, 2}, {2, 3}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(mergeSpeechRanges(c.ranges, c.limit), c.chunks) << c.name;
  }
}

TEST(MergeSpeechRanges, NoChunkExceedsTheLimit) {
  std::vector<SampleRange> ranges;
  for (qint64 start = 0; start < 200 * kRate; start += 7 * kRate) ranges.push_back({start, start + 4 * kRate});
  ranges.push_back(seconds(210, 290));
  const auto chunks = mergeSpeechRanges(ranges, 30 * kRate);
  for (size_t i = 0; i < chunks.size(); ++i) {
    EXPECT_LE(chunks[i].length(), 30 * kRate);
    EXPECT_GT(chunks[i].length(), 0);
    if (i > 0) EXPECT_LE(chunks[i - 1].end, chunks[i].start);
  }
  EXPECT_EQ(chunks.back(), seconds(270, 290));
}

TEST(CentisecondsToSampleIndex, RoundsHalvesAwayFromZeroAndClamps) {
  const struct {
    double centiseconds;
    qint64 count;
    qint64 index;
  } cases[] = {
      {0, 1000, 0},        {1.5, 1000, 240},
      {0.003125, 1000, 1},  // 0.5 samples rounds up
      {0.0031, 1000, 0},   {-2, 1000, 0},
      {7, 1000, 1000},  // past the end: the end
      {6.25, 1000, 1000},  {500, 16'000'000, 80'000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(centisecondsToSampleIndex(c.centiseconds, c.count), c.index) << c.centiseconds;
  }
}

// A segmenter that reports fixed ranges.
class ScriptedSegmenter final : public SpeechSegmenting {
 public:
  explicit ScriptedSegmenter(std::vector<SampleRange> ranges) : ranges_(std::move(ranges)) {}
  std::vector<SampleRange> segments(const AudioSamples&) override { return ranges_; }

 private:
  std::vector<SampleRange> ranges_;
};

// An inner engine that records its calls and answers from a script. Each
// chunk's first sample holds its number, so the test sees which audio went in.
class RecordingEngine final : public TranscriptionEngine {
 public:
  struct Call {
    size_t sampleCount;
    float firstSample;
    std::optional<QString> language;
    QStringList vocabulary;
  };

  bool isLoaded() const override { return loaded_; }
  QCoro::Task<void> load() override {
    ++loads;
    loaded_ = true;
    co_return;
  }
  QCoro::Task<void> unload() override {
    ++unloads;
    loaded_ = false;
    co_return;
  }
  QCoro::Task<TranscriptionResult> transcribe(AudioSamples samples, std::optional<QString> language,
                                              QStringList vocabulary, CancellationToken) override {
    calls.push_back({samples.size(), samples.empty() ? -1.0f : samples.front(), language, vocabulary});
    if (onCall) onCall(calls.size());
    const size_t i = calls.size() - 1;
    if (i < failures.size() && failures[i]) throw *failures[i];
    co_return i < results.size() ? results[i] : TranscriptionResult{};
  }

  std::vector<TranscriptionResult> results;
  std::vector<std::optional<EngineError>> failures;
  std::function<void(size_t)> onCall;
  std::vector<Call> calls;
  int loads = 0;
  int unloads = 0;

 private:
  bool loaded_ = false;
};

class LogLines {
 public:
  LogLines() {
    SystemLog::setSink([this](SystemLog::Level, const QString& category, const QString& message) {
      std::lock_guard lock(mutex_);
      lines_.append(category + QStringLiteral(": ") + message);
    });
  }
  ~LogLines() { SystemLog::setSink({}); }
  QStringList lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  QStringList lines_;
};

// Ten seconds of audio whose every second starts with its own number.
AudioSamples numberedSeconds(int count) {
  AudioSamples samples(static_cast<size_t>(count * kRate), 0.0f);
  for (int s = 0; s < count; ++s) samples[static_cast<size_t>(s * kRate)] = static_cast<float>(s);
  return samples;
}

struct Wrapped {
  std::shared_ptr<RecordingEngine> inner = std::make_shared<RecordingEngine>();
  std::shared_ptr<SegmentingEngine> engine;

  explicit Wrapped(std::vector<SampleRange> ranges, double maxSeconds = 3) {
    engine = std::make_shared<SegmentingEngine>(inner, maxSeconds,
                                                [ranges] { return std::make_unique<ScriptedSegmenter>(ranges); });
  }
  TranscriptionResult transcribe(std::optional<QString> language = std::nullopt, QStringList vocabulary = {},
                                 CancellationToken cancel = {}) {
    return awaitTask(engine->transcribe(numberedSeconds(10), std::move(language), std::move(vocabulary), cancel));
  }
};

TEST(SegmentingEngine, NoSpeechGivesTheEmptyTextWithoutCallingTheInnerEngine) {
  LogLines log;
  for (const bool emptyInput : {false, true}) {
    Wrapped w({});
    awaitTask(w.engine->load());
    const auto result = emptyInput ? awaitTask(w.engine->transcribe({}, QStringLiteral("en"), {}, {})) : w.transcribe();
    EXPECT_EQ(result, TranscriptionResult{});
    EXPECT_TRUE(w.inner->calls.empty());
  }
  EXPECT_TRUE(log.lines().contains(QStringLiteral("segmenting: Transcribing 0 speech chunks")));
}

TEST(SegmentingEngine, TranscribesMergedChunksInOrderAndJoinsTheTrimmedTexts) {
  LogLines log;
  // With a 3 s limit: 0-1 and 1.5-2.5 join, 4-8 is cut into 4-7 and 7-8.
  Wrapped w({seconds(4, 8), seconds(0, 1), seconds(1.5, 2.5)});
  w.inner->results = {{QStringLiteral("  Hello\n"), std::nullopt},
                      {QStringLiteral(" \t\n"), std::nullopt},
                      {QStringLiteral(" world. "), std::nullopt}};
  awaitTask(w.engine->load());
  const auto result = w.transcribe(std::nullopt, {QStringLiteral("Anna"), QStringLiteral("Kubernetes")});

  EXPECT_EQ(result.text, QStringLiteral("Hello world."));
  EXPECT_EQ(result.language, std::nullopt);
  ASSERT_EQ(w.inner->calls.size(), 3u);
  const float firstSecond[] = {0, 4, 7};
  const size_t lengths[] = {static_cast<size_t>(2.5 * kRate), 3 * kRate, 1 * kRate};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(w.inner->calls[i].firstSample, firstSecond[i]) << i;
    EXPECT_EQ(w.inner->calls[i].sampleCount, lengths[i]) << i;
    EXPECT_EQ(w.inner->calls[i].vocabulary, (QStringList{QStringLiteral("Anna"), QStringLiteral("Kubernetes")}));
  }
  EXPECT_TRUE(log.lines().contains(QStringLiteral("segmenting: Transcribing 3 speech chunks")));
}

TEST(SegmentingEngine, PassesTheCallersLanguageOrTheFirstReportedOne) {
  const std::vector<SampleRange> ranges = {seconds(0, 2), seconds(4, 6), seconds(8, 10)};
  const auto en = std::optional<QString>(QStringLiteral("en"));
  const auto fr = std::optional<QString>(QStringLiteral("fr"));
  {
    Wrapped w(ranges, 2);
    w.inner->results = {{QStringLiteral("a"), std::nullopt}, {QStringLiteral("b"), en}, {QStringLiteral("c"), fr}};
    awaitTask(w.engine->load());
    const auto result = w.transcribe();
    ASSERT_EQ(w.inner->calls.size(), 3u);
    EXPECT_EQ(w.inner->calls[0].language, std::nullopt);
    EXPECT_EQ(w.inner->calls[1].language, std::nullopt);
    EXPECT_EQ(w.inner->calls[2].language, en);
    EXPECT_EQ(result.language, en);
    EXPECT_EQ(result.text, QStringLiteral("a b c"));
  }
  {
    Wrapped w(ranges, 2);
    w.inner->results = {{QStringLiteral("a"), en}, {QStringLiteral("b"), fr}, {QStringLiteral("c"), en}};
    awaitTask(w.engine->load());
    const auto result = w.transcribe(QStringLiteral("de"));
    for (const auto& call : w.inner->calls) EXPECT_EQ(call.language, std::optional<QString>(QStringLiteral("de")));
    EXPECT_EQ(result.language, en);  // what the chunks reported
  }
}

TEST(SegmentingEngine, AFailingChunkOrCancellationEndsTheCallWithoutPartialText) {
  const std::vector<SampleRange> ranges = {seconds(0, 2), seconds(4, 6), seconds(8, 10)};
  {
    Wrapped w(ranges, 2);
    w.inner->failures = {std::nullopt, EngineError::runFailed(QStringLiteral("Qwen3-ASR"), -2)};
    awaitTask(w.engine->load());
    try {
      w.transcribe();
      FAIL() << "expected the chunk's error";
    } catch (const EngineError& e) {
      EXPECT_EQ(e, EngineError::runFailed(QStringLiteral("Qwen3-ASR"), -2));
    }
    EXPECT_EQ(w.inner->calls.size(), 2u);
  }
  {
    Wrapped w(ranges, 2);
    CancellationToken cancel;
    w.inner->onCall = [cancel](size_t n) {
      if (n == 1) cancel.cancel();
    };
    awaitTask(w.engine->load());
    EXPECT_THROW(w.transcribe(std::nullopt, {}, cancel), OperationCancelled);
    EXPECT_EQ(w.inner->calls.size(), 1u);  // the next chunk never started
  }
}

TEST(SegmentingEngine, LoadUnloadAndTheNotLoadedState) {
  Wrapped w({seconds(0, 1)});
  EXPECT_FALSE(w.engine->isLoaded());
  try {
    w.transcribe();
    FAIL() << "expected notLoaded";
  } catch (const EngineError& e) {
    EXPECT_EQ(e, EngineError::notLoaded());
  }
  awaitTask(w.engine->load());
  EXPECT_TRUE(w.engine->isLoaded());
  awaitTask(w.engine->unload());
  EXPECT_FALSE(w.engine->isLoaded());
  EXPECT_EQ(w.inner->unloads, 1);
  EXPECT_THROW(w.transcribe(), EngineError);
  EXPECT_TRUE(w.inner->calls.empty());
}

TEST(SegmentingEngine, AFailingSegmenterUnloadsTheInnerEngine) {
  auto inner = std::make_shared<RecordingEngine>();
  const struct {
    SegmentingEngine::SegmenterFactory factory;
    EngineError error;
  } cases[] = {
      {[] { return makeSpeechSegmenter(30, [] { return std::optional<QString>(); }); }, EngineError::vadModelMissing()},
      {[] {
         const QString bogus = QString::fromUtf8(qgetenv("MUREL_SOURCE_DIR")) + QStringLiteral("/CMakeLists.txt");
         return makeSpeechSegmenter(30, [bogus] { return std::optional<QString>(bogus); });
       },
       EngineError::initFailed(QStringLiteral("VAD"))},
  };
  for (const auto& c : cases) {
    SegmentingEngine engine(inner, 30, c.factory);
    try {
      awaitTask(engine.load());
      FAIL() << "expected " << c.error.what();
    } catch (const EngineError& e) {
      EXPECT_EQ(e, c.error);
    }
    EXPECT_FALSE(engine.isLoaded());
    EXPECT_FALSE(inner->isLoaded());
  }
  EXPECT_EQ(inner->loads, 2);
  EXPECT_EQ(inner->unloads, 2);
}

TEST(SegmentingEngine, CallsAreTakenOneAtATimeInOrder) {
  // Started together, without waiting: the unload must come after the
  // transcription, which therefore still finds the engine loaded.
  Wrapped w({seconds(0, 1)});
  w.inner->results = {{QStringLiteral("first"), std::nullopt}};
  awaitTask(w.engine->load());
  auto transcription = w.engine->transcribe(numberedSeconds(2), std::nullopt, {}, {});
  auto unload = w.engine->unload();
  EXPECT_EQ(awaitTask(std::move(transcription)).text, QStringLiteral("first"));
  awaitTask(std::move(unload));
  EXPECT_FALSE(w.engine->isLoaded());
}

}  // namespace
