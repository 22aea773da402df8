#pragma once

#include <QWidget>

namespace murel {

class Clock;
class EditorialPillButton;
class EditorialToggleButton;
class HotKeyRecorder;
class HotKeyService;
class HotkeyBindingRow;
class HotkeyConflictNotice;
class ListeningRowFrame;
class SettingsNavigator;
class TextLabel;
class VoiceEditPreferences;

// The voice-edit tab: turns the voice-edit command on (only while the
// language-model file is installed; otherwise a notice leads to the models
// page) or off, and records or clears its hotkey. What it changes takes effect
// at once: the switch is the stored preference, the hotkey the service's, and
// the registrations are rebuilt after every change. While voice edit is off
// the HOTKEY card is drawn at half strength and takes no clicks.
class VoiceEditSettingsView : public QWidget {
  Q_OBJECT

 public:
  struct Services {
    VoiceEditPreferences& preferences;
    HotKeyService& hotKeys;
    SettingsNavigator& navigator;
    Clock& clock;  // the recorder's time-out
  };

  explicit VoiceEditSettingsView(Services services, QWidget* parent = nullptr);
  // A capture still running ends here: the hotkey service is never left paused.
  ~VoiceEditSettingsView() override;

  // The switch. Turning on is refused (the notice shows, nothing is stored)
  // unless the language-model file is installed at exactly its size.
  void setVoiceEditEnabled(bool enabled);
  void openModelsPage();
  void clearVoiceEditHotkey();
  void rebindVoiceEditHotkey();

  bool showModelRequired() const { return showModelRequired_; }
  HotKeyRecorder& recorder() const { return *recorder_; }
  EditorialToggleButton* enableToggle() const { return toggle_; }
  QWidget* modelNotice() const { return notice_; }
  EditorialPillButton* modelsButton() const { return modelsButton_; }
  // The HOTKEY section: card label, card and conflict notice.
  QWidget* hotkeySection() const { return hotkeySection_; }
  HotkeyBindingRow* hotkeyRow() const { return row_; }
  ListeningRowFrame* hotkeyFrame() const { return frame_; }
  HotkeyConflictNotice* conflictNotice() const { return conflict_; }
  // The opacity the HOTKEY section is drawn at.
  qreal hotkeySectionOpacity() const;

 private:
  void refresh();

  Services s_;
  bool showModelRequired_ = false;
  HotKeyRecorder* recorder_;
  EditorialToggleButton* toggle_;
  QWidget* notice_;
  EditorialPillButton* modelsButton_;
  QWidget* hotkeySection_;
  HotkeyBindingRow* row_;
  ListeningRowFrame* frame_;
  HotkeyConflictNotice* conflict_;
  QWidget* shield_;
};

}  // namespace murel
