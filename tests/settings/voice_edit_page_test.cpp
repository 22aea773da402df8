// The voice-edit page in a real settings window on the rig's display: the
// switch against a sparse language-model file, the voice-edit hotkey recorded
// from the X keyboard (xdotool) and grabbed by the real X11 key tap only while
// voice edit is on.
#include "design/EditorialComponents.h"
#include "design/HotkeyComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "hotkeys/HotKeyRecorder.h"
#include "hotkeys/HotKeyService.h"
#include "platform/x11/X11KeyEventTap.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "settings/VoiceEditSettingsView.h"
#include "speech/LanguageModelFile.h"
#include "support/FakeClock.h"
#include "support/PasteTarget.h"
#include "support/SettingsWindowRig.h"
#include "support/TestEnv.h"
#include "text/ModeStore.h"
#include "text/VoiceEditPreferences.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using M = KeyModifiers;
using Scheme = Appearance::Scheme;

namespace {

const KeyCombo kCtrlAltD(Key::d, M::leftControl | M::leftOption);
const KeyCombo kCtrlAltV(Key::v, M::leftControl | M::leftOption);
const KeyCombo kCtrlAltJ(Key::j, M::leftControl | M::leftOption);

void writeModelFile(qint64 size) {
  QDir().mkpath(gemmaModelDirectory());
  QFile file(gemmaModelPath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_TRUE(file.resize(size));  // sparse: no disk space taken
}

void removeModelFile() { QFile::remove(gemmaModelPath()); }

class VoiceEditPage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(installTranslations(*QCoreApplication::instance()));
    Fonts::registerBundled();
  }

  void SetUp() override {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "runs under the rig";
    removeModelFile();
    hotKeys.onSessionChanged = [this](bool started, const HotKeyService::Session& session) {
      if (started && session == HotKeyService::Session::commandEdit()) ++voiceEditStarts;
    };
    pages.set(SettingsTab::voiceEdit, [this](const SettingsPageContext& context, QWidget* parent) -> QWidget* {
      return new VoiceEditSettingsView(
          VoiceEditSettingsView::Services{voiceEdit, hotKeys, context.navigator, recorderClock}, parent);
    });
  }

  void TearDown() override {
    window.reset();
    removeModelFile();
  }

  void openWindow() {
    hotKeys.reloadRegistrations();
    window = std::make_unique<SettingsWindowRig>(SettingsTab::voiceEdit, pages);
    focusWindow();
  }

  void focusWindow() {
    QWidget& top = window->window();
    top.raise();
    top.activateWindow();
    if (waitUntil([&] { return top.isActiveWindow(); }, std::chrono::seconds(1))) return;
    // After another client had the focus, a request stamped with our last
    // event's time can be refused: set it outright.
    ASSERT_TRUE(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(top.winId())}));
    ASSERT_TRUE(waitUntil([&] { return top.isActiveWindow(); }));
  }

  VoiceEditSettingsView* page() { return qobject_cast<VoiceEditSettingsView*>(window->view().currentPage()); }

  void click(QWidget* widget) {
    window->window().raise();
    settle(20);
    ASSERT_TRUE(clickCentre(widget));
  }

  void keys(const QString& combo) {
    if (!window->window().isActiveWindow()) focusWindow();
    ASSERT_TRUE(xdotool({QStringLiteral("key"), combo}));
  }

  // Whether the voice-edit combination is caught: it is typed into a window of
  // its own, followed by a plain key; when the plain key has arrived the
  // combination has been caught or let through.
  bool voiceEditKeysCaught() {
    const int before = voiceEditStarts;
    PasteTarget target;
    if (!target.isReady()) return false;
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+v")});
    xdotool({QStringLiteral("key"), QStringLiteral("b")});
    if (!target.waitForSuffix(QStringLiteral("b"))) return false;
    settle(100);
    hotKeys.resetSession();
    return voiceEditStarts > before;
  }

  void setCombo(const KeyCombo& combo) {
    hotKeys.setCommandEditCombo(combo);
    hotKeys.reloadRegistrations();
  }

  void shoot(const QString& name) {
    for (Scheme scheme : {Scheme::Light, Scheme::Dark}) settingsScreenshot(window->window(), name, scheme);
    const QStringList texts = visibleTexts(&window->window());
    EXPECT_TRUE(rawKeysAmong(texts).isEmpty()) << texts.join(QStringLiteral(" | ")).toStdString();
  }

  QString dir = freshDir(QStringLiteral("voice-edit-page"));
  UserDefaults defaults{dir + QStringLiteral("/defaults.json")};
  ModeStore store{defaults};
  VoiceEditPreferences voiceEdit{defaults};
  X11KeyEventTap tap;
  HotKeyService hotKeys{defaults, tap,
                        HotKeyService::UserData{[this] {
                                                  QList<HotKeyService::ModeHotKey> list;
                                                  for (const Mode& m : store.modes()) list.append({m.id, m.hotkey});
                                                  return list;
                                                },
                                                [this] { return voiceEdit.isEnabled(); }}};
  FakeClock recorderClock;
  SettingsPages pages;
  std::unique_ptr<SettingsWindowRig> window;
  int voiceEditStarts = 0;
};

}  // namespace

TEST_F(VoiceEditPage, TheSwitchNeedsTheExactModelFile) {
  setCombo(kCtrlAltV);
  openWindow();
  VoiceEditSettingsView* view = page();
  ASSERT_TRUE(view);
  EXPECT_FALSE(view->enableToggle()->isOn());
  EXPECT_FALSE(view->modelNotice()->isVisible());
  const QStringList texts = visibleTexts(view);
  for (const char* text : {"Voice Edit", "FEATURE", "Enable Voice Edit", "HOTKEY", "REBIND",
                           "allow Murel to read selected text when you use the Voice Edit shortcut.",
                           "select text in any app, start the shortcut and say how to change it, then stop recording. "
                           "Make it shorter, friendlier, or translate it—Murel rewrites your selection in place."})
    EXPECT_TRUE(texts.contains(QString::fromUtf8(text))) << text;
  // Off: the stored combination is shown but not caught.
  EXPECT_EQ(view->hotkeyRow()->keycapLabels(), (QStringList{"L Ctrl", "L Alt", "V"}));
  EXPECT_DOUBLE_EQ(view->hotkeySectionOpacity(), 0.5);
  EXPECT_FALSE(voiceEditKeysCaught());

  const qint64 exact = kGemmaModelSizeBytes;
  for (std::optional<qint64> size :
       {std::optional<qint64>(), std::optional<qint64>(exact - 1), std::optional<qint64>(exact + 1)}) {
    SCOPED_TRACE(size.value_or(-1));
    removeModelFile();
    if (size) writeModelFile(*size);
    focusWindow();
    click(view->enableToggle());
    ASSERT_TRUE(waitUntil([&] { return view->modelNotice()->isVisible(); }));
    settle(200);
    EXPECT_FALSE(view->enableToggle()->isOn());
    EXPECT_FALSE(voiceEdit.isEnabled());
    EXPECT_FALSE(defaults.contains(QStringLiteral("voiceEditEnabled")));
    EXPECT_TRUE(visibleTexts(view).contains(QStringLiteral("Download the transformation model first")));
    EXPECT_TRUE(visibleTexts(view).contains(
        QStringLiteral("Voice Edit needs the transformation model to rewrite selected text on this computer.")));
  }
  shoot(QStringLiteral("voice-edit-off-notice"));
  EXPECT_FALSE(voiceEditKeysCaught()) << "the grabs are unchanged";

  // The exact size: stored on and grabbed at once.
  writeModelFile(exact);
  focusWindow();
  click(view->enableToggle());
  ASSERT_TRUE(waitUntil([&] { return voiceEdit.isEnabled(); }));
  EXPECT_EQ(defaults.value(QStringLiteral("voiceEditEnabled")), QVariant(true));
  EXPECT_TRUE(view->enableToggle()->isOn());
  EXPECT_TRUE(view->modelNotice()->isVisible()) << "only Go to Models hides it";
  EXPECT_DOUBLE_EQ(view->hotkeySectionOpacity(), 1.0);
  EXPECT_TRUE(voiceEditKeysCaught());

  // Off always works, model or not, and lets the keys through again.
  removeModelFile();
  focusWindow();
  click(view->enableToggle());
  ASSERT_TRUE(waitUntil([&] { return !voiceEdit.isEnabled(); }));
  EXPECT_EQ(defaults.value(QStringLiteral("voiceEditEnabled")), QVariant(false));
  EXPECT_FALSE(voiceEditKeysCaught());
}

TEST_F(VoiceEditPage, GoToModelsHidesTheNoticeAndShowsModels) {
  openWindow();
  click(page()->enableToggle());
  ASSERT_TRUE(waitUntil([&] { return page()->modelNotice()->isVisible(); }));
  VoiceEditSettingsView* view = page();
  EXPECT_EQ(view->modelsButton()->text(), QStringLiteral("Go to Models"));
  click(view->modelsButton());
  ASSERT_TRUE(waitUntil([&] { return window->view().currentTab() == SettingsTab::models; }));
  EXPECT_EQ(window->navigator().selectedTab(), SettingsTab::models);
  EXPECT_FALSE(defaults.contains(QStringLiteral("voiceEditEnabled")));
  window->show(SettingsTab::voiceEdit);
  EXPECT_FALSE(page()->modelNotice()->isVisible());

  // The notice is hidden before the page goes.
  view = page();
  view->setVoiceEditEnabled(true);
  ASSERT_TRUE(view->showModelRequired());
  view->openModelsPage();
  EXPECT_FALSE(view->showModelRequired());
  EXPECT_EQ(window->navigator().selectedTab(), SettingsTab::models);
}

TEST_F(VoiceEditPage, WhileOffTheHotkeyCardIgnoresClicks) {
  setCombo(kCtrlAltV);
  openWindow();
  VoiceEditSettingsView* view = page();
  ASSERT_FALSE(voiceEdit.isEnabled());
  EXPECT_DOUBLE_EQ(view->hotkeySectionOpacity(), 0.5);
  click(view->hotkeyRow()->rebindButton());
  settle(100);
  EXPECT_FALSE(view->recorder().isRecording());
  EXPECT_FALSE(hotKeys.isPaused());
  click(view->hotkeyRow()->clearButton());
  settle(100);
  EXPECT_EQ(hotKeys.commandEditCombo(), kCtrlAltV);
  EXPECT_TRUE(defaults.contains(QStringLiteral("commandEditCombo")));
  // Nor from the keyboard (a focused pill pressed with Space).
  view->hotkeyRow()->rebindButton()->click();
  view->hotkeyRow()->clearButton()->click();
  EXPECT_FALSE(view->recorder().isRecording());
  EXPECT_EQ(hotKeys.commandEditCombo(), kCtrlAltV);
}

TEST_F(VoiceEditPage, RebindConflictClearAndListening) {
  defaults.setValue(QStringLiteral("hotKeyCombo"), kCtrlAltD.rawValue());
  hotKeys.setCurrentCombo(kCtrlAltD);
  writeModelFile(kGemmaModelSizeBytes);
  voiceEdit.setEnabled(true);
  openWindow();
  VoiceEditSettingsView* view = page();
  HotkeyBindingRow* row = view->hotkeyRow();
  EXPECT_TRUE(row->noHotkeyLabel()->isVisible());
  EXPECT_EQ(row->noHotkeyLabel()->text(), QStringLiteral("no hotkey"));
  EXPECT_FALSE(row->clearButton()->isVisible());

  // A taken combination: the notice, nothing stored.
  click(row->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return view->recorder().isRecording(); }));
  EXPECT_EQ(row->rebindButton()->text(), QStringLiteral("LISTENING…"));
  EXPECT_TRUE(view->hotkeyFrame()->isListening());
  // REBIND while listening does nothing.
  click(row->rebindButton());
  EXPECT_TRUE(view->recorder().isRecording());
  keys(QStringLiteral("ctrl+alt+d"));
  ASSERT_TRUE(waitUntil([&] { return !view->recorder().isRecording(); }));
  EXPECT_TRUE(view->conflictNotice()->isVisible());
  EXPECT_EQ(view->conflictNotice()->textLabel()->text(), QStringLiteral("that shortcut is already in use."));
  EXPECT_FALSE(hotKeys.commandEditCombo());
  EXPECT_FALSE(defaults.contains(QStringLiteral("commandEditCombo")));
  EXPECT_FALSE(hotKeys.isPaused());

  // A free one: stored and caught at once; the next REBIND cleared the notice.
  click(row->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return view->recorder().isRecording(); }));
  EXPECT_FALSE(view->conflictNotice()->isVisible());
  keys(QStringLiteral("ctrl+alt+v"));
  ASSERT_TRUE(waitUntil([&] { return !view->recorder().isRecording(); }));
  EXPECT_EQ(hotKeys.commandEditCombo(), kCtrlAltV);
  EXPECT_EQ(defaults.stringValue(QStringLiteral("commandEditCombo")), kCtrlAltV.rawValue());
  EXPECT_EQ(row->keycapLabels(), (QStringList{"L Ctrl", "L Alt", "V"}));
  shoot(QStringLiteral("voice-edit-on"));
  EXPECT_TRUE(voiceEditKeysCaught());

  // CLEAR removes the stored key and the grab.
  focusWindow();
  click(row->clearButton());
  ASSERT_TRUE(waitUntil([&] { return !hotKeys.commandEditCombo(); }));
  EXPECT_FALSE(defaults.contains(QStringLiteral("commandEditCombo")));
  EXPECT_TRUE(row->noHotkeyLabel()->isVisible());
  EXPECT_FALSE(voiceEditKeysCaught());
  // With nothing set the key is removed all the same.
  defaults.setValue(QStringLiteral("commandEditCombo"), QStringLiteral("garbage"));
  view->clearVoiceEditHotkey();
  EXPECT_FALSE(defaults.contains(QStringLiteral("commandEditCombo")));
}

TEST_F(VoiceEditPage, LeavingThePageMidCaptureUnpausesTheService) {
  writeModelFile(kGemmaModelSizeBytes);
  voiceEdit.setEnabled(true);
  setCombo(kCtrlAltV);
  openWindow();
  click(page()->hotkeyRow()->rebindButton());
  ASSERT_TRUE(waitUntil([&] { return hotKeys.isPaused(); }));
  shoot(QStringLiteral("voice-edit-listening"));
  window->show(SettingsTab::dashboard);
  EXPECT_FALSE(hotKeys.isPaused());
  EXPECT_TRUE(voiceEditKeysCaught());
}
