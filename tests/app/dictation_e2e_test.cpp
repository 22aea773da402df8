// One whole dictation through the application's composition root: the hotkey
// typed on the rig's X server (XTEST through xdotool) and caught by the X11 key
// tap, the rig's PulseAudio pipe source speaking an espeak-ng sentence into the
// real recorder, the tiny generated Whisper model behind the real engine host,
// and the real deliverer pasting into the paste-target window.
#include "audio/AudioDeviceManager.h"
#include "root/Composition.h"
#include "runtime/DiagLog.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "speech/SpeechSegmenter.h"
#include "speech/WhisperEngine.h"
#include "speech/WhisperModel.h"
#include "support/AwaitTask.h"
#include "support/MediaFiles.h"
#include "support/PasteTarget.h"
#include "support/PulseRig.h"
#include "support/SpeechAudio.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;

namespace {

// Keeps a copy of every file the session hands over, to transcribe it again.
class CopyingHost final : public SpeechEngineHosting {
 public:
  CopyingHost(SpeechEngineHosting& inner, QString folder) : inner_(inner), folder_(std::move(folder)) {}
  QCoro::Task<void> ensureLoaded() override { return inner_.ensureLoaded(); }
  QCoro::Task<QString> transcribe(QString file, QStringList vocabulary, CancellationToken token) override {
    const QString copy = folder_ + QStringLiteral("/copy_") + QFileInfo(file).fileName();
    QFile::copy(file, copy);
    copies.append(copy);
    return inner_.transcribe(file, vocabulary, token);
  }
  void prewarmTextEnhancer() override { inner_.prewarmTextEnhancer(); }
  QCoro::Task<QString> enhance(QString text, QString instructions, CancellationToken token) override {
    return inner_.enhance(text, instructions, token);
  }
  bool isEngineLoaded() const override { return inner_.isEngineLoaded(); }
  QStringList copies;

 private:
  SpeechEngineHosting& inner_;
  QString folder_;
};

QByteArray pcmOf(const AudioSamples& samples) {
  QByteArray pcm(qsizetype(samples.size() * 2), '\0');
  auto* out = reinterpret_cast<qint16*>(pcm.data());
  for (size_t i = 0; i < samples.size(); ++i) out[i] = qint16(std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f);
  return pcm;
}

TEST(DictationEndToEnd, HotkeySpeechTranscriptionAndPaste) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") || !pulseAvailable()) GTEST_SKIP() << "needs the rig";
  installTranslations(*QCoreApplication::instance());
  const QString dir = freshDir(QStringLiteral("e2e"));
  UserDefaults defaults(dir + QStringLiteral("/defaults.json"));
  defaults.setValue(QStringLiteral("hotKeyCombo"), KeyCombo(Key::f6, 0).rawValue());
  defaults.setValue(QStringLiteral("activationMode"), QStringLiteral("toggle"));
  defaults.setValue(QStringLiteral("soundCuesEnabled"), false);
  defaults.setValue(QStringLiteral("showHud"), false);

  // The tiny model in the place of the catalogue's small English model.
  SpeechModelDescriptor row = WhisperModel::descriptor(WhisperModel::smallEnglishQ8);
  row.storageDirectory = freshDir(QStringLiteral("e2e-model"));
  const QString modelFile = QDir(row.storageDirectory).filePath(row.artifacts[0].filename);
  ASSERT_TRUE(QFile::copy(testModelPath(QStringLiteral("tiny-whisper-51864.bin")), modelFile));
  row.artifacts[0].sizeBytes = QFileInfo(modelFile).size();
  defaults.setValue(QString::fromLatin1(kSelectedSpeechModelKey), row.id.rawValue);

  PipeSource mic(QStringLiteral("murel_e2e_mic"), 16000, 1);
  ASSERT_TRUE(mic.loaded());
  defaults.setValue(QString::fromLatin1(AudioDeviceManager::kSelectedUIDKey), mic.name());

  // The application's own composition root on the desktop of the rig.
  DiagLog diag(dir);
  std::unique_ptr<CopyingHost> engine;
  Composition::Options options;
  options.makeEngine = [row](const SpeechModelDescriptor&) {
    return std::make_shared<WhisperEngine>(WhisperModel::smallEnglishQ8, row, vadModelResourcePath);
  };
  options.decorateEngineHost = [&engine, dir](SpeechEngineHosting& inner) -> SpeechEngineHosting& {
    engine = std::make_unique<CopyingHost>(inner, dir);
    return *engine;
  };
  SystemPlatform platform;
  Composition composition(defaults, diag, platform.parts(), std::move(options));
  AppState& app = composition.appState();
  HotKeyService& hotKeys = composition.hotKeys();
  AudioRecorder& recorder = composition.recorder();
  DictationSession& session = composition.session();
  QCoro::waitFor(composition.bootstrap());
  hotKeys.reloadRegistrations();
  ASSERT_TRUE(hotKeys.isRegistered());

  PasteTarget target;
  ASSERT_TRUE(target.isReady());

  ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("F6")}));
  ASSERT_TRUE(waitUntil([&] { return app.status() == AppStatus::recording(); }));
  const AudioSamples speech = concat(
      {silenceSamples(0.3), spokenSamples(QStringLiteral("Please send the report to Anna.")), silenceSamples(0.5)});
  ASSERT_TRUE(mic.write(pcmOf(speech)));
  ASSERT_TRUE(waitUntil([&] { return recorder.capturedFrames() >= speech.size(); }, 20s));
  ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("F6")}));

  ASSERT_TRUE(waitUntil([&] { return app.status() == AppStatus::transcribing(); }));
  ASSERT_TRUE(waitUntil([&] { return !app.status().is(AppStatus::Kind::transcribing); }, 180s));
  ASSERT_EQ(app.status(), AppStatus::ready()) << app.status().message().toStdString();
  ASSERT_EQ(engine->copies.size(), 1);
  EXPECT_FALSE(session.recordingFile().has_value());

  // The same WAV through the same engine gives the text that was pasted.
  auto again = follow(composition.engineHost().transcribe(engine->copies[0], {}, {}));
  ASSERT_TRUE(waitUntil([&] { return again->done; }, 180s));
  const QString expected = again->value.value_or(QStringLiteral("<error>")).trimmed();
  // The generated model's weights are fixed, and it always says something.
  ASSERT_FALSE(expected.isEmpty());
  ASSERT_TRUE(app.lastTranscription().has_value());
  EXPECT_EQ(app.lastTranscription()->trimmed(), expected);
  EXPECT_TRUE(target.waitForSuffix(*app.lastTranscription(), 10000)) << target.text().toStdString();
  EXPECT_FALSE(hotKeys.isActive());
}

}  // namespace
