// The mode switcher on the rig's X server: its list and model, the keys it
// takes while open (Qt key events through the application, then real X keys
// from xdotool), hover and clicks with the real pointer, the keyboard focus it
// takes and gives back, and pictures of the card in both appearances.
#include "app/SessionRig.h"

#include "app/AppState.h"
#include "design/Appearance.h"
#include "design/CoreComponents.h"
#include "hotkeys/HotKeyService.h"
#include "overlays/KeyablePanel.h"
#include "overlays/ModeSwitcherHud.h"
#include "overlays/ModeSwitcherHudController.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11InputFocus.h"
#include "platform/x11/X11KeyEventTap.h"
#include "platform/x11/X11KeyPressMonitor.h"
#include "runtime/AppPaths.h"
#include "support/PasteTarget.h"

#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <cmath>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;
using Scheme = Appearance::Scheme;

namespace {

Mode mode(const QString& name, Transformation transformation) {
  return Mode{QUuid::createUuid(), name, std::move(transformation), std::nullopt, false};
}

// One mode per icon, in the order of the icon table.
QList<Mode> fourModes() {
  return {mode(QStringLiteral("Email"), Transformation::preset(TransformPreset::email)),
          mode(QStringLiteral("Tidy"), Transformation::preset(TransformPreset::tidy)),
          mode(QStringLiteral("Formal"), Transformation::custom(QStringLiteral("Make it formal."))),
          mode(QStringLiteral("Plain"), Transformation::raw())};
}

unsigned long focusedWindow() {
  QProcess process;
  process.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")});
  if (!process.waitForFinished(10000)) return 0;
  return process.readAllStandardOutput().trimmed().toULong();
}

// xwininfo's view of a window: absolute position and size.
QRect xwininfoGeometry(unsigned long window) {
  QProcess process;
  process.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
  if (!process.waitForFinished(10000)) return {};
  int x = 0, y = 0, w = 0, h = 0;
  for (const QString& line : QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'))) {
    const QString t = line.trimmed();
    auto value = [&](const char* label) { return t.section(QLatin1Char(':'), 1).trimmed().toInt(); };
    if (t.startsWith(QStringLiteral("Absolute upper-left X"))) x = value("x");
    if (t.startsWith(QStringLiteral("Absolute upper-left Y"))) y = value("y");
    if (t.startsWith(QStringLiteral("Width"))) w = value("w");
    if (t.startsWith(QStringLiteral("Height"))) h = value("h");
  }
  return QRect(x, y, w, h);
}

QRect expectedCentred(QSize size) {
  const QRectF area = QGuiApplication::primaryScreen()->availableGeometry();
  return QRect(QPoint(int(std::lround(area.center().x() - size.width() / 2.0)),
                      int(std::lround(area.center().y() - size.height() / 2.0))),
               size);
}

bool xdo(const QStringList& arguments) { return xdotool(arguments); }

// A window of ours that counts the keys that reach it.
class KeySink : public QWidget {
 public:
  QList<int> keys;

 protected:
  void keyPressEvent(QKeyEvent* event) override { keys.append(event->key()); }
};

struct Commits {
  QList<Mode> received;
  QList<bool> panelVisible;
};

class ModeSwitcher : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installTranslations(*QCoreApplication::instance());
    Fonts::registerBundled();
  }
  void SetUp() override {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "runs under the rig";
    // The pointer away from the card, so that no row is hovered by accident.
    ASSERT_TRUE(xdo({QStringLiteral("mousemove"), QStringLiteral("2"), QStringLiteral("2")}));
  }

  std::function<void(const Mode&)> recorder() {
    return [this](const Mode& m) {
      commits.received.append(m);
      commits.panelVisible.append(controller.panel() && controller.panel()->isVisible());
    };
  }
  ModeSwitcherHud* hud() const {
    return controller.panel() ? qobject_cast<ModeSwitcherHud*>(controller.panel()->contentView()) : nullptr;
  }
  bool waitFocused(unsigned long window) {
    return waitUntil([&] { return focusedWindow() == window; }, 5s);
  }
  void expectClosed() {
    EXPECT_EQ(controller.panel(), nullptr);
    EXPECT_EQ(controller.model(), nullptr);
    EXPECT_FALSE(controller.hasCommitClosure());
    EXPECT_FALSE(controller.isKeyMonitorInstalled());
  }

  x11::Connection connection;
  X11InputFocus focus{&connection};
  ModeSwitcherHudController controller{focus};
  Commits commits;
};

// ---- The model's first selection

struct SelectionRow {
  const char* name;
  int activeIndex;  // -1: an id that names no mode
  bool duplicateFirstId;
  int selected;
};

class FirstSelection : public ::testing::TestWithParam<SelectionRow> {};

TEST_P(FirstSelection, StartsOnTheActiveModeElseOnTheFirstRow) {
  const SelectionRow& row = GetParam();
  QList<Mode> modes = fourModes();
  if (row.duplicateFirstId) modes[3].id = modes[1].id;
  const QUuid active = row.activeIndex < 0 ? QUuid::createUuid() : modes[row.activeIndex].id;
  ModeSwitcherModel model(modes, active);
  EXPECT_EQ(model.selectedIndex(), row.selected);
}

INSTANTIATE_TEST_SUITE_P(Rows, FirstSelection,
                         ::testing::Values(SelectionRow{"activeThird", 2, false, 2},
                                           SelectionRow{"unmatchedId", -1, false, 0},
                                           SelectionRow{"firstOfTwoEqualIds", 1, true, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ModeSwitcherModelTest, TellsObserversOnlyOfChangesWithinTheList) {
  ModeSwitcherModel model(fourModes(), QUuid());
  QSignalSpy changes(&model, &ModeSwitcherModel::selectedIndexChanged);
  model.setSelectedIndex(0);
  model.setSelectedIndex(4);
  model.setSelectedIndex(-1);
  EXPECT_EQ(changes.count(), 0);
  model.setSelectedIndex(3);
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(model.selectedIndex(), 3);
}

// ---- Keys through the application

struct KeyRow {
  const char* name;
  int modeCount;
  int activeIndex;
  QList<std::pair<int, Qt::KeyboardModifiers>> keys;
  int selected;       // the highlight afterwards (-1: closed)
  int committed;      // index of the committed mode, -1 none
  QList<int> passed;  // keys that reached the window
};

class SwitcherKeys : public ModeSwitcher, public ::testing::WithParamInterface<KeyRow> {};

TEST_P(SwitcherKeys, TakesItsSevenKeysAndPassesTheRest) {
  const KeyRow& row = GetParam();
  const QList<Mode> modes = fourModes().mid(0, row.modeCount);
  KeySink sink;
  sink.show();
  ASSERT_TRUE(sink.windowHandle());
  controller.toggle(modes, modes[row.activeIndex].id, recorder());
  ASSERT_NE(controller.model(), nullptr);
  QSignalSpy changes(controller.model(), &ModeSwitcherModel::selectedIndexChanged);
  for (const auto& [key, modifiers] : row.keys) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(sink.windowHandle(), &event);
  }
  EXPECT_EQ(sink.keys, row.passed);
  if (row.selected < 0) {
    expectClosed();
  } else {
    ASSERT_NE(controller.model(), nullptr);
    EXPECT_EQ(controller.model()->selectedIndex(), row.selected);
    if (row.modeCount == 1) EXPECT_EQ(changes.count(), 0) << "a one-mode list writes nothing";
    controller.close();
  }
  ASSERT_EQ(commits.received.size(), row.committed < 0 ? 0 : 1);
  if (row.committed >= 0) EXPECT_EQ(commits.received[0].id, modes[row.committed].id);
}

constexpr auto kNone = Qt::NoModifier;

INSTANTIATE_TEST_SUITE_P(
    Rows, SwitcherKeys,
    ::testing::Values(
        KeyRow{"returnRightAfterOpeningCommitsTheActive", 4, 2, {{Qt::Key_Return, kNone}}, -1, 2, {}},
        KeyRow{"keypadEnterCommits", 4, 0, {{Qt::Key_Down, kNone}, {Qt::Key_Enter, Qt::KeypadModifier}}, -1, 1, {}},
        KeyRow{"shiftReturnCommits", 4, 0, {{Qt::Key_Right, kNone}, {Qt::Key_Return, Qt::ShiftModifier}}, -1, 1, {}},
        KeyRow{"escapeClosesWithoutCommit", 4, 1, {{Qt::Key_Down, kNone}, {Qt::Key_Escape, kNone}}, -1, -1, {}},
        KeyRow{"upFromTheFirstWrapsToTheLast", 4, 0, {{Qt::Key_Up, kNone}}, 3, -1, {}},
        KeyRow{"leftMovesBackToo", 4, 2, {{Qt::Key_Left, kNone}, {Qt::Key_Left, kNone}}, 0, -1, {}},
        KeyRow{"downFromTheLastWrapsToTheFirst", 4, 3, {{Qt::Key_Down, kNone}}, 0, -1, {}},
        KeyRow{"modifiersDoNotMatter",
               4,
               0,
               {{Qt::Key_Down, Qt::ControlModifier}, {Qt::Key_Right, Qt::AltModifier}},
               2,
               -1,
               {}},
        KeyRow{"lettersAndTabPass",
               4,
               0,
               {{Qt::Key_A, kNone}, {Qt::Key_Tab, kNone}, {Qt::Key_Space, kNone}},
               0,
               -1,
               {Qt::Key_A, Qt::Key_Tab, Qt::Key_Space}},
        KeyRow{"oneModeListArrowsWriteNothing",
               1,
               0,
               {{Qt::Key_Down, kNone}, {Qt::Key_Up, kNone}, {Qt::Key_Left, kNone}, {Qt::Key_Right, kNone}},
               0,
               -1,
               {}},
        KeyRow{"oneModeListReturnCommitsIt", 1, 0, {{Qt::Key_Return, kNone}}, -1, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ModeSwitcher, ClaimsTheShortcutOverrideOfItsKeysOnly) {
  KeySink sink;
  sink.show();
  const QList<Mode> modes = fourModes();
  controller.toggle(modes, modes[0].id, recorder());
  auto claimed = [&](int key) {
    QKeyEvent event(QEvent::ShortcutOverride, key, Qt::NoModifier);
    event.setAccepted(false);
    QCoreApplication::sendEvent(sink.windowHandle(), &event);
    return event.isAccepted();
  };
  for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down})
    EXPECT_TRUE(claimed(key)) << key;
  EXPECT_FALSE(claimed(Qt::Key_A));
  controller.close();
  EXPECT_FALSE(claimed(Qt::Key_Return)) << "the filter goes with the switcher";
}

// ---- Opening, committing, closing

TEST_F(ModeSwitcher, AnEmptyListOpensNothing) {
  controller.toggle({}, QUuid(), recorder());
  expectClosed();
}

TEST_F(ModeSwitcher, ToggleWhileOpenClosesWithoutCommit) {
  const QList<Mode> modes = fourModes();
  controller.toggle(modes, modes[1].id, recorder());
  ASSERT_NE(controller.panel(), nullptr);
  QPointer<KeyablePanel> panel = controller.panel();
  // The arguments of the closing call are ignored, an empty list included.
  controller.toggle({}, QUuid(), recorder());
  expectClosed();
  EXPECT_TRUE(commits.received.isEmpty());
  EXPECT_TRUE(panel.isNull() || !panel->isVisible());
}

TEST_F(ModeSwitcher, CommitSeesThePanelOnScreenThenEverythingIsEmpty) {
  const QList<Mode> modes = fourModes();
  controller.toggle(modes, modes[0].id, recorder());
  ASSERT_TRUE(waitUntil([&] { return controller.panel()->isVisible(); }));
  KeySink sink;
  QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(&sink, &down);
  QCoreApplication::sendEvent(&sink, &enter);
  ASSERT_EQ(commits.received.size(), 1);
  EXPECT_EQ(commits.received[0], modes[1]);
  EXPECT_EQ(commits.panelVisible, QList<bool>{true});
  expectClosed();
}

TEST_F(ModeSwitcher, UnmatchedActiveIdSelectsTheFirstRowWithNoCheckmark) {
  const QList<Mode> modes = fourModes();
  controller.toggle(modes, QUuid::createUuid(), recorder());
  ASSERT_NE(hud(), nullptr);
  const QList<ModeSwitcherRow*> rows = hud()->rows();
  ASSERT_EQ(rows.size(), 4);
  EXPECT_TRUE(rows[0]->isSelected());
  for (const ModeSwitcherRow* row : rows) EXPECT_FALSE(row->isActive()) << row->mode().name.toStdString();
}

TEST_F(ModeSwitcher, CardLayoutIconsAndEntrance) {
  const QList<Mode> modes = fourModes();
  controller.toggle(modes, modes[1].id, recorder());
  ModeSwitcherHud* card = hud();
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(card->width(), 280);
  EXPECT_EQ(controller.panel()->size(), card->size());
  const QList<ModeSwitcherRow*> rows = card->rows();
  const QStringList icons{QStringLiteral("Icons/message"), QStringLiteral("Icons/magicWand"),
                          QStringLiteral("Icons/edit"), QStringLiteral("Icons/voice")};
  int bottom = 0;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(rows[i]->icon()->name(), icons[i]);
    EXPECT_EQ(rows[i]->isActive(), i == 1);
    EXPECT_EQ(rows[i]->isSelected(), i == 1);
    EXPECT_EQ(rows[i]->geometry().left(), 8);
    EXPECT_EQ(rows[i]->width(), 264);
    EXPECT_EQ(rows[i]->geometry().top(), i == 0 ? 8 : bottom + 4) << "rows 4 apart inside an 8-point inset";
    bottom = rows[i]->geometry().bottom() + 1;
    // Every file exists: no icon is left blank.
    EXPECT_TRUE(QFile::exists(AppPaths::resource(AppIcon::resourcePath(icons[i])))) << icons[i].toStdString();
  }
  EXPECT_EQ(card->height(), bottom + 8);
  // The card grows in from 97 % over 0.2 s, then draws directly.
  EXPECT_TRUE(card->appeared());
  EXPECT_TRUE(waitUntil([&] { return card->entranceProgress() >= 1; }, 2s));
  EXPECT_EQ(card->graphicsEffect(), nullptr);
  // Many modes: the card grows with every row, without scrolling.
  controller.close();
  QList<Mode> many;
  for (int i = 0; i < 20; ++i) many.append(mode(QStringLiteral("Mode %1").arg(i), Transformation::raw()));
  controller.toggle(many, many[0].id, recorder());
  EXPECT_EQ(hud()->height(), 8 + 20 * rows[0]->height() + 19 * 4 + 8);
  controller.close();
}

// ---- Real keys, pointer and focus on the X server

class SwitcherOnX : public ModeSwitcher {
 protected:
  void SetUp() override {
    ModeSwitcher::SetUp();
    ASSERT_TRUE(target.isReady());
    ASSERT_TRUE(waitFocused(target.windowId()));
  }
  QRect rowOnScreen(int index) {
    ModeSwitcherRow* row = hud()->rows().at(index);
    return QRect(row->mapToGlobal(QPoint(0, 0)), row->size());
  }
  bool clickAt(QPoint point) {
    return xdo({QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()),
                QStringLiteral("click"), QStringLiteral("1")});
  }
  bool moveTo(QPoint point) {
    return xdo({QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y())});
  }

  PasteTarget target;
};

TEST_F(SwitcherOnX, HoverSelectsAndAClickCommitsTheClickedRow) {
  const QList<Mode> modes = fourModes();
  controller.toggle(modes, modes[0].id, recorder());
  ASSERT_TRUE(waitFocused(controller.panel()->winId()));
  QSignalSpy changes(controller.model(), &ModeSwitcherModel::selectedIndexChanged);
  ASSERT_TRUE(moveTo(rowOnScreen(2).center()));
  ASSERT_TRUE(waitUntil([&] { return controller.model()->selectedIndex() == 2; }));
  // Moving within the row, then off the card, writes nothing more.
  ASSERT_TRUE(moveTo(rowOnScreen(2).center() + QPoint(60, 0)));
  ASSERT_TRUE(moveTo(QPoint(2, 2)));
  QTest::qWait(150);
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(controller.model()->selectedIndex(), 2);
  // A click on a row that is not highlighted commits the clicked row.
  ModeSwitcherRow* fourth = hud()->rows().at(3);
  const QPoint inside = rowOnScreen(3).topLeft() + QPoint(fourth->width() - 20, 4);
  ASSERT_TRUE(clickAt(inside));
  ASSERT_TRUE(waitUntil([&] { return !commits.received.isEmpty(); }));
  EXPECT_EQ(commits.received[0].id, modes[3].id);
  expectClosed();
  EXPECT_TRUE(waitFocused(target.windowId())) << "the focus goes back to where the user was typing";
}

TEST_F(SwitcherOnX, ACardOpeningUnderARestingPointerKeepsTheActiveRow) {
  const QList<Mode> modes = fourModes();
  controller.toggle(modes, modes[1].id, recorder());
  const QPoint third = rowOnScreen(2).center();
  controller.close();
  ASSERT_TRUE(moveTo(third));
  controller.toggle(modes, modes[1].id, recorder());
  ASSERT_TRUE(waitFocused(controller.panel()->winId()));
  QTest::qWait(150);
  EXPECT_EQ(controller.model()->selectedIndex(), 1);
  // Moving into another row is pointing.
  ASSERT_TRUE(moveTo(rowOnScreen(3).center()));
  EXPECT_TRUE(waitUntil([&] { return controller.model()->selectedIndex() == 3; }));
  controller.close();
}

TEST_F(SwitcherOnX, FocusGoesBackOnlyWhileThePanelHoldsItAndToAWindowThatExists) {
  const QList<Mode> modes = fourModes();
  auto other = std::make_unique<PasteTarget>();
  ASSERT_TRUE(other->isReady());
  ASSERT_TRUE(waitFocused(other->windowId()));
  // The user moved the focus elsewhere while the switcher was open: it stays there.
  controller.toggle(modes, modes[0].id, recorder());
  ASSERT_TRUE(waitFocused(controller.panel()->winId()));
  ASSERT_TRUE(xdo({QStringLiteral("windowfocus"), QString::number(target.windowId())}));
  ASSERT_TRUE(waitFocused(target.windowId()));
  controller.close();
  QTest::qWait(100);
  EXPECT_EQ(focusedWindow(), target.windowId());
  // The window that had the focus is gone by the close: nothing is focused in its name.
  ASSERT_TRUE(xdo({QStringLiteral("windowfocus"), QString::number(other->windowId())}));
  ASSERT_TRUE(waitFocused(other->windowId()));
  controller.toggle(modes, modes[0].id, recorder());
  ASSERT_TRUE(waitFocused(controller.panel()->winId()));
  const unsigned long gone = other->windowId();
  other.reset();
  controller.close();
  QTest::qWait(100);
  EXPECT_NE(focusedWindow(), gone);
}

TEST_F(SwitcherOnX, AClickIntoAnotherApplicationLeavesItOpen) {
  const QList<Mode> modes = fourModes();
  controller.toggle(modes, modes[0].id, recorder());
  ASSERT_TRUE(waitFocused(controller.panel()->winId()));
  // The paste target sits at the top left of the screen.
  ASSERT_TRUE(clickAt(QPoint(20, 20)));
  QTest::qWait(150);
  ASSERT_NE(controller.panel(), nullptr);
  EXPECT_TRUE(controller.panel()->isVisible());
  controller.close();
}

// The application's own wiring: the real X11 hotkey tap and hotkey service,
// the application state with its Escape monitors, and the store's modes.
class SwitcherFromTheHotkey : public SwitcherOnX {
 protected:
  void SetUp() override {
    SwitcherOnX::SetUp();
    rig.modes.setModes(fourModes());
    rig.modes.setDefault(rig.modes.modes()[0].id);
    // Registered only together with a dictation hotkey.
    hotKeys.setCurrentCombo(KeyCombo(Key::space, KeyModifiers::control | KeyModifiers::option));
    hotKeys.setChangeModeCombo(KeyCombo(Key::space, KeyModifiers::option | KeyModifiers::shift));
    app = std::make_unique<AppState>(AppState::Parts{
        rig.defaults,
        rig.modes,
        rig.dictionary,
        rig.engine,
        processor,
        rig.session,
        hotKeys,
        rig.diag,
        {},
        [this] { return std::make_unique<ModeSwitcherHudController>(focus); },
        [this](std::function<void(quint32, quint64)> handler) {
          monitor =
              std::make_unique<X11KeyPressMonitor>(std::set<quint32>{AppState::kEscapeKeyCode}, std::move(handler));
          ASSERT_TRUE(monitor->start());
        }});
    QCoro::waitFor(app->bootstrap());
    hotKeys.reloadRegistrations();
    ASSERT_TRUE(hotKeys.isRegistered());
  }
  ModeSwitcherHudController* switcher() const {
    return static_cast<ModeSwitcherHudController*>(app->modeSwitcherController());
  }
  bool pressHotkey() { return xdo({QStringLiteral("key"), QStringLiteral("alt+shift+space")}); }
  bool waitOpen(bool open) {
    return waitUntil([&] { return switcher() && (switcher()->panel() != nullptr) == open; });
  }
  QUuid storedDefault() {
    // Read back from the stored "modes", as a later launch would.
    ModeStore reread(rig.defaults);
    return reread.defaultMode().id;
  }

  SessionRig rig;
  X11KeyEventTap tap;
  HotKeyService hotKeys{rig.defaults, tap};
  TranscriptProcessor processor{[](QString text, QString) -> QCoro::Task<QString> { co_return text; },
                                [] { return QList<DictionaryEntry>{}; }};
  std::unique_ptr<X11KeyPressMonitor> monitor;
  std::unique_ptr<AppState> app;
};

TEST_F(SwitcherFromTheHotkey, KeysPickTheDefaultModeAndTheFocusGoesBack) {
  const QList<Mode> modes = rig.modes.modes();
  ASSERT_TRUE(pressHotkey());
  ASSERT_TRUE(waitOpen(true));
  const unsigned long panel = switcher()->panel()->winId();
  ASSERT_TRUE(waitFocused(panel));
  const QRect shown = xwininfoGeometry(panel);
  EXPECT_EQ(shown, expectedCentred(QSize(280, switcher()->panel()->height())));
  EXPECT_EQ(shown.width(), 280);

  ASSERT_TRUE(xdo({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Up"),
                   QStringLiteral("Return")}));
  ASSERT_TRUE(waitOpen(false));
  EXPECT_EQ(storedDefault(), modes[1].id);
  EXPECT_TRUE(waitFocused(target.windowId()));
  // The paste target got none of those keys; typing reaches it again.
  ASSERT_TRUE(xdo({QStringLiteral("type"), QStringLiteral("ok")}));
  ASSERT_TRUE(target.waitForSuffix(QStringLiteral("ok")));
  EXPECT_EQ(target.text(), QStringLiteral("ok"));
  // It saw the hotkey's modifiers go down before the switcher opened, no more.
  for (const QString& key : target.keys()) {
    const QString name = key.section(QLatin1Char(' '), 0, 0);
    EXPECT_FALSE(
        QStringList({QStringLiteral("Down"), QStringLiteral("Up"), QStringLiteral("Return"), QStringLiteral("space")})
            .contains(name))
        << key.toStdString();
  }
}

TEST_F(SwitcherFromTheHotkey, TheHotkeyAgainClosesWithoutCommit) {
  const QUuid before = storedDefault();
  ASSERT_TRUE(pressHotkey());
  ASSERT_TRUE(waitOpen(true));
  ASSERT_TRUE(waitFocused(switcher()->panel()->winId()));
  ASSERT_TRUE(xdo({QStringLiteral("key"), QStringLiteral("Down")}));
  ASSERT_TRUE(waitUntil([&] { return switcher()->model() && switcher()->model()->selectedIndex() == 1; }));
  ASSERT_TRUE(pressHotkey());
  ASSERT_TRUE(waitOpen(false));
  EXPECT_EQ(storedDefault(), before);
  EXPECT_TRUE(waitFocused(target.windowId()));
}

TEST_F(SwitcherFromTheHotkey, EscapeClosesTheSwitcherAndNotTheDictation) {
  rig.session.start();
  ASSERT_EQ(app->status(), AppStatus::recording());
  ASSERT_TRUE(pressHotkey());
  ASSERT_TRUE(waitOpen(true));
  ASSERT_TRUE(waitFocused(switcher()->panel()->winId()));
  ASSERT_TRUE(xdo({QStringLiteral("key"), QStringLiteral("Escape")}));
  ASSERT_TRUE(waitOpen(false));
  QTest::qWait(200);
  EXPECT_EQ(app->status(), AppStatus::recording()) << "neither Escape monitor saw the key";
  rig.session.cancel();
}

TEST_F(SwitcherFromTheHotkey, AClickOnARowCommitsIt) {
  const QList<Mode> modes = rig.modes.modes();
  ASSERT_TRUE(pressHotkey());
  ASSERT_TRUE(waitOpen(true));
  ASSERT_TRUE(waitFocused(switcher()->panel()->winId()));
  auto* card = qobject_cast<ModeSwitcherHud*>(switcher()->panel()->contentView());
  ModeSwitcherRow* row = card->rows().at(2);
  ASSERT_TRUE(clickAt(QRect(row->mapToGlobal(QPoint(0, 0)), row->size()).center()));
  ASSERT_TRUE(waitOpen(false));
  EXPECT_EQ(storedDefault(), modes[2].id);
  EXPECT_TRUE(waitFocused(target.windowId()));
}

// ---- Pictures

// The card with one mode per icon, the active mode ticked and the highlight
// moved off it, in both appearances: build/mode-switcher-screenshots/.
TEST_F(SwitcherOnX, Screenshots) {
  const QString folder = buildDir() + QStringLiteral("/mode-switcher-screenshots");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QList<Mode> modes = fourModes();
  for (const Scheme scheme : {Scheme::Light, Scheme::Dark}) {
    controller.toggle(modes, modes[1].id, recorder());
    Appearance::setOverride(controller.panel(), scheme);
    ASSERT_TRUE(waitFocused(controller.panel()->winId()));
    ASSERT_TRUE(xdo({QStringLiteral("key"), QStringLiteral("Down")}));
    ASSERT_TRUE(waitUntil([&] { return controller.model()->selectedIndex() == 2; }));
    QTest::qWait(350);  // the entrance and the highlight have come to rest
    const QRect card = controller.panel()->geometry();
    const QRect area = card.adjusted(-12, -12, 12, 12);
    const QImage shot =
        QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
    const QString file = QStringLiteral("%1/mode-switcher-%2.png")
                             .arg(folder, scheme == Scheme::Dark ? QStringLiteral("dark") : QStringLiteral("light"));
    ASSERT_TRUE(shot.scaled(shot.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation).save(file));
    auto pixel = [&](QPoint inCard) { return shot.pixel(inCard + QPoint(12, 12)) | 0xff000000u; };
    const QRect third = hud()->rows().at(2)->geometry();
    EXPECT_EQ(pixel(QPoint(third.left() + 3, third.center().y())), dsColor(DSColor::accent, scheme).rgb())
        << "the highlighted row is an accent bar";
    EXPECT_EQ(pixel(QPoint(card.width() / 2, 0)), dsColor(DSColor::accent, scheme).rgb()) << "the border";
    EXPECT_EQ(pixel(QPoint(4, card.height() / 2)), dsColor(DSColor::background, scheme).rgb()) << "the card";
    controller.close();
  }
}

}  // namespace
