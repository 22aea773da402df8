// Errors that wait for the user, sent to the desktop's notification server on
// the rig's session bus when no tray shows the icon: the real D-Bus client
// against a notification daemon that records what it is asked and plays the
// user's button presses.
#include "SessionRig.h"

#include "app/AppState.h"
#include "app/ErrorNotifications.h"
#include "hotkeys/HotKeyService.h"
#include "platform/dbus/FreedesktopNotifier.h"
#include "support/AwaitTask.h"
#include "support/FakeKeyEventTap.h"
#include "support/FakeNotificationServer.h"

#include <QDBusConnection>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;

namespace {

const QString kPasteFailed =
    QStringLiteral("Couldn't paste automatically. Your text is on the clipboard, ready to paste.");
const QString kNoSoundServer = QStringLiteral(
    "Murel can't reach the sound server, so it can't record. Check that PulseAudio or PipeWire is running, then try "
    "again.");

class ErrorNotificationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "needs the rig's session bus";
    // The daemon has a connection of its own, as another process would.
    QDBusConnection::disconnectFromBus(kServerBus);
    QDBusConnection serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kServerBus);
    ASSERT_TRUE(serverBus.isConnected());
    server = std::make_unique<FakeNotificationServer>(serverBus);

    rig.defaults.setValue("hotKeyCombo", KeyCombo(Key::f6, 0).rawValue());
    rig.defaults.setValue("activationMode", "toggle");
    hotKeys = std::make_unique<HotKeyService>(rig.defaults, tap);
    app = std::make_unique<AppState>(AppState::Parts{
        rig.defaults, rig.modes, rig.dictionary, rig.engine, processor, rig.session, *hotKeys, rig.diag, [] {},
        [] { return std::unique_ptr<ModeSwitching>(); }, [](std::function<void(quint32, quint64)>) {}});
    settle(app->bootstrap());
    hotKeys->reloadRegistrations();
    ASSERT_TRUE(hotKeys->isRegistered());
    notifier = std::make_unique<FreedesktopNotifier>();
    notices = std::make_unique<ErrorNotifications>(*app, *notifier, [this] { return trayShown; });
  }
  void TearDown() override {
    notices.reset();
    notifier.reset();
    server.reset();
    QDBusConnection::disconnectFromBus(kServerBus);
  }

  // A press and release of the dictation hotkey on the (fake) keyboard.
  void pressHotkey() {
    tap.down(Key::f6);
    tap.up(Key::f6);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }
  bool noticesReach(size_t count) {
    return waitUntil([&] { return server->notices.size() >= count; }, 5s);
  }
  // Lets bus traffic that should not happen have its chance to.
  void quietly() {
    waitUntil([] { return false; }, 300ms);
  }

  static inline const QString kServerBus = QStringLiteral("murel-fake-notifications");
  SessionRig rig;
  FakeClock keyClock;
  FakeKeyEventTap tap{keyClock};
  TranscriptProcessor processor{[](QString text, QString) -> QCoro::Task<QString> { co_return text; },
                                [this] { return rig.dictionary.entries(); }};
  std::unique_ptr<HotKeyService> hotKeys;
  std::unique_ptr<AppState> app;
  std::unique_ptr<FakeNotificationServer> server;
  std::unique_ptr<FreedesktopNotifier> notifier;
  std::unique_ptr<ErrorNotifications> notices;
  bool trayShown = false;
};

}  // namespace

// A failed paste stays as an error and blocks every hotkey start. The notice
// carries the card's text and buttons; RETRY clears it and the next press records.
TEST_F(ErrorNotificationsTest, StickyErrorIsNotifiedAndRetryLetsTheNextPressRecord) {
  rig.session.handlePasteUnavailable();
  ASSERT_EQ(app->status(), AppStatus::error(kPasteFailed));
  ASSERT_TRUE(noticesReach(1));
  const FakeNotificationServer::Notice notice = server->notices[0];
  EXPECT_EQ(notice.appName, "Murel");
  EXPECT_EQ(notice.summary, "ERROR");
  EXPECT_EQ(notice.body, kPasteFailed);
  EXPECT_EQ(notice.actions, (QStringList{"retry", "RETRY", "dismiss", "DISMISS"}));
  EXPECT_EQ(notice.expireTimeout, 0) << "an error that waits for the user must not time out unseen";

  // Blocked: the press does not record.
  pressHotkey();
  EXPECT_EQ(rig.recorder.count, 0);
  rig.clock.advance(10s);  // no auto-recovery for this error
  EXPECT_TRUE(app->status().is(AppStatus::Kind::error));

  server->invoke(notice.id, "retry");
  ASSERT_TRUE(waitUntil([&] { return app->status() == AppStatus::ready(); }, 5s));
  EXPECT_FALSE(app->lastError());
  pressHotkey();
  EXPECT_EQ(rig.recorder.count, 1);
  EXPECT_EQ(rig.session.phase(), DictationSession::Phase::recording);
  quietly();
  EXPECT_EQ(server->notices.size(), 1u) << "the error was noticed once";
  rig.session.cancel();
}

TEST_F(ErrorNotificationsTest, DismissClearsTheErrorLikeTheCard) {
  rig.mic = 0;  // the sound server can't be reached
  app->handleHotkeySession(true, HotKeyService::Session::dictation());
  ASSERT_EQ(app->status(), AppStatus::error(kNoSoundServer));
  const int loads = rig.engine.loads;
  ASSERT_TRUE(noticesReach(1));
  EXPECT_EQ(server->notices[0].body, kNoSoundServer);

  server->invoke(server->notices[0].id, "dismiss");
  ASSERT_TRUE(waitUntil([&] { return app->status() == AppStatus::ready(); }, 5s));
  EXPECT_FALSE(app->lastError());
  EXPECT_FALSE(app->settingsDeepLink());
  EXPECT_EQ(rig.engine.loads, loads) << "dismissing retries nothing";

  rig.mic = 3;
  pressHotkey();
  EXPECT_EQ(rig.recorder.count, 1);
  quietly();
  EXPECT_EQ(server->notices.size(), 1u);
  rig.session.cancel();
}

// An error cleared elsewhere (the settings window's retry, a dictation that
// went well) takes its notice away; a different error replaces the one shown.
TEST_F(ErrorNotificationsTest, NoticeFollowsTheErrorState) {
  rig.session.handlePasteUnavailable();
  ASSERT_TRUE(noticesReach(1));
  quietly();  // the server's answer reaches the client
  const uint first = server->notices[0].id;

  app->setStatus(AppStatus::error(QStringLiteral("Model load failed: the file is damaged")));
  ASSERT_TRUE(noticesReach(2));
  quietly();  // the replacement's id reaches the client before it is withdrawn
  EXPECT_EQ(server->notices[1].body, "Model load failed: the file is damaged");
  EXPECT_EQ(server->notices[1].replacesId, first);
  EXPECT_EQ(server->notices[1].id, first) << "replaced in place, not stacked";

  app->dismissError();
  ASSERT_TRUE(waitUntil([&] { return server->open.empty(); }, 5s));
  EXPECT_EQ(server->closed, std::vector<uint>{first});

  // A notice the user closed is not put back while the error is the same one.
  rig.session.handlePasteUnavailable();
  ASSERT_TRUE(noticesReach(3));
  quietly();
  server->dismiss(server->notices[2].id, 2);
  app->setStatus(AppStatus::ready());  // the card would still show the last error
  ASSERT_EQ(app->lastError(), kPasteFailed);
  quietly();
  EXPECT_EQ(server->notices.size(), 3u);
}

// With a tray showing the icon, the panel's card shows the error: no notice.
TEST_F(ErrorNotificationsTest, TrayHostShowsTheCardInstead) {
  trayShown = true;
  rig.session.handlePasteUnavailable();
  ASSERT_TRUE(app->status().is(AppStatus::Kind::error));
  quietly();
  EXPECT_TRUE(server->notices.empty());
}

// The user presses the hotkey in another window while the sound server is
// away: the card in the closed tray panel would tell nobody, so a notice
// does, tray or not. It goes once the server is back.
TEST_F(ErrorNotificationsTest, APressRefusedForWantOfTheSoundServerIsNoticedBesideATray) {
  trayShown = true;
  rig.mic = 0;
  pressHotkey();
  ASSERT_EQ(app->status(), AppStatus::error(kNoSoundServer));
  ASSERT_TRUE(noticesReach(1));
  EXPECT_EQ(server->notices[0].body, kNoSoundServer);
  pressHotkey();
  quietly();
  EXPECT_FALSE(server->open.empty()) << "a refused press is said while the server is away";
  EXPECT_EQ(server->notices.back().body, kNoSoundServer);
  EXPECT_EQ(rig.recorder.count, 0);

  rig.mic = 3;
  app->handleSoundServerReturned();
  ASSERT_TRUE(waitUntil([&] { return server->open.empty(); }, 5s));
  pressHotkey();
  EXPECT_EQ(rig.recorder.count, 1);
  rig.session.cancel();
}
