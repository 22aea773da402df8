#pragma once

#include "keys/KeyCombo.h"

#include <QUuid>
#include <QWidget>

#include <optional>

namespace murel {

class Clock;
class EditorialKeycapRow;
class EditorialPillButton;
class HotKeyRecorder;
class HotKeyService;
class SettingsCardSection;
class TextLabel;

// "HOTKEY": the card label of a mode's own hotkey, also over the voice-edit hotkey.
QString hotkeySectionTitle();

// The HOTKEY card of the mode editor: the combination the edited mode will be
// bound to, RECORD to capture a new one, CLEAR to drop it. It only changes the
// editor's unsaved value (`hotkey()`); nothing is stored or registered until the
// editor saves. A captured combination that another stored hotkey already uses
// is refused with "that shortcut is already in use." and the previous one stays.
//
// Under the card it keeps the 24 px the editor leaves empty, where the
// conflict text is shown.
class ModeHotkeyField : public QWidget {
  Q_OBJECT

 public:
  // `modeId`: the edited mode, whose own stored hotkey never conflicts with itself.
  ModeHotkeyField(HotKeyService& hotKeys, const std::optional<KeyCombo>& hotkey, const QUuid& modeId, Clock& clock,
                  QWidget* parent = nullptr);
  // A capture still running ends here, so the hotkey service is never left paused.
  ~ModeHotkeyField() override;

  const std::optional<KeyCombo>& hotkey() const { return hotkey_; }
  bool conflict() const { return conflict_; }

  // RECORD: starts listening; nothing while it already listens.
  void startHotkeyCapture();
  // CLEAR: no hotkey, no conflict text.
  void clearHotkey();

  HotKeyRecorder& recorder() const { return *recorder_; }
  EditorialKeycapRow* keycaps() const { return keycaps_; }
  // The keycaps shown, empty while the card reads "no hotkey".
  QStringList keycapLabels() const;
  TextLabel* noHotkeyLabel() const { return none_; }
  EditorialPillButton* clearButton() const { return clear_; }
  EditorialPillButton* recordButton() const { return record_; }
  TextLabel* conflictLabel() const { return conflictText_; }

 Q_SIGNALS:
  void hotkeyChanged();

 private:
  void applyCapturedCombo();
  void refresh();

  HotKeyService& hotKeys_;
  std::optional<KeyCombo> hotkey_;
  QUuid modeId_;
  bool conflict_ = false;
  HotKeyRecorder* recorder_;
  EditorialKeycapRow* keycaps_;
  TextLabel* none_;
  EditorialPillButton* clear_;
  EditorialPillButton* record_;
  TextLabel* conflictText_;
};

}  // namespace murel
