#include "speech/EngineError.h"
#include "speech/EngineResidency.h"
#include "speech/SegmentingEngine.h"
#include "speech/SpeechSegmenter.h"
#include "support/AwaitTask.h"
#include "support/SpeechAudio.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace murel;
using namespace murel::test;

namespace {

constexpr qint64 kRate = 16000;
constexpr qint64 kTolerance = 300 * kRate / 1000;  // 300 ms

class VadSegmenter : public ::testing::Test {
 protected:
  void SetUp() override {
    // The machine is shared with parallel builds; one thread keeps detection quick (ggml threads that wait for each other on a busy machine are slow).
    setEngineThreadCountForTesting(1);
    ASSERT_TRUE(vadModelResourcePath()) << "the converted VAD model is missing from the resources";
    segmenter = makeSpeechSegmenter(30);
  }
  void TearDown() override { setEngineThreadCountForTesting(0); }
  std::unique_ptr<SpeechSegmenting> segmenter;
};

TEST_F(VadSegmenter, FindsSpokenSentencesWhereTheyAre) {
  const AudioSamples sentence = spokenSamples(QStringLiteral("The quick brown fox jumps over the lazy dog."));
  const auto [first, last] = audibleBounds(sentence);
  const AudioSamples padded = concat({silenceSamples(2), sentence, silenceSamples(2)});

  const auto ranges = segmenter->segments(padded);
  ASSERT_FALSE(ranges.empty());
  EXPECT_NEAR(ranges.front().start, 2 * kRate + first, kTolerance);
  EXPECT_NEAR(ranges.back().end, 2 * kRate + last, kTolerance);

  // Two sentences four seconds apart are two stretches of speech.
  const AudioSamples other = spokenSamples(QStringLiteral("Please call me tomorrow morning."));
  const auto [otherFirst, otherLast] = audibleBounds(other);
  const AudioSamples two = concat({silenceSamples(1), sentence, silenceSamples(4), other, silenceSamples(1)});
  const auto twoRanges = segmenter->segments(two);
  ASSERT_GE(twoRanges.size(), 2u);
  const qint64 otherStart = kRate + static_cast<qint64>(sentence.size()) + 4 * kRate;
  EXPECT_NEAR(twoRanges.front().start, kRate + first, kTolerance);
  EXPECT_NEAR(twoRanges.back().start, otherStart + otherFirst, kTolerance);
  EXPECT_NEAR(twoRanges.back().end, otherStart + otherLast, kTolerance);
  for (const auto& r : twoRanges) {
    EXPECT_TRUE(r.end <= kRate + first + static_cast<qint64>(sentence.size()) + kTolerance ||
                r.start >= otherStart - kTolerance)
        << "a range in the four seconds of silence: " << r.start << ".." << r.end;
  }
}

TEST_F(VadSegmenter, SilenceAndNothingGiveNoSpeech) {
  EXPECT_TRUE(segmenter->segments(silenceSamples(5)).empty());
  EXPECT_TRUE(segmenter->segments({}).empty());
}

TEST(VadModel, MissingOrUnreadableModelFiles) {
  EXPECT_THROW(
      {
        try {
          makeSpeechSegmenter(30, [] { return std::optional<QString>(); });
        } catch (const EngineError& e) {
          EXPECT_EQ(e, EngineError::vadModelMissing());
          throw;
        }
      },
      EngineError);
  const QString notAModel = sourceDir() + QStringLiteral("/CMakeLists.txt");
  try {
    SpeechSegmenter segmenter(notAModel, 30);
    FAIL() << "a text file is no VAD model";
  } catch (const EngineError& e) {
    EXPECT_STREQ(e.what(), "Failed to initialize VAD context");
  }
}

// A model engine that answers with the length of each chunk it is given.
class ChunkLengthEngine final : public TranscriptionEngine {
 public:
  bool isLoaded() const override { return loaded_; }
  QCoro::Task<void> load() override {
    loaded_ = true;
    co_return;
  }
  QCoro::Task<void> unload() override {
    loaded_ = false;
    co_return;
  }
  QCoro::Task<TranscriptionResult> transcribe(AudioSamples samples, std::optional<QString>, QStringList,
                                              CancellationToken) override {
    lengths.push_back(static_cast<qint64>(samples.size()));
    co_return TranscriptionResult{QStringLiteral("chunk"), QStringLiteral("en")};
  }
  std::vector<qint64> lengths;

 private:
  bool loaded_ = false;
};

TEST(SegmentingEngineOnTheVadModel, SpeechBetweenLongSilencesBecomesOneChunk) {
  setEngineThreadCountForTesting(1);
  auto inner = std::make_shared<ChunkLengthEngine>();
  SegmentingEngine engine(inner, 30, [] { return makeSpeechSegmenter(30); });
  awaitTask(engine.load());
  const AudioSamples sentence = spokenSamples(QStringLiteral("Dictation works without a network."));
  const AudioSamples audio = concat({silenceSamples(3), sentence, silenceSamples(2), sentence, silenceSamples(3)});

  const auto result = awaitTask(engine.transcribe(audio, std::nullopt, {}, {}));
  EXPECT_EQ(result.text, QStringLiteral("chunk"));
  EXPECT_EQ(result.language, std::optional<QString>(QStringLiteral("en")));
  ASSERT_EQ(inner->lengths.size(), 1u);
  // Both sentences and the pause between them, but not the silence around them.
  EXPECT_GT(inner->lengths[0], 2 * static_cast<qint64>(sentence.size()));
  EXPECT_LT(inner->lengths[0], static_cast<qint64>(audio.size()) - 4 * kRate);
  awaitTask(engine.unload());
  EXPECT_FALSE(engine.isLoaded());
  setEngineThreadCountForTesting(0);
}

}  // namespace
