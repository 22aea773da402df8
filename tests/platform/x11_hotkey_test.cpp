// The hotkeys on a real X server (the rig's Xvfb), typed with xdotool into the
// paste-target window.
#include "hotkeys/HotKeyRecorder.h"
#include "hotkeys/HotKeyService.h"
#include "platform/x11/SyntheticKeys.h"
#include "platform/x11/X11KeyEventTap.h"
#include "runtime/Clock.h"
#include "runtime/UserDefaults.h"
#include "support/PasteTarget.h"
#include "support/TestEnv.h"

#include <QKeyEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

// Last: Xlib's macros (None, Bool …) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

using namespace murel;
using namespace std::chrono_literals;
using test::xdotool;
using M = KeyModifiers;

namespace {

// Presses (true) and releases keys by X keycode through XTEST, exactly as
// given (xdotool adds the first key of a modifier when asked for another).
void sendKeys(std::initializer_list<std::pair<unsigned, bool>> keys) {
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  for (const auto& [code, press] : keys) XTestFakeKeyEvent(display, code, press, CurrentTime);
  XSync(display, False);
  XCloseDisplay(display);
}

constexpr unsigned kAltL = 64, kAltR = 108, kSpace = 65, kControlR = 105;

struct Report {
  bool started;
  HotKeyService::Session session;
};

class X11HotKeyTest : public ::testing::Test {
 protected:
  X11HotKeyTest() : defaults(test::freshDir("x11hotkeys") + QStringLiteral("/defaults.json")) {}

  void SetUp() override {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "runs under the rig";
    ASSERT_TRUE(target.isReady());
  }

  // A service on a tap of its own with the left Alt + Space dictation hotkey.
  void start(ActivationMode mode = ActivationMode::hybrid, KeyCombo combo = KeyCombo(Key::space, M::leftOption)) {
    defaults.setValue(QStringLiteral("hotKeyCombo"), combo.rawValue());
    defaults.setValue(QStringLiteral("activationMode"), activationModeRawValue(mode));
    service = std::make_unique<HotKeyService>(defaults, tap);
    service->onSessionChanged = [this](bool started, const HotKeyService::Session& s) {
      reports.push_back({started, s});
    };
    service->reloadRegistrations();
    ASSERT_TRUE(service->isRegistered());
  }

  UserDefaults defaults;
  test::PasteTarget target;
  X11KeyEventTap tap;
  std::unique_ptr<HotKeyService> service;
  std::vector<Report> reports;
};

}  // namespace

TEST_F(X11HotKeyTest, BoundSideIsSwallowedAndStartsASession) {
  start();
  ASSERT_TRUE(xdotool({"keydown", "Alt_L", "key", "space", "keyup", "Alt_L", "key", "a"}));
  ASSERT_TRUE(target.waitForSuffix("a"));
  EXPECT_EQ(target.text(), "a");  // no space reached the window
  ASSERT_TRUE(test::waitUntil([&] { return !reports.empty(); }));
  EXPECT_TRUE(reports[0].started);
  EXPECT_EQ(reports[0].session, HotKeyService::Session::dictation());
  EXPECT_TRUE(service->isActive());

  // The other Alt key is not the hotkey: its Space reaches the window.
  sendKeys({{kAltR, true}, {kSpace, true}, {kSpace, false}, {kAltR, false}});
  ASSERT_TRUE(xdotool({"key", "b"}));
  ASSERT_TRUE(target.waitForSuffix("b"));
  EXPECT_EQ(target.text(), "a b");
  // A second short press of the hotkey stops the session.
  ASSERT_TRUE(xdotool({"keydown", "Alt_L", "key", "space", "keyup", "Alt_L", "key", "c"}));
  ASSERT_TRUE(target.waitForSuffix("c"));
  EXPECT_EQ(target.text(), "a bc");
  ASSERT_TRUE(test::waitUntil([&] { return reports.size() == 2; }));
  EXPECT_FALSE(reports[1].started);
}

TEST_F(X11HotKeyTest, CapsLockAndNumLockMakeNoDifference) {
  start(ActivationMode::toggle);
  ASSERT_TRUE(xdotool({"key", "Caps_Lock", "key", "Num_Lock"}));
  struct LocksOff {
    ~LocksOff() { xdotool({"key", "Caps_Lock", "key", "Num_Lock"}); }
  } locksOff;
  ASSERT_TRUE(xdotool({"keydown", "Alt_L", "key", "space", "keyup", "Alt_L", "key", "a"}));
  ASSERT_TRUE(target.waitForSuffix("A"));  // Caps Lock is on
  EXPECT_EQ(target.text(), "A");
  ASSERT_TRUE(test::waitUntil([&] { return reports.size() == 1; }));
}

TEST_F(X11HotKeyTest, HoldingTheHotkeyLeaksNoAutoRepeat) {
  // Holding an ordinary key repeats it on this server …
  ASSERT_TRUE(xdotool({"keydown", "x", "sleep", "1.2", "keyup", "x"}));
  ASSERT_TRUE(target.waitForSuffix("xx"));
  const QString repeated = target.text();

  start(ActivationMode::holdToActivate);
  // … but holding the hotkey sends nothing to the window.
  ASSERT_TRUE(xdotool(
      {"keydown", "Alt_L", "keydown", "space", "sleep", "1.2", "keyup", "space", "keyup", "Alt_L", "key", "a"}));
  ASSERT_TRUE(target.waitForSuffix("a"));
  EXPECT_EQ(target.text(), repeated + "a");
  ASSERT_TRUE(test::waitUntil([&] { return reports.size() == 2; }));
  EXPECT_TRUE(reports[0].started);
  EXPECT_FALSE(reports[1].started);  // released: the repeats never reached the session
}

// Keys typed while the hotkey is held are not lost to the hotkey.
TEST_F(X11HotKeyTest, TypingWhileTheHotkeyIsHeldReachesTheWindow) {
  start(ActivationMode::holdToActivate);
  sendKeys({{kAltL, true}, {kSpace, true}, {kAltL, false}});
  ASSERT_TRUE(xdotool({"key", "b"}));  // Alt already let go: a plain b
  sendKeys({{kSpace, false}});
  ASSERT_TRUE(xdotool({"key", "c"}));
  ASSERT_TRUE(target.waitForSuffix("c"));
  EXPECT_EQ(target.text(), "bc");
  ASSERT_TRUE(test::waitUntil([&] { return reports.size() == 2; }));
  EXPECT_TRUE(reports[0].started);
  EXPECT_FALSE(reports[1].started);
  EXPECT_FALSE(service->isActive());
}

TEST_F(X11HotKeyTest, ComboHeldByAnotherClientFailsToRegister) {
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  const Window root = DefaultRootWindow(other);
  XGrabKey(other, kSpace, Mod1Mask, root, False, GrabModeAsync, GrabModeAsync);
  XSync(other, False);

  defaults.setValue(QStringLiteral("hotKeyCombo"), KeyCombo(Key::space, M::leftOption).rawValue());
  service = std::make_unique<HotKeyService>(defaults, tap);
  service->reloadRegistrations();
  EXPECT_EQ(service->lastRegistrationError(), HotKeyService::kRegistrationFailed);
  EXPECT_FALSE(service->isRegistered());

  XCloseDisplay(other);  // its grab ends with it
  service->reloadRegistrations();
  EXPECT_FALSE(service->lastRegistrationError());
  EXPECT_TRUE(service->isRegistered());
}

// A grab refused for the change-mode hotkey is that hotkey's failure only.
TEST_F(X11HotKeyTest, TakenChangeModeHotkeyLeavesTheDictationHotkeyWorking) {
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  XGrabKey(other, kSpace, Mod1Mask | ShiftMask, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
  XSync(other, False);

  defaults.setValue(QStringLiteral("hotKeyCombo"), KeyCombo(Key::space, M::leftOption).rawValue());
  defaults.setValue(QStringLiteral("changeModeCombo"), KeyCombo(Key::space, M::leftOption | M::leftShift).rawValue());
  service = std::make_unique<HotKeyService>(defaults, tap);
  service->reloadRegistrations();
  EXPECT_EQ(service->refusedBindings(), QList<HotKeyBinding>{HotKeyBinding::changeMode()});
  EXPECT_TRUE(service->isRegistered());
  EXPECT_FALSE(service->lastRegistrationError());

  XCloseDisplay(other);
  service->reloadRegistrations();
  EXPECT_TRUE(service->refusedBindings().isEmpty());
}

// The swallow decision never waits for the main thread.
TEST_F(X11HotKeyTest, KeyboardFlowsWhileTheMainThreadIsBlocked) {
  start();
  tap.resetDecisionTimes();
  std::atomic<bool> typed{false};
  std::atomic<bool> mainBlocked{true};
  std::atomic<bool> arrivedWhileBlocked{false};
  std::thread typist([&] {
    typed = std::system("xdotool keydown Alt_L key space keyup Alt_L key x") == 0;
    // Watch the window's output from here, since the main thread sleeps.
    for (int i = 0; i < 400 && mainBlocked; ++i) {
      if (target.text().endsWith(QLatin1String("x"))) {
        arrivedWhileBlocked = mainBlocked.load();
        break;
      }
      std::this_thread::sleep_for(2ms);
    }
  });
  std::this_thread::sleep_for(1s);  // a busy main thread
  mainBlocked = false;
  typist.join();
  ASSERT_TRUE(typed);
  EXPECT_TRUE(arrivedWhileBlocked);
  ASSERT_TRUE(target.waitForSuffix("x"));
  EXPECT_EQ(target.text(), "x");
  EXPECT_GT(tap.longestDecisionTime().count(), 0);
  ASSERT_TRUE(test::waitUntil([&] { return !reports.empty(); }));  // reported once the main loop runs
  EXPECT_TRUE(reports[0].started);
}

TEST_F(X11HotKeyTest, PausingReleasesTheGrabs) {
  start();
  service->setPaused(true);
  ASSERT_TRUE(xdotool({"keydown", "Alt_L", "key", "space", "keyup", "Alt_L", "key", "a"}));
  ASSERT_TRUE(target.waitForSuffix("a"));
  EXPECT_EQ(target.text(), " a");
  service->setPaused(false);
  ASSERT_TRUE(xdotool({"keydown", "Alt_L", "key", "space", "keyup", "Alt_L", "key", "b"}));
  ASSERT_TRUE(target.waitForSuffix("b"));
  EXPECT_EQ(target.text(), " ab");
  QCoreApplication::processEvents();
  ASSERT_TRUE(test::waitUntil([&] { return reports.size() == 1; }));  // only the second press counted
}

TEST_F(X11HotKeyTest, ModifierHeldAcrossARebuildStillMatches) {
  start(ActivationMode::toggle);
  ASSERT_TRUE(xdotool({"keydown", "Alt_L"}));
  test::waitUntil([] { return false; }, 100ms);
  service->reloadRegistrations();  // forgets the tracked keys, reads the keyboard again
  ASSERT_TRUE(xdotool({"key", "space", "keyup", "Alt_L", "key", "a"}));
  ASSERT_TRUE(target.waitForSuffix("a"));
  EXPECT_EQ(target.text(), "a");
  ASSERT_TRUE(test::waitUntil([&] { return reports.size() == 1; }));
}

TEST_F(X11HotKeyTest, OurOwnSynthesizedKeysAreNotHotkeys) {
  start();
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  for (auto [code, press] : {std::pair{kAltL, true}, {kSpace, true}, {kSpace, false}, {kAltL, false}}) {
    x11::announceSyntheticKeyEvent(static_cast<int>(code), press);
    XTestFakeKeyEvent(display, code, press, CurrentTime);
  }
  XSync(display, False);
  XCloseDisplay(display);
  ASSERT_TRUE(xdotool({"key", "a"}));
  ASSERT_TRUE(target.waitForSuffix("a"));
  EXPECT_EQ(target.text(), " a");  // passed on to the window
  test::waitUntil([] { return false; }, 100ms);
  EXPECT_TRUE(reports.empty());
}

TEST_F(X11HotKeyTest, ALoneModifierIsDetectedButNotSwallowed) {
  start(ActivationMode::holdToActivate, KeyCombo(Key::rightControl, 0));
  sendKeys({{kControlR, true}, {kControlR, false}});
  ASSERT_TRUE(xdotool({"key", "a"}));
  ASSERT_TRUE(target.waitForSuffix("a"));
  EXPECT_EQ(target.text(), "a");  // typing goes on as before
  ASSERT_TRUE(test::waitUntil([&] { return reports.size() == 2; }));
  EXPECT_TRUE(reports[0].started);
  EXPECT_FALSE(reports[1].started);
}

// The recorder hears keys typed into our own window, the registered hotkey
// among them, because the service lets go of its grabs while it captures.
TEST_F(X11HotKeyTest, RecorderCapturesFromTheKeyboardWhileTheServiceIsPaused) {
  start();
  struct Window : QWidget {
    QList<int> keys;
    void keyPressEvent(QKeyEvent* event) override { keys << event->key(); }
  } window;
  window.resize(200, 100);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(test::waitUntil([&] { return window.isActiveWindow(); }));

  HotKeyRecorder recorder(*service, HotKeyRecorder::Target::toggleRecording);
  recorder.beginCapture();
  ASSERT_TRUE(xdotool({"keydown", "Shift_L", "key", "Escape", "keyup", "Shift_L"}));
  ASSERT_TRUE(test::waitUntil([&] { return !recorder.isRecording(); }));
  EXPECT_EQ(service->currentCombo(), KeyCombo(Key::escape, M::leftShift));
  EXPECT_FALSE(service->isPaused());
  EXPECT_TRUE(service->isRegistered());

  // The new hotkey is live at once; the old one reaches the window.
  window.keys.clear();
  ASSERT_TRUE(xdotool({"keydown", "Shift_L", "key", "Escape", "keyup", "Shift_L"}));
  ASSERT_TRUE(test::waitUntil([&] { return reports.size() == 1; }));
  EXPECT_TRUE(reports[0].started);
  ASSERT_TRUE(xdotool({"keydown", "Alt_L", "key", "space", "keyup", "Alt_L"}));
  ASSERT_TRUE(test::waitUntil([&] { return window.keys.contains(Qt::Key_Space); }));
  EXPECT_FALSE(window.keys.contains(Qt::Key_Escape));
  EXPECT_EQ(reports.size(), 1u);

  // Bare Escape cancels a capture and changes nothing.
  recorder.beginCapture();
  ASSERT_TRUE(xdotool({"key", "Escape"}));
  ASSERT_TRUE(test::waitUntil([&] { return !recorder.isRecording(); }));
  EXPECT_EQ(service->currentCombo(), KeyCombo(Key::escape, M::leftShift));
}
