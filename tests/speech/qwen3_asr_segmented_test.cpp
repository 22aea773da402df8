// The Qwen3-ASR engine behind the voice-activity segmenter, as the host makes it
// from a catalogue row: real Silero detection on espeak-ng speech, real
// llama.cpp runs of the tiny model for every chunk of at most 30 s.

#include "runtime/SystemLog.h"
#include "speech/EngineHost.h"
#include "speech/EngineResidency.h"
#include "speech/Qwen3ASREngine.h"
#include "speech/SegmentingEngine.h"
#include "speech/SpeechSegmenter.h"
#include "support/AwaitTask.h"
#include "support/SpeechAudio.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <mutex>

using namespace murel;

namespace {

SpeechModelDescriptor tinyDescriptor() {
  SpeechModelDescriptor d = Qwen3ASRModel::descriptor(Qwen3ASRModel::small06BQ5);
  d.storageDirectory = test::buildDir() + QStringLiteral("/test-models/qwen3-asr");
  d.artifacts.clear();
  for (const char* name : {"qwen3-asr-tiny.gguf", "qwen3a-tiny-mmproj.gguf"}) {
    const QString file = QString::fromLatin1(name);
    d.artifacts.append(Qwen3ASRModel::artifact(Qwen3ASRModel::small06BQ5, file,
                                               QFileInfo(QDir(d.storageDirectory).filePath(file)).size()));
  }
  return d;
}

// `seconds` of uninterrupted speech: one espeak-ng sentence without punctuation
// (so without pauses), its audible part repeated back to back and cut to length.
AudioSamples continuousSpeech(double seconds) {
  const AudioSamples sentence = test::spokenSamples(
      QStringLiteral("the quick brown fox jumps over the lazy dog while seven bright owls sing above the quiet river"));
  const auto [first, last] = test::audibleBounds(sentence);
  const AudioSamples voiced(sentence.begin() + first, sentence.begin() + last + 1);
  AudioSamples all;
  const auto total = static_cast<size_t>(seconds * 16000);
  while (all.size() < total) all.insert(all.end(), voiced.begin(), voiced.end());
  all.resize(total);
  return all;
}

}  // namespace

TEST(Qwen3ASRSegmented, SeventyFiveSecondsOfSpeechTakeThreeRuns) {
  setEngineThreadCountForTesting(1);
  std::mutex mutex;
  QList<qint64> runs;  // samples of each Qwen3-ASR run, from its log line
  SystemLog::setSink([&](SystemLog::Level, const QString& category, const QString& message) {
    static const QRegularExpression line(QStringLiteral("^Qwen3-ASR transcribed (\\d+) samples in \\d+ms$"));
    const auto match = line.match(message);
    std::lock_guard lock(mutex);
    if (category == QStringLiteral("qwen3asr") && match.hasMatch()) runs.append(match.captured(1).toLongLong());
  });

  // The catalogue row of the small model, on the tiny files.
  SpeechModelDescriptor row = tinyDescriptor();
  row.makeEngine = [row] { return std::make_shared<Qwen3ASREngine>(Qwen3ASRModel::small06BQ5, row); };
  const std::shared_ptr<TranscriptionEngine> made = EngineHost::defaultMakeEngine(row);
  auto* segmenting = dynamic_cast<SegmentingEngine*>(made.get());
  ASSERT_NE(segmenting, nullptr);
  ASSERT_NE(dynamic_cast<Qwen3ASREngine*>(segmenting->inner().get()), nullptr);
  EXPECT_EQ(segmenting->maxSegmentSeconds(), 30.0);
  TranscriptionEngine& engine = *made;
  test::awaitTask(engine.load());
  EXPECT_TRUE(engine.isLoaded());

  const AudioSamples speech = test::concat({test::silenceSamples(2), continuousSpeech(75), test::silenceSamples(2)});
  const TranscriptionResult result = test::awaitTask(engine.transcribe(speech, std::nullopt, {}, CancellationToken()));
  EXPECT_EQ(result, (TranscriptionResult{QStringLiteral("Hello Hello Hello"), QStringLiteral("en")}));

  std::lock_guard lock(mutex);
  ASSERT_EQ(runs.size(), 3);
  qint64 total = 0;
  for (qint64 samples : runs) {
    EXPECT_LE(samples, 30 * 16000);
    total += samples;
  }
  // The speech, give or take the detector's padding, and none of the silence around it.
  EXPECT_NEAR(static_cast<double>(total) / 16000, 75.0, 1.0);
  SystemLog::setSink({});
  test::awaitTask(engine.unload());
  EXPECT_FALSE(engine.isLoaded());
  setEngineThreadCountForTesting(0);
}
