// The Qwen3-ASR engine on the tiny models our generator writes at build time:
// real llama.cpp loading, prompt tokenisation with the audio, chunk evaluation
// and greedy decoding on the CPU. The tiny text model's weights fix its answer
// ("language English<asr_text>Hello"), so exact transcripts can be expected.

#include "runtime/SystemLog.h"
#include "speech/AudioSampleLoader.h"
#include "speech/EngineError.h"
#include "speech/EngineResidency.h"
#include "speech/Qwen3ASREngine.h"
#include "speech/Qwen3ASRModel.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

using namespace murel;

namespace {

QString tinyModelDir() { return test::buildDir() + QStringLiteral("/test-models/qwen3-asr"); }

// A descriptor over two files of `folder`, each at its actual size (a missing
// file gets a size so that the install test fails).
SpeechModelDescriptor descriptorFor(const QString& folder, const QString& modelFile, const QString& projectorFile) {
  SpeechModelDescriptor d = Qwen3ASRModel::descriptor(Qwen3ASRModel::small06BQ5);
  d.storageDirectory = folder;
  d.artifacts.clear();
  for (const QString& name : {modelFile, projectorFile}) {
    const QFileInfo info(QDir(folder).filePath(name));
    d.artifacts.append(Qwen3ASRModel::artifact(Qwen3ASRModel::small06BQ5, name, info.exists() ? info.size() : 1));
  }
  return d;
}

SpeechModelDescriptor tinyDescriptor(const QString& modelFile = QStringLiteral("qwen3-asr-tiny.gguf"),
                                     const QString& projectorFile = QStringLiteral("qwen3a-tiny-mmproj.gguf")) {
  return descriptorFor(tinyModelDir(), modelFile, projectorFile);
}

// A second of a 440 Hz tone: any audio gives the tiny model's fixed answer.
AudioSamples tone(double seconds = 1.0) {
  AudioSamples samples(static_cast<size_t>(seconds * 16000));
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = 0.3f * std::sin(2.0 * M_PI * 440.0 * i / 16000.0);
  return samples;
}

// One worker thread: the tiny model's matrices are too small to share out, and
// on a busy machine the thread hand-offs would cost more than the arithmetic.
class OneThread : public ::testing::Environment {
 public:
  void SetUp() override { setEngineThreadCountForTesting(1); }
  void TearDown() override { setEngineThreadCountForTesting(0); }
};
const auto* const oneThread = ::testing::AddGlobalTestEnvironment(new OneThread);

EngineError::Kind loadError(Qwen3ASREngine& engine) {
  try {
    test::awaitTask(engine.load());
  } catch (const EngineError& e) {
    return e.kind();
  }
  ADD_FAILURE() << "load succeeded";
  return EngineError::Kind::NotLoaded;
}

}  // namespace

TEST(Qwen3ASREngine, TinyModelGivesItsAnswerOnEveryRun) {
  murel::test::LogCapture log;
  Qwen3ASREngine engine(Qwen3ASRModel::small06BQ5, tinyDescriptor());
  EXPECT_FALSE(engine.isLoaded());
  test::awaitTask(engine.load());
  EXPECT_TRUE(engine.isLoaded());
  test::awaitTask(engine.load());  // nothing to do when loaded

  // The second and third runs see nothing of the earlier ones: the memory is
  // cleared before each, or the answer would drift.
  const TranscriptionResult expected{QStringLiteral("Hello"), QStringLiteral("en")};
  for (int run = 0; run < 3; ++run) {
    EXPECT_EQ(test::awaitTask(engine.transcribe(tone(), std::nullopt, {}, CancellationToken())), expected) << run;
  }

  // A requested language starts the answer, so the model only adds the text;
  // vocabulary hints go into the system turn and tokenise with the rest. A code
  // outside the table counts as none.
  const struct {
    std::optional<QString> language;
    QStringList vocabulary;
    TranscriptionResult result;
  } cases[] = {
      {QStringLiteral("de"), {}, {QStringLiteral("Hello"), QStringLiteral("de")}},
      {QStringLiteral("de"),
       {QStringLiteral("Anna"), QStringLiteral("Kubernetes")},
       {QStringLiteral("Hello"), QStringLiteral("de")}},
      {QStringLiteral("sw"), {QStringLiteral("Zoë")}, {QStringLiteral("Hello"), QStringLiteral("en")}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(test::awaitTask(engine.transcribe(tone(30), c.language, c.vocabulary, CancellationToken())), c.result)
        << c.language.value_or(QString()).toStdString();
  }

  test::awaitTask(engine.unload());
  EXPECT_FALSE(engine.isLoaded());
  test::awaitTask(engine.unload());

  QStringList messages;
  for (const auto& line : log.lines()) {
    if (line.category == QStringLiteral("qwen3asr") && line.level == SystemLog::Level::Info) messages << line.message;
  }
  EXPECT_TRUE(messages.contains(QStringLiteral("Qwen3-ASR engine loaded")));
  EXPECT_EQ(messages.last(), QStringLiteral("Qwen3-ASR engine unloaded"));
  EXPECT_EQ(messages
                .filter(QRegularExpression(
                    QStringLiteral("^Qwen3-ASR context initialized from .*qwen3-asr-tiny\\.gguf in \\d+ms$")))
                .size(),
            1);
  EXPECT_EQ(
      messages.filter(QRegularExpression(QStringLiteral("^Qwen3-ASR transcribed 16000 samples in \\d+ms$"))).size(), 3);
}

// The loop model never says end-of-generation: decoding stops after 512 tokens
// and keeps what it made. Its cycle "a", 0xC3, 0xA9 ends the 512th token in the
// middle of "é", which is dropped instead of costing the whole text.
TEST(Qwen3ASREngine, AnswerWithoutEndStopsAt512TokensAndKeepsValidText) {
  Qwen3ASREngine engine(Qwen3ASRModel::small06BQ5, tinyDescriptor(QStringLiteral("qwen3-asr-tiny-loop.gguf")));
  test::awaitTask(engine.load());
  QString expected = QStringLiteral("aé").repeated(170) + QStringLiteral("a");  // 510 tokens + "a" + half an "é"
  const TranscriptionResult result = test::awaitTask(engine.transcribe(tone(), std::nullopt, {}, CancellationToken()));
  EXPECT_EQ(result.text, expected);
  EXPECT_EQ(result.language, std::nullopt);
}

TEST(Qwen3ASREngine, MissingOrRefusedFilesLeaveItUnloaded) {
  const QString dir = test::freshDir(QStringLiteral("qwen3-files"));
  const QDir tiny(tinyModelDir());
  for (const QString& name : {QStringLiteral("qwen3-asr-tiny.gguf"), QStringLiteral("qwen3a-tiny-mmproj.gguf"),
                              QStringLiteral("qwen3a-tiny-mmproj-mismatch.gguf")}) {
    ASSERT_TRUE(QFile::copy(tiny.filePath(name), QDir(dir).filePath(name)));
  }
  auto write = [&](const QString& name, const QByteArray& bytes) {
    QFile file(QDir(dir).filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  };
  write(QStringLiteral("garbage.gguf"), QByteArray(4096, 'x'));
  // A GGUF header that promises more than the file holds.
  QFile projector(tiny.filePath(QStringLiteral("qwen3a-tiny-mmproj.gguf")));
  ASSERT_TRUE(projector.open(QIODevice::ReadOnly));
  write(QStringLiteral("cut-mmproj.gguf"), projector.read(projector.size() / 2));

  murel::test::LogCapture log;
  const struct {
    const char* model;
    const char* projector;
    EngineError::Kind error;
  } cases[] = {
      {"qwen3-asr-tiny.gguf", "absent-mmproj.gguf", EngineError::Kind::ModelMissing},
      {"absent.gguf", "qwen3a-tiny-mmproj.gguf", EngineError::Kind::ModelMissing},
      {"garbage.gguf", "qwen3a-tiny-mmproj.gguf", EngineError::Kind::InitFailed},
      {"qwen3-asr-tiny.gguf", "garbage.gguf", EngineError::Kind::InitFailed},
      {"qwen3-asr-tiny.gguf", "cut-mmproj.gguf", EngineError::Kind::InitFailed},
      {"qwen3-asr-tiny.gguf", "qwen3a-tiny-mmproj-mismatch.gguf", EngineError::Kind::InitFailed},
  };
  for (const auto& c : cases) {
    Qwen3ASREngine engine(Qwen3ASRModel::small06BQ5,
                          descriptorFor(dir, QString::fromLatin1(c.model), QString::fromLatin1(c.projector)));
    EXPECT_EQ(loadError(engine), c.error) << c.model << " " << c.projector;
    EXPECT_FALSE(engine.isLoaded());
    EXPECT_THROW(test::awaitTask(engine.transcribe(tone(), std::nullopt, {}, CancellationToken())), EngineError);
  }
  // A file that is there but one byte short is not installed.
  SpeechModelDescriptor shortFile =
      descriptorFor(dir, QStringLiteral("qwen3-asr-tiny.gguf"), QStringLiteral("qwen3a-tiny-mmproj.gguf"));
  shortFile.artifacts[1].sizeBytes += 1;
  Qwen3ASREngine engine(Qwen3ASRModel::small06BQ5, shortFile);
  EXPECT_EQ(loadError(engine), EngineError::Kind::ModelMissing);

  // What the libraries said about the refused files reaches the engine's log.
  bool libraryError = false;
  for (const auto& line : log.lines()) {
    libraryError |= line.category == QStringLiteral("qwen3asr") && line.level == SystemLog::Level::Error;
  }
  EXPECT_TRUE(libraryError);
}

TEST(Qwen3ASREngine, TranscribeNeedsALoadedModelAndAnUncancelledCall) {
  Qwen3ASREngine engine(Qwen3ASRModel::small06BQ5, tinyDescriptor());
  try {
    test::awaitTask(engine.transcribe(tone(), std::nullopt, {}, CancellationToken()));
    FAIL() << "transcribed without a model";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.description(), QStringLiteral("Transcription engine is not loaded"));
  }
  test::awaitTask(engine.load());
  CancellationToken cancelled;
  cancelled.cancel();
  EXPECT_THROW(test::awaitTask(engine.transcribe(tone(), std::nullopt, {}, cancelled)), OperationCancelled);
  test::awaitTask(engine.unload());
  EXPECT_THROW(test::awaitTask(engine.transcribe(tone(), std::nullopt, {}, CancellationToken())), EngineError);
}

// The catalogue's rows make this engine, unloaded; without the downloaded files
// it reports the model as missing.
TEST(Qwen3ASREngine, CatalogueRowsMakeTheEngine) {
  for (Qwen3ASRModel::Case model : Qwen3ASRModel::allCases()) {
    const std::shared_ptr<TranscriptionEngine> made = Qwen3ASRModel::descriptor(model).makeEngine();
    auto* engine = dynamic_cast<Qwen3ASREngine*>(made.get());
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->model(), model);
    EXPECT_FALSE(engine->isLoaded());
    EXPECT_EQ(loadError(*engine), EngineError::Kind::ModelMissing);
  }
}

// With real downloaded models (MUREL_REAL_MODELS_DIR holding the catalogue's
// Qwen3-ASR 0.6B files), a known recording is transcribed in English.
TEST(Qwen3ASREngine, RealModelTranscribesSpeech) {
  const QString dir = qEnvironmentVariable("MUREL_REAL_MODELS_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "MUREL_REAL_MODELS_DIR is not set";
  SpeechModelDescriptor descriptor = Qwen3ASRModel::descriptor(Qwen3ASRModel::small06BQ5);
  for (const QString& folder : {dir, dir + QStringLiteral("/qwen3-asr")}) {
    descriptor.storageDirectory = folder;
    if (descriptor.isModelInstalled()) break;
  }
  if (!descriptor.isModelInstalled()) GTEST_SKIP() << "no Qwen3-ASR 0.6B files in " << dir.toStdString();
  setEngineThreadCountForTesting(0);  // a real model needs every core
  Qwen3ASREngine engine(Qwen3ASRModel::small06BQ5, descriptor);
  test::awaitTask(engine.load());
  const AudioSamples samples = AudioSampleLoader::loadSamples(
      test::sourceDir() + QStringLiteral("/third_party/node_modules/nodejs-whisper/cpp/whisper.cpp/samples/jfk.mp3"));
  const TranscriptionResult result =
      test::awaitTask(engine.transcribe(samples, std::nullopt, {}, CancellationToken()), std::chrono::minutes(5));
  EXPECT_TRUE(result.text.contains(QStringLiteral("country"), Qt::CaseInsensitive)) << result.text.toStdString();
  EXPECT_EQ(result.language, QStringLiteral("en"));
}
