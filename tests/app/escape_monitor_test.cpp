// Escape on the rig's X server: the global monitor watches the desktop's keys
// (sent with xdotool) without taking them; the local one catches Escape in our
// own windows and consumes only the Escape it acted on.
#include "SessionRig.h"

#include "app/AppState.h"
#include "platform/x11/X11KeyPressMonitor.h"
#include "support/FakeKeyEventTap.h"

#include <QKeyEvent>
#include <QProcess>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;

namespace {

void xdotool(const QStringList& args) {
  QProcess process;
  process.start(QStringLiteral("xdotool"), args);
  ASSERT_TRUE(process.waitForFinished(10000));
  ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

class EscapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "needs the rig's X server";
    app = std::make_unique<AppState>(AppState::Parts{rig.defaults,
                                                     rig.modes,
                                                     rig.dictionary,
                                                     rig.engine,
                                                     processor,
                                                     rig.session,
                                                     hotKeys,
                                                     rig.diag,
                                                     {},
                                                     {},
                                                     [this](std::function<void(quint32, quint64)> handler) {
                                                       monitor = std::make_unique<X11KeyPressMonitor>(
                                                           std::set<quint32>{AppState::kEscapeKeyCode},
                                                           std::move(handler));
                                                       ASSERT_TRUE(monitor->start());
                                                     }});
    QCoro::waitFor(app->bootstrap());
  }

  SessionRig rig;
  FakeClock keyClock;
  FakeKeyEventTap tap{keyClock};
  HotKeyService hotKeys{rig.defaults, tap};
  TranscriptProcessor processor{[](QString text, QString) -> QCoro::Task<QString> { co_return text; },
                                [] { return QList<DictionaryEntry>{}; }};
  std::unique_ptr<X11KeyPressMonitor> monitor;
  std::unique_ptr<AppState> app;
};

TEST_F(EscapeTest, GlobalEscapeCancelsARecordingButNotWithShift) {
  rig.session.start();
  ASSERT_EQ(app->status(), AppStatus::recording());

  xdotool({"key", "shift+Escape"});
  xdotool({"key", "ctrl+Escape"});
  // Give the monitor time to see both; nothing may change.
  waitUntil([] { return false; }, 500ms);
  EXPECT_EQ(app->status(), AppStatus::recording());

  xdotool({"key", "Escape"});
  EXPECT_TRUE(waitUntil([&] { return app->status() == AppStatus::ready(); }));
  EXPECT_EQ(rig.session.phase(), DictationSession::Phase::idle);
  EXPECT_FALSE(rig.anyRecordingLeft());
}

class KeySink : public QWidget {
 public:
  int escapes = 0;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape) ++escapes;
  }
};

TEST_F(EscapeTest, LocalEscapeIsConsumedOnlyWhenItCancels) {
  KeySink window;
  window.show();
  ASSERT_TRUE(window.windowHandle());
  auto press = [&](Qt::KeyboardModifiers modifiers) {
    QKeyEvent event(QEvent::KeyPress, Qt::Key_Escape, modifiers);
    QCoreApplication::sendEvent(window.windowHandle(), &event);
  };
  press(Qt::NoModifier);  // ready: reaches the focused control
  EXPECT_EQ(window.escapes, 1);

  rig.session.start();
  press(Qt::ShiftModifier);
  EXPECT_EQ(window.escapes, 2);
  EXPECT_EQ(app->status(), AppStatus::recording());
  press(Qt::NoModifier);
  EXPECT_EQ(window.escapes, 2) << "the cancelling Escape is consumed";
  EXPECT_EQ(app->status(), AppStatus::ready());
}

}  // namespace
