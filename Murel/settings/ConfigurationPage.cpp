#include "settings/ConfigurationPage.h"

#include "app/AppState.h"
#include "app/FilePanels.h"
#include "audio/AudioDeviceManager.h"
#include "design/EditorialComponents.h"
#include "design/HotkeyComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "hotkeys/HotKeyRecorder.h"
#include "hotkeys/HotKeyService.h"
#include "platform/xdg/LoginItem.h"
#include "runtime/DiagLog.h"
#include "settings/InputDevicePicker.h"

#include <QEvent>
#include <QVBoxLayout>

namespace murel {

namespace {

constexpr int kCardGap = 24;

QWidget* gap(QWidget* parent) {
  auto* spacer = new QWidget(parent);
  spacer->setFixedHeight(kCardGap);
  return spacer;
}

// A card child inset like every row of the settings cards.
QWidget* inset(QWidget* content, QWidget* parent) {
  auto* box = new QWidget(parent);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(20, 16, 20, 16);
  layout->setSpacing(0);
  content->setParent(box);
  layout->addWidget(content);
  return box;
}

bool launchesAtLogin(platform::LoginItem& item) { return item.status() == platform::LoginItem::Status::enabled; }

}  // namespace

ConfigurationPage::ConfigurationPage(Services services, QWidget* parent) : QWidget(parent), s_(services) {
  HotKeyService& hotKeys = s_.hotKeys;
  recorder_ = new HotKeyRecorder(hotKeys, HotKeyRecorder::Target::toggleRecording, s_.clock, this);
  changeModeRecorder_ = new HotKeyRecorder(hotKeys, HotKeyRecorder::Target::changeMode, s_.clock, this);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* page = new SettingsPageLayout(this);
  outer->addWidget(page);
  QWidget* column = page->column();

  //% "Configuration"
  //: Page header title for the Configuration settings pane.
  page->addContent(new SettingsCompactHeader(qtTrId("settings.configuration.title"), column));

  // Activation: the dictation hotkey and how it acts.
  //% "ACTIVATION"
  //: Card label above the dictation hotkey and the activation mode.
  auto* activation = new SettingsCardSection(qtTrId("settings.configuration.section.activation"), column);
  dictationRow_ = new HotkeyBindingRow(hotKeys.currentCombo(), false);
  dictationRow_->setClearable(false);  // the dictation hotkey can be replaced, not removed
  dictationFrame_ = new ListeningRowFrame(dictationRow_, activation);
  activation->addRow(dictationFrame_);
  activationPicker_ = new ActivationModePicker(hotKeys.activationMode());
  activation->addRow(inset(activationPicker_, activation));
  page->addContent(activation);
  //% "The desktop won't let us bind that shortcut. Try a different key or add Super / Ctrl."
  //: Shown under the activation card when the dictation hotkey cannot be registered (another program holds it, or there is no X display).
  unavailableNotice_ = new InlineWarning(qtTrId("hotkey.registrationFailed.helper"), column);
  page->addContent(unavailableNotice_);
  activationConflict_ = new HotkeyConflictNotice(column);
  page->addContent(activationConflict_);
  page->addContent(gap(column));

  // Change mode.
  //% "CHANGE MODE"
  //: Card label above the hotkey that opens the mode switcher.
  auto* changeMode = new SettingsCardSection(qtTrId("settings.configuration.section.changeMode"), column);
  changeModeRow_ = new HotkeyBindingRow(hotKeys.changeModeCombo(), false);
  changeModeFrame_ = new ListeningRowFrame(changeModeRow_, changeMode);
  changeMode->addRow(changeModeFrame_);
  page->addContent(changeMode);
  changeModeConflict_ = new HotkeyConflictNotice(column);
  page->addContent(changeModeConflict_);
  page->addContent(gap(column));

  // Input device.
  //% "INPUT DEVICE"
  //: Card label above the microphone choice.
  auto* input = new SettingsCardSection(qtTrId("settings.configuration.section.inputDevice"), column);
  inputPicker_ = new InputDevicePicker(s_.audioDevices);
  //% "Microphone"
  //: Row label of the microphone choice.
  input->addRow(new SettingsRow(qtTrId("settings.configuration.input.label"),
                                //% "choose which input Murel listens to."
                                //: Row description of the microphone choice.
                                qtTrId("settings.configuration.input.description"), false, inputPicker_, input));
  page->addContent(input);
  page->addContent(gap(column));

  // Recording and clipboard behaviour.
  AppState& app = s_.appState;
  const auto toggleRow = [](SettingsCardSection* card, const QString& label, const QString& description,
                            EditorialToggleButton* toggle) {
    card->addRow(new SettingsRow(label, description, false, toggle, card));
  };
  //% "RECORDING"
  //: Card label above the recording behaviour switches.
  auto* recording = new SettingsCardSection(qtTrId("settings.configuration.section.recording"), column);
  showHud_ = new EditorialToggleButton(app.showHud());
  soundCues_ = new EditorialToggleButton(app.soundCuesEnabled());
  pauseMedia_ = new EditorialToggleButton(app.pauseMediaWhileRecording());
  //% "Show HUD overlay"
  //: Row label of the switch for the recording overlay.
  toggleRow(recording, qtTrId("settings.general.hud.show.label"),
            //% "a quiet visual indicator while recording."
            //: Row description of the switch for the recording overlay.
            qtTrId("settings.general.hud.show.description"), showHud_);
  //% "Sound cues"
  //: Row label of the switch for the start and stop sounds.
  toggleRow(recording, qtTrId("settings.general.soundCues.label"),
            //% "play distinct sounds when listening starts and stops."
            //: Row description of the switch for the start and stop sounds.
            qtTrId("settings.general.soundCues.description"), soundCues_);
  //% "Pause media while recording"
  //: Row label of the switch that pauses music and videos during dictation.
  toggleRow(recording, qtTrId("settings.general.pauseMedia.label"),
            //% "pause music or videos when listening starts, then resume them when it stops."
            //: Row description of the switch that pauses music and videos during dictation.
            qtTrId("settings.general.pauseMedia.description"), pauseMedia_);
  page->addContent(recording);
  page->addContent(gap(column));

  //% "CLIPBOARD"
  //: Card label above the clipboard restore switch.
  auto* clipboard = new SettingsCardSection(qtTrId("settings.configuration.section.clipboard"), column);
  restoreClipboard_ = new EditorialToggleButton(app.restoreClipboard());
  //% "Restore clipboard"
  //: Row label of the switch that puts the earlier clipboard contents back after pasting.
  toggleRow(clipboard, qtTrId("settings.general.restoreClipboard.label"),
            //% "restore the previous clipboard contents after a successful paste."
            //: Row description of the switch that puts the earlier clipboard contents back after pasting.
            qtTrId("settings.general.restoreClipboard.description"), restoreClipboard_);
  page->addContent(clipboard);
  page->addContent(gap(column));

  //% "STARTUP"
  //: Card label above the launch-at-login switch.
  auto* startup = new SettingsCardSection(qtTrId("settings.configuration.section.startup"), column);
  launchAtLogin_ = new EditorialToggleButton(launchesAtLogin(s_.loginItem));
  //% "Launch at login"
  //: Row label of the switch that starts Murel when the user logs in.
  startupRow_ = new SettingsRow(qtTrId("settings.general.launchAtLogin.label"),
                                //% "automatically start Murel when you log in."
                                //: Row description of the switch that starts Murel when the user logs in.
                                qtTrId("settings.general.launchAtLogin.description"), false, launchAtLogin_, startup);
  startup->addRow(startupRow_);
  startupRow_->installEventFilter(this);
  page->addContent(startup);

  // Rebind and clear.
  connect(dictationRow_, &HotkeyBindingRow::rebindClicked, this, [this] {
    if (!recorder_->isRecording()) recorder_->beginCapture();
  });
  connect(changeModeRow_, &HotkeyBindingRow::rebindClicked, this, [this] {
    if (!changeModeRecorder_->isRecording()) changeModeRecorder_->beginCapture();
  });
  connect(changeModeRow_, &HotkeyBindingRow::clearClicked, this, &ConfigurationPage::clearChangeModeHotkey);
  for (HotKeyRecorder* r : {recorder_, changeModeRecorder_}) {
    connect(r, &HotKeyRecorder::isRecordingChanged, this, &ConfigurationPage::refreshHotkeys);
    connect(r, &HotKeyRecorder::didConflictChanged, this, &ConfigurationPage::refreshHotkeys);
  }
  connect(&hotKeys, &HotKeyService::currentComboChanged, this, &ConfigurationPage::refreshHotkeys);
  connect(&hotKeys, &HotKeyService::changeModeComboChanged, this, &ConfigurationPage::refreshHotkeys);
  connect(&hotKeys, &HotKeyService::lastRegistrationErrorChanged, this, &ConfigurationPage::refreshHotkeys);
  connect(&hotKeys, &HotKeyService::refusedBindingsChanged, this, &ConfigurationPage::refreshHotkeys);

  // Activation mode: the service holds it; the picker shows it and reports presses.
  connect(activationPicker_, &ActivationModePicker::picked, this,
          [this](ActivationMode mode) { s_.hotKeys.setActivationMode(mode); });
  connect(&hotKeys, &HotKeyService::activationModeChanged, this,
          [this] { activationPicker_->setSelection(s_.hotKeys.activationMode()); });

  // The behaviour flags: a flip writes the flag, a change from elsewhere moves the switch.
  connect(showHud_, &QAbstractButton::clicked, this, [this](bool on) { s_.appState.setShowHud(on); });
  connect(soundCues_, &QAbstractButton::clicked, this, [this](bool on) { s_.appState.setSoundCuesEnabled(on); });
  connect(pauseMedia_, &QAbstractButton::clicked, this,
          [this](bool on) { s_.appState.setPauseMediaWhileRecording(on); });
  connect(restoreClipboard_, &QAbstractButton::clicked, this, [this](bool on) { s_.appState.setRestoreClipboard(on); });
  connect(&app, &AppState::showHudChanged, this, &ConfigurationPage::refreshFlags);
  connect(&app, &AppState::soundCuesEnabledChanged, this, &ConfigurationPage::refreshFlags);
  connect(&app, &AppState::pauseMediaWhileRecordingChanged, this, &ConfigurationPage::refreshFlags);
  connect(&app, &AppState::restoreClipboardChanged, this, &ConfigurationPage::refreshFlags);

  // Only the user's flip reaches the login item; refreshes and spring-backs
  // set the switch without a click, so they never call it.
  connect(launchAtLogin_, &QAbstractButton::clicked, this, &ConfigurationPage::requestLaunchAtLogin);

  refreshHotkeys();
}

ConfigurationPage::~ConfigurationPage() {
  // The recorders outlive the rows they report to while the children go: end
  // their captures (un-pausing the service) before any row is gone.
  for (HotKeyRecorder* r : {recorder_, changeModeRecorder_}) {
    r->disconnect(this);
    r->stopCapture();
  }
}

bool ConfigurationPage::isDictationHotkeyUnavailable() const {
  return s_.hotKeys.lastRegistrationError() == HotKeyService::kRegistrationFailed && !recorder_->isRecording();
}

void ConfigurationPage::refreshHotkeys() {
  const bool unavailable = isDictationHotkeyUnavailable();
  dictationRow_->setCombo(s_.hotKeys.currentCombo());
  dictationRow_->setRecording(recorder_->isRecording());
  dictationRow_->setUnavailable(unavailable);
  dictationFrame_->setListening(recorder_->isRecording());
  changeModeRow_->setCombo(s_.hotKeys.changeModeCombo());
  changeModeRow_->setRecording(changeModeRecorder_->isRecording());
  changeModeRow_->setUnavailable(s_.hotKeys.refusedBindings().contains(HotKeyBinding::changeMode()) &&
                                 !changeModeRecorder_->isRecording());
  changeModeFrame_->setListening(changeModeRecorder_->isRecording());
  // Under the activation card the unavailable text wins over the conflict notice.
  unavailableNotice_->setVisible(unavailable);
  activationConflict_->setVisible(!unavailable && recorder_->didConflict());
  changeModeConflict_->setVisible(changeModeRecorder_->didConflict());
}

void ConfigurationPage::refreshFlags() {
  const AppState& app = s_.appState;
  const std::pair<EditorialToggleButton*, bool> toggles[] = {
      {showHud_, app.showHud()},
      {soundCues_, app.soundCuesEnabled()},
      {pauseMedia_, app.pauseMediaWhileRecording()},
      {restoreClipboard_, app.restoreClipboard()},
  };
  for (const auto& [toggle, on] : toggles) {
    if (toggle->isOn() != on) toggle->setOn(on);
  }
}

void ConfigurationPage::refreshLaunchAtLogin() {
  const bool on = launchesAtLogin(s_.loginItem);
  if (launchAtLogin_->isOn() != on) launchAtLogin_->setOn(on);
}

void ConfigurationPage::requestLaunchAtLogin(bool on) {
  QString why;
  const bool done = on ? s_.loginItem.registerItem(&why) : s_.loginItem.unregisterItem(&why);
  if (done) return;
  // A refused call puts the switch back where it was, and says why.
  launchAtLogin_->setOn(!on);
  DiagLog::shared().log(QStringLiteral("app"), QStringLiteral("login item failed"), why);
  //% "The start at login couldn't be changed"
  //: Title of the alert when the autostart entry can't be written or removed.
  showFailureAlert(qtTrId("settings.general.launchAtLogin.failed"), why);
}

void ConfigurationPage::clearChangeModeHotkey() {
  s_.hotKeys.setChangeModeCombo(std::nullopt);
  s_.hotKeys.reloadRegistrations();
}

bool ConfigurationPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == startupRow_ && event->type() == QEvent::Show) refreshLaunchAtLogin();
  return QWidget::eventFilter(watched, event);
}

}  // namespace murel
