#include "runtime/SystemLog.h"
#include "speech/EngineError.h"
#include "speech/ParakeetEngine.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"
#include "support/SpeechAudio.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <mutex>

using namespace murel;
using namespace murel::test;

namespace {

SpeechModelDescriptor rowWithTestModel(const QString& testModel) {
  SpeechModelDescriptor row = ParakeetModel::descriptor(ParakeetModel::tdt06bV3Q8);
  row.storageDirectory = freshDir(QStringLiteral("parakeet-models"));
  const QString target = QDir(row.storageDirectory).filePath(row.artifacts[0].filename);
  EXPECT_TRUE(QFile::copy(testModelPath(testModel), target));
  row.artifacts[0].sizeBytes = QFileInfo(target).size();
  return row;
}

EngineError loadError(ParakeetEngine& engine) {
  try {
    awaitTask(engine.load());
  } catch (const EngineError& e) {
    return e;
  }
  ADD_FAILURE() << "load() succeeded";
  return EngineError::notLoaded();
}

class ParakeetEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { setEngineThreadCountForTesting(1); }
  void TearDown() override { setEngineThreadCountForTesting(0); }
};

TEST_F(ParakeetEngineTest, TheGeneratedModelTranscribesTheSameTextEveryTime) {
  murel::test::LogCapture log;
  ParakeetEngine engine(rowWithTestModel(QStringLiteral("parakeet-test-8192.bin")));
  awaitTask(engine.load());
  EXPECT_TRUE(engine.isLoaded());
  const AudioSamples speech = spokenSamples(QStringLiteral("Good morning, this is a test."));

  const auto first = awaitTask(engine.transcribe(speech, std::nullopt, {}, {}));
  EXPECT_FALSE(first.text.isEmpty());
  EXPECT_EQ(first.language, std::nullopt);
  // The language and the vocabulary play no part.
  const auto second = awaitTask(
      engine.transcribe(speech, QStringLiteral("de"), {QStringLiteral("Anna"), QStringLiteral("Kubernetes")}, {}));
  EXPECT_EQ(second, first);

  // The library would hand back the previous text for no samples.
  EXPECT_EQ(awaitTask(engine.transcribe({}, std::nullopt, {}, {})), TranscriptionResult{});

  awaitTask(engine.unload());
  EXPECT_FALSE(engine.isLoaded());
  const QStringList lines = log.messages(QStringLiteral("parakeet"));
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Parakeet context initialized from ")));
  EXPECT_EQ(lines[1], QStringLiteral("Parakeet engine loaded"));
  EXPECT_EQ(lines[2], QStringLiteral("Parakeet engine unloaded"));
}

TEST_F(ParakeetEngineTest, LoadTwiceLoadsOnceAndTranscribeNeedsALoadedModel) {
  murel::test::LogCapture log;
  ParakeetEngine engine(rowWithTestModel(QStringLiteral("parakeet-test-10.bin")));
  for (int round = 0; round < 2; ++round) {
    try {
      awaitTask(engine.transcribe(silenceSamples(1), std::nullopt, {}, {}));
      FAIL() << "transcribed without a model";
    } catch (const EngineError& e) {
      EXPECT_EQ(e, EngineError::notLoaded());
    }
    awaitTask(engine.load());
    awaitTask(engine.load());
    EXPECT_EQ(awaitTask(engine.transcribe(silenceSamples(2), std::nullopt, {}, {})).language, std::nullopt);
    CancellationToken cancel;
    cancel.cancel();
    EXPECT_THROW(awaitTask(engine.transcribe(silenceSamples(1), std::nullopt, {}, cancel)), OperationCancelled);
    awaitTask(engine.unload());
  }
  awaitTask(engine.unload());
  EXPECT_EQ(log.messages(QStringLiteral("parakeet")).filter(QStringLiteral("engine loaded")).size(), 2);
  EXPECT_EQ(log.messages(QStringLiteral("parakeet")).filter(QStringLiteral("engine unloaded")).size(), 3);
}

// The application's own engine on the real catalogue row and models folder.
TEST_F(ParakeetEngineTest, MissingShortOrCorruptModelFile) {
  const SpeechModelDescriptor& row = ParakeetModel::descriptor(ParakeetModel::tdt06bV3Q8);
  QDir().mkpath(row.storageDirectory);
  const QString file = QDir(row.storageDirectory).filePath(row.artifacts[0].filename);
  {
    ParakeetEngine engine;
    EXPECT_EQ(loadError(engine), EngineError::modelMissing());
  }
  for (const qint64 delta : {-1, 0}) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("not a parakeet model");
    ASSERT_TRUE(f.resize(row.artifacts[0].sizeBytes + delta));
    f.close();
    ParakeetEngine engine;
    const EngineError error = loadError(engine);
    if (delta == 0) {
      EXPECT_STREQ(error.what(), "Failed to initialize Parakeet context");
    } else {
      EXPECT_EQ(error, EngineError::modelMissing());
    }
    EXPECT_FALSE(engine.isLoaded());
  }
  QFile::remove(file);
}

TEST_F(ParakeetEngineTest, FactoryMakesANewParakeetEngineEachTime) {
  const auto& row = ParakeetModel::descriptor(ParakeetModel::tdt06bV3Q8);
  const auto a = row.makeEngine();
  EXPECT_NE(a, row.makeEngine());
  EXPECT_NE(dynamic_cast<ParakeetEngine*>(a.get()), nullptr);
}

TEST_F(ParakeetEngineTest, RealModelTranscribesSpeech) {
  const QString dir = QString::fromLocal8Bit(qgetenv("MUREL_REAL_MODELS_DIR"));
  if (dir.isEmpty()) GTEST_SKIP() << "MUREL_REAL_MODELS_DIR is not set";
  SpeechModelDescriptor row = ParakeetModel::descriptor(ParakeetModel::tdt06bV3Q8);
  row.storageDirectory = dir;
  if (!row.isModelInstalled()) GTEST_SKIP() << "no Parakeet model in " << dir.toStdString();
  setEngineThreadCountForTesting(0);
  ParakeetEngine engine(row);
  awaitTask(engine.load(), std::chrono::minutes(5));
  const auto result = awaitTask(engine.transcribe(spokenSamples(QStringLiteral("Hello world.")), std::nullopt, {}, {}),
                                std::chrono::minutes(5));
  EXPECT_TRUE(result.text.contains(QStringLiteral("hello"), Qt::CaseInsensitive)) << result.text.toStdString();
}

}  // namespace
