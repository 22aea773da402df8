#pragma once

#include <QWidget>

namespace murel {

class ActivationModePicker;
class AppState;
class AudioDeviceManager;
class Clock;
class EditorialToggleButton;
class HotKeyRecorder;
class HotKeyService;
class HotkeyBindingRow;
class HotkeyConflictNotice;
class InlineWarning;
class InputDevicePicker;
class ListeningRowFrame;
namespace platform {
class LoginItem;
}

// The configuration page: the dictation hotkey with its activation mode, the
// change-mode hotkey, the microphone, the recording and clipboard behaviour
// and launch at login. It owns no setting: every control shows and changes a
// shared service, and every change takes effect at once. Its own state is
// one interaction's: a recorder per hotkey and the launch-at-login switch.
class ConfigurationPage : public QWidget {
  Q_OBJECT

 public:
  struct Services {
    HotKeyService& hotKeys;
    AppState& appState;  // the four behaviour flags
    AudioDeviceManager& audioDevices;
    platform::LoginItem& loginItem;
    Clock& clock;  // the recorders' time-outs
  };

  explicit ConfigurationPage(Services services, QWidget* parent = nullptr);
  // A capture still running ends here: the hotkey service is never left paused.
  ~ConfigurationPage() override;

  // The dictation hotkey cannot be caught (no event tap, or a combination
  // another program holds) and its recorder is not listening.
  bool isDictationHotkeyUnavailable() const;

  HotKeyRecorder& recorder() const { return *recorder_; }
  HotKeyRecorder& changeModeRecorder() const { return *changeModeRecorder_; }
  HotkeyBindingRow* dictationRow() const { return dictationRow_; }
  HotkeyBindingRow* changeModeRow() const { return changeModeRow_; }
  ListeningRowFrame* dictationFrame() const { return dictationFrame_; }
  ListeningRowFrame* changeModeFrame() const { return changeModeFrame_; }
  ActivationModePicker* activationModePicker() const { return activationPicker_; }
  InlineWarning* unavailableNotice() const { return unavailableNotice_; }
  HotkeyConflictNotice* activationConflictNotice() const { return activationConflict_; }
  HotkeyConflictNotice* changeModeConflictNotice() const { return changeModeConflict_; }
  InputDevicePicker* inputDevicePicker() const { return inputPicker_; }
  EditorialToggleButton* showHudToggle() const { return showHud_; }
  EditorialToggleButton* soundCuesToggle() const { return soundCues_; }
  EditorialToggleButton* pauseMediaToggle() const { return pauseMedia_; }
  EditorialToggleButton* restoreClipboardToggle() const { return restoreClipboard_; }
  EditorialToggleButton* launchAtLoginToggle() const { return launchAtLogin_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void refreshHotkeys();
  void refreshFlags();
  void refreshLaunchAtLogin();
  void requestLaunchAtLogin(bool on);
  void clearChangeModeHotkey();

  Services s_;
  HotKeyRecorder* recorder_;
  HotKeyRecorder* changeModeRecorder_;
  HotkeyBindingRow* dictationRow_;
  HotkeyBindingRow* changeModeRow_;
  ListeningRowFrame* dictationFrame_;
  ListeningRowFrame* changeModeFrame_;
  ActivationModePicker* activationPicker_;
  InlineWarning* unavailableNotice_;
  HotkeyConflictNotice* activationConflict_;
  HotkeyConflictNotice* changeModeConflict_;
  InputDevicePicker* inputPicker_;
  EditorialToggleButton* showHud_;
  EditorialToggleButton* soundCues_;
  EditorialToggleButton* pauseMedia_;
  EditorialToggleButton* restoreClipboard_;
  EditorialToggleButton* launchAtLogin_;
  QWidget* startupRow_;
};

}  // namespace murel
