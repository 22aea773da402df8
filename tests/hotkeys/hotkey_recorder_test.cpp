#include "hotkeys/HotKeyRecorder.h"
#include "hotkeys/HotKeyService.h"
#include "runtime/UserDefaults.h"
#include "support/FakeClock.h"
#include "support/FakeKeyEventTap.h"
#include "support/TestEnv.h"

#include <QKeyEvent>

#include <gtest/gtest.h>

using namespace murel;
using namespace std::chrono_literals;
using M = KeyModifiers;
using Target = HotKeyRecorder::Target;

namespace {

// X keycodes of the keys pressed here.
constexpr int kEscape = 9, kShiftL = 50, kAltR = 108, kSuperL = 133, kSpace = 65, kA = 38;

// Stands for the application's window: counts the key events that reach it.
class Window : public QObject {
 public:
  int keyEvents = 0;
  bool event(QEvent* e) override {
    if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) ++keyEvents;
    return QObject::event(e);
  }
};

class HotKeyRecorderTest : public ::testing::Test {
 protected:
  HotKeyRecorderTest() : defaults(test::freshDir("recorder") + QStringLiteral("/defaults.json")) {
    defaults.setValue(QStringLiteral("hotKeyCombo"), KeyCombo(Key::space, M::leftOption).rawValue());
    service = std::make_unique<HotKeyService>(defaults, tap);
    service->reloadRegistrations();
  }

  // Sends a key event as the application receives it; returns whether it reached the window.
  bool key(QEvent::Type type, int xKeycode) {
    const int before = window.keyEvents;
    QKeyEvent event(type, 0, Qt::NoModifier, static_cast<quint32>(xKeycode), 0, 0);
    QCoreApplication::sendEvent(&window, &event);
    return window.keyEvents > before;
  }
  bool press(int xKeycode) { return key(QEvent::KeyPress, xKeycode); }
  bool release(int xKeycode) { return key(QEvent::KeyRelease, xKeycode); }

  UserDefaults defaults;
  test::FakeClock clock;
  test::FakeKeyEventTap tap{clock};
  std::unique_ptr<HotKeyService> service;
  Window window;
};

}  // namespace

TEST_F(HotKeyRecorderTest, ShiftEscapeIsRecordedAndStored) {
  HotKeyRecorder recorder(*service, Target::toggleRecording, clock);
  recorder.beginCapture();
  EXPECT_TRUE(recorder.isRecording());
  EXPECT_TRUE(service->isPaused());
  const int installs = tap.installs;
  EXPECT_TRUE(press(kShiftL));   // modifier changes still reach the window
  EXPECT_FALSE(press(kEscape));  // the key press does not
  release(kEscape);
  release(kShiftL);
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_FALSE(service->isPaused());
  EXPECT_EQ(service->currentCombo(), KeyCombo(Key::escape, M::leftShift));
  EXPECT_EQ(defaults.stringValue(QStringLiteral("hotKeyCombo")), QStringLiteral("{\"v\":2,\"k\":53,\"m\":1024}"));
  EXPECT_EQ(tap.installs, installs + 1);  // registrations rebuilt
  EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST_F(HotKeyRecorderTest, BareEscapeCancels) {
  HotKeyRecorder recorder(*service, Target::toggleRecording, clock);
  recorder.beginCapture();
  EXPECT_FALSE(press(kEscape));
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_FALSE(recorder.didTimeout());
  EXPECT_FALSE(recorder.didConflict());
  EXPECT_FALSE(service->isPaused());
  EXPECT_EQ(service->currentCombo(), KeyCombo(Key::space, M::leftOption));
  // Capture over: keys reach the window again.
  EXPECT_TRUE(press(kA));
}

TEST_F(HotKeyRecorderTest, KeysAndModifiersAlone) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, bool>> keys;  // X keycode, press
    KeyCombo expected;
  };
  const Case cases[] = {
      {"right Option alone, on release", {{kAltR, true}, {kAltR, false}}, KeyCombo(Key::rightOption, 0)},
      {"lone Shift released while Command held",
       {{kSuperL, true}, {kShiftL, true}, {kShiftL, false}},
       KeyCombo(Key::leftShift, M::leftCommand)},
      {"Command then Space: side bit only", {{kSuperL, true}, {kSpace, true}}, KeyCombo(Key::space, M::leftCommand)},
      {"a plain key alone", {{kA, true}}, KeyCombo(Key::a, 0)},
  };
  for (const Case& c : cases) {
    HotKeyRecorder recorder(*service, Target::capture, clock);
    recorder.beginCapture();
    for (const auto& [code, down] : c.keys) key(down ? QEvent::KeyPress : QEvent::KeyRelease, code);
    EXPECT_FALSE(recorder.isRecording()) << c.what;
    EXPECT_EQ(recorder.capturedCombo(), c.expected) << c.what;
    for (const auto& [code, down] : c.keys) {
      if (down) release(code);
    }
  }
  // A modifier held since before the capture: its release captures nothing.
  press(kShiftL);
  HotKeyRecorder recorder(*service, Target::capture, clock);
  recorder.beginCapture();
  release(kShiftL);
  EXPECT_TRUE(recorder.isRecording());
  EXPECT_FALSE(recorder.capturedCombo());
}

TEST_F(HotKeyRecorderTest, TimeoutAfterFiveSeconds) {
  HotKeyRecorder recorder(*service, Target::toggleRecording, clock);
  recorder.beginCapture();
  clock.advance(3s);
  recorder.beginCapture();  // already capturing: the timeout is not restarted
  clock.advance(1999ms);
  EXPECT_TRUE(recorder.isRecording());
  clock.advance(1ms);
  EXPECT_TRUE(recorder.didTimeout());
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_FALSE(service->isPaused());
  EXPECT_EQ(service->currentCombo(), KeyCombo(Key::space, M::leftOption));

  // A capture ended by a key and begun again is not ended by the old timeout.
  recorder.beginCapture();
  EXPECT_FALSE(recorder.didTimeout());
  clock.advance(2s);
  press(kA);
  recorder.beginCapture();
  clock.advance(4s);
  EXPECT_TRUE(recorder.isRecording());
  EXPECT_FALSE(recorder.didTimeout());
}

TEST_F(HotKeyRecorderTest, ConflictLeavesTheStoredComboUnchanged) {
  HotKeyRecorder recorder(*service, Target::changeMode, clock);
  const int installs = tap.installs;
  recorder.beginCapture();
  press(kAltR);  // right Option + Space … (dictation is left Option + Space: no clash)
  press(kSpace);
  EXPECT_FALSE(recorder.didConflict());
  EXPECT_EQ(service->changeModeCombo(), KeyCombo(Key::space, M::rightOption));
  release(kSpace);
  release(kAltR);

  recorder.beginCapture();
  key(QEvent::KeyPress, 64);  // left Alt + Space is the dictation hotkey
  press(kSpace);
  EXPECT_TRUE(recorder.didConflict());
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_EQ(service->changeModeCombo(), KeyCombo(Key::space, M::rightOption));
  EXPECT_EQ(tap.installs, installs + 1);  // only the first capture rebuilt
  release(kSpace);
  key(QEvent::KeyRelease, 64);

  // Re-recording the dictation hotkey's own combination is no conflict.
  HotKeyRecorder own(*service, Target::toggleRecording, clock);
  own.beginCapture();
  key(QEvent::KeyPress, 64);
  press(kSpace);
  EXPECT_FALSE(own.didConflict());
  EXPECT_EQ(tap.installs, installs + 2);
  release(kSpace);
  key(QEvent::KeyRelease, 64);

  // The mode editor's capture offers even a clashing combination.
  HotKeyRecorder capture(*service, Target::capture, clock);
  capture.beginCapture();
  key(QEvent::KeyPress, 64);
  press(kSpace);
  EXPECT_FALSE(capture.didConflict());
  EXPECT_EQ(capture.capturedCombo(), KeyCombo(Key::space, M::leftOption));
  release(kSpace);
  key(QEvent::KeyRelease, 64);
}

TEST_F(HotKeyRecorderTest, DiscardingStopsTheCapture) {
  {
    HotKeyRecorder recorder(*service, Target::toggleRecording, clock);
    recorder.beginCapture();
    EXPECT_TRUE(service->isPaused());
  }
  EXPECT_FALSE(service->isPaused());
  EXPECT_EQ(clock.pendingCount(), 0u);
  EXPECT_TRUE(press(kA));
}

// Two captures at once (the configuration page's two rows): the key goes to
// the one started last; the other keeps listening, does not take the
// modifiers' release for a combination, and the service stays paused until
// both have ended.
TEST_F(HotKeyRecorderTest, TwoCapturesAtOnce) {
  HotKeyRecorder first(*service, Target::changeMode, clock);
  HotKeyRecorder second(*service, Target::commandEdit, clock);
  first.beginCapture();
  second.beginCapture();
  press(kSuperL);
  EXPECT_FALSE(press(kA));
  release(kA);
  release(kSuperL);
  EXPECT_FALSE(second.isRecording());
  EXPECT_EQ(service->commandEditCombo(), KeyCombo(Key::a, M::leftCommand));
  EXPECT_TRUE(first.isRecording());
  EXPECT_EQ(service->changeModeCombo(), KeyCombo(Key::space, M::option | M::shift));
  EXPECT_TRUE(service->isPaused());

  press(kEscape);
  EXPECT_FALSE(first.isRecording());
  EXPECT_FALSE(service->isPaused());
  EXPECT_EQ(service->changeModeCombo(), KeyCombo(Key::space, M::option | M::shift));
}
