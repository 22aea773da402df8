#include "runtime/DiagLog.h"
#include "runtime/SystemLog.h"
#include "runtime/UserDefaults.h"
#include "speech/EngineHost.h"
#include "speech/EngineResidency.h"
#include "speech/WhisperEngine.h"
#include "speech/WhisperModel.h"
#include "support/AwaitTask.h"
#include "support/FakeClock.h"
#include "support/LogCapture.h"
#include "support/MediaFiles.h"
#include "support/SpeechAudio.h"

#include <QDir>
#include <QFile>
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

}  // namespace
