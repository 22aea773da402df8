// Launch decisions: whether setup is complete, the login item rule, and what
// the windows do at launch and when onboarding finishes.
#include "app/AppDelegate.h"
#include "app/LaunchReadiness.h"
#include "app/MurelApp.h"
#include "app/StatusItem.h"
#include "app/UpdateController.h"
#include "platform/pulse/MicrophonePermission.h"
#include "platform/x11/TaskbarPresence.h"
#include "platform/xdg/LoginItem.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "speech/SpeechModel.h"
#include "support/TestEnv.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QWidget>

#include <gtest/gtest.h>

using namespace murel;
using Status = platform::LoginItem::Status;
using Mic = platform::MicrophonePermissionStatus;

namespace {

class FixedMicrophone final : public platform::MicrophonePermission {
 public:
  explicit FixedMicrophone(Mic status) : status_(status) {}
  Mic status() override { return status_; }
  QCoro::Task<bool> request() override { co_return status_ == Mic::Authorized; }

 private:
  Mic status_;
};

class ScriptedLoginItem final : public platform::LoginItem {
 public:
  Status current = Status::notRegistered;
  bool registrationWorks = true;
  int registrations = 0;
  Status status() override { return current; }
  bool registerItem(QString*) override {
    ++registrations;
    if (registrationWorks) current = Status::enabled;
    return registrationWorks;
  }
  bool unregisterItem(QString*) override { return false; }  // the launch never unregisters
};

void installModel(const SpeechModelDescriptor& model, qint64 sizeDelta) {
  QDir().mkpath(model.storageDirectory);
  for (const ModelArtifact& artifact : model.artifacts) {
    QFile file(model.storageDirectory + QLatin1Char('/') + artifact.filename);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(artifact.sizeBytes + sizeDelta));
  }
}

}  // namespace

TEST(LaunchReadiness, NeedsMicrophoneTrustAndTheSelectedModelAtItsSize) {
  UserDefaults defaults(test::freshDir(QStringLiteral("ready")) + QStringLiteral("/defaults.json"));
  const SpeechModelDescriptor& model = SpeechModelDescriptor::defaultModel();
  model.deleteModelFiles();
  const auto ready = [&](Mic mic, bool trusted) {
    FixedMicrophone microphone(mic);
    return evaluateLaunchReadiness(
        microphone, [trusted] { return trusted; }, defaults);
  };
  EXPECT_FALSE(ready(Mic::Authorized, true)) << "no model files";

  installModel(model, -1);
  EXPECT_FALSE(ready(Mic::Authorized, true)) << "a file one byte short";

  installModel(model, 0);
  EXPECT_TRUE(ready(Mic::Authorized, true));
  EXPECT_FALSE(ready(Mic::Authorized, false));
  for (const Mic mic : {Mic::NotDetermined, Mic::Restricted, Mic::Denied}) EXPECT_FALSE(ready(mic, true));

  // Another model selected: its files decide.
  const SpeechModelDescriptor* other = nullptr;
  for (const auto& entry : SpeechModelDescriptor::catalog())
    if (!(entry == model)) other = &entry;
  ASSERT_NE(other, nullptr);
  defaults.setValue(QString::fromLatin1(kSelectedSpeechModelKey), other->id.rawValue);
  EXPECT_FALSE(ready(Mic::Authorized, true));
  model.deleteModelFiles();
}

TEST(LaunchAtLogin, RegistersOnceAndRetriesOnlyAfterFailure) {
  struct Case {
    const char* name;
    Status status;
    bool registrationWorks;
    int expectedRegistrations;
    bool expectedFlag;
  };
  const Case cases[] = {
      {"first launch", Status::notRegistered, true, 1, true},
      {"registration fails", Status::notRegistered, false, 1, false},
      {"already enabled", Status::enabled, true, 0, true},
      {"awaiting approval", Status::requiresApproval, true, 0, true},
      {"not found", Status::notFound, true, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UserDefaults defaults(test::freshDir(QStringLiteral("login")) + QStringLiteral("/defaults.json"));
    ScriptedLoginItem item;
    item.current = c.status;
    item.registrationWorks = c.registrationWorks;
    applyLaunchAtLoginDefault(defaults, item);
    EXPECT_EQ(item.registrations, c.expectedRegistrations);
    EXPECT_EQ(defaults.boolOr(QStringLiteral("launchAtLoginDefaultApplied"), false), c.expectedFlag);

    // The next launch: only a failed first attempt is tried again.
    item.current = Status::notRegistered;
    item.registrationWorks = true;
    applyLaunchAtLoginDefault(defaults, item);
    EXPECT_EQ(item.registrations, c.expectedRegistrations + (c.expectedFlag ? 0 : 1));
    EXPECT_TRUE(defaults.boolOr(QStringLiteral("launchAtLoginDefaultApplied"), false));
  }
}

TEST(XdgAutostartLoginItem, WritesAnEntryAndReadsItsState) {
  const QString folder = test::freshDir(QStringLiteral("autostart")) + QStringLiteral("/autostart");
  platform::XdgAutostartLoginItem item(folder, QStringLiteral("/opt/my apps/mu\"rel"));
  EXPECT_EQ(item.status(), Status::notRegistered);
  ASSERT_TRUE(item.registerItem());
  EXPECT_EQ(item.status(), Status::enabled);
  QFile entry(item.entryPath());
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(entry.readAll());
  EXPECT_TRUE(text.contains(QStringLiteral("Exec=\"/opt/my apps/mu\\\"rel\"\n"))) << text.toStdString();
  entry.close();

  // Hidden by the user in the desktop's settings: not registered.
  ASSERT_TRUE(entry.open(QIODevice::Append));
  entry.write("Hidden=true\n");
  entry.close();
  EXPECT_EQ(item.status(), Status::notRegistered);

  // A regular file where the folder should be: registration fails with a reason.
  const QString blocked = test::freshDir(QStringLiteral("blocked")) + QStringLiteral("/autostart");
  QFile(blocked).open(QIODevice::WriteOnly);
  platform::XdgAutostartLoginItem blockedItem(blocked, QStringLiteral("/usr/bin/murel"));
  QString error;
  EXPECT_FALSE(blockedItem.registerItem(&error));
  EXPECT_FALSE(error.isEmpty());
}

namespace {

struct AppFixture {
  UserDefaults defaults{test::freshDir(QStringLiteral("app")) + QStringLiteral("/defaults.json")};
  ScriptedLoginItem loginItem;
  int bootstraps = 0;
  int hotKeyStarts = 0;

  std::unique_ptr<MurelApp> make(bool ready) {
    MurelApp::Services services;
    services.isReadyAtLaunch = [ready] { return ready; };
    services.bootstrap = [this] { ++bootstraps; };
    services.startHotKeys = [this] { ++hotKeyStarts; };
    services.defaults = &defaults;
    services.loginItem = &loginItem;
    return std::make_unique<MurelApp>(std::move(services));
  }
};

}  // namespace

TEST(MurelApp, PendingSetupShowsOnboardingUntilItFinishes) {
  AppFixture fixture;
  auto app = fixture.make(false);
  app->launch();
  EXPECT_EQ(fixture.hotKeyStarts, 1);
  EXPECT_EQ(fixture.loginItem.registrations, 1);
  EXPECT_EQ(app->activationPolicy(), ActivationPolicy::regular);
  ASSERT_NE(app->onboardingWindow(), nullptr);
  EXPECT_TRUE(app->onboardingWindow()->isVisible());
  EXPECT_EQ(app->onboardingWindow()->objectName(), QStringLiteral("onboarding"));
  EXPECT_EQ(app->settingsWindow()->objectName(), QStringLiteral("settings"));
  EXPECT_FALSE(app->settingsWindow()->isVisible());
  EXPECT_FALSE(platform::skipsTaskbar(app->onboardingWindow()));

  // The settings window cannot stay open before setup is complete.
  app->openSettings();
  EXPECT_TRUE(test::waitUntil([&] { return !app->settingsWindow()->isVisible(); }));

  // Closing onboarding by hand keeps the regular policy.
  app->onboardingWindow()->close();
  EXPECT_EQ(app->activationPolicy(), ActivationPolicy::regular);
  app->bringOnboardingForward();

  app->completeOnboarding();
  EXPECT_FALSE(app->onboardingWindow()->isVisible());
  EXPECT_EQ(app->activationPolicy(), ActivationPolicy::accessory);
  EXPECT_TRUE(platform::skipsTaskbar(app->onboardingWindow()));
  EXPECT_EQ(fixture.bootstraps, 0) << "the bootstrap runs after completion has returned";
  EXPECT_TRUE(test::waitUntil([&] { return fixture.bootstraps == 1; }));

  app->openSettings();
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_TRUE(app->settingsWindow()->isVisible());
  EXPECT_TRUE(platform::skipsTaskbar(app->settingsWindow()));
  app->settingsWindow()->close();
}

TEST(MurelApp, CompleteSetupBootstrapsAtLaunchWithoutWindows) {
  AppFixture fixture;
  auto app = fixture.make(true);
  app->launch();
  EXPECT_EQ(app->activationPolicy(), ActivationPolicy::accessory);
  EXPECT_FALSE(app->onboardingWindow()->isVisible());
  EXPECT_FALSE(app->settingsWindow()->isVisible());
  EXPECT_EQ(fixture.bootstraps, 0);
  EXPECT_TRUE(test::waitUntil([&] { return fixture.bootstraps == 1; }));

  // Reopened without a tray to show the icon: the settings window comes forward.
  app->reopen();
  EXPECT_TRUE(app->settingsWindow()->isVisible());
  app->settingsWindow()->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(fixture.bootstraps, 1);
}

TEST(MurelApp, TrayMenuSettingsBeforeSetupBringsTheGuideForward) {
  AppFixture fixture;
  auto app = fixture.make(false);
  app->launch();
  app->onboardingWindow()->close();
  ASSERT_FALSE(app->onboardingWindow()->isVisible());
  QAction* settings = app->statusItem()->contextMenu()->actions().value(0);
  ASSERT_NE(settings, nullptr);

  settings->trigger();
  EXPECT_TRUE(test::waitUntil([&] { return app->onboardingWindow()->isVisible(); }));
  EXPECT_EQ(app->activationPolicy(), ActivationPolicy::regular);
  EXPECT_FALSE(app->settingsWindow()->isVisible());

  // Once set up, the same item opens the settings window.
  app->completeOnboarding();
  settings->trigger();
  EXPECT_TRUE(test::waitUntil([&] { return app->settingsWindow()->isVisible(); }));
  EXPECT_FALSE(app->onboardingWindow()->isVisible());
  app->settingsWindow()->close();
}

namespace {

struct Opener {
  const char* name;
  // The opener's shell script; none: the program is missing.
  const char* script;
  bool fails;
};

class UpdateCheck : public ::testing::TestWithParam<Opener> {
 protected:
  static void SetUpTestSuite() { installTranslations(*QCoreApplication::instance()); }
};

}  // namespace

TEST_P(UpdateCheck, ABrowserThatDoesNotOpenIsReportedWithTheAddress) {
  const Opener& opener = GetParam();
  const QString folder = test::freshDir(QStringLiteral("opener-") + QLatin1String(opener.name));
  const QString program = folder + QStringLiteral("/xdg-open");
  const QString marker = folder + QStringLiteral("/ran");
  if (opener.script) {
    QFile file(program);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("#!/bin/sh\necho \"$1\" > '") + marker.toUtf8() + "'\n" + opener.script + "\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  DownloadPageUpdater updater(program);
  QStringList messages, reasons;
  updater.setFailureHandler([&](const QString& message, const QString& reason) {
    messages << message;
    reasons << reason;
  });
  updater.checkForUpdates();
  if (opener.fails) {
    ASSERT_TRUE(test::waitUntil([&] { return !messages.isEmpty(); }));
    EXPECT_TRUE(messages.constFirst().contains(QStringLiteral("https://murel.com/download")))
        << messages.constFirst().toStdString();
    EXPECT_FALSE(reasons.constFirst().isEmpty());
  } else {
    ASSERT_TRUE(test::waitUntil([&] { return QFile::exists(marker); }));
    EXPECT_FALSE(test::waitUntil([&] { return !messages.isEmpty(); }, std::chrono::milliseconds(500)));
  }
  if (opener.script) {
    QFile ran(marker);
    ASSERT_TRUE(test::waitUntil([&] { return ran.exists() && ran.size() > 0; }));
    ASSERT_TRUE(ran.open(QIODevice::ReadOnly));
    EXPECT_EQ(ran.readAll().trimmed(), QByteArray("https://murel.com/download"));
  }
  EXPECT_EQ(messages.size(), opener.fails ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Openers, UpdateCheck,
                         ::testing::Values(Opener{"missing", nullptr, true},
                                           // xdg-open's "no method available to open the address".
                                           Opener{"noBrowser", "exit 3", true}, Opener{"killed", "kill -9 $$", true},
                                           Opener{"opens", "exit 0", false}),
                         [](const auto& info) { return std::string(info.param.name); });
