#include "settings/ModeHotkeyField.h"

#include "design/EditorialComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "hotkeys/HotKeyBinding.h"
#include "hotkeys/HotKeyRecorder.h"
#include "hotkeys/HotKeyService.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace murel {

namespace {

// The room under the card that the conflict text sits in.
constexpr int kConflictSlot = 24;

}  // namespace

QString hotkeySectionTitle() {
  //% "HOTKEY"
  //: Card label above the per-mode hotkey controls.
  return qtTrId("settings.modes.editor.hotkey.section");
}

ModeHotkeyField::ModeHotkeyField(HotKeyService& hotKeys, const std::optional<KeyCombo>& hotkey, const QUuid& modeId,
                                 Clock& clock, QWidget* parent)
    : QWidget(parent), hotKeys_(hotKeys), hotkey_(hotkey), modeId_(modeId) {
  recorder_ = new HotKeyRecorder(hotKeys_, HotKeyRecorder::Target::capture, clock, this);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  auto* section = new SettingsCardSection(hotkeySectionTitle(), this);
  auto* row = new QWidget(section);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(20, 16, 20, 16);
  layout->setSpacing(20);
  keycaps_ = new EditorialKeycapRow({}, 40, 32, 12, 18, row);
  //% "no hotkey"
  //: Shown when a mode has no per-mode hotkey.
  none_ = new TextLabel(qtTrId("settings.modes.editor.hotkey.none"),
                        TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, row);
  none_->setWrapping(false);
  //% "CLEAR"
  //: Button to remove a mode's hotkey.
  clear_ = new EditorialPillButton(
      qtTrId("settings.modes.editor.hotkey.clear"), DSColor::danger, [this] { clearHotkey(); }, row);
  record_ = new EditorialPillButton(
      QString(), DSColor::accent, [this] { startHotkeyCapture(); }, row);
  layout->addWidget(keycaps_, 0, Qt::AlignVCenter);
  layout->addWidget(none_, 0, Qt::AlignVCenter);
  layout->addStretch(1);
  layout->addWidget(clear_, 0, Qt::AlignVCenter);
  layout->addWidget(record_, 0, Qt::AlignVCenter);
  section->addRow(row);
  column->addWidget(section);

  auto* slot = new QWidget(this);
  slot->setFixedHeight(kConflictSlot);
  auto* slotLayout = new QVBoxLayout(slot);
  slotLayout->setContentsMargins(0, 0, 0, 0);
  slotLayout->setSpacing(0);
  conflictText_ = new TextLabel(qtTrId("settings.modes.editor.hotkey.conflict"),
                                TextStyle{notoSansItalic(14), 4, DSColor::danger}, slot);
  conflictText_->setWrapping(false);
  slotLayout->addStretch(1);
  slotLayout->addWidget(conflictText_, 0, Qt::AlignLeft | Qt::AlignBottom);
  column->addWidget(slot);

  connect(recorder_, &HotKeyRecorder::isRecordingChanged, this, &ModeHotkeyField::refresh);
  connect(recorder_, &HotKeyRecorder::capturedComboChanged, this, &ModeHotkeyField::applyCapturedCombo);
  refresh();
}

ModeHotkeyField::~ModeHotkeyField() {
  // The recorder outlives the pills it reports to while the children go.
  recorder_->disconnect(this);
  recorder_->stopCapture();
}

QStringList ModeHotkeyField::keycapLabels() const { return hotkey_ ? keycaps_->labels() : QStringList(); }

void ModeHotkeyField::startHotkeyCapture() {
  if (recorder_->isRecording()) return;
  recorder_->beginCapture();
}

void ModeHotkeyField::clearHotkey() {
  const bool changed = hotkey_.has_value();
  hotkey_.reset();
  conflict_ = false;
  refresh();
  if (changed) Q_EMIT hotkeyChanged();
}

void ModeHotkeyField::applyCapturedCombo() {
  // A capture that begins clears the captured combination: nothing to apply.
  const std::optional<KeyCombo> captured = recorder_->capturedCombo();
  if (!captured) return;
  // Only what is stored counts: the dictation, change-mode and voice-edit
  // hotkeys (voice edit on or off) and every mode's, this mode's own left out.
  if (hasConflict(*captured, HotKeyBinding::mode(modeId_), hotKeys_.currentBindings())) {
    conflict_ = true;
    refresh();
    return;
  }
  const bool changed = hotkey_ != captured;
  hotkey_ = captured;
  conflict_ = false;
  refresh();
  if (changed) Q_EMIT hotkeyChanged();
}

void ModeHotkeyField::refresh() {
  if (hotkey_) {
    const QStringList labels = murel::keycapLabels(*hotkey_);
    if (labels != keycaps_->labels()) keycaps_->setLabels(labels);
  }
  keycaps_->setVisible(hotkey_.has_value());
  none_->setVisible(!hotkey_);
  clear_->setVisible(hotkey_.has_value());
  if (recorder_->isRecording()) {
    //% "LISTENING…"
    //: Pill while capturing a mode hotkey.
    record_->setText(qtTrId("settings.modes.editor.hotkey.listening"));
  } else {
    //% "RECORD"
    //: Pill prompting to record a mode hotkey.
    record_->setText(qtTrId("settings.modes.editor.hotkey.record"));
  }
  record_->updateGeometry();
  conflictText_->setVisible(conflict_);
}

}  // namespace murel
