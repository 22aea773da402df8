// Delivery into the focused window on the rig's X server: the real clipboard
// (read and seeded with xclip), XTEST keys and the paste-target window.
#include "delivery/ClipboardCoordinator.h"
#include "delivery/TranscriptDeliverer.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/X11Pasteboard.h"
#include "runtime/DiagLog.h"
#include "runtime/SystemLog.h"
#include "runtime/UserDefaults.h"
#include "support/AwaitTask.h"
#include "support/FakeClock.h"
#include "support/PasteTarget.h"
#include "support/TestEnv.h"
#include "support/Xclip.h"
#include "text/HistoryStore.h"
#include "text/SnippetStore.h"
#include "text/UsageStatsStore.h"

#include <QBuffer>
#include <QCoroTask>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <memory>

// Last: Xlib's macros would clash with the headers above.
#include <X11/Xlib.h>

using namespace murel;
using namespace std::chrono_literals;

namespace {

QCoro::Task<QString> unchanged(QString text, QString) { co_return text; }

// Keys that are never trusted: the rest of the X11 synthesizer is real.
class UntrustedKeys final : public X11KeySynthesizer {
 public:
  using X11KeySynthesizer::X11KeySynthesizer;
  bool isTrusted() override { return false; }
};

// One application's worth of delivery: stores on fresh defaults, the real
// clipboard and keyboard, on `clock`.
struct Rig {
  explicit Rig(Clock& clock = Clock::continuous(), KeySynthesizer* keysOverride = nullptr)
      : clock(clock), keys(keysOverride ? *keysOverride : realKeys) {
    deliverer = std::make_unique<TranscriptDeliverer>(
        TranscriptProcessor(unchanged, [] { return QList<DictionaryEntry>{}; }),
        TranscriptDeliverer::standardFunctions(coordinator, keys, snippets, history, usage), clock, diag);
  }

  std::optional<QString> deliver(const QString& raw, bool autoPaste = true, bool restore = true) {
    return QCoro::waitFor(deliverer->deliver(raw, Transformation::raw(), autoPaste, restore, 2.5));
  }

  QStringList historyTexts() const {
    QStringList out;
    for (const HistoryEntry& e : history.entries()) out << e.text;
    return out;
  }

  Clock& clock;
  UserDefaults defaults{test::freshDir(QStringLiteral("defaults")) + QStringLiteral("/defaults.json")};
  SnippetStore snippets{defaults};
  HistoryStore history{defaults};
  UsageStatsStore usage{defaults};
  DiagLog diag{test::freshDir(QStringLiteral("diag"))};
  x11::Connection connection;
  X11Pasteboard pasteboard{&connection};
  ClipboardCoordinator coordinator{pasteboard, clock};
  X11KeySynthesizer realKeys{&connection};
  KeySynthesizer& keys;
  std::unique_ptr<TranscriptDeliverer> deliverer;
};

// A real terminal emulator on the rig's display running `cat`, its input
// unbuffered, into a file: what is pasted into the terminal lands there.
class Terminal {
 public:
  Terminal(const QString& program, const QString& output) : output_(output) {
    process_.setProgram(program);
    process_.setArguments({QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
                           QStringLiteral("stty -icanon -echo; exec cat > '%1'").arg(output)});
    process_.setStandardErrorFile(QProcess::nullDevice());
    process_.start();
    if (!process_.waitForStarted(5000)) return;
    test::waitUntil(
        [&] {
          const std::optional<QByteArray> found = test::runProgram(
              QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                          QStringLiteral("--pid"), QString::number(process_.processId())});
          if (found && !found->trimmed().isEmpty()) window_ = QString::fromLatin1(found->trimmed().split('\n').last());
          return !window_.isEmpty() && QFile::exists(output_);
        },
        std::chrono::seconds(15));
    if (!window_.isEmpty() && !test::xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window_})) {
      window_.clear();
    }
  }
  ~Terminal() {
    process_.kill();
    process_.waitForFinished(3000);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool isReady() const { return !window_.isEmpty(); }
  QByteArray received() const {
    QFile file(output_);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

 private:
  QProcess process_;
  QString output_;
  QString window_;
};

class TranscriptDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!connection.isOpen()) GTEST_SKIP() << "needs the rig's X server";
  }

  // The test's own look at the X server, beside the rig's.
  x11::Connection connection;
};

TEST_F(TranscriptDeliveryTest, PastesIntoTheFocusedWindowAndGivesTheClipboardBack) {
  test::PasteTarget target;
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("before"));
  Rig rig;
  EXPECT_EQ(rig.deliver(QStringLiteral("hello world")), QStringLiteral("hello world"));
  EXPECT_TRUE(target.waitForSuffix(QStringLiteral("hello world")));
  EXPECT_EQ(target.text(), QStringLiteral("hello world"));  // our text, not the old clipboard
  EXPECT_EQ(test::xclipRead(), QByteArray("before"));
  EXPECT_EQ(rig.historyTexts(), QStringList{QStringLiteral("hello world")});
  EXPECT_EQ(rig.usage.totalDictations(), 1);
  EXPECT_TRUE(rig.diag.readAll().contains(QStringLiteral("deliver  pasted")));
}

// Stock xterm binds no Control paste key: terminals get Shift+Insert, with our
// text on PRIMARY as well as on CLIPBOARD, and both are given back after.
TEST_F(TranscriptDeliveryTest, TerminalsGetShiftInsertWithTheTextOnBothSelections) {
  test::PasteTarget target(QStringLiteral("xterm"));
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("before"));
  ASSERT_TRUE(test::xclipSeed("highlighted", {}, QStringLiteral("primary")));
  Rig rig;
  rig.deliver(QStringLiteral("ls -la"));
  EXPECT_TRUE(target.waitForSuffix(QStringLiteral("ls -la")));
  EXPECT_TRUE(target.keys().contains(QStringLiteral("Insert %1").arg(ShiftMask)))
      << target.keys().join(u',').toStdString();
  EXPECT_FALSE(target.keys().contains(QStringLiteral("v %1").arg(ControlMask)));
  EXPECT_EQ(test::xclipRead(), QByteArray("before"));
  EXPECT_EQ(test::xclipRead({}, QStringLiteral("primary")), QByteArray("highlighted"));
  EXPECT_TRUE(rig.diag.readAll().contains(QStringLiteral("deliver  pasted")));
}

// Stock xterm, rxvt-unicode and a VTE terminal, as Debian ships them: each
// gets the dictated text, and the log says "pasted" because each fetched it.
TEST_F(TranscriptDeliveryTest, RealTerminalsReceiveTheText) {
  for (const char* program : {"xterm", "urxvt", "lxterminal"}) {
    SCOPED_TRACE(program);
    if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
      ADD_FAILURE() << program << " is not installed: run scripts/setup";
      continue;
    }
    Terminal terminal(
        QString::fromLatin1(program),
        test::freshDir(QStringLiteral("terminal-") + QString::fromLatin1(program)) + QStringLiteral("/typed"));
    ASSERT_TRUE(terminal.isReady());
    ASSERT_TRUE(test::xclipSeed("before"));
    Rig rig;
    const QByteArray text = QByteArray("echo dictated into ") + program;
    rig.deliver(QString::fromLatin1(text));
    EXPECT_TRUE(test::waitUntil([&] { return terminal.received() == text; })) << terminal.received().toStdString();
    EXPECT_TRUE(rig.diag.readAll().contains(QStringLiteral("deliver  pasted")));
    EXPECT_EQ(test::xclipRead(), QByteArray("before"));
  }
}

// A paste key that nobody answers is no paste: the log says so, the session is
// told, and the text stays on the clipboard instead of the old contents.
TEST_F(TranscriptDeliveryTest, APasteThatIsNeverFetchedIsNotReportedAsPasted) {
  ASSERT_TRUE(test::xclipSeed("before"));
  test::FakeClock clock;
  Rig rig(clock);
  bool told = false;
  rig.deliverer->onPasteUnavailable = [&told] { told = true; };
  // Nothing that pastes has the focus: the paste-target window is gone.
  auto task = rig.deliverer->deliver(QStringLiteral("into the void"), Transformation::raw(), true, true, 1.0);
  auto outcome = test::follow(std::move(task));
  ASSERT_TRUE(test::waitUntil([&] {
    clock.advance(std::chrono::milliseconds(50));
    return outcome->done;
  }));
  EXPECT_TRUE(told);
  const QString log = rig.diag.readAll();
  EXPECT_FALSE(log.contains(QStringLiteral("deliver  pasted"))) << log.toStdString();
  EXPECT_TRUE(log.contains(QStringLiteral("deliver  paste not fetched"))) << log.toStdString();
  EXPECT_EQ(test::xclipRead(), QByteArray("into the void"));
}

TEST_F(TranscriptDeliveryTest, HeldModifiersAreLetGoForThePasteAndPressedAgain) {
  test::PasteTarget target;
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xdotool({QStringLiteral("keydown"), QStringLiteral("Alt_L")}));
  Rig rig;
  rig.deliver(QStringLiteral("while alt is held"));
  // With Alt still down the target would have taken Ctrl+Alt+V, which pastes nothing.
  EXPECT_TRUE(target.waitForSuffix(QStringLiteral("while alt is held")));
  Display* display = connection.display();
  char keys[32] = {};
  XQueryKeymap(display, keys);
  const KeyCode alt = XKeysymToKeycode(display, XStringToKeysym("Alt_L"));
  EXPECT_TRUE((keys[alt / 8] >> (alt % 8)) & 1) << "Alt is down again";
  ASSERT_TRUE(test::xdotool({QStringLiteral("keyup"), QStringLiteral("Alt_L")}));
}

TEST_F(TranscriptDeliveryTest, TheClipboardWaitsForALateFetch) {
  test::PasteTarget target(test::PasteTarget::Options{{}, {}, {}, 400});
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("before"));
  Rig rig;
  rig.deliver(QStringLiteral("slow reader"));
  EXPECT_TRUE(target.waitForSuffix(QStringLiteral("slow reader")));
  EXPECT_EQ(target.text(), QStringLiteral("slow reader"));
  EXPECT_EQ(test::xclipRead(), QByteArray("before"));
}

TEST_F(TranscriptDeliveryTest, AnImageComesBackWithItsTargetsAndBytes) {
  test::PasteTarget target;
  ASSERT_TRUE(target.isReady());
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(QColor(20, 120, 220));
  QByteArray png;
  QBuffer buffer(&png);
  ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
  ASSERT_TRUE(image.save(&buffer, "PNG"));
  ASSERT_TRUE(test::xclipSeed(png, QStringLiteral("image/png")));
  const QList<QByteArray> targetsBefore = test::xclipDataTargets();
  ASSERT_EQ(targetsBefore, QList<QByteArray>{"image/png"});
  Rig rig;
  rig.deliver(QStringLiteral("caption"));
  EXPECT_TRUE(target.waitForSuffix(QStringLiteral("caption")));
  EXPECT_EQ(test::xclipDataTargets(), targetsBefore);
  EXPECT_EQ(test::xclipRead(QStringLiteral("image/png")), png);
}

TEST_F(TranscriptDeliveryTest, AnEmptyClipboardEndsEmpty) {
  test::PasteTarget target;
  ASSERT_TRUE(target.isReady());
  Rig rig;
  rig.pasteboard.writeItems({});
  ASSERT_EQ(connection.selectionOwner(connection.atom("CLIPBOARD")), 0u);
  rig.deliver(QStringLiteral("into nothing"));
  EXPECT_TRUE(target.waitForSuffix(QStringLiteral("into nothing")));
  EXPECT_EQ(connection.selectionOwner(connection.atom("CLIPBOARD")), 0u);
}

// Another program took the clipboard a moment ago and Qt has not heard of it
// yet: our write must still take the clipboard, whether Qt owned it before or not.
TEST_F(TranscriptDeliveryTest, OurWriteWinsOverAnOwnerQtHasNotSeenYet) {
  for (const bool qtOwnedIt : {true, false}) {
    SCOPED_TRACE(qtOwnedIt ? "Qt owned the clipboard" : "nobody owned the clipboard");
    X11Pasteboard pasteboard(&connection);
    pasteboard.writeText(QStringLiteral("earlier"));
    if (!qtOwnedIt) pasteboard.writeItems({});
    test::waitUntil([] { return false; }, 100ms);  // Qt handles its events: its idea of the time is now old
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    const Window window = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(other, XInternAtom(other, "CLIPBOARD", False), window, CurrentTime);
    XSync(other, False);
    pasteboard.writeText(QStringLiteral("ours"));  // no event handled in between
    EXPECT_TRUE(pasteboard.holdsOwnWrite());
    EXPECT_EQ(test::xclipRead(), QByteArray("ours"));
    EXPECT_TRUE(pasteboard.holdsOwnWrite());
    XCloseDisplay(other);
  }
}

// A program that copies after the paste and before the restore keeps its copy.
TEST_F(TranscriptDeliveryTest, AForeignWriteAfterThePasteSurvives) {
  test::PasteTarget target;
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("before"));
  test::FakeClock clock;
  Rig rig(clock);
  auto task = rig.deliverer->deliver(QStringLiteral("mine"), Transformation::raw(), true, true, 1.0);
  clock.advance(50ms);  // the paste goes out
  ASSERT_TRUE(target.waitForSuffix(QStringLiteral("mine")));
  clock.advance(30ms);
  ASSERT_TRUE(test::xclipSeed("foreign"));
  clock.advance(70ms);
  EXPECT_EQ(QCoro::waitFor(std::move(task)), QStringLiteral("mine"));
  EXPECT_EQ(test::xclipRead(), QByteArray("foreign"));
  EXPECT_FALSE(rig.coordinator.hasSnapshot());
}

TEST_F(TranscriptDeliveryTest, WithoutTrustNothingIsPastedAndTheSessionIsTold) {
  test::PasteTarget target;
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("before"));
  QStringList errors;
  SystemLog::setSink([&](SystemLog::Level level, const QString& category, const QString& message) {
    if (level == SystemLog::Level::Error && category == QLatin1String("deliverer")) errors << message;
  });
  UntrustedKeys keys(&connection);
  Rig rig(Clock::continuous(), &keys);
  int reports = 0;
  rig.deliverer->onPasteUnavailable = [&] { ++reports; };
  EXPECT_EQ(rig.deliver(QStringLiteral("stays here")), QStringLiteral("stays here"));
  SystemLog::setSink({});
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(errors, QStringList{QStringLiteral("Auto-paste unavailable; transcript left on clipboard")});
  EXPECT_TRUE(rig.diag.readAll().contains(QStringLiteral("deliver  paste unavailable  accessibility=false")));
  test::waitUntil([] { return false; }, 200ms);
  EXPECT_TRUE(target.keys().isEmpty());
  EXPECT_EQ(target.text(), QString());
  EXPECT_EQ(test::xclipRead(), QByteArray("stays here"));  // left for the user to paste
}

// What reaches the clipboard, the history and the statistics, without the keyboard.
TEST_F(TranscriptDeliveryTest, SnippetsHistoryAndStatistics) {
  struct Case {
    const char* name;
    QString raw;
    std::optional<QString> delivered;
    bool recorded;
  };
  const Case cases[] = {
      {"snippet expansion, verbatim, not recorded", QStringLiteral("My Address."), QStringLiteral("  1 Main St\n"),
       false},
      {"processed text, recorded", QStringLiteral("my address please"), QStringLiteral("my address please"), true},
      {"empty snippet expansion: nothing", QStringLiteral("blank"), std::nullopt, false},
      {"spaces only are text", QStringLiteral("spaces"), QStringLiteral("   "), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(test::xclipSeed("before"));
    Rig rig;
    rig.snippets.setEntries({{QUuid::createUuid(), QStringLiteral("my address"), QStringLiteral("  1 Main St\n")},
                             {QUuid::createUuid(), QStringLiteral("blank"), QString()},
                             {QUuid::createUuid(), QStringLiteral("spaces"), QStringLiteral("   ")}});
    QStringList lines;
    SystemLog::setSink([&](SystemLog::Level, const QString& category, const QString& message) {
      if (category == QLatin1String("deliverer")) lines << message;
    });
    EXPECT_EQ(rig.deliver(c.raw, /*autoPaste=*/false), c.delivered);
    SystemLog::setSink({});
    EXPECT_EQ(test::xclipRead(), c.delivered ? c.delivered->toUtf8() : QByteArray("before"));
    EXPECT_EQ(rig.historyTexts().size(), c.recorded ? 1 : 0);
    EXPECT_EQ(rig.usage.totalDictations(), c.recorded ? 1 : 0);
    EXPECT_FALSE(rig.coordinator.hasSnapshot());  // no paste, no capture
    if (!c.delivered) EXPECT_TRUE(lines.contains(QStringLiteral("Empty transcription, nothing copied")));
    for (const QString& line : lines)
      EXPECT_FALSE(line.contains(QStringLiteral("address please"))) << "dictated text logged";
  }
}

TEST_F(TranscriptDeliveryTest, AVoiceEditIsPastedAndOnlyRecordedInTheHistory) {
  test::PasteTarget target;
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(test::xclipSeed("before"));
  Rig rig;
  EXPECT_EQ(QCoro::waitFor(rig.deliverer->deliverEditedText(QStringLiteral("Dear Sir"), true, true)),
            QStringLiteral("Dear Sir"));
  EXPECT_TRUE(target.waitForSuffix(QStringLiteral("Dear Sir")));
  EXPECT_EQ(test::xclipRead(), QByteArray("before"));
  EXPECT_EQ(rig.historyTexts(), QStringList{QStringLiteral("Dear Sir")});
  EXPECT_EQ(rig.usage.totalDictations(), 0);
  EXPECT_EQ(QCoro::waitFor(rig.deliverer->deliverEditedText(QString(), true, true)), std::nullopt);
}

// What was written, pasted and given back when the dictation is cancelled at each point.
TEST_F(TranscriptDeliveryTest, CancellationTable) {
  enum class Point { beforeWrite, waitBeforePaste, waitAfterPaste };
  struct Case {
    const char* name;
    Point point;
    bool restore;
    bool written, pasted;
    QByteArray clipboardAfter;
  };
  const Case cases[] = {
      {"before the write", Point::beforeWrite, true, false, false, "before"},
      {"waiting to paste, restore on: the clipboard comes back", Point::waitBeforePaste, true, true, false, "before"},
      {"waiting to paste, restore off: the text stays", Point::waitBeforePaste, false, true, false, "cancelled text"},
      {"waiting to restore: restored all the same", Point::waitAfterPaste, true, true, true, "before"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::PasteTarget target;
    ASSERT_TRUE(target.isReady());
    ASSERT_TRUE(test::xclipSeed("before"));
    test::FakeClock clock;
    Rig rig(clock);
    CancellationToken token;
    if (c.point == Point::beforeWrite) token.cancel();
    auto outcome = test::follow(
        rig.deliverer->deliver(QStringLiteral("cancelled text"), Transformation::raw(), true, c.restore, 1.0, token));
    if (c.point == Point::waitAfterPaste) {
      clock.advance(50ms);
      ASSERT_TRUE(target.waitForSuffix(QStringLiteral("cancelled text")));
    }
    if (c.point != Point::beforeWrite) token.cancel();
    ASSERT_TRUE(test::waitUntil([&] { return outcome->done; }));
    EXPECT_TRUE(outcome->threw<OperationCancelled>());
    EXPECT_EQ(rig.historyTexts().size(), c.written ? 1 : 0);
    test::waitUntil([] { return false; }, 150ms);
    EXPECT_EQ(target.text().isEmpty(), !c.pasted);
    EXPECT_EQ(test::xclipRead(), c.clipboardAfter);
    EXPECT_FALSE(rig.coordinator.hasSnapshot());
  }
}

}  // namespace
