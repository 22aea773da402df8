// The configuration page in a real window on the rig's display: hotkeys
// recorded from the X keyboard (xdotool) against the real X11 key tap, the
// microphone list of the rig's PulseAudio, the behaviour flags of a real
// application state and the XDG autostart entry on disk.
#include "app/SessionRig.h"

#include "app/AppState.h"
#include "audio/AudioDeviceManager.h"
#include "design/EditorialComponents.h"
#include "design/HotkeyComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "hotkeys/HotKeyRecorder.h"
#include "hotkeys/HotKeyService.h"
#include "platform/pulse/PulseAudio.h"
#include "platform/x11/X11KeyEventTap.h"
#include "platform/xdg/LoginItem.h"
#include "settings/ConfigurationPage.h"
#include "settings/InputDevicePicker.h"
#include "support/Alerts.h"
#include "support/PasteTarget.h"
#include "support/PulseRig.h"

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

// Last: Xlib's macros (None, Bool …) would clash with the headers above.
#include <X11/Xlib.h>
#undef Status  // the login item's own Status is meant below

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;
using M = KeyModifiers;
using Scheme = Appearance::Scheme;

namespace {

const KeyCombo kCtrlAltD(Key::d, M::leftControl | M::leftOption);  // what xdotool's ctrl+alt+d sends
const KeyCombo kCtrlAltF(Key::f, M::leftControl | M::leftOption);
const KeyCombo kAltShiftSpace(Key::space, M::option | M::shift);  // the change-mode default
const KeyCombo kCtrlAltG(Key::g, M::leftControl | M::leftOption);
constexpr unsigned kXKeycodeD = 40, kXKeycodeG = 42, kXKeycodeSpace = 65;

class MicrophoneAlways final : public platform::MicrophonePermission {
 public:
  platform::MicrophonePermissionStatus status() override { return platform::MicrophonePermissionStatus::Authorized; }
  QCoro::Task<bool> request() override { co_return true; }
};

// The real autostart entry, with its calls counted and the removal able to fail.
class CountingLoginItem final : public platform::LoginItem {
 public:
  CountingLoginItem() : real(platform::XdgAutostartLoginItem::defaultFolder(), QStringLiteral("/usr/bin/murel")) {}
  Status status() override { return real.status(); }
  bool registerItem(QString* error) override {
    ++registers;
    return real.registerItem(error);
  }
  bool unregisterItem(QString* error) override {
    ++unregisters;
    return failUnregister ? false : real.unregisterItem(error);
  }
  QString path() const { return real.entryPath(); }

  platform::XdgAutostartLoginItem real;
  int registers = 0;
  int unregisters = 0;
  bool failUnregister = false;
};

// Stands for the settings window around the page: it paints the background.
class PageHost : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), dsColor(DSColor::background, this));
  }
};

void turn() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Text of a widget as a reader sees it, for the "no raw key" check.
bool looksLikeKey(const QString& text) {
  static const QRegularExpression key(QStringLiteral("^[a-z][A-Za-z0-9]*(\\.[A-Za-z0-9]+)+$"));
  return key.match(text).hasMatch();
}

class ConfigurationPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Fonts::registerBundled(); }

  void SetUp() override {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "runs under the rig";
    QDir(XdgAutostartFolder()).removeRecursively();
    QFile::remove(XdgAutostartFolder());
  }

  void TearDown() override {
    page.reset();
    QDir(XdgAutostartFolder()).removeRecursively();
    QFile::remove(XdgAutostartFolder());
  }

  static QString XdgAutostartFolder() { return platform::XdgAutostartLoginItem::defaultFolder(); }

  // The services on the session rig's defaults, the hotkeys registered on the X server.
  void startServices() {
    hotKeys = std::make_unique<HotKeyService>(rig.defaults, tap);
    hotKeys->onSessionChanged = [this](bool started, const HotKeyService::Session& session) {
      if (started && session == HotKeyService::Session::dictation()) ++dictationStarts;
    };
    hotKeys->onChangeMode = [this] { ++changeModePresses; };
    hotKeys->reloadRegistrations();
    app = std::make_unique<AppState>(AppState::Parts{
        rig.defaults, rig.modes, rig.dictionary, rig.engine, processor, rig.session, *hotKeys, rig.diag, {}, {}, {}});
    devices = std::make_unique<AudioDeviceManager>(rig.defaults, microphone, pulse);
  }

  // The page in a window of its own, tall enough to show every card, with the keyboard focus.
  void openPage() {
    if (!hotKeys) startServices();
    host = std::make_unique<PageHost>();
    page = std::make_unique<ConfigurationPage>(
        ConfigurationPage::Services{*hotKeys, *app, *devices, loginItem, recorderClock}, host.get());
    auto* layout = new QVBoxLayout(host.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page.get());
    host->resize(640, 1040);
    // Away from the corner where windows of other display tests appear.
    host->move(1260, 0);
    host->show();
    host->activateWindow();
    ASSERT_TRUE(waitUntil([&] { return host->isActiveWindow(); }));
  }

  // A real click in the middle of a widget, scrolled into view first.
  void click(QWidget* widget) {
    if (auto* scroll = page->findChild<QScrollArea*>()) scroll->ensureWidgetVisible(widget, 0, 40);
    // Windows of tests running beside this one may cover ours.
    widget->window()->raise();
    turn();
    const QPoint at = widget->mapToGlobal(widget->rect().center());
    ASSERT_TRUE(xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                         QStringLiteral("click"), QStringLiteral("1")}));
  }

  // Types keys into the page's window, taking the focus back first when
  // another window took it.
  void keys(const QString& combo) {
    if (!host->isActiveWindow()) {
      host->raise();
      host->activateWindow();
      ASSERT_TRUE(waitUntil([&] { return host->isActiveWindow(); }));
    }
    ASSERT_TRUE(xdotool({QStringLiteral("key"), combo}));
  }
  // Types keys into whatever window has the focus (the paste target).
  static void keysElsewhere(const QString& combo) { ASSERT_TRUE(xdotool({QStringLiteral("key"), combo})); }

  QString stored(const char* key) const {
    return rig.defaults.stringValue(QString::fromLatin1(key)).value_or(QString());
  }

  QString pill(HotkeyBindingRow* row) const { return row->rebindButton()->text(); }

  SessionRig rig;
  TranscriptProcessor processor{[](QString text, QString) -> QCoro::Task<QString> { co_return text; },
                                [this] { return rig.dictionary.entries(); }};
  X11KeyEventTap tap;
  FakeClock recorderClock;
  MicrophoneAlways microphone;
  CountingLoginItem loginItem;
  platform::PulseAudio pulse;  // the rig's server, behind the device manager
  std::unique_ptr<HotKeyService> hotKeys;
  std::unique_ptr<AppState> app;
  std::unique_ptr<AudioDeviceManager> devices;
  std::unique_ptr<PageHost> host;
  std::unique_ptr<ConfigurationPage> page;
  int dictationStarts = 0;
  int changeModePresses = 0;
};

}  // namespace

TEST_F(ConfigurationPageTest, BehaviourTogglesShowAndWriteTheFlags) {
  openPage();
  struct Row {
    const char* key;
    EditorialToggleButton* toggle;
    bool freshValue;
    std::function<bool(const DictationSessionPreferences&)> preference;
  };
  const Row rows[] = {
      {"showHud", page->showHudToggle(), true, [](const auto& p) { return p.showHud; }},
      {"soundCuesEnabled", page->soundCuesToggle(), true, [](const auto& p) { return p.soundCuesEnabled; }},
      {"pauseMediaWhileRecording", page->pauseMediaToggle(), false,
       [](const auto& p) { return p.pauseMediaWhileRecording; }},
      {"restoreClipboard", page->restoreClipboardToggle(), false, [](const auto& p) { return p.restoreClipboard; }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    EXPECT_EQ(row.toggle->isOn(), row.freshValue);
    click(row.toggle);
    ASSERT_TRUE(waitUntil([&] { return row.toggle->isOn() != row.freshValue; }));
    EXPECT_EQ(rig.defaults.value(QString::fromLatin1(row.key)), QVariant(!row.freshValue));
    EXPECT_EQ(row.preference(app->sessionPreferences()), !row.freshValue);
    // A change made elsewhere moves the switch.
    app->setProperty(row.key, row.freshValue);
    EXPECT_EQ(row.toggle->isOn(), row.freshValue);
  }
}

TEST_F(ConfigurationPageTest, ActivationModePickerFollowsAndWritesTheService) {
  openPage();
  ActivationModePicker* picker = page->activationModePicker();
  EXPECT_EQ(picker->headingLabel()->text(), QStringLiteral("ACTIVATION MODE"));
  EXPECT_EQ(picker->captionLabel()->text(), QStringLiteral("short press toggles, long press is push-to-talk."));
  QStringList labels;
  for (QAbstractButton* segment : picker->segments()) labels << segment->text();
  EXPECT_EQ(labels, (QStringList{"AUTO", "TOGGLE", "HOLD"}));

  click(picker->segment(ActivationMode::toggle));
  ASSERT_TRUE(waitUntil([&] { return hotKeys->activationMode() == ActivationMode::toggle; }));
  EXPECT_EQ(stored("activationMode"), QStringLiteral("toggle"));
  EXPECT_EQ(picker->captionLabel()->text(), QStringLiteral("press once to start, press again to stop."));
  ASSERT_TRUE(
      waitUntil([&] { return picker->capsuleRect() == QRectF(picker->segment(ActivationMode::toggle)->geometry()); }));

  // The chosen segment stores its mode again.
  rig.defaults.remove(QStringLiteral("activationMode"));
  click(picker->segment(ActivationMode::toggle));
  ASSERT_TRUE(waitUntil([&] { return rig.defaults.contains(QStringLiteral("activationMode")); }));
  EXPECT_EQ(stored("activationMode"), QStringLiteral("toggle"));

  // A change through the service moves the capsule and the caption.
  hotKeys->setActivationMode(ActivationMode::holdToActivate);
  EXPECT_EQ(picker->selection(), ActivationMode::holdToActivate);
  EXPECT_EQ(picker->captionLabel()->text(), QStringLiteral("hold to record, release to stop."));
  ASSERT_TRUE(waitUntil(
      [&] { return picker->capsuleRect() == QRectF(picker->segment(ActivationMode::holdToActivate)->geometry()); }));
}

// Nothing stored: "no hotkey" and REBIND, never a combination nothing registers.
TEST_F(ConfigurationPageTest, RebindingTheDictationHotkeyFromTheKeyboard) {
  openPage();
  HotkeyBindingRow* row = page->dictationRow();
  EXPECT_TRUE(row->noHotkeyLabel()->isVisible());
  EXPECT_EQ(row->noHotkeyLabel()->text(), QStringLiteral("no hotkey"));
  EXPECT_TRUE(row->keycapLabels().isEmpty());
  EXPECT_FALSE(row->clearButton()->isVisible());
  EXPECT_EQ(pill(row), QStringLiteral("REBIND"));

  click(row->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return page->recorder().isRecording(); }));
  EXPECT_EQ(pill(row), QStringLiteral("LISTENING…"));
  EXPECT_TRUE(page->dictationFrame()->isListening());
  EXPECT_TRUE(hotKeys->isPaused());
  // A second press while listening starts nothing new.
  click(row->rebindButton());
  turn();
  EXPECT_TRUE(page->recorder().isRecording());

  keys(QStringLiteral("ctrl+alt+d"));
  ASSERT_TRUE(waitUntil([&] { return !page->recorder().isRecording(); }));
  EXPECT_EQ(stored("hotKeyCombo"), kCtrlAltD.rawValue());
  EXPECT_EQ(hotKeys->currentCombo(), kCtrlAltD);
  EXPECT_FALSE(hotKeys->isPaused());
  EXPECT_EQ(row->keycapLabels(), (QStringList{"L Ctrl", "L Alt", "D"}));
  EXPECT_EQ(pill(row), QStringLiteral("REBIND"));
  EXPECT_FALSE(row->clearButton()->isVisible());  // no CLEAR for the dictation hotkey

  // The new hotkey starts dictation and never reaches the focused window.
  PasteTarget target;
  ASSERT_TRUE(target.isReady());
  keysElsewhere(QStringLiteral("ctrl+alt+d"));
  keysElsewhere(QStringLiteral("a"));
  ASSERT_TRUE(target.waitForSuffix(QStringLiteral("a")));
  EXPECT_EQ(target.text(), QStringLiteral("a"));
  ASSERT_TRUE(waitUntil([&] { return dictationStarts == 1; }));
}

TEST_F(ConfigurationPageTest, ChangeModeClashEscapeAndTimeout) {
  rig.defaults.setValue(QStringLiteral("hotKeyCombo"), kCtrlAltD.rawValue());
  openPage();
  HotkeyBindingRow* row = page->changeModeRow();
  EXPECT_EQ(row->keycapLabels(), (QStringList{"Alt", "Shift", "␣ SPACE"}));
  EXPECT_TRUE(row->clearButton()->isVisible());
  const QString before = stored("changeModeCombo");
  EXPECT_EQ(before, kAltShiftSpace.rawValue());

  // The dictation hotkey's combination is refused with the notice under CHANGE MODE.
  click(row->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return page->changeModeRecorder().isRecording(); }));
  EXPECT_TRUE(page->changeModeFrame()->isListening());
  keys(QStringLiteral("ctrl+alt+d"));
  ASSERT_TRUE(waitUntil([&] { return !page->changeModeRecorder().isRecording(); }));
  EXPECT_TRUE(page->changeModeConflictNotice()->isVisible());
  EXPECT_EQ(page->changeModeConflictNotice()->textLabel()->text(), QStringLiteral("that shortcut is already in use."));
  EXPECT_FALSE(page->activationConflictNotice()->isVisible());
  EXPECT_EQ(stored("changeModeCombo"), before);
  EXPECT_EQ(hotKeys->changeModeCombo(), kAltShiftSpace);
  EXPECT_FALSE(hotKeys->isPaused());
  keys(QStringLiteral("alt+shift+space"));  // the old combination still fires
  ASSERT_TRUE(waitUntil([&] { return changeModePresses == 1; }));

  // Escape cancels; the next capture clears the notice.
  click(row->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return page->changeModeRecorder().isRecording(); }));
  EXPECT_FALSE(page->changeModeConflictNotice()->isVisible());
  keys(QStringLiteral("Escape"));
  ASSERT_TRUE(waitUntil([&] { return !page->changeModeRecorder().isRecording(); }));
  EXPECT_EQ(pill(row), QStringLiteral("REBIND"));
  EXPECT_EQ(hotKeys->changeModeCombo(), kAltShiftSpace);

  // The 5-second time-out returns to REBIND with no message.
  click(row->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return page->changeModeRecorder().isRecording(); }));
  recorderClock.advance(HotKeyRecorder::kTimeout);
  ASSERT_TRUE(waitUntil([&] { return !page->changeModeRecorder().isRecording(); }));
  EXPECT_TRUE(page->changeModeRecorder().didTimeout());
  EXPECT_EQ(pill(row), QStringLiteral("REBIND"));
  EXPECT_FALSE(page->changeModeConflictNotice()->isVisible());
  EXPECT_FALSE(page->changeModeFrame()->isListening());
  EXPECT_FALSE(hotKeys->isPaused());
}

TEST_F(ConfigurationPageTest, BothRecordersListenAtOnce) {
  rig.defaults.setValue(QStringLiteral("hotKeyCombo"), kCtrlAltD.rawValue());
  openPage();
  click(page->dictationRow()->rebindButton());
  click(page->changeModeRow()->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return page->recorder().isRecording() && page->changeModeRecorder().isRecording(); }));
  EXPECT_EQ(pill(page->dictationRow()), QStringLiteral("LISTENING…"));
  EXPECT_EQ(pill(page->changeModeRow()), QStringLiteral("LISTENING…"));

  // The capture that started last takes the keys; the service stays paused
  // until the other one ends too.
  keys(QStringLiteral("ctrl+alt+f"));
  ASSERT_TRUE(waitUntil([&] { return !page->changeModeRecorder().isRecording(); }));
  EXPECT_EQ(hotKeys->changeModeCombo(), kCtrlAltF);
  EXPECT_TRUE(page->recorder().isRecording());
  EXPECT_TRUE(hotKeys->isPaused());
  keys(QStringLiteral("Escape"));
  ASSERT_TRUE(waitUntil([&] { return !page->recorder().isRecording(); }));
  EXPECT_FALSE(hotKeys->isPaused());
  EXPECT_EQ(hotKeys->currentCombo(), kCtrlAltD);
}

// Another X client holds the change-mode combination: only its row says so,
// and the dictation hotkey stays registered.
TEST_F(ConfigurationPageTest, ATakenChangeModeCombinationMarksOnlyItsRow) {
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  XGrabKey(other, kXKeycodeSpace, ShiftMask | Mod1Mask, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
  XSync(other, False);
  rig.defaults.setValue(QStringLiteral("hotKeyCombo"), kCtrlAltD.rawValue());
  openPage();
  EXPECT_TRUE(hotKeys->isRegistered());
  EXPECT_FALSE(hotKeys->lastRegistrationError());
  EXPECT_EQ(hotKeys->refusedBindings(), QList<HotKeyBinding>{HotKeyBinding::changeMode()});
  EXPECT_EQ(pill(page->dictationRow()), QStringLiteral("REBIND"));
  EXPECT_EQ(pill(page->changeModeRow()), QStringLiteral("UNAVAILABLE — REBIND"));
  EXPECT_EQ(page->changeModeRow()->rebindButton()->tint(), DSColor::warning);
  EXPECT_FALSE(page->unavailableNotice()->isVisible());

  // The other program lets go; the next rebuild clears the row.
  XCloseDisplay(other);
  click(page->changeModeRow()->clearButton());
  ASSERT_TRUE(waitUntil([&] { return !hotKeys->changeModeCombo().has_value(); }));
  EXPECT_TRUE(hotKeys->refusedBindings().isEmpty());
  EXPECT_EQ(pill(page->changeModeRow()), QStringLiteral("REBIND"));
}

// Another X client grabs the dictation combination before us.
TEST_F(ConfigurationPageTest, ACombinationTheServerWontGrantIsUnavailable) {
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  XGrabKey(other, kXKeycodeD, ControlMask | Mod1Mask, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
  XSync(other, False);
  rig.defaults.setValue(QStringLiteral("hotKeyCombo"), kCtrlAltD.rawValue());
  openPage();
  ASSERT_EQ(hotKeys->lastRegistrationError(), HotKeyService::kRegistrationFailed);

  HotkeyBindingRow* row = page->dictationRow();
  EXPECT_TRUE(page->isDictationHotkeyUnavailable());
  EXPECT_EQ(pill(row), QStringLiteral("UNAVAILABLE — REBIND"));
  EXPECT_EQ(row->rebindButton()->tint(), DSColor::warning);
  EXPECT_TRUE(page->unavailableNotice()->isVisible());
  EXPECT_EQ(page->unavailableNotice()->textLabel()->text(),
            QStringLiteral("The desktop won't let us bind that shortcut. Try a different key or add Super / Ctrl."));
  EXPECT_EQ(page->unavailableNotice()->textLabel()->style().color, DSColor::warning);

  // Both are hidden while listening.
  click(row->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return page->recorder().isRecording(); }));
  EXPECT_EQ(pill(row), QStringLiteral("LISTENING…"));
  EXPECT_EQ(row->rebindButton()->tint(), DSColor::accent);
  EXPECT_FALSE(page->unavailableNotice()->isVisible());

  // A clash as well: only the unavailable text shows.
  keys(QStringLiteral("alt+shift+space"));
  ASSERT_TRUE(waitUntil([&] { return !page->recorder().isRecording(); }));
  EXPECT_TRUE(page->recorder().didConflict());
  EXPECT_TRUE(page->unavailableNotice()->isVisible());
  EXPECT_FALSE(page->activationConflictNotice()->isVisible());
  EXPECT_EQ(hotKeys->currentCombo(), kCtrlAltD);

  // A successful rebind ends it.
  click(row->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return page->recorder().isRecording(); }));
  keys(QStringLiteral("ctrl+alt+f"));
  ASSERT_TRUE(waitUntil([&] { return !page->recorder().isRecording(); }));
  EXPECT_EQ(hotKeys->currentCombo(), kCtrlAltF);
  EXPECT_FALSE(hotKeys->lastRegistrationError());
  EXPECT_FALSE(page->isDictationHotkeyUnavailable());
  EXPECT_EQ(pill(row), QStringLiteral("REBIND"));
  EXPECT_FALSE(page->unavailableNotice()->isVisible());
  EXPECT_FALSE(page->activationConflictNotice()->isVisible());
  XCloseDisplay(other);
}

TEST_F(ConfigurationPageTest, DictationClashShowsTheNoticeUnderActivation) {
  rig.defaults.setValue(QStringLiteral("hotKeyCombo"), kCtrlAltD.rawValue());
  openPage();
  click(page->dictationRow()->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return page->recorder().isRecording(); }));
  keys(QStringLiteral("alt+shift+space"));
  ASSERT_TRUE(waitUntil([&] { return !page->recorder().isRecording(); }));
  EXPECT_TRUE(page->activationConflictNotice()->isVisible());
  EXPECT_FALSE(page->unavailableNotice()->isVisible());
  EXPECT_FALSE(page->changeModeConflictNotice()->isVisible());
  EXPECT_EQ(stored("hotKeyCombo"), kCtrlAltD.rawValue());
}

TEST_F(ConfigurationPageTest, ClearingTheChangeModeHotkey) {
  openPage();
  HotkeyBindingRow* row = page->changeModeRow();
  click(row->clearButton());
  ASSERT_TRUE(waitUntil([&] { return !hotKeys->changeModeCombo(); }));
  EXPECT_TRUE(row->noHotkeyLabel()->isVisible());
  EXPECT_FALSE(row->clearButton()->isVisible());
  EXPECT_EQ(pill(row), QStringLiteral("REBIND"));
  EXPECT_FALSE(rig.defaults.contains(QStringLiteral("changeModeCombo")));

  // It no longer fires: the keys reach the focused window instead.
  PasteTarget target;
  ASSERT_TRUE(target.isReady());
  keysElsewhere(QStringLiteral("alt+shift+space"));
  keysElsewhere(QStringLiteral("b"));
  ASSERT_TRUE(target.waitForSuffix(QStringLiteral("b")));
  EXPECT_EQ(target.text(), QStringLiteral(" b"));
  EXPECT_EQ(changeModePresses, 0);

  // The next start falls back to the default combination.
  HotKeyService next(rig.defaults, tap);
  EXPECT_EQ(next.changeModeCombo(), kAltShiftSpace);
}

TEST_F(ConfigurationPageTest, APageClosedMidCaptureLeavesTheServiceRunning) {
  rig.defaults.setValue(QStringLiteral("hotKeyCombo"), kCtrlAltD.rawValue());
  openPage();
  click(page->dictationRow()->rebindButton());
  click(page->changeModeRow()->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return page->recorder().isRecording() && page->changeModeRecorder().isRecording(); }));
  ASSERT_TRUE(hotKeys->isPaused());
  page.reset();
  EXPECT_FALSE(hotKeys->isPaused());

  PasteTarget target;
  ASSERT_TRUE(target.isReady());
  keysElsewhere(QStringLiteral("ctrl+alt+d"));
  keysElsewhere(QStringLiteral("c"));
  ASSERT_TRUE(target.waitForSuffix(QStringLiteral("c")));
  EXPECT_EQ(target.text(), QStringLiteral("c"));
  ASSERT_TRUE(waitUntil([&] { return dictationStarts == 1; }));
}

TEST_F(ConfigurationPageTest, MicrophoneListFollowsPulseAudio) {
  if (!pulseAvailable()) GTEST_SKIP() << "needs the rig's PulseAudio";
  openPage();
  InputDevicePicker* picker = page->inputDevicePicker();
  const auto names = [&] {
    QStringList list;
    for (QAction* action : picker->menu()->actions()) list << action->text();
    return list;
  };
  const auto checked = [&] {
    QStringList list;
    for (QAction* action : picker->menu()->actions())
      if (!action->icon().isNull()) list << action->text();
    return list;
  };
  EXPECT_EQ(picker->currentName(), QStringLiteral("System Default"));
  ASSERT_FALSE(names().isEmpty());
  EXPECT_EQ(names().first(), QStringLiteral("System Default"));
  EXPECT_TRUE(names().contains(QStringLiteral("Murel-Test-Microphone")));
  for (const QString& name : names()) EXPECT_FALSE(name.startsWith(QStringLiteral("Monitor of"))) << name.toStdString();
  EXPECT_EQ(checked(), QStringList{QStringLiteral("System Default")});

  // Plugged in: listed without reopening anything.
  const QStringList plug{QStringLiteral("load-module"), QStringLiteral("module-null-source"),
                         QStringLiteral("source_name=cfg_plugged_mic"), QStringLiteral("description=Plugged-Mic")};
  std::optional<QString> module = pactl(plug);
  ASSERT_TRUE(module);
  ASSERT_TRUE(waitUntil([&] { return names().contains(QStringLiteral("Plugged-Mic")); }));

  // Chosen from the open menu with the pointer.
  click(picker);
  ASSERT_TRUE(waitUntil([&] { return picker->menu()->isVisible(); }));
  QAction* plugged = nullptr;
  for (QAction* action : picker->menu()->actions())
    if (action->text() == QStringLiteral("Plugged-Mic")) plugged = action;
  ASSERT_NE(plugged, nullptr);
  const QPoint at = picker->menu()->mapToGlobal(picker->menu()->actionGeometry(plugged).center());
  ASSERT_TRUE(xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                       QStringLiteral("click"), QStringLiteral("1")}));
  ASSERT_TRUE(waitUntil([&] { return stored("selectedAudioDeviceUID") == QStringLiteral("cfg_plugged_mic"); }));
  EXPECT_EQ(picker->currentName(), QStringLiteral("Plugged-Mic"));
  ASSERT_TRUE(waitUntil([&] { return checked() == QStringList{QStringLiteral("Plugged-Mic")}; }));

  // Unplugged: the system default shows and is checked, the choice is kept.
  pactl({QStringLiteral("unload-module"), *module});
  ASSERT_TRUE(waitUntil([&] { return !names().contains(QStringLiteral("Plugged-Mic")); }));
  EXPECT_EQ(picker->currentName(), QStringLiteral("System Default"));
  ASSERT_TRUE(waitUntil([&] { return checked() == QStringList{QStringLiteral("System Default")}; }));
  EXPECT_EQ(stored("selectedAudioDeviceUID"), QStringLiteral("cfg_plugged_mic"));

  // Back again: selected again.
  module = pactl(plug);
  ASSERT_TRUE(module);
  ASSERT_TRUE(waitUntil([&] { return picker->currentName() == QStringLiteral("Plugged-Mic"); }));
  ASSERT_TRUE(waitUntil([&] { return checked() == QStringList{QStringLiteral("Plugged-Mic")}; }));
  pactl({QStringLiteral("unload-module"), *module});
}

TEST_F(ConfigurationPageTest, LaunchAtLoginWritesAndRemovesTheAutostartEntry) {
  openPage();
  EditorialToggleButton* toggle = page->launchAtLoginToggle();
  EXPECT_FALSE(toggle->isOn());
  click(toggle);
  ASSERT_TRUE(waitUntil([&] { return loginItem.registers == 1; }));
  EXPECT_TRUE(toggle->isOn());
  EXPECT_TRUE(QFile::exists(loginItem.path()));
  click(toggle);
  ASSERT_TRUE(waitUntil([&] { return loginItem.unregisters == 1; }));
  EXPECT_FALSE(toggle->isOn());
  EXPECT_FALSE(QFile::exists(loginItem.path()));

  // An entry the user has hidden reads off; showing the page again reads it
  // anew and never writes or removes anything.
  QDir().mkpath(XdgAutostartFolder());
  QFile hidden(loginItem.path());
  ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
  hidden.write("[Desktop Entry]\nType=Application\nExec=murel\nHidden=true\n");
  hidden.close();
  page->hide();
  page->show();
  turn();
  EXPECT_FALSE(toggle->isOn());
  ASSERT_TRUE(loginItem.real.registerItem());
  page->hide();
  page->show();
  turn();
  EXPECT_TRUE(toggle->isOn());
  EXPECT_EQ(loginItem.registers, 1);
  EXPECT_EQ(loginItem.unregisters, 1);
}

TEST_F(ConfigurationPageTest, ARefusedLoginItemCallSpringsBackAfterOneAttempt) {
  // "autostart" is a file: no entry can be written.
  QFile blocker(XdgAutostartFolder());
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  openPage();
  EditorialToggleButton* toggle = page->launchAtLoginToggle();
  click(toggle);
  ASSERT_TRUE(waitUntil([&] { return loginItem.registers == 1; }));
  turn();
  EXPECT_FALSE(toggle->isOn());
  EXPECT_EQ(loginItem.registers, 1);
  EXPECT_EQ(loginItem.unregisters, 0);
  ASSERT_EQ(shownAlerts().size(), 1) << "the refusal says why";
  EXPECT_TRUE(shownAlerts()[0].contains(QStringLiteral("cannot create the folder"))) << shownAlerts()[0].toStdString();
  closeAlerts();
  QFile::remove(XdgAutostartFolder());

  // A removal that fails puts the switch back on, after exactly one call, and says so.
  ASSERT_TRUE(loginItem.real.registerItem());
  page->hide();
  page->show();
  turn();
  ASSERT_TRUE(toggle->isOn());
  loginItem.failUnregister = true;
  click(toggle);
  ASSERT_TRUE(waitUntil([&] { return loginItem.unregisters == 1; }));
  turn();
  EXPECT_TRUE(toggle->isOn());
  EXPECT_EQ(loginItem.unregisters, 1);
  EXPECT_EQ(loginItem.registers, 1);
  EXPECT_TRUE(QFile::exists(loginItem.path()));
  const QStringList alerts = shownAlerts();
  ASSERT_EQ(alerts.size(), 1);
  EXPECT_TRUE(alerts[0].startsWith(QStringLiteral("The start at login couldn't be changed")))
      << alerts[0].toStdString();
  closeAlerts();
}

// Pictures of every hotkey state in both appearances, in build/settings-screenshots/.
TEST_F(ConfigurationPageTest, ScreenshotsOfEveryStateWithNoRawKeys) {
  const QString folder = buildDir() + QStringLiteral("/settings-screenshots");
  ASSERT_TRUE(QDir().mkpath(folder));
  // Held by another client from the start, for the unavailable state.
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  XGrabKey(other, kXKeycodeG, ControlMask | Mod1Mask, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
  XSync(other, False);
  const auto shoot = [&](const QString& state) {
    for (Scheme scheme : {Scheme::Light, Scheme::Dark}) {
      Appearance::setOverride(host.get(), scheme);
      turn();
      QTest::qWait(250);  // animations at rest
      const QString file =
          QStringLiteral("%1/configuration-%2-%3.png")
              .arg(folder, state, scheme == Scheme::Light ? QStringLiteral("light") : QStringLiteral("dark"));
      EXPECT_TRUE(host->grab().save(file)) << file.toStdString();
    }
    for (TextLabel* label : page->findChildren<TextLabel*>())
      if (label->isVisible()) EXPECT_FALSE(looksLikeKey(label->text())) << label->text().toStdString();
    for (QAbstractButton* button : page->findChildren<QAbstractButton*>())
      if (button->isVisible()) EXPECT_FALSE(looksLikeKey(button->text())) << button->text().toStdString();
    for (QAction* action : page->inputDevicePicker()->menu()->actions())
      EXPECT_FALSE(looksLikeKey(action->text())) << action->text().toStdString();
  };

  openPage();
  host->resize(640, 1320);  // every card in the picture
  shoot(QStringLiteral("no-hotkey"));
  page.reset();

  rig.defaults.setValue(QStringLiteral("hotKeyCombo"), kCtrlAltD.rawValue());
  hotKeys->setCurrentCombo(kCtrlAltD);
  hotKeys->reloadRegistrations();
  openPage();
  host->resize(640, 1320);
  shoot(QStringLiteral("default"));

  click(page->dictationRow()->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return page->recorder().isRecording(); }));
  shoot(QStringLiteral("listening"));

  Appearance::setOverride(host.get(), std::nullopt);
  keys(QStringLiteral("alt+shift+space"));
  ASSERT_TRUE(waitUntil([&] { return page->activationConflictNotice()->isVisible(); }));
  click(page->changeModeRow()->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return page->changeModeRecorder().isRecording(); }));
  keys(QStringLiteral("ctrl+alt+d"));
  ASSERT_TRUE(waitUntil([&] { return page->changeModeConflictNotice()->isVisible(); }));
  shoot(QStringLiteral("conflict"));

  hotKeys->setCurrentCombo(kCtrlAltG);
  hotKeys->reloadRegistrations();
  ASSERT_TRUE(page->isDictationHotkeyUnavailable());
  shoot(QStringLiteral("unavailable"));
  page.reset();
  XCloseDisplay(other);
}
