// The composition root built with fakes for the desktop: it comes up, wires
// the stores into the hotkeys and the state, and goes away cleanly, twice in
// one process.
#include "root/Composition.h"

#include "runtime/DiagLog.h"
#include "runtime/UserDefaults.h"
#include "support/FakeClock.h"
#include "support/FakeDesktop.h"
#include "support/FakeKeyEventTap.h"
#include "support/TestEnv.h"

#include <QCoroTask>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;

namespace {

struct FakePlatform {
  FakeClock clock;
  FakeKeyEventTap tap{clock};
  FakeKeySynthesizer keys;
  FakePasteboard pasteboard;
  int escapeMonitors = 0;

  PlatformParts parts() {
    return PlatformParts{tap, keys, pasteboard, [] { return std::optional<QString>(); },
                         [this](std::function<void(quint32, quint64)>) { ++escapeMonitors; }};
  }
};

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

}  // namespace
