#include "runtime/SystemLog.h"
#include "speech/EngineError.h"
#include "speech/EngineResidency.h"
#include "speech/UnavailableEngine.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"

#include <QCoroTask>
#include <QtConcurrent/QtConcurrentRun>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace murel;

TEST(EngineError, DescriptionsAreTheUserFacingTexts) {
  const struct {
    EngineError error;
    const char* text;
  } cases[] = {
      {EngineError::audioConversionFailed(QStringLiteral("bad format")), "Audio conversion failed: bad format"},
      {EngineError::initFailed(QStringLiteral("VAD")), "Failed to initialize VAD context"},
      {EngineError::initFailed(QStringLiteral("Qwen3-ASR")), "Failed to initialize Qwen3-ASR context"},
      {EngineError::runFailed(QStringLiteral("Whisper"), -3), "Whisper inference failed (code -3)"},
      {EngineError::runFailed(QStringLiteral("VAD"), -1), "VAD inference failed (code -1)"},
      // No translation is loaded in this test: the English default shows, never the id.
      {EngineError::modelMissing(), "Speech model has not been downloaded"},
      {EngineError::vadModelMissing(), "Bundled voice activity detection model is missing"},
      {EngineError::notLoaded(), "Transcription engine is not loaded"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.description(), QString::fromUtf8(c.text));
    EXPECT_STREQ(c.error.what(), c.text);
  }
  EXPECT_EQ(EngineError::runFailed(QStringLiteral("Whisper"), -3).code(), -3);
  EXPECT_EQ(EngineError::notLoaded(), EngineError::notLoaded());
  EXPECT_FALSE(EngineError::initFailed(QStringLiteral("Whisper")) == EngineError::initFailed(QStringLiteral("VAD")));
}

TEST(EngineResidency, FlagAndLogLines) {
  murel::test::LogCapture log;
  EngineResidency residency(QStringLiteral("Parakeet"), "parakeet");
  EXPECT_FALSE(residency.isLoaded());
  residency.setLoaded(true);
  EXPECT_TRUE(residency.isLoaded());
  residency.setLoaded(false);
  residency.setLoaded(false);
  EXPECT_FALSE(residency.isLoaded());

  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0].message, QStringLiteral("Parakeet engine loaded"));
  EXPECT_EQ(lines[1].message, QStringLiteral("Parakeet engine unloaded"));
  EXPECT_EQ(lines[2].message, QStringLiteral("Parakeet engine unloaded"));
  for (const auto& line : lines) {
    EXPECT_EQ(line.category, QStringLiteral("parakeet"));
    EXPECT_EQ(line.level, SystemLog::Level::Info);
  }
}

TEST(EngineResidency, ReadsAndWritesFromManyThreads) {
  murel::test::LogCapture log;
  EngineResidency residency(QStringLiteral("Whisper"), "whisper");
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) residency.setLoaded(i % 2 == 0);
  });
  for (int i = 0; i < 2000; ++i) (void)residency.isLoaded();
  writer.join();
  EXPECT_FALSE(residency.isLoaded());
  EXPECT_EQ(log.lines().size(), 2000);
}

TEST(EngineThreadCount, UsableCoresElseOnlineProcessorsNeverBelowOne) {
  const struct {
    int usable;
    long online;
    int expected;
  } cases[] = {{4, 16, 4}, {1, 8, 1}, {0, 8, 8}, {-1, 6, 6}, {0, 0, 1}, {0, -1, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(engineThreadCountFrom(c.usable, c.online), c.expected) << c.usable << " " << c.online;
  }
  const int machine = engineThreadCount();
  EXPECT_GE(machine, 1);
  EXPECT_EQ(engineThreadCount(), machine);
  setEngineThreadCountForTesting(3);
  EXPECT_EQ(engineThreadCount(), 3);
  setEngineThreadCountForTesting(0);
  EXPECT_EQ(engineThreadCount(), machine);
}

TEST(InferenceThreadCount, GivesBusyCoresUpDownToTwo) {
  const struct {
    int threads;
    int busyElsewhere;
    int expected;
  } cases[] = {{8, 0, 8}, {8, 3, 5}, {8, 6, 2}, {8, 7, 2}, {8, 40, 2}, {8, -1, 8}, {2, 5, 2}, {1, 3, 1}, {1, 0, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(inferenceThreadCountFrom(c.threads, c.busyElsewhere), c.expected) << c.threads << " " << c.busyElsewhere;
  }
}

// Real load: a busy loop on every core leaves the inference call the floor; a
// pinned count stays pinned whatever the load.
TEST(InferenceThreadCount, FollowsTheMachinesRunnableTasks) {
  const int machine = engineThreadCount();
  std::atomic<bool> stop{false};
  std::atomic<int> spinning{0};
  std::vector<std::thread> hogs;
  for (int i = 0; i < machine; ++i) {
    hogs.emplace_back([&] {
      spinning.fetch_add(1);
      while (!stop.load(std::memory_order_relaxed)) {
      }
    });
  }
  while (spinning.load() < machine) std::this_thread::yield();
  EXPECT_EQ(inferenceThreadCountNow(), std::min(2, machine));
  setEngineThreadCountForTesting(6);
  EXPECT_EQ(inferenceThreadCountNow(), 6);
  setEngineThreadCountForTesting(0);
  stop.store(true);
  for (std::thread& hog : hogs) hog.join();
}

// The stand-in for an engine family missing from the build keeps the contract:
// never loaded, load fails with the family's init error, transcribe is notLoaded.
TEST(UnavailableEngine, KeepsTheEngineContract) {
  UnavailableEngine engine(QStringLiteral("Whisper"));
  EXPECT_FALSE(engine.isLoaded());
  try {
    test::awaitTask(engine.load());
    FAIL() << "load succeeded";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.description(), QStringLiteral("Failed to initialize Whisper context"));
  }
  EXPECT_FALSE(engine.isLoaded());
  test::awaitTask(engine.unload());
  test::awaitTask(engine.unload());
  try {
    test::awaitTask(engine.transcribe({0.f, 0.f}, std::nullopt, {}, CancellationToken()));
    FAIL() << "transcribe succeeded";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineError::Kind::NotLoaded);
  }
}
