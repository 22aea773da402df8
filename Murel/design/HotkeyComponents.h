#pragma once

#include "design/Tokens.h"
#include "keys/ActivationMode.h"
#include "keys/KeyCombo.h"

#include <QAbstractButton>
#include <QList>
#include <QWidget>

#include <optional>

class QLabel;

namespace murel {

class EditorialKeycapRow;
class EditorialPillButton;
class TextLabel;
class Tween;

// One application hotkey: its keycaps (or "no hotkey"), a CLEAR pill while a
// combination is set, and the REBIND pill ("LISTENING…" while capturing).
// Holds no state of its own: the page feeds it and decides what a press does.
// It has no inset or background; pages place it in a ListeningRowFrame.
class HotkeyBindingRow : public QWidget {
  Q_OBJECT

 public:
  HotkeyBindingRow(const std::optional<KeyCombo>& combo, bool isRecording, QWidget* parent = nullptr);

  void setCombo(const std::optional<KeyCombo>& combo);
  void setRecording(bool isRecording);
  // Off for a hotkey that may be replaced but not removed: no CLEAR pill.
  void setClearable(bool clearable);
  // The hotkey could not be registered: the pill reads "UNAVAILABLE — REBIND"
  // in the warning tint, except while listening.
  void setUnavailable(bool unavailable);

  const std::optional<KeyCombo>& combo() const { return combo_; }
  bool isRecording() const { return recording_; }
  // The keycaps shown, empty while the row reads "no hotkey".
  QStringList keycapLabels() const;
  TextLabel* noHotkeyLabel() const { return none_; }
  EditorialPillButton* clearButton() const { return clear_; }
  EditorialPillButton* rebindButton() const { return rebind_; }

 Q_SIGNALS:
  void clearClicked();
  // Also while listening: the page decides whether a press then means anything.
  void rebindClicked();

 private:
  void refresh();

  std::optional<KeyCombo> combo_;
  bool recording_;
  bool clearable_ = true;
  bool unavailable_ = false;
  EditorialKeycapRow* keycaps_;
  TextLabel* none_;
  EditorialPillButton* clear_;
  EditorialPillButton* rebind_;
};

// Insets a hotkey row 20 px left and right and 16 px above and below, and
// tints it with the accent at 5 % while its recorder listens (fading over 0.15 s).
class ListeningRowFrame : public QWidget {
  Q_OBJECT

 public:
  explicit ListeningRowFrame(QWidget* content, QWidget* parent = nullptr);

  void setListening(bool listening);
  bool isListening() const { return listening_; }
  // The tint's strength now: 0 none, 1 the full 5 %.
  qreal tintProgress() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool listening_ = false;
  Tween* tint_;
};

// An inline warning under a card: italic 14 px in the warning colour, 12 px
// below the card and inset 4 px on its leading side.
class InlineWarning : public QWidget {
  Q_OBJECT

 public:
  explicit InlineWarning(const QString& text, QWidget* parent = nullptr);
  TextLabel* textLabel() const { return text_; }

 private:
  TextLabel* text_;
};

// "that shortcut is already in use.": shown by a page under the card whose
// recorder refused a combination that another hotkey already has.
class HotkeyConflictNotice : public InlineWarning {
  Q_OBJECT

 public:
  explicit HotkeyConflictNotice(QWidget* parent = nullptr);
};

// The heading "ACTIVATION MODE", the AUTO / TOGGLE / HOLD capsule and the
// caption of the chosen mode. It stores nothing: the owner feeds the value
// with setSelection and hears presses through `picked` (also a press on the
// segment already chosen); a press moves the accent capsule at once, animated
// over 0.1 s, and the owner's answer is shown when it differs.
class ActivationModePicker : public QWidget {
  Q_OBJECT

 public:
  explicit ActivationModePicker(ActivationMode selection, QWidget* parent = nullptr);

  ActivationMode selection() const { return selection_; }
  // Shows a value from outside; sends nothing.
  void setSelection(ActivationMode mode);

  TextLabel* headingLabel() const { return heading_; }
  TextLabel* captionLabel() const { return caption_; }
  // The segments in picker order.
  const QList<QAbstractButton*>& segments() const { return segments_; }
  QAbstractButton* segment(ActivationMode mode) const;
  // Where the accent capsule is drawn now, in the segment row's coordinates.
  QRectF capsuleRect() const;

 Q_SIGNALS:
  void picked(murel::ActivationMode mode);

 private:
  void moveCapsule(bool animated);

  ActivationMode selection_;
  TextLabel* heading_;
  QWidget* row_;
  QList<QAbstractButton*> segments_;
  TextLabel* caption_;
  Tween* capsule_;  // 0..2: the segment index the capsule sits on
  Tween* captionFade_;
  friend class ActivationSegment;
  friend class ActivationSegmentRow;
};

}  // namespace murel
