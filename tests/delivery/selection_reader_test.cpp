// Reading the focused window's selection on the rig's X server: PRIMARY when a
// focused terminal owns it, else the copy key watched on the clipboard.
#include "delivery/SelectionReader.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11KeyEventTap.h"
#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/X11Pasteboard.h"
#include "runtime/SystemLog.h"
#include "support/FakeClock.h"
#include "support/PasteTarget.h"
#include "support/TestEnv.h"
#include "support/Xclip.h"

#include <QClipboard>
#include <QCoroTask>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QShortcut>

#include <gtest/gtest.h>

// Last: Xlib's macros would clash with the headers above.
#include <X11/Xlib.h>

using namespace murel;
using namespace std::chrono_literals;

namespace {

class UntrustedKeys final : public X11KeySynthesizer {
 public:
  using X11KeySynthesizer::X11KeySynthesizer;
  bool isTrusted() override { return false; }
};

// The copy keys the target received ("c"/"C" with their modifier state).
QStringList copyKeys(const test::PasteTarget& target) {
  QStringList out;
  for (const QString& key : target.keys()) {
    if (key.startsWith(QLatin1String("c ")) || key.startsWith(QLatin1String("C "))) out << key;
  }
  return out;
}

class SelectionReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!connection.isOpen()) GTEST_SKIP() << "needs the rig's X server";
  }
  std::optional<QString> read(SelectionReader& reader) { return QCoro::waitFor(reader.readSelection()); }

  x11::Connection connection;
  X11Pasteboard pasteboard{&connection};
  X11KeySynthesizer keys{&connection};
};

// A window of this process: a line edit whose copy key copies its selection,
// or, with `imageOnly`, a window whose copy key copies an image and no text.
class QtWindow {
 public:
  explicit QtWindow(bool imageOnly = false) {
    if (imageOnly) {
      auto* shortcut = new QShortcut(QKeySequence(QKeySequence::Copy), &window_);
      QObject::connect(shortcut, &QShortcut::activated, [] {
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::red);
        QGuiApplication::clipboard()->setImage(image);
      });
    } else {
      edit_ = new QLineEdit(QStringLiteral("alpha beta gamma"), &window_);
    }
    window_.resize(300, 60);
    window_.show();
    window_.activateWindow();
    if (edit_) edit_->setFocus();
    ready_ = test::waitUntil([&] {
      return QGuiApplication::focusWindow() == window_.windowHandle() &&
             connection_.isOwnWindow(connection_.focusedClientWindow());
    });
  }
  bool isReady() const { return ready_; }
  // Selects `length` characters from `start`; a length of 0 deselects.
  void select(int start, int length) {
    if (!edit_) return;
    if (length > 0)
      edit_->setSelection(start, length);
    else
      edit_->deselect();
  }

 private:
  x11::Connection connection_;  // asks the server which window has the focus
  QWidget window_;
  QLineEdit* edit_ = nullptr;
  bool ready_ = false;
};

// What the reader gives for each kind of window and selection. PRIMARY is only
// trusted in terminals: a toolkit keeps it after the user deselects.
TEST_F(SelectionReaderTest, SelectionTable) {
  enum class Window {
    qtSelected,
    qtDeselected,
    qtImageOnly,
    terminalHighlight,
    terminalNoHighlight,
    ordinaryWithPrimary
  };
  struct Row {
    const char* rule;
    Window window;
    std::optional<QString> expected;
    bool copyKeySent;
  };
  const Row rows[] = {
      {"a word selected in a Qt window is copied", Window::qtSelected, QStringLiteral("beta"), true},
      {"deselected again: nothing, though Qt still owns PRIMARY with the word", Window::qtDeselected, std::nullopt,
       true},
      {"an image-only copy is no text", Window::qtImageOnly, std::nullopt, true},
      {"a terminal's highlight is read from PRIMARY, without a key", Window::terminalHighlight,
       QStringLiteral("ls -la"), false},
      {"a terminal without a highlight: nothing, and no ^C", Window::terminalNoHighlight, std::nullopt, false},
      {"an ordinary window's PRIMARY is not trusted", Window::ordinaryWithPrimary, QStringLiteral("copied"), true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.rule);
    std::unique_ptr<QtWindow> qt;
    std::unique_ptr<test::PasteTarget> target;
    switch (row.window) {
      case Window::qtSelected:
      case Window::qtDeselected:
      case Window::qtImageOnly:
        qt = std::make_unique<QtWindow>(row.window == Window::qtImageOnly);
        ASSERT_TRUE(qt->isReady());
        qt->select(6, 4);
        if (row.window == Window::qtDeselected) {
          qt->select(0, 0);
          // The toolkit's stale PRIMARY, which the reader must not believe.
          EXPECT_EQ(test::xclipRead({}, QStringLiteral("primary")), QByteArray("beta"));
        }
        break;
      case Window::terminalHighlight:
        target = std::make_unique<test::PasteTarget>(
            test::PasteTarget::Options{QStringLiteral("xterm"), QStringLiteral("ls -la"), {}, 0});
        break;
      case Window::terminalNoHighlight:
        target = std::make_unique<test::PasteTarget>(
            test::PasteTarget::Options{QStringLiteral("xterm"), {}, QStringLiteral("copied"), 0});
        break;
      case Window::ordinaryWithPrimary:
        target = std::make_unique<test::PasteTarget>(
            test::PasteTarget::Options{{}, QStringLiteral("stale"), QStringLiteral("copied"), 0});
        break;
    }
    if (target) ASSERT_TRUE(target->isReady());
    if (row.window == Window::terminalNoHighlight)
      ASSERT_TRUE(test::xclipSeed("elsewhere", {}, QStringLiteral("primary")));
    ASSERT_TRUE(test::xclipSeed("user clip"));
    SelectionReader reader(SelectionReader::primarySelectionOfFocusedTerminal(&connection), pasteboard, keys);
    EXPECT_EQ(read(reader), row.expected);
    if (target) EXPECT_EQ(!copyKeys(*target).isEmpty(), row.copyKeySent);
    EXPECT_EQ(test::xclipRead(), QByteArray("user clip"));
  }
}

// The copy key in an ordinary window, with the log line it leaves.
TEST_F(SelectionReaderTest, TheCopyKeyReadsItAndTheClipboardComesBack) {
  test::PasteTarget target(test::PasteTarget::Options{{}, {}, QStringLiteral("the selected words"), 0});
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("user clip"));
  QStringList lines;
  SystemLog::setSink([&](SystemLog::Level, const QString& category, const QString& message) {
    if (category == QLatin1String("selectionReader")) lines << message;
  });
  SelectionReader reader(SelectionReader::primarySelectionOfFocusedTerminal(&connection), pasteboard, keys);
  EXPECT_EQ(read(reader), QStringLiteral("the selected words"));
  SystemLog::setSink({});
  EXPECT_EQ(copyKeys(target), QStringList{QStringLiteral("c %1").arg(ControlMask)});
  EXPECT_EQ(test::xclipRead(), QByteArray("user clip"));
  EXPECT_EQ(lines, QStringList{QStringLiteral("Selection read via Ctrl+C (18 chars)")});
}

// The user copies something elsewhere while the reader waits for the focused
// window: that copy is neither taken for the selection nor undone.
TEST_F(SelectionReaderTest, ACopyTheUserMakesDuringTheReadIsKept) {
  test::PasteTarget target;  // never copies
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("user clip"));
  test::FakeClock clock;
  SelectionReader reader(SelectionReader::primarySelectionOfFocusedTerminal(&connection), pasteboard, keys, clock);
  bool done = false;
  std::optional<QString> result = QStringLiteral("unset");
  reader.readSelection().then([&](std::optional<QString> text) {
    result = text;
    done = true;
  });
  ASSERT_TRUE(test::xclipSeed("copied by the user meanwhile"));
  while (!done) clock.advance(10ms);
  EXPECT_EQ(result, std::nullopt);
  EXPECT_EQ(test::xclipRead(), QByteArray("copied by the user meanwhile"));
}

// A cancel (the dictation ended) stops the wait at once: no more sleeps.
TEST_F(SelectionReaderTest, ACancelDuringTheWaitEndsItAtOnce) {
  test::PasteTarget target;  // never copies
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("user clip"));
  test::FakeClock clock;
  SelectionReader reader(SelectionReader::primarySelectionOfFocusedTerminal(&connection), pasteboard, keys, clock);
  CancellationToken token;
  bool done = false;
  reader.readSelection(token).then([&](std::optional<QString> text) {
    EXPECT_EQ(text, std::nullopt);
    done = true;
  });
  clock.advance(10ms);
  ASSERT_FALSE(done);
  token.cancel();
  EXPECT_TRUE(test::waitUntil([&] { return done; }, 2s));
  EXPECT_EQ(clock.pendingCount(), 0u);
  EXPECT_EQ(test::xclipRead(), QByteArray("user clip"));
}

// A voice edit reads the selection while its hotkey (left Alt + Space) is
// still held and grabbed by the hotkey tap: the copy key gets through with
// Control alone, and Alt is down again afterwards.
TEST_F(SelectionReaderTest, TheCopyKeyGetsThroughWhileTheHotkeyIsHeld) {
  X11KeyEventTap tap(Clock::suspending());
  int hotkeyEvents = 0;
  ASSERT_TRUE(tap.install([&](const KeyEventTap::Delivery&) { ++hotkeyEvents; }));
  tap.setRegistrations({{1, KeyCombo(Key::space, KeyModifiers::leftOption)}}, 1);
  test::PasteTarget target(test::PasteTarget::Options{{}, {}, QStringLiteral("held words"), 0});
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("elsewhere", {}, QStringLiteral("primary")));
  ASSERT_TRUE(test::xclipSeed("user clip"));
  ASSERT_TRUE(test::xdotool(
      {QStringLiteral("keydown"), QStringLiteral("Alt_L"), QStringLiteral("keydown"), QStringLiteral("space")}));
  ASSERT_TRUE(test::waitUntil([&] { return hotkeyEvents > 0; }));
  SelectionReader reader(SelectionReader::primarySelectionOfFocusedTerminal(&connection), pasteboard, keys);
  EXPECT_EQ(read(reader), QStringLiteral("held words"));
  Display* display = connection.display();
  char down[32] = {};
  XQueryKeymap(display, down);
  const KeyCode alt = XKeysymToKeycode(display, XStringToKeysym("Alt_L"));
  EXPECT_TRUE((down[alt / 8] >> (alt % 8)) & 1) << "Alt is down again";
  ASSERT_TRUE(test::xdotool(
      {QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("keyup"), QStringLiteral("Alt_L")}));
  EXPECT_EQ(copyKeys(target), QStringList{QStringLiteral("c %1").arg(ControlMask)});
  EXPECT_FALSE(target.keys().contains(QStringLiteral("space %1").arg(Mod1Mask)));  // the hotkey stays swallowed
  EXPECT_EQ(test::xclipRead(), QByteArray("user clip"));
}

TEST_F(SelectionReaderTest, AWindowThatNeverCopiesGivesNothingAfterThePollingSchedule) {
  test::PasteTarget target;
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("elsewhere", {}, QStringLiteral("primary")));
  ASSERT_TRUE(test::xclipSeed("user clip"));
  test::FakeClock clock;
  SelectionReader reader(SelectionReader::primarySelectionOfFocusedTerminal(&connection), pasteboard, keys, clock);
  bool done = false;
  std::optional<QString> result = QStringLiteral("unset");
  reader.readSelection().then([&](std::optional<QString> text) {
    result = text;
    done = true;
  });
  // Sleeps of 10, 20, 40, 80, 80, 80, 80 and 80 ms: 470 ms in all.
  std::chrono::milliseconds waited{0};
  while (!done && waited < 1s) {
    ASSERT_EQ(clock.pendingCount(), 1u);
    clock.advance(10ms);
    waited += 10ms;
  }
  EXPECT_TRUE(done);
  EXPECT_EQ(waited, 470ms);
  EXPECT_EQ(result, std::nullopt);
  EXPECT_TRUE(test::waitUntil([&] { return copyKeys(target).size() == 1; }, 3s));
  EXPECT_EQ(test::xclipRead(), QByteArray("user clip"));
}

TEST_F(SelectionReaderTest, AnEmptySelectionOfAnAnsweringWindowMeansNoSelection) {
  test::PasteTarget target(test::PasteTarget::Options{{}, {}, QStringLiteral("the whole line"), 0});
  ASSERT_TRUE(target.isReady());
  SelectionReader reader([] { return std::optional<QString>(QString()); }, pasteboard, keys);
  EXPECT_EQ(read(reader), std::nullopt);
  EXPECT_TRUE(target.keys().isEmpty());  // no copy key: editors would copy the whole line
}

TEST_F(SelectionReaderTest, WithoutTrustNothingIsReadAndNoKeySent) {
  test::PasteTarget target(test::PasteTarget::Options{{}, {}, QStringLiteral("copied"), 0});
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("elsewhere", {}, QStringLiteral("primary")));
  UntrustedKeys untrusted(&connection);
  SelectionReader reader(SelectionReader::primarySelectionOfFocusedTerminal(&connection), pasteboard, untrusted);
  EXPECT_EQ(read(reader), std::nullopt);
  test::waitUntil([] { return false; }, 150ms);
  EXPECT_TRUE(target.keys().isEmpty());
}

}  // namespace
