#include "runtime/SystemLog.h"
#include "speech/EngineError.h"
#include "speech/WhisperEngine.h"
#include "speech/WhisperParams.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"
#include "support/SpeechAudio.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "runtime/DiagLog.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

using namespace murel;
using namespace murel::test;

namespace {

const std::optional<QString> kNone;

TEST(WhisperDecodingRequest, LanguageAndInitialPrompt) {
  const struct {
    std::optional<QString> language;
    QStringList vocabulary;
    WhisperDecodingRequest request;
  } cases[] = {
      {kNone, {}, {"auto", std::nullopt}},
      {QStringLiteral("de"), {}, {"de", std::nullopt}},
      {QStringLiteral("en"), {QStringLiteral("Anna"), QStringLiteral("Kubernetes")}, {"en", "Anna, Kubernetes"}},
      {kNone, {QStringLiteral("Zoë")}, {"auto", QByteArray("Zo\xc3\xab")}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(whisperDecodingRequest(c.language, c.vocabulary), c.request) << c.request.language.constData();
  }
}

TEST(WhisperFullParams, GreedyOnSpeechAlreadyDetected) {
  const whisper_full_params defaults = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
  for (const char* prompt : {static_cast<const char*>(nullptr), "Anna, Kubernetes"}) {
    const whisper_full_params p = makeWhisperFullParams(3, "auto", prompt);
    EXPECT_EQ(p.strategy, WHISPER_SAMPLING_GREEDY);
    EXPECT_EQ(p.n_threads, 3);
    EXPECT_FALSE(p.translate);
    EXPECT_TRUE(p.no_context);
    EXPECT_FALSE(p.single_segment);
    EXPECT_FALSE(p.print_special || p.print_progress || p.print_realtime || p.print_timestamps);
    EXPECT_TRUE(p.suppress_nst);
    EXPECT_STREQ(p.language, "auto");
    EXPECT_FALSE(p.vad);
    EXPECT_EQ(p.vad_params.min_silence_duration_ms, 500);
    EXPECT_EQ(p.vad_params.speech_pad_ms, 200);
    // Everything else stays whisper.cpp's.
    EXPECT_EQ(p.vad_params.threshold, defaults.vad_params.threshold);
    EXPECT_EQ(p.vad_params.max_speech_duration_s, defaults.vad_params.max_speech_duration_s);
    EXPECT_EQ(p.temperature, defaults.temperature);
    EXPECT_EQ(p.temperature_inc, defaults.temperature_inc);
    EXPECT_EQ(p.greedy.best_of, defaults.greedy.best_of);
    EXPECT_EQ(p.suppress_blank, defaults.suppress_blank);
    if (prompt) {
      EXPECT_STREQ(p.initial_prompt, prompt);
      EXPECT_TRUE(p.carry_initial_prompt);
    } else {
      EXPECT_EQ(p.initial_prompt, defaults.initial_prompt);
      EXPECT_EQ(p.carry_initial_prompt, defaults.carry_initial_prompt);
    }
  }
}

TEST(WhisperSpeechOnlySamples, JoinsRangesAsWhisperCppDoes) {
  // One second of audio whose samples count up, so every copied range shows.
  std::vector<float> audio(16000);
  for (size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<float>(i + 1);
  const int silence = 1600;  // 0.1 s between ranges
  const struct {
    const char* name;
    std::vector<SpeechRange> ranges;
    float overlap;
    std::vector<std::pair<int, int>> pieces;  // [start, end) of `audio`, -n for n zeros
  } cases[] = {
      {"no speech", {}, 0.1f, {}},
      {"one range, no overlap after the last", {{10, 50}}, 0.1f, {{1600, 8000}}},
      {"overlap and a silence between two", {{0, 20}, {60, 80}}, 0.1f, {{0, 4800}, {-silence, 0}, {9600, 12800}}},
      {"clamped to the recording", {{90, 200}}, 0.1f, {{14400, 15999}}},
      {"overlap clamped too", {{50, 99}, {99, 120}}, 0.5f, {{8000, 15999}, {-silence, 0}, {15840, 15999}}},
      {"empty range dropped with its silence", {{20, 20}, {40, 60}}, 0.0f, {{6400, 9600}}},
  };
  for (const auto& c : cases) {
    std::vector<float> expected;
    for (const auto& [from, to] : c.pieces) {
      if (from < 0)
        expected.insert(expected.end(), static_cast<size_t>(-from), 0.f);
      else
        expected.insert(expected.end(), audio.begin() + from, audio.begin() + to);
    }
    EXPECT_EQ(speechOnlySamples(audio.data(), static_cast<int>(audio.size()), c.ranges, c.overlap), expected) << c.name;
  }
  EXPECT_TRUE(speechOnlySamples(nullptr, 0, {{0, 10}}, 0.1f).empty());
}

EngineError loadError(WhisperEngine& engine) {
  try {
    awaitTask(engine.load());
  } catch (const EngineError& e) {
    return e;
  }
  ADD_FAILURE() << "load() succeeded";
  return EngineError::notLoaded();
}

// The catalogue row with its file in a fresh folder, holding the tiny test
// model at the size the row expects.
SpeechModelDescriptor rowWithTinyModel(WhisperModel::Case model, const QString& tinyModel) {
  SpeechModelDescriptor row = WhisperModel::descriptor(model);
  row.storageDirectory = freshDir(QStringLiteral("whisper-models"));
  const QString target = QDir(row.storageDirectory).filePath(row.artifacts[0].filename);
  EXPECT_TRUE(QFile::copy(testModelPath(tinyModel), target));
  row.artifacts[0].sizeBytes = QFileInfo(target).size();
  return row;
}

class WhisperEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { setEngineThreadCountForTesting(1); }
  void TearDown() override { setEngineThreadCountForTesting(0); }
};

// Each call runs whisper.cpp's own voice-activity detection (with four threads
// of its own choosing), which is slow on a machine busy with parallel builds:
// the calls below are kept few.
TEST_F(WhisperEngineTest, TinyModelsLoadAndTranscribeThroughWhisperFull) {
  const AudioSamples speech =
      concat({silenceSamples(1), spokenSamples(QStringLiteral("Hello Anna, the cluster runs Kubernetes.")),
              silenceSamples(1)});
  ASSERT_GT(speech.size(), 4u * 16000);
  const QStringList vocabulary = {QStringLiteral("Anna"), QStringLiteral("Kubernetes")};
  const struct {
    WhisperModel::Case model;
    const char* file;
    std::optional<QString> language;
  } cases[] = {{WhisperModel::smallEnglishQ8, "tiny-whisper-51864.bin", std::nullopt},
               {WhisperModel::largeV3TurboQ8, "tiny-whisper-51865.bin", QStringLiteral("de")}};
  for (const auto& c : cases) {
    murel::test::LogCapture log;
    WhisperEngine engine(c.model, rowWithTinyModel(c.model, QString::fromUtf8(c.file)), vadModelResourcePath);
    EXPECT_FALSE(engine.isLoaded());
    awaitTask(engine.load());
    EXPECT_TRUE(engine.isLoaded());

    const auto result = awaitTask(engine.transcribe(speech, c.language, vocabulary, {}));
    ASSERT_TRUE(result.language.has_value()) << c.file;
    EXPECT_FALSE(result.language->isEmpty());
    if (c.language) {
      EXPECT_EQ(result.language, c.language);
    } else {
      // Silence alone gives no segment: the empty text, not an error.
      EXPECT_EQ(awaitTask(engine.transcribe(silenceSamples(1), std::nullopt, {}, {})).text, QString());
    }

    awaitTask(engine.unload());
    EXPECT_FALSE(engine.isLoaded());
    const QStringList lines = log.messages(QStringLiteral("whisper"));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Whisper context initialized from ")));
    EXPECT_EQ(lines[1], QStringLiteral("Whisper engine loaded"));
    EXPECT_EQ(lines[2], QStringLiteral("Whisper engine unloaded"));
  }
}

// A model load prints some seventy lines: they go to the diagnostics log, and
// nothing of whisper.cpp's or ggml's reaches stderr.
TEST_F(WhisperEngineTest, LibraryOutputGoesToTheDiagnosticsLogNotStderr) {
  const QString captured = freshDir(QStringLiteral("stderr")) + QStringLiteral("/stderr.txt");
  std::fflush(stderr);
  const int saved = ::dup(2);
  const int file = ::open(QFile::encodeName(captured).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(file, 0);
  ::dup2(file, 2);
  {
    WhisperEngine engine(WhisperModel::smallEnglishQ8,
                         rowWithTinyModel(WhisperModel::smallEnglishQ8, QStringLiteral("tiny-whisper-51864.bin")),
                         vadModelResourcePath);
    awaitTask(engine.load());
    awaitTask(engine.unload());
  }
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  ::close(file);
  QFile printed(captured);
  ASSERT_TRUE(printed.open(QIODevice::ReadOnly));
  const QByteArray text = printed.readAll();
  EXPECT_FALSE(text.contains("whisper_")) << text.toStdString();
  EXPECT_FALSE(text.contains("ggml")) << text.toStdString();
  const QString diag = DiagLog::shared().readAll();
  EXPECT_TRUE(diag.contains(QStringLiteral("  whisper  info  whisper_model_load"))) << diag.toStdString();
}

TEST_F(WhisperEngineTest, LoadTwiceLoadsOnceAndUnloadRepeatsItsLine) {
  murel::test::LogCapture log;
  WhisperEngine engine(WhisperModel::smallEnglishQ8,
                       rowWithTinyModel(WhisperModel::smallEnglishQ8, QStringLiteral("tiny-whisper-51864.bin")),
                       vadModelResourcePath);
  awaitTask(engine.load());
  awaitTask(engine.load());
  awaitTask(engine.unload());
  awaitTask(engine.unload());
  EXPECT_EQ(log.messages(QStringLiteral("whisper")).mid(1),
            (QStringList{QStringLiteral("Whisper engine loaded"), QStringLiteral("Whisper engine unloaded"),
                         QStringLiteral("Whisper engine unloaded")}));
  try {
    awaitTask(engine.transcribe(silenceSamples(1), std::nullopt, {}, {}));
    FAIL() << "transcribed after unload";
  } catch (const EngineError& e) {
    EXPECT_STREQ(e.what(), "Transcription engine is not loaded");
  }
}

TEST_F(WhisperEngineTest, CancelledBeforeInferenceRunsNothing) {
  WhisperEngine engine(WhisperModel::smallEnglishQ8,
                       rowWithTinyModel(WhisperModel::smallEnglishQ8, QStringLiteral("tiny-whisper-51864.bin")),
                       vadModelResourcePath);
  awaitTask(engine.load());
  CancellationToken cancel;
  cancel.cancel();
  EXPECT_THROW(awaitTask(engine.transcribe(silenceSamples(1), std::nullopt, {}, cancel)), OperationCancelled);
  EXPECT_TRUE(engine.isLoaded());
}

// The application's own engine, on the real catalogue row: files of the exact
// catalogue size are sparse files in the real models folder.
TEST_F(WhisperEngineTest, MissingShortOrCorruptFilesAndAMissingVadModel) {
  const SpeechModelDescriptor& row = WhisperModel::descriptor(WhisperModel::smallEnglishQ8);
  QDir().mkpath(row.storageDirectory);
  const QString file = QDir(row.storageDirectory).filePath(row.artifacts[0].filename);
  const auto noVad = [] { return std::optional<QString>(); };
  auto sized = [&](qint64 size) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("not a whisper model");
    ASSERT_TRUE(f.resize(size));
  };
  {
    WhisperEngine engine(WhisperModel::smallEnglishQ8);
    EXPECT_EQ(loadError(engine), EngineError::modelMissing());
    // A missing model is reported before a missing VAD model.
    WhisperEngine withoutVad(WhisperModel::smallEnglishQ8, row, noVad);
    EXPECT_EQ(loadError(withoutVad), EngineError::modelMissing());
  }
  sized(row.artifacts[0].sizeBytes - 1);
  {
    WhisperEngine engine(WhisperModel::smallEnglishQ8);
    EXPECT_EQ(loadError(engine), EngineError::modelMissing());
    EXPECT_FALSE(engine.isLoaded());
  }
  sized(row.artifacts[0].sizeBytes);
  {
    WhisperEngine withoutVad(WhisperModel::smallEnglishQ8, row, noVad);
    EXPECT_EQ(loadError(withoutVad), EngineError::vadModelMissing());
    WhisperEngine engine(WhisperModel::smallEnglishQ8);
    const EngineError error = loadError(engine);
    EXPECT_EQ(error, EngineError::initFailed(QStringLiteral("Whisper")));
    EXPECT_STREQ(error.what(), "Failed to initialize Whisper context");
    EXPECT_FALSE(engine.isLoaded());
  }
  QFile::remove(file);
}

TEST_F(WhisperEngineTest, FactoryMakesANewWhisperEngineEachTime) {
  for (const auto& row : WhisperModel::catalogEntries()) {
    const auto a = row.makeEngine();
    const auto b = row.makeEngine();
    EXPECT_NE(a, b);
    ASSERT_NE(dynamic_cast<WhisperEngine*>(a.get()), nullptr);
    EXPECT_FALSE(a->isLoaded());
  }
}

// With real models at hand (MUREL_REAL_MODELS_DIR holding the catalogue files),
// spoken English comes back as text.
TEST_F(WhisperEngineTest, RealModelsTranscribeSpeech) {
  const QString dir = QString::fromLocal8Bit(qgetenv("MUREL_REAL_MODELS_DIR"));
  if (dir.isEmpty()) GTEST_SKIP() << "MUREL_REAL_MODELS_DIR is not set";
  setEngineThreadCountForTesting(0);
  const AudioSamples speech =
      concat({silenceSamples(1), spokenSamples(QStringLiteral("Hello world.")), silenceSamples(1)});
  int tried = 0;
  for (WhisperModel::Case model : WhisperModel::allCases()) {
    SpeechModelDescriptor row = WhisperModel::descriptor(model);
    row.storageDirectory = dir;
    if (!row.isModelInstalled()) continue;
    ++tried;
    WhisperEngine engine(model, row, vadModelResourcePath);
    awaitTask(engine.load(), std::chrono::minutes(5));
    // As the host asks: "en" for the English-only model, detection for the other.
    const auto language = row.capabilities.languages.resolveLanguage(QStringLiteral("auto"));
    const auto result = awaitTask(engine.transcribe(speech, language, {}, {}), std::chrono::minutes(5));
    EXPECT_TRUE(result.text.contains(QStringLiteral("hello"), Qt::CaseInsensitive)) << result.text.toStdString();
    EXPECT_EQ(result.language, std::optional<QString>(QStringLiteral("en")));
    awaitTask(engine.unload());
  }
  if (tried == 0) GTEST_SKIP() << "no Whisper model in " << dir.toStdString();
}

}  // namespace
