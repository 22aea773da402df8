// Reading the focused window's selection on the rig's X server: PRIMARY when
// the focused program owns it, else the copy key watched on the clipboard.
#include "runtime/SystemLog.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11KeyEventTap.h"
#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/X11Pasteboard.h"
#include "support/FakeClock.h"
#include "support/PasteTarget.h"
#include "support/TestEnv.h"
#include "support/Xclip.h"
#include "delivery/SelectionReader.h"

#include <QCoroTask>

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
    if (!x11::Connection::shared()) GTEST_SKIP() << "needs the rig's X server";
  }
  std::optional<QString> read(SelectionReader& reader) { return QCoro::waitFor(reader.readSelection()); }

  X11Pasteboard pasteboard{x11::Connection::shared()};
  X11KeySynthesizer keys{x11::Connection::shared()};
};

TEST_F(SelectionReaderTest, ThePrimarySelectionOfTheFocusedProgramIsReadWithoutAKey) {
  test::PasteTarget target(test::PasteTarget::Options{{}, QStringLiteral("alpha beta"), QStringLiteral("copied"), 0});
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("user clip"));
  SelectionReader reader(SelectionReader::primarySelectionOfFocusedClient(), pasteboard, keys);
  EXPECT_EQ(read(reader), QStringLiteral("alpha beta"));
  EXPECT_TRUE(target.keys().isEmpty());
  EXPECT_EQ(test::xclipRead(), QByteArray("user clip"));
}

// PRIMARY held by another program: the copy key, then the user's clipboard goes back.
TEST_F(SelectionReaderTest, OtherwiseTheCopyKeyReadsItAndTheClipboardComesBack) {
  struct Case {
    QString windowClass;
    QString expectedKey;
  };
  for (const Case& c : {Case{QString(), QStringLiteral("c %1").arg(ControlMask)},
                        Case{QStringLiteral("xterm"), QStringLiteral("C %1").arg(ControlMask | ShiftMask)}}) {
    SCOPED_TRACE(c.windowClass.toStdString());
    test::PasteTarget target(test::PasteTarget::Options{c.windowClass, {}, QStringLiteral("the selected words"), 0});
    ASSERT_TRUE(target.isReady());
    ASSERT_TRUE(test::xclipSeed("elsewhere", {}, QStringLiteral("primary")));
    ASSERT_TRUE(test::xclipSeed("user clip"));
    QStringList lines;
    SystemLog::setSink([&](SystemLog::Level, const QString& category, const QString& message) {
      if (category == QLatin1String("selectionReader")) lines << message;
    });
    SelectionReader reader(SelectionReader::primarySelectionOfFocusedClient(), pasteboard, keys);
    EXPECT_EQ(read(reader), QStringLiteral("the selected words"));
    SystemLog::setSink({});
    EXPECT_EQ(copyKeys(target), QStringList{c.expectedKey});
    EXPECT_EQ(test::xclipRead(), QByteArray("user clip"));
    EXPECT_EQ(lines, QStringList{QStringLiteral("Selection read via Ctrl+C (18 chars)")});
  }
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
  ASSERT_TRUE(test::xdotool({QStringLiteral("keydown"), QStringLiteral("Alt_L"), QStringLiteral("keydown"),
                             QStringLiteral("space")}));
  ASSERT_TRUE(test::waitUntil([&] { return hotkeyEvents > 0; }));
  SelectionReader reader(SelectionReader::primarySelectionOfFocusedClient(), pasteboard, keys);
  EXPECT_EQ(read(reader), QStringLiteral("held words"));
  Display* display = x11::Connection::shared()->display();
  char down[32] = {};
  XQueryKeymap(display, down);
  const KeyCode alt = XKeysymToKeycode(display, XStringToKeysym("Alt_L"));
  EXPECT_TRUE((down[alt / 8] >> (alt % 8)) & 1) << "Alt is down again";
  ASSERT_TRUE(test::xdotool({QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("keyup"),
                             QStringLiteral("Alt_L")}));
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
  SelectionReader reader(SelectionReader::primarySelectionOfFocusedClient(), pasteboard, keys, clock);
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
  UntrustedKeys untrusted(x11::Connection::shared());
  SelectionReader reader(SelectionReader::primarySelectionOfFocusedClient(), pasteboard, untrusted);
  EXPECT_EQ(read(reader), std::nullopt);
  test::waitUntil([] { return false; }, 150ms);
  EXPECT_TRUE(target.keys().isEmpty());
}

}  // namespace
