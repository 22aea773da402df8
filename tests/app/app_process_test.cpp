// The application as a user starts it: a real process on the rig's X server and
// sound server, with a session bus of its own so that several runs never meet.
#include "AppProcessRig.h"

#include "runtime/UserDefaults.h"
#include "support/TestEnv.h"

#include <QFile>

#include <gtest/gtest.h>

#include <csignal>

using namespace murel;
using namespace std::chrono_literals;

namespace {

// Bounds of the waits below, which end as soon as what they wait for happens:
// wide enough for a sanitizer build on a loaded two-core machine. How fast the
// application starts and quits is the benchmarks' to measure.
constexpr auto kBound = 60s;
constexpr int kBoundMs = 60000;

class AppProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString root = test::freshDir(
        QStringLiteral("app-") + QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    home_.root = root + QStringLiteral("/home");
    bus_ = std::make_unique<apprig::PrivateBus>(root + QStringLiteral("/bus"));
    ASSERT_TRUE(bus_->connection().isConnected());
  }
  void TearDown() override {
    for (auto& app : apps_) {
      if (app->state() != QProcess::NotRunning) {
        app->kill();
        app->waitForFinished(5000);
      }
    }
  }

  QProcess& launch() {
    apps_.push_back(apprig::startApp(test::buildDir() + QStringLiteral("/bin/murel"), home_, bus_->address()));
    return *apps_.back();
  }

  // SIGTERM, then a clean exit with status 0.
  static void quit(QProcess& app) {
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    EXPECT_TRUE(app.waitForFinished(kBoundMs)) << "still running after SIGTERM";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
  }

  std::optional<bool> launchFlag() const {
    UserDefaults defaults(home_.defaultsFile());
    return defaults.boolValue(QStringLiteral("launchAtLoginDefaultApplied"));
  }

  apprig::Home home_;
  std::unique_ptr<apprig::PrivateBus> bus_;
  std::vector<std::unique_ptr<QProcess>> apps_;
};

}  // namespace

TEST_F(AppProcess, WithoutModelShowsOnboardingAndRegistersTrayIcon) {
  apprig::FakeTrayWatcher watcher(bus_->connection());
  QProcess& app = launch();
  EXPECT_TRUE(apprig::pump([&] { return apprig::showsWindow(app.processId(), QStringLiteral("Onboarding")); }, kBound));
  EXPECT_TRUE(apprig::pump([&] { return !watcher.items().isEmpty(); }, kBound));
  EXPECT_FALSE(home_.log().contains(QStringLiteral("session  bootstrap")));
  quit(app);
}

TEST_F(AppProcess, WithInstalledModelBootstrapsWithoutOnboarding) {
  home_.installDefaultModel();
  apprig::FakeTrayWatcher watcher(bus_->connection());
  QProcess& app = launch();
  EXPECT_TRUE(apprig::pump([&] { return home_.log().contains(QStringLiteral("  session  bootstrap")); }, kBound))
      << home_.log().toStdString();
  EXPECT_TRUE(apprig::pump([&] { return !watcher.items().isEmpty(); }, kBound));
  EXPECT_FALSE(apprig::showsWindow(app.processId(), QStringLiteral("Onboarding")));
  EXPECT_FALSE(apprig::showsWindow(app.processId(), QStringLiteral("Settings")));
  quit(app);
}

// Without a tray the running instance would be unreachable: a second launch
// brings its settings window forward, and ends.
TEST_F(AppProcess, SecondLaunchEndsAndBringsTheFirstForward) {
  home_.installDefaultModel();
  QProcess& first = launch();
  ASSERT_TRUE(apprig::pump([&] { return home_.log().contains(QStringLiteral("session  bootstrap")); }, kBound));
  EXPECT_FALSE(apprig::showsWindow(first.processId(), QStringLiteral("Settings")));

  QProcess& second = launch();
  EXPECT_TRUE(second.waitForFinished(kBoundMs)) << "the second instance kept running";
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(apprig::pump([&] { return apprig::showsWindow(first.processId(), QStringLiteral("Settings")); }, kBound));
  const QStringList windows = apprig::mappedWindows(first.processId(), QStringLiteral("Settings"));
  ASSERT_EQ(windows.size(), 1);
  EXPECT_EQ(apprig::windowSize(windows.constFirst()), QSize(850, 700));
  EXPECT_EQ(first.state(), QProcess::Running);
  quit(first);
}

// Before setup is complete a later launch brings onboarding forward; no settings window stays.
TEST_F(AppProcess, SecondLaunchBeforeSetupMapsNoSettingsWindow) {
  QProcess& first = launch();
  ASSERT_TRUE(
      apprig::pump([&] { return apprig::showsWindow(first.processId(), QStringLiteral("Onboarding")); }, kBound));
  QProcess& second = launch();
  EXPECT_TRUE(second.waitForFinished(kBoundMs)) << "the second instance kept running";
  // The hand-over was answered before the second launch ended; a settings
  // window it opened would be mapped by now or very soon after.
  EXPECT_FALSE(apprig::pump([&] { return apprig::showsWindow(first.processId(), QStringLiteral("Settings")); }, 2s));
  EXPECT_TRUE(apprig::showsWindow(first.processId(), QStringLiteral("Onboarding")));
  quit(first);
}

TEST_F(AppProcess, LoginItemIsWrittenOnceAndNeverPutBack) {
  QProcess& first = launch();
  ASSERT_TRUE(
      apprig::pump([&] { return apprig::showsWindow(first.processId(), QStringLiteral("Onboarding")); }, kBound));
  quit(first);
  QFile entry(home_.autostartEntry());
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(entry.readAll());
  EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\n"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("/bin/murel\"\n"))) << text.toStdString();
  EXPECT_EQ(launchFlag(), true);

  // The user removed it: the next launch leaves it removed.
  ASSERT_TRUE(QFile::remove(home_.autostartEntry()));
  QProcess& second = launch();
  ASSERT_TRUE(
      apprig::pump([&] { return apprig::showsWindow(second.processId(), QStringLiteral("Onboarding")); }, kBound));
  quit(second);
  EXPECT_FALSE(QFile::exists(home_.autostartEntry()));
  EXPECT_EQ(launchFlag(), true);
}

TEST_F(AppProcess, FailedLoginItemLeavesTheFlagUnset) {
  QDir().mkpath(home_.config());
  QFile blocker(home_.config() + QStringLiteral("/autostart"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  QProcess& app = launch();
  ASSERT_TRUE(apprig::pump([&] { return apprig::showsWindow(app.processId(), QStringLiteral("Onboarding")); }, kBound));
  quit(app);
  EXPECT_NE(launchFlag(), true);
}
