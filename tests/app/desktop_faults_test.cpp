// Faults of the desktop met by the real application process: the X server
// going away and a quit in the middle of a recording, a launch after a crash,
// and a start without any X server.
#include "AppProcessRig.h"

#include "keys/KeyCombo.h"
#include "runtime/UserDefaults.h"
#include "support/FakeNotificationServer.h"
#include "support/OwnXServer.h"
#include "support/PulseRig.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>

using namespace murel;
using namespace std::chrono_literals;

namespace {

class DesktopFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "needs the rig";
    const QString root =
        test::freshDir(QStringLiteral("faults-") +
                       QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    home_.root = root + QStringLiteral("/home");
    bus_ = std::make_unique<apprig::PrivateBus>(root + QStringLiteral("/bus"));
    ASSERT_TRUE(bus_->connection().isConnected());
    home_.installDefaultModel();
    QDir().mkpath(home_.config() + QStringLiteral("/Murel"));
    UserDefaults defaults(home_.defaultsFile());
    defaults.setValue(QStringLiteral("hotKeyCombo"), KeyCombo(Key::f6, 0).rawValue());
    defaults.setValue(QStringLiteral("activationMode"), QStringLiteral("toggle"));
    defaults.setValue(QStringLiteral("soundCuesEnabled"), false);
    defaults.setValue(QStringLiteral("showHud"), true);
  }
  void TearDown() override {
    if (app_ && app_->state() != QProcess::NotRunning) {
      app_->kill();
      app_->waitForFinished(5000);
    }
  }

  QString recordings() const { return home_.data() + QStringLiteral("/Murel/Recordings"); }
  QStringList recordingFiles() const { return QDir(recordings()).entryList({QStringLiteral("*.wav")}, QDir::Files); }

  // The application on `display` (and on `busAddress`, the test's bus when
  // empty), recording after a press of its hotkey.
  void startRecording(const QString& display, const QString& busAddress = {}) {
    QProcessEnvironment env = apprig::environmentFor(home_, busAddress.isEmpty() ? bus_->address() : busAddress);
    env.insert(QStringLiteral("DISPLAY"), display);
    env_ = env;
    app_ = std::make_unique<QProcess>();
    app_->setProgram(test::buildDir() + QStringLiteral("/bin/murel"));
    app_->setProcessEnvironment(env);
    app_->start();
    ASSERT_TRUE(app_->waitForStarted(10000));
    ASSERT_TRUE(apprig::pump([&] { return home_.log().contains(QStringLiteral("  session  bootstrap")); }, 20s))
        << home_.log().toStdString();
    ASSERT_TRUE(apprig::pump(
        [&] {
          pressF6();
          return apprig::pump([&] { return home_.log().contains(QStringLiteral("  session  record start")); }, 1s);
        },
        20s))
        << home_.log().toStdString();
    ASSERT_TRUE(apprig::pump([&] { return !recordingFiles().isEmpty(); }, 5s));
  }

  void pressF6() const {
    QProcess key;
    key.setProcessEnvironment(env_);
    key.start(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("F6")});
    key.waitForFinished(5000);
  }

  apprig::Home home_;
  std::unique_ptr<apprig::PrivateBus> bus_;
  std::unique_ptr<QProcess> app_;
  QProcessEnvironment env_;
};

}  // namespace

// The X server dies while the heads-up display shows a recording: the process
// ends by itself, without a crash, and takes the recording with it.
TEST_F(DesktopFaults, XServerLostDuringRecordingEndsCleanlyWithoutLeavingSpeech) {
  test::OwnXServer server;
  ASSERT_FALSE(server.display().isEmpty());
  startRecording(server.display());
  if (HasFatalFailure()) return;
  server.kill();
  ASSERT_TRUE(app_->waitForFinished(10000)) << "still running after the X server went away";
  const std::string err = app_->readAllStandardError().toStdString();
  EXPECT_EQ(app_->exitStatus(), QProcess::NormalExit) << "crashed: " << err;
  EXPECT_EQ(app_->exitCode(), 1) << err;
  EXPECT_TRUE(recordingFiles().isEmpty()) << recordingFiles().join(u' ').toStdString();
}

TEST_F(DesktopFaults, SigtermDuringRecordingRemovesTheRecording) {
  startRecording(qEnvironmentVariable("DISPLAY"));
  if (HasFatalFailure()) return;
  ASSERT_TRUE(apprig::catchesSigterm(app_->processId()));
  QElapsedTimer timer;
  timer.start();
  ::kill(static_cast<pid_t>(app_->processId()), SIGTERM);
  ASSERT_TRUE(app_->waitForFinished(5000));
  RecordProperty("quit_ms", static_cast<int>(timer.elapsed()));
  EXPECT_EQ(app_->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(app_->exitCode(), 0);
  EXPECT_TRUE(recordingFiles().isEmpty()) << recordingFiles().join(u' ').toStdString();
  EXPECT_TRUE(home_.log().contains(QStringLiteral("  session  record discarded"))) << home_.log().toStdString();
}

// What a crashed or killed process left behind goes at the next launch, and
// nothing else in the folder is touched.
TEST_F(DesktopFaults, LaunchRemovesLeftoverRecordings) {
  QDir().mkpath(recordings());
  for (const char* name : {"recording_2026-01-01_10-00-00.wav", "recording_2026-01-01_10-05-00.wav"}) {
    QFile file(recordings() + QLatin1Char('/') + QLatin1String(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  QFile other(recordings() + QStringLiteral("/notes.txt"));
  ASSERT_TRUE(other.open(QIODevice::WriteOnly));
  other.close();
  app_ = apprig::startApp(test::buildDir() + QStringLiteral("/bin/murel"), home_, bus_->address());
  EXPECT_TRUE(apprig::pump([&] { return recordingFiles().isEmpty(); }, 20s))
      << recordingFiles().join(u' ').toStdString();
  EXPECT_TRUE(QFile::exists(other.fileName()));
}

// No sound server and no tray: the refusal would wait for a tray panel that
// nobody can open. It reaches the desktop's notification server instead, and
// its DISMISS lets the next press try again (and be refused again, noticed again).
TEST_F(DesktopFaults, WithoutATrayTheSoundServerErrorIsADesktopNotice) {
  test::FakeNotificationServer notices(bus_->connection());
  // A sound server of the test's own, stopped once the application runs.
  const QString pulseDir = home_.root + QStringLiteral("/pulse");
  QDir().mkpath(pulseDir);
  test::PrivateServer pulse(pulseDir, {QStringLiteral("module-null-sink sink_name=speakers")});
  ASSERT_TRUE(pulse.start());
  QProcessEnvironment env = apprig::environmentFor(home_, bus_->address());
  env.insert(QStringLiteral("PULSE_SERVER"), pulse.address());
  env_ = env;
  app_ = std::make_unique<QProcess>();
  app_->setProgram(test::buildDir() + QStringLiteral("/bin/murel"));
  app_->setProcessEnvironment(env);
  app_->start();
  ASSERT_TRUE(app_->waitForStarted(10000));
  ASSERT_TRUE(apprig::pump([&] { return home_.log().contains(QStringLiteral("  session  bootstrap")); }, 20s))
      << home_.log().toStdString();
  pulse.stop();
  auto pressUntilNoticed = [&](size_t count) {
    return apprig::pump(
        [&] {
          QProcess key;
          key.setProcessEnvironment(env_);
          key.start(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("F6")});
          key.waitForFinished(5000);
          return apprig::pump([&] { return notices.notices.size() >= count; }, 2s);
        },
        30s);
  };
  ASSERT_TRUE(pressUntilNoticed(1)) << home_.log().toStdString();
  const test::FakeNotificationServer::Notice notice = notices.notices[0];
  EXPECT_EQ(notice.summary, QStringLiteral("ERROR"));
  EXPECT_TRUE(notice.body.contains(QStringLiteral("can't reach the sound server"))) << notice.body.toStdString();
  EXPECT_EQ(notice.actions, (QStringList{QStringLiteral("retry"), QStringLiteral("RETRY"), QStringLiteral("dismiss"),
                                         QStringLiteral("DISMISS")}));
  EXPECT_TRUE(recordingFiles().isEmpty());

  notices.invoke(notice.id, QStringLiteral("dismiss"));
  ASSERT_TRUE(pressUntilNoticed(2)) << "after DISMISS the hotkey is refused silently";
  EXPECT_EQ(notices.notices[1].body, notice.body);
}

// Logout: the session ends the process and takes the X server away, in either
// order. The process never waits on the lost server and takes its recording
// with it. (How fast it ends is the quit benchmark's to measure; here it must
// end, within a bound a loaded sanitizer machine keeps.)
class Logout : public DesktopFaults, public ::testing::WithParamInterface<bool> {};

TEST_P(Logout, EndsTheProcessWithoutLeavingSpeech) {
  const bool sigtermFirst = GetParam();
  test::OwnXServer server;
  ASSERT_FALSE(server.display().isEmpty());
  startRecording(server.display());
  if (HasFatalFailure()) return;
  ASSERT_TRUE(apprig::catchesSigterm(app_->processId()));
  QElapsedTimer timer;
  timer.start();
  if (sigtermFirst) {
    ::kill(static_cast<pid_t>(app_->processId()), SIGTERM);
    server.kill();
  } else {
    server.kill();
    ::kill(static_cast<pid_t>(app_->processId()), SIGTERM);
  }
  ASSERT_TRUE(app_->waitForFinished(20000)) << "hung after logout";
  RecordProperty("quit_ms", static_cast<int>(timer.elapsed()));
  EXPECT_EQ(app_->exitStatus(), QProcess::NormalExit) << app_->readAllStandardError().toStdString();
  EXPECT_TRUE(recordingFiles().isEmpty()) << recordingFiles().join(u' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(EitherOrder, Logout, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "SigtermThenServerGone" : "ServerGoneThenSigterm");
});

// Without a session bus nothing can be handed over: a second launch must see
// the first through the lock file, say so and end, and one press of the
// hotkey makes one recording, by the first process alone.
TEST_F(DesktopFaults, WithoutASessionBusASecondLaunchEndsAndTheFirstRecordsAlone) {
  const QString noBus = QStringLiteral("unix:path=") + home_.root + QStringLiteral("/no-bus-here");
  startRecording(qEnvironmentVariable("DISPLAY"), noBus);
  if (HasFatalFailure()) return;
  QProcess second;
  second.setProcessEnvironment(env_);
  second.start(test::buildDir() + QStringLiteral("/bin/murel"), {});
  ASSERT_TRUE(second.waitForStarted(10000));
  QElapsedTimer timer;
  timer.start();
  ASSERT_TRUE(second.waitForFinished(20000)) << "the second instance kept running";
  RecordProperty("second_launch_ms", static_cast<int>(timer.elapsed()));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  const QString said = QString::fromLocal8Bit(second.readAllStandardError());
  EXPECT_TRUE(said.contains(QStringLiteral("Murel is already running (process %1)").arg(app_->processId())))
      << said.toStdString();
  EXPECT_EQ(app_->state(), QProcess::Running);

  // The press that ends the recording reaches one process: one recording, one
  // stop, and the first launch's bootstrap the only one.
  pressF6();
  ASSERT_TRUE(apprig::pump([&] { return home_.log().contains(QStringLiteral("  session  record stop")); }, 20s))
      << home_.log().toStdString();
  const QString log = home_.log();
  EXPECT_EQ(log.count(QStringLiteral("  session  bootstrap")), 1) << log.toStdString();
  EXPECT_EQ(log.count(QStringLiteral("  session  record start")), 1) << log.toStdString();
  EXPECT_EQ(log.count(QStringLiteral("  session  record stop")), 1) << log.toStdString();
}

TEST(NoXServer, SaysItNeedsAnX11SessionAndExits1) {
  for (const QString& display : {QString(), QStringLiteral(":9999")}) {
    SCOPED_TRACE(display.toStdString());
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (display.isEmpty())
      env.remove(QStringLiteral("DISPLAY"));
    else
      env.insert(QStringLiteral("DISPLAY"), display);
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    app.setProcessEnvironment(env);
    app.start(test::buildDir() + QStringLiteral("/bin/murel"), {});
    ASSERT_TRUE(app.waitForFinished(10000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(app.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("Murel needs an X11 session"))) << err.toStdString();
    EXPECT_FALSE(err.contains(QStringLiteral("Reinstalling"))) << err.toStdString();
  }
}
