#include "design/HotkeyComponents.h"

#include "design/EditorialComponents.h"
#include "design/Motion.h"
#include "design/Text.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace murel {

namespace {

TextStyle warningStyle() { return TextStyle{notoSansItalic(14), 4, DSColor::warning}; }
QFont segmentFont() { return tracked(notoSans(12), 1.5); }

QPainterPath capsulePath(const QRectF& rect) {
  QPainterPath path;
  path.addRoundedRect(rect, rect.height() / 2, rect.height() / 2);
  return path;
}

}  // namespace

// HotkeyBindingRow

HotkeyBindingRow::HotkeyBindingRow(const std::optional<KeyCombo>& combo, bool isRecording, QWidget* parent)
    : QWidget(parent), combo_(combo), recording_(isRecording) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(20);
  keycaps_ = new EditorialKeycapRow({}, 40, 32, 12, 18, this);
  //% "no hotkey"
  //: Shown in a hotkey row in place of the keycaps when no shortcut is set.
  none_ = new TextLabel(qtTrId("settings.configuration.hotkey.none"),
                        TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, this);
  none_->setWrapping(false);
  //% "CLEAR"
  //: Pill button that removes a hotkey.
  clear_ = new EditorialPillButton(qtTrId("settings.configuration.hotkey.clear"), DSColor::danger, nullptr, this);
  rebind_ = new EditorialPillButton(QString(), DSColor::accent, nullptr, this);
  row->addWidget(keycaps_, 0, Qt::AlignVCenter);
  row->addWidget(none_, 0, Qt::AlignVCenter);
  row->addStretch(1);
  row->addWidget(clear_, 0, Qt::AlignVCenter);
  row->addWidget(rebind_, 0, Qt::AlignVCenter);
  connect(clear_, &QAbstractButton::clicked, this, &HotkeyBindingRow::clearClicked);
  connect(rebind_, &QAbstractButton::clicked, this, &HotkeyBindingRow::rebindClicked);
  refresh();
}

void HotkeyBindingRow::setCombo(const std::optional<KeyCombo>& combo) {
  if (combo == combo_) return;
  combo_ = combo;
  refresh();
}

void HotkeyBindingRow::setRecording(bool isRecording) {
  if (isRecording == recording_) return;
  recording_ = isRecording;
  refresh();
}

void HotkeyBindingRow::setClearable(bool clearable) {
  if (clearable == clearable_) return;
  clearable_ = clearable;
  refresh();
}

void HotkeyBindingRow::setUnavailable(bool unavailable) {
  if (unavailable == unavailable_) return;
  unavailable_ = unavailable;
  refresh();
}

QStringList HotkeyBindingRow::keycapLabels() const { return combo_ ? keycaps_->labels() : QStringList(); }

void HotkeyBindingRow::refresh() {
  if (combo_) {
    const QStringList labels = murel::keycapLabels(*combo_);
    if (labels != keycaps_->labels()) keycaps_->setLabels(labels);
  }
  keycaps_->setVisible(combo_.has_value());
  none_->setVisible(!combo_);
  clear_->setVisible(combo_ && clearable_);
  if (recording_) {
    //% "LISTENING…"
    //: Pill shown while a new key combination is being captured.
    rebind_->setText(qtTrId("settings.general.hotkey.pill.listening"));
    rebind_->setTint(DSColor::accent);
  } else if (unavailable_) {
    //% "UNAVAILABLE — REBIND"
    //: Pill shown when the dictation hotkey could not be registered; pressing it records a new one.
    rebind_->setText(qtTrId("settings.general.hotkey.pill.unavailable"));
    rebind_->setTint(DSColor::warning);
  } else {
    //% "REBIND"
    //: Pill prompting the user to record a new shortcut.
    rebind_->setText(qtTrId("settings.general.hotkey.pill.rebind"));
    rebind_->setTint(DSColor::accent);
  }
  rebind_->updateGeometry();
}

// ListeningRowFrame

ListeningRowFrame::ListeningRowFrame(QWidget* content, QWidget* parent)
    : QWidget(parent),
      tint_(new Tween(
          0, [this](qreal) { update(); }, this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 16, 20, 16);
  layout->setSpacing(0);
  content->setParent(this);
  layout->addWidget(content);
}

void ListeningRowFrame::setListening(bool listening) {
  if (listening == listening_) return;
  listening_ = listening;
  tint_->animateTo(listening ? 1 : 0, Motion::kToggle);
}

qreal ListeningRowFrame::tintProgress() const { return tint_->value(); }

void ListeningRowFrame::paintEvent(QPaintEvent*) {
  const qreal t = tint_->value();
  if (t <= 0) return;
  QPainter painter(this);
  painter.fillRect(rect(), dsColor(DSColor::accent, this, 0.05 * t));
}

// InlineWarning

InlineWarning::InlineWarning(const QString& text, QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 12, 0, 0);
  layout->setSpacing(0);
  text_ = new TextLabel(text, warningStyle(), this);
  layout->addWidget(text_);
}

HotkeyConflictNotice::HotkeyConflictNotice(QWidget* parent)
    //% "that shortcut is already in use."
    //: Inline error when a newly captured hotkey is already bound to something else.
    : InlineWarning(qtTrId("settings.modes.editor.hotkey.conflict"), parent) {}

// ActivationModePicker

// One segment: its label, in inverse ink on the accent capsule, else in
// secondary ink. The capsule is the row's to draw, so it can slide.
class ActivationSegment : public QAbstractButton {
 public:
  ActivationSegment(ActivationModePicker* picker, int index, const QString& label, QWidget* parent)
      : QAbstractButton(parent), picker_(picker), index_(index) {
    setText(label);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }

  QSize sizeHint() const override {
    const QSizeF text = TextMetrics::size(this->text(), segmentFont(), 2);
    return QSize(int(std::ceil(text.width())) + 16, int(std::ceil(text.height())) + 16);
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  bool hitButton(const QPoint& pos) const override { return capsulePath(QRectF(rect())).contains(QPointF(pos)); }

  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (isDown()) painter.setOpacity(0.7);
    // On the capsule as much as the capsule covers this segment now.
    const qreal onCapsule = std::clamp(1.0 - std::abs(picker_->capsule_->value() - index_), 0.0, 1.0);
    const QColor color = mixColors(dsColor(DSColor::inkSecondary, this), dsColor(DSColor::inkInverse, this), onCapsule);
    const QSizeF text = TextMetrics::size(this->text(), segmentFont(), 2);
    const QRectF box((width() - text.width()) / 2, (height() - text.height()) / 2, text.width(), text.height());
    TextMetrics::draw(painter, box, this->text(), segmentFont(), 2, color, Qt::AlignLeft, false);
  }

 private:
  ActivationModePicker* picker_;
  int index_;
};

// The outlined capsule holding the segments, with the accent capsule behind the chosen one.
class ActivationSegmentRow : public QWidget {
 public:
  explicit ActivationSegmentRow(ActivationModePicker* picker) : QWidget(picker), picker_(picker) {}

  QRectF capsuleRect() const {
    const QList<QAbstractButton*>& segments = picker_->segments_;
    if (segments.isEmpty()) return {};
    const qreal at = std::clamp(picker_->capsule_->value(), 0.0, qreal(segments.size() - 1));
    const int lower = int(std::floor(at));
    const int upper = std::min(lower + 1, int(segments.size()) - 1);
    const qreal t = at - lower;
    const QRectF a(segments[lower]->geometry());
    const QRectF b(segments[upper]->geometry());
    return QRectF(a.left() + (b.left() - a.left()) * t, a.top(), a.width() + (b.width() - a.width()) * t, a.height());
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(dsColor(DSColor::accent, this));
    painter.drawPath(capsulePath(capsuleRect()));
    painter.setPen(QPen(dsColor(DSColor::hairline, this), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(capsulePath(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5)));
  }

 private:
  ActivationModePicker* picker_;
};

ActivationModePicker::ActivationModePicker(ActivationMode selection, QWidget* parent)
    : QWidget(parent), selection_(selection) {
  const auto indexOf = [](ActivationMode mode) {
    const auto& modes = allActivationModes();
    return qreal(std::find(modes.begin(), modes.end(), mode) - modes.begin());
  };
  capsule_ = new Tween(
      indexOf(selection),
      [this](qreal) {
        row_->update();
        for (QAbstractButton* segment : segments_) segment->update();
      },
      this);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 12, 0, 0);
  column->setSpacing(8);
  //% "ACTIVATION MODE"
  //: Heading above the AUTO / TOGGLE / HOLD choice of how the dictation hotkey acts.
  heading_ = new TextLabel(qtTrId("hotkey.activationMode.title"),
                           TextStyle{tracked(notoSans(12), 1.5), 2, DSColor::inkSecondary}, this);
  column->addWidget(heading_);

  row_ = new ActivationSegmentRow(this);
  auto* segments = new QHBoxLayout(row_);
  segments->setContentsMargins(4, 4, 4, 4);
  segments->setSpacing(4);
  int index = 0;
  for (ActivationMode mode : allActivationModes()) {
    auto* segment = new ActivationSegment(this, index++, activationModeShortLabel(mode), row_);
    segments->addWidget(segment, 1);
    segments_.append(segment);
    connect(segment, &QAbstractButton::clicked, this, [this, mode] {
      if (mode != selection_) {
        selection_ = mode;
        moveCapsule(true);
      }
      Q_EMIT picked(mode);
    });
  }
  column->addWidget(row_);

  caption_ = new TextLabel(activationModeCaption(selection), TextStyle{notoSansItalic(12), 2, DSColor::inkMuted}, this);
  column->addWidget(caption_);
  captionFade_ = new Tween(
      1,
      [this](qreal opacity) {
        TextStyle style = caption_->style();
        style.opacity = opacity;
        caption_->setStyle(style);
      },
      this);
}

void ActivationModePicker::setSelection(ActivationMode mode) {
  if (mode == selection_) return;
  selection_ = mode;
  moveCapsule(true);
}

QAbstractButton* ActivationModePicker::segment(ActivationMode mode) const {
  const auto& modes = allActivationModes();
  const auto at = std::find(modes.begin(), modes.end(), mode) - modes.begin();
  return segments_.value(int(at));
}

QRectF ActivationModePicker::capsuleRect() const { return static_cast<ActivationSegmentRow*>(row_)->capsuleRect(); }

void ActivationModePicker::moveCapsule(bool animated) {
  const auto& modes = allActivationModes();
  const qreal target = qreal(std::find(modes.begin(), modes.end(), selection_) - modes.begin());
  if (animated && isVisible()) {
    capsule_->animateTo(target, Motion::kHover);
    captionFade_->jumpTo(0);
    captionFade_->animateTo(1, Motion::kHover);
  } else {
    capsule_->jumpTo(target);
  }
  caption_->setText(activationModeCaption(selection_));
}

}  // namespace murel
