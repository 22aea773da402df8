// The composition root built with fakes for the desktop: it comes up, wires
// the stores into the hotkeys and the state, and goes away cleanly, twice in
// one process.
#include "root/Composition.h"

#include "audio/AudioDeviceManager.h"
#include "runtime/DiagLog.h"
#include "runtime/UserDefaults.h"
#include "support/FakePlatform.h"
#include "support/TestEnv.h"

#include <QCoroTask>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;

namespace {

TEST(Composition, ComesUpWiredAndGoesAwayTwiceInOneProcess) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const QString dir = freshDir(QStringLiteral("composition-%1").arg(round));
    UserDefaults defaults(dir + QStringLiteral("/defaults.json"));
    defaults.setValue(QStringLiteral("hotKeyCombo"), KeyCombo(Key::f6, 0).rawValue());
    DiagLog diag(dir);
    FakePlatform platform;
    {
      Composition::Options options;
      options.isReadyAtLaunch = [] { return true; };
      Composition composition(defaults, diag, platform.parts(), std::move(options));

      // One seeded mode, read through the root's own store by the hotkeys.
      ASSERT_EQ(composition.modes().modes().size(), 1);
      composition.hotKeys().reloadRegistrations();
      EXPECT_TRUE(composition.hotKeys().isRegistered());
      EXPECT_FALSE(platform.tap.registered.empty());

      QCoro::waitFor(composition.bootstrap());
      EXPECT_EQ(composition.appState().status(), AppStatus::ready());
      EXPECT_EQ(platform.escapeMonitors, 1);
      EXPECT_EQ(composition.session().phase(), DictationSession::Phase::idle);
    }
    // Nothing of the root is left listening on the platform parts.
    EXPECT_FALSE(platform.keys.posted.size() > 0);
  }
}

// The root's parts reach the desktop only through the platform it was given:
// the launch check asks its microphone, the device manager lists its inputs,
// a dictation opens its capture.
TEST(Composition, PartsReachOnlyTheGivenPlatform) {
  const QString dir = freshDir(QStringLiteral("composition-platform"));
  UserDefaults defaults(dir + QStringLiteral("/defaults.json"));
  DiagLog diag(dir);
  FakePlatform platform;
  platform.microphone.answer = platform::MicrophonePermissionStatus::Denied;
  platform.devices.sources.push_back({7, QStringLiteral("fake-input"), QStringLiteral("Fake Input"), false});
  Composition composition(defaults, diag, platform.parts());

  EXPECT_GE(platform.microphone.asks, 1);
  EXPECT_FALSE(composition.app().hasCompletedOnboarding()) << "setup waits for the microphone";
  AudioDeviceManager& devices = composition.app().audioDeviceManager();
  EXPECT_EQ(devices.permissionStatus(), platform::MicrophonePermissionStatus::Denied);
  ASSERT_EQ(devices.devices().size(), 2);
  EXPECT_EQ(devices.devices().at(1).name, QStringLiteral("Fake Input"));

  // A dictation opens the given capture; it refuses, and the session is idle again.
  platform.microphone.answer = platform::MicrophonePermissionStatus::Authorized;
  composition.session().start(std::nullopt);
  EXPECT_TRUE(waitUntil(
      [&] { return platform.capture.opens == 1 && composition.session().phase() == DictationSession::Phase::idle; }));
}

}  // namespace
