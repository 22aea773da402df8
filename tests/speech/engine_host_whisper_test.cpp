#include "runtime/DiagLog.h"
#include "runtime/SystemLog.h"
#include "runtime/UserDefaults.h"
#include "speech/EngineHost.h"
#include "speech/EngineResidency.h"
#include "speech/ParakeetEngine.h"
#include "speech/WhisperEngine.h"
#include "speech/WhisperModel.h"
#include "support/AwaitTask.h"
#include "support/FakeClock.h"
#include "support/LogCapture.h"
#include "support/MediaFiles.h"
#include "support/SpeechAudio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace murel;
using namespace std::chrono_literals;

namespace {

// The whole road through the host with the real parts: the selected catalogue
// row, the Whisper engine on whisper.cpp with the generated tiny model (in a
// copy of the row that expects the tiny file's size), the VAD resource, a WAV
// file spoken by espeak-ng and decoded by the sample loader, and the idle unload.
TEST(EngineHostWithWhisper, TranscribesASpokenWavFileAndUnloadsWhenIdle) {
  setEngineThreadCountForTesting(1);
  test::LogCapture logs;

  const QString dir = test::freshDir(QStringLiteral("host-whisper"));
  SpeechModelDescriptor row = WhisperModel::descriptor(WhisperModel::smallEnglishQ8);
  row.storageDirectory = dir;
  const QString modelFile = QDir(dir).filePath(row.artifacts[0].filename);
  ASSERT_TRUE(QFile::copy(test::testModelPath(QStringLiteral("tiny-whisper-51864.bin")), modelFile));
  row.artifacts[0].sizeBytes = QFile(modelFile).size();
  ASSERT_TRUE(row.isModelInstalled());

  const QString wav = dir + QStringLiteral("/dictation.wav");
  test::runTool(QStringLiteral("espeak-ng"),
                {QStringLiteral("-w"), wav, QStringLiteral("Hello Anna, the cluster runs.")});

  UserDefaults defaults(dir + QStringLiteral("/defaults.json"));
  defaults.setValue(QString::fromLatin1(kSelectedSpeechModelKey), row.id.rawValue);
  DiagLog diag(dir);
  test::FakeClock clock;
  EngineHostOptions options;
  options.clock = &clock;
  options.diagnostics = &diag;
  options.idleTimeout = 1s;
  QStringList madeFor;
  options.makeEngine = [&](const SpeechModelDescriptor& model) -> std::shared_ptr<TranscriptionEngine> {
    madeFor << model.id.rawValue;
    return std::make_shared<WhisperEngine>(WhisperModel::smallEnglishQ8, row, vadModelResourcePath);
  };
  EngineHost host(defaults, TranscriptionPipeline::standard(), std::move(options));

  (void)test::awaitTask(host.transcribe(wav, {QStringLiteral("Anna")}));
  ASSERT_TRUE(host.hasEngine());
  EXPECT_EQ(host.currentModelId(), row.id.rawValue);
  EXPECT_EQ(madeFor, QStringList{row.id.rawValue});
  const std::shared_ptr<TranscriptionEngine> engine = host.currentEngine();
  EXPECT_TRUE(engine->isLoaded());
  EXPECT_TRUE(host.isIdleUnloadPending());

  clock.advance(1s);
  EXPECT_FALSE(host.hasEngine());
  ASSERT_TRUE(test::waitUntil([&] { return !engine->isLoaded(); }, 30s));
  // The residency flag flips before its line is logged: wait for the line itself.
  const auto unloadedLogged = [&] {
    const QStringList lines = logs.messages(QStringLiteral("whisper"));
    return !lines.isEmpty() && lines.last() == QLatin1String("Whisper engine unloaded");
  };
  EXPECT_TRUE(test::waitUntil(unloadedLogged, 30s))
      << logs.messages(QStringLiteral("whisper")).join(u'|').toStdString();
  EXPECT_TRUE(logs.messages(QStringLiteral("whisper")).contains(QStringLiteral("Whisper engine loaded")));
  const QString log = diag.readAll();
  EXPECT_TRUE(QRegularExpression(QStringLiteral("  engine  loaded  \\d+ms\n")).match(log).hasMatch())
      << log.toStdString();
  EXPECT_TRUE(log.endsWith(QStringLiteral("  engine  idle unload\n"))) << log.toStdString();

  setEngineThreadCountForTesting(0);
}

// A catalogue row with one of the generated tiny models in its place, and the
// real engine for it.
struct TinyModel {
  const char* name;
  std::function<SpeechModelDescriptor()> descriptor;
  QString file;
  std::function<std::shared_ptr<TranscriptionEngine>(const SpeechModelDescriptor&)> make;
};

SpeechModelDescriptor installed(SpeechModelDescriptor row, const QString& testModel) {
  row.storageDirectory = test::freshDir(QStringLiteral("host-warm-up-model"));
  const QString target = QDir(row.storageDirectory).filePath(row.artifacts[0].filename);
  EXPECT_TRUE(QFile::copy(test::testModelPath(testModel), target));
  row.artifacts[0].sizeBytes = QFileInfo(target).size();
  return row;
}

std::vector<TinyModel> tinyModels() {
  return {
      {"Whisper", [] { return WhisperModel::descriptor(WhisperModel::smallEnglishQ8); },
       QStringLiteral("tiny-whisper-51864.bin"),
       [](const SpeechModelDescriptor& row) -> std::shared_ptr<TranscriptionEngine> {
         return std::make_shared<WhisperEngine>(WhisperModel::smallEnglishQ8, row, vadModelResourcePath);
       }},
      {"Parakeet", [] { return ParakeetModel::descriptor(ParakeetModel::tdt06bV3Q8); },
       QStringLiteral("parakeet-test-8192.bin"),
       [](const SpeechModelDescriptor& row) -> std::shared_ptr<TranscriptionEngine> {
         return std::make_shared<ParakeetEngine>(row);
       }},
  };
}

// Loads the model in a new host until the load returns while the engine still
// warms up (a tiny model's pass is short), then hands the host to `during`.
// False when no attempt caught the pass.
bool duringAWarmUp(UserDefaults& defaults, const TranscriptionPipeline& pipeline, EngineHostOptions options,
                   const std::function<void(EngineHost&)>& during) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    EngineHost host(defaults, pipeline, options);
    (void)test::awaitTask(host.ensureLoaded());
    // The pass starts once the load's waiters have woken.
    test::waitUntil(
        [&] { return host.isWarmingUp() || host.lastWarmUp().outcome != EngineHost::WarmUpRecord::Outcome::none; });
    if (!host.isWarmingUp()) continue;
    during(host);
    return true;
  }
  return false;
}

// A transcription that arrives while the engine warms up stops the pass and
// gets the text it would have got without one.
TEST(EngineHostWarmUp, ATranscriptionDuringTheWarmUpGetsTheSameText) {
  setEngineThreadCountForTesting(1);
  const AudioSamples speech = test::spokenSamples(QStringLiteral("Hello Anna, the cluster runs."));
  const TranscriptionPipeline pipeline{[speech](const QString&) { return speech; }};
  for (const TinyModel& model : tinyModels()) {
    SCOPED_TRACE(model.name);
    const SpeechModelDescriptor row = installed(model.descriptor(), model.file);
    const std::optional<QString> language = row.capabilities.languages.resolveLanguage(QStringLiteral("auto"));

    // Without a warm-up: the engine alone, straight after its load.
    const std::shared_ptr<TranscriptionEngine> alone = model.make(row);
    test::awaitTask(alone->load());
    const QString expected = test::awaitTask(alone->transcribe(speech, language, {}, {})).text;
    test::awaitTask(alone->unload());

    UserDefaults defaults(test::freshDir(QStringLiteral("host-warm-up")) + QStringLiteral("/defaults.json"));
    defaults.setValue(QString::fromLatin1(kSelectedSpeechModelKey), row.id.rawValue);
    EngineHostOptions options;
    options.idleTimeout = 1h;
    options.makeEngine = [&](const SpeechModelDescriptor&) { return model.make(row); };
    std::optional<QString> text;
    EngineHost::WarmUpRecord record;
    ASSERT_TRUE(duringAWarmUp(defaults, pipeline, options, [&](EngineHost& host) {
      text = test::awaitTask(host.transcribe(QStringLiteral("speech.wav"), {}));
      record = host.lastWarmUp();
    })) << "every warm-up ended before the load returned";
    EXPECT_EQ(text, expected);
    EXPECT_EQ(record.outcome, EngineHost::WarmUpRecord::Outcome::cancelled);
    // The wait itself is measured by the speech engines benchmark; this only
    // catches a pass that ran on to its end.
    ASSERT_TRUE(record.stopDelay.has_value());
    EXPECT_LT(*record.stopDelay, 100 * kWarmUpCancelBound);
  }
  setEngineThreadCountForTesting(0);
}

// An idle unload during the warm-up stops the pass and frees the model; nothing
// of the host keeps running or holds the engine.
TEST(EngineHostWarmUp, AnUnloadDuringTheWarmUpLeavesNothingLoaded) {
  setEngineThreadCountForTesting(1);
  for (const TinyModel& model : tinyModels()) {
    SCOPED_TRACE(model.name);
    const SpeechModelDescriptor row = installed(model.descriptor(), model.file);
    UserDefaults defaults(test::freshDir(QStringLiteral("host-warm-up")) + QStringLiteral("/defaults.json"));
    defaults.setValue(QString::fromLatin1(kSelectedSpeechModelKey), row.id.rawValue);
    test::FakeClock clock;
    std::shared_ptr<TranscriptionEngine> engine;
    EngineHostOptions options;
    options.clock = &clock;
    options.idleTimeout = 1s;
    options.makeEngine = [&](const SpeechModelDescriptor&) { return engine = model.make(row); };
    ASSERT_TRUE(duringAWarmUp(defaults, TranscriptionPipeline::standard(), options, [&](EngineHost& host) {
      clock.advance(1s);
      EXPECT_FALSE(host.hasEngine());
      ASSERT_TRUE(test::waitUntil([&] { return !engine->isLoaded() && !host.isWarmingUp(); }, 60s));
      EXPECT_EQ(host.lastWarmUp().outcome, EngineHost::WarmUpRecord::Outcome::cancelled);
      EXPECT_FALSE(host.hasEngine());
    })) << "every warm-up ended before the load returned";
    // Only the test still holds the engine: no pass of the host's is left running on it.
    EXPECT_TRUE(test::waitUntil([&] { return engine.use_count() == 1; }));
  }
  setEngineThreadCountForTesting(0);
}

}  // namespace
