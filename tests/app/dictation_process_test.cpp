// Whole dictations through the application as users start it: the real `murel`
// process on the rig's X server and sound server, its hotkey typed with XTEST,
// espeak-ng speech in a microphone of the test's own, a speech model that the
// catalogue takes as installed, and the paste-target window receiving the text.
// What happened is read where a user's bug report would read it: the
// diagnostics log.
#include "AppProcessRig.h"

#include "audio/AudioDeviceManager.h"
#include "keys/KeyCombo.h"
#include "runtime/UserDefaults.h"
#include "speech/WhisperModel.h"
#include "support/FakeNotificationServer.h"
#include "support/PasteTarget.h"
#include "support/PulseRig.h"
#include "support/SpeechAudio.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;

namespace {

QByteArray pcmOf(const AudioSamples& samples) {
  QByteArray pcm(qsizetype(samples.size() * 2), '\0');
  auto* out = reinterpret_cast<qint16*>(pcm.data());
  for (size_t i = 0; i < samples.size(); ++i) out[i] = qint16(std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f);
  return pcm;
}

// The session's lines of the diagnostics log ("record start", "deliver pasted" …),
// without their times and details.
QStringList sessionEvents(const QString& log) {
  static const QRegularExpression line(QStringLiteral("^\\S+\\s{2}(session|deliver)\\s{2}(.+?)(\\s{2}.*)?$"));
  QStringList events;
  for (const QString& entry : log.split(QLatin1Char('\n'))) {
    const QRegularExpressionMatch match = line.match(entry);
    if (!match.hasMatch()) continue;
    const QString event = match.captured(1) + QLatin1Char(' ') + match.captured(2);
    if (event != QLatin1String("session bootstrap")) events.append(event);
  }
  return events;
}

class DictationProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !pulseAvailable()) GTEST_SKIP() << "needs the rig";
    const QString root = freshDir(QStringLiteral("dictation-") +
                                  QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    home_.root = root + QStringLiteral("/home");
    bus_ = std::make_unique<apprig::PrivateBus>(root + QStringLiteral("/bus"));
    ASSERT_TRUE(bus_->connection().isConnected());

    // The generated model in the small English model's place, at its exact size.
    const SpeechModelDescriptor& row = WhisperModel::descriptor(WhisperModel::smallEnglishQ8);
    const QString model = testModelPath(QStringLiteral("tiny-whisper-small-en-catalogue-size.bin"));
    ASSERT_EQ(QFileInfo(model).size(), row.artifacts[0].sizeBytes) << "the generated model lost the catalogue's size";
    const QString folder = home_.data() + QStringLiteral("/Murel/Models/whisper");
    QDir().mkpath(folder);
    ASSERT_TRUE(QFile::link(model, folder + QLatin1Char('/') + row.artifacts[0].filename));

    mic_ = std::make_unique<PipeSource>(QStringLiteral("murel_process_mic"), 16000, 1);
    ASSERT_TRUE(mic_->loaded());

    QDir().mkpath(home_.config() + QStringLiteral("/Murel"));
    UserDefaults defaults(home_.defaultsFile());
    defaults.setValue(QStringLiteral("selectedWhisperModel"), row.id.rawValue);
    defaults.setValue(QString::fromLatin1(AudioDeviceManager::kSelectedUIDKey), mic_->name());
    defaults.setValue(QStringLiteral("hotKeyCombo"), KeyCombo(Key::f6, 0).rawValue());
    defaults.setValue(QStringLiteral("activationMode"), QStringLiteral("toggle"));
    defaults.setValue(QStringLiteral("soundCuesEnabled"), false);
    defaults.setValue(QStringLiteral("showHud"), true);
  }
  void TearDown() override {
    for (auto& app : apps_) {
      if (app->state() == QProcess::NotRunning) continue;
      app->kill();
      app->waitForFinished(5000);
    }
  }

  QProcess& launch() {
    apps_.push_back(apprig::startApp(buildDir() + QStringLiteral("/bin/murel"), home_, bus_->address()));
    return *apps_.back();
  }
  bool logShows(const QString& event, std::chrono::milliseconds timeout) {
    return apprig::pump([&] { return sessionEvents(home_.log()).contains(event); }, timeout);
  }
  QStringList recordings() const {
    return QDir(home_.data() + QStringLiteral("/Murel/Recordings")).entryList({QStringLiteral("*.wav")}, QDir::Files);
  }
  // Types the hotkey into the rig's keyboard, as the user's press would.
  static bool pressHotkey() { return xdotool({QStringLiteral("key"), QStringLiteral("F6")}); }

  // Starts a recording with F6 (repeating the press until the key tap is up)
  // and speaks a sentence into it, waiting until the recording holds all of it.
  void recordSpeech() {
    ASSERT_TRUE(apprig::pump(
        [&] {
          // A second press would stop a recording that is still opening: give each one time.
          pressHotkey();
          return logShows(QStringLiteral("session record start"), 5s);
        },
        40s))
        << home_.log().toStdString();
    speak([&](const QByteArray& pcm) { return mic_->write(pcm); });
  }
  // Speaks a sentence through `write` (into a microphone) and waits until the
  // recording holds all of it.
  void speak(const std::function<bool(const QByteArray&)>& write) {
    const AudioSamples speech = concat(
        {silenceSamples(0.3), spokenSamples(QStringLiteral("Please send the report to Anna.")), silenceSamples(0.5)});
    ASSERT_TRUE(write(pcmOf(speech)));
    const qint64 wanted = 44 + qint64(speech.size()) * 2;
    ASSERT_TRUE(apprig::pump(
        [&] {
          const QStringList files = recordings();
          return files.size() == 1 &&
                 QFileInfo(home_.data() + QStringLiteral("/Murel/Recordings/") + files[0]).size() >= wanted;
        },
        60s));
  }
  // Stops the recording with F6 and waits until the session has delivered.
  void stopAndDeliver() {
    ASSERT_TRUE(pressHotkey());
    ASSERT_TRUE(apprig::pump(
        [&] {
          const QStringList events = sessionEvents(home_.log());
          return events.contains(QStringLiteral("deliver pasted")) ||
                 events.contains(QStringLiteral("session transcribe failed")) ||
                 events.contains(QStringLiteral("deliver paste not fetched"));
        },
        300s))
        << home_.log().toStdString();
  }

  apprig::Home home_;
  std::unique_ptr<apprig::PrivateBus> bus_;
  std::unique_ptr<PipeSource> mic_;
  std::vector<std::unique_ptr<QProcess>> apps_;
};

}  // namespace

// The lines a bug report shows of one dictation, in order, and the text in the
// window that had the focus.
TEST_F(DictationProcess, OneDictationLeavesItsLinesInTheDiagnosticsLog) {
  PasteTarget target;
  ASSERT_TRUE(target.isReady());
  QProcess& app = launch();
  ASSERT_TRUE(apprig::pump([&] { return home_.log().contains(QStringLiteral("  session  bootstrap")); }, 30s))
      << home_.log().toStdString();
  recordSpeech();
  if (HasFatalFailure()) return;
  stopAndDeliver();
  if (HasFatalFailure()) return;

  EXPECT_EQ(sessionEvents(home_.log()),
            (QStringList{"session record start", "session record stop", "session transcribe start",
                         "session transcribe ok", "deliver pasted"}))
      << home_.log().toStdString();
  // The generated model's weights are fixed, and it always says something.
  EXPECT_TRUE(apprig::pump([&] { return !target.text().trimmed().isEmpty(); }, 10s));
  // The file goes once delivery has restored the clipboard, a little after "pasted".
  EXPECT_TRUE(apprig::pump([&] { return recordings().isEmpty(); }, 30s)) << "the recording outlived its dictation";
  ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
  EXPECT_TRUE(app.waitForFinished(5000));
}

// A second launch while the first instance records would bring its settings
// window forward, and the transcript would be pasted into it. The window waits
// until the dictation is over; the text reaches the window the user dictated into.
TEST_F(DictationProcess, SecondLaunchDuringARecordingLeavesTheFocusOnTheTarget) {
  PasteTarget target;
  ASSERT_TRUE(target.isReady());
  QProcess& first = launch();
  ASSERT_TRUE(apprig::pump([&] { return home_.log().contains(QStringLiteral("  session  bootstrap")); }, 30s))
      << home_.log().toStdString();
  recordSpeech();
  if (HasFatalFailure()) return;

  QProcess& second = launch();
  ASSERT_TRUE(second.waitForFinished(10000)) << "the second instance kept running";
  EXPECT_EQ(second.exitCode(), 0);
  // The handover is a bus call: give it the time to arrive before looking.
  apprig::pump([] { return false; }, 1s);
  EXPECT_FALSE(apprig::showsWindow(first.processId(), QStringLiteral("Settings")));
  QProcess focus;
  focus.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")});
  ASSERT_TRUE(focus.waitForFinished(5000));
  EXPECT_EQ(QString::fromLatin1(focus.readAllStandardOutput()).trimmed().toULong(), target.windowId());

  stopAndDeliver();
  if (HasFatalFailure()) return;
  EXPECT_TRUE(sessionEvents(home_.log()).contains(QStringLiteral("deliver pasted"))) << home_.log().toStdString();
  EXPECT_TRUE(apprig::pump([&] { return !target.text().trimmed().isEmpty(); }, 10s));
  // Once the dictation is over, the launch is answered.
  EXPECT_TRUE(apprig::pump([&] { return apprig::showsWindow(first.processId(), QStringLiteral("Settings")); }, 10s));
  ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
  EXPECT_TRUE(first.waitForFinished(5000));
}

// The sound server restarts (a crash, an update): a press while it is away is
// refused with a notice, and once it is back the next press records and
// pastes, without anyone dismissing the error first.
TEST_F(DictationProcess, TheSoundServerBackTheNextPressRecordsWithoutADismiss) {
  PasteTarget target;
  ASSERT_TRUE(target.isReady());
  FakeNotificationServer notices(bus_->connection());
  const QString dir = freshDir(QStringLiteral("own-pulse"));
  PrivateServer pulse(dir, {QStringLiteral("module-pipe-source source_name=own_mic file=%1/mic format=s16le "
                                           "rate=16000 channels=1")
                                .arg(dir)});
  ASSERT_TRUE(pulse.start());
  UserDefaults(home_.defaultsFile())
      .setValue(QString::fromLatin1(AudioDeviceManager::kSelectedUIDKey), QStringLiteral("own_mic"));
  QProcessEnvironment env = apprig::environmentFor(home_, bus_->address());
  env.insert(QStringLiteral("PULSE_SERVER"), pulse.address());
  auto app = std::make_unique<QProcess>();
  app->setProgram(buildDir() + QStringLiteral("/bin/murel"));
  app->setProcessEnvironment(env);
  app->start();
  ASSERT_TRUE(app->waitForStarted(10000));
  ASSERT_TRUE(apprig::pump([&] { return home_.log().contains(QStringLiteral("  session  bootstrap")); }, 60s))
      << home_.log().toStdString();

  pulse.stop();
  ASSERT_TRUE(apprig::pump(
      [&] {
        pressHotkey();
        return apprig::pump([&] { return !notices.notices.empty(); }, 2s);
      },
      60s))
      << home_.log().toStdString();
  EXPECT_TRUE(notices.notices[0].body.contains(QStringLiteral("can't reach the sound server")))
      << notices.notices[0].body.toStdString();
  EXPECT_TRUE(recordings().isEmpty());

  ASSERT_TRUE(pulse.start());
  ASSERT_TRUE(logShows(QStringLiteral("session sound server back"), 60s)) << home_.log().toStdString();
  ASSERT_TRUE(pressHotkey());
  ASSERT_TRUE(logShows(QStringLiteral("session record start"), 60s)) << home_.log().toStdString();
  // The new server made a new fifo: speak into it.
  QFile mic(dir + QStringLiteral("/mic"));
  ASSERT_TRUE(mic.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
  speak([&](const QByteArray& pcm) { return mic.write(pcm) == pcm.size(); });
  if (HasFatalFailure()) return;
  stopAndDeliver();
  if (HasFatalFailure()) return;
  EXPECT_TRUE(sessionEvents(home_.log()).contains(QStringLiteral("deliver pasted"))) << home_.log().toStdString();
  EXPECT_TRUE(apprig::pump([&] { return !target.text().trimmed().isEmpty(); }, 30s));
  ::kill(static_cast<pid_t>(app->processId()), SIGTERM);
  EXPECT_TRUE(app->waitForFinished(30000));
}
