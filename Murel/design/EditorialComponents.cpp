#include "design/EditorialComponents.h"

#include "design/Motion.h"
#include "design/Symbols.h"
#include "design/Text.h"

#include <QEnterEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace murel {
namespace {

QFont numeralFont() { return monoton(28); }
QFont pillFont() { return tracked(notoSans(10), 1.5); }

// The pill's leading mark: its box size and spacing to the label.
QSizeF leadingSize(EditorialStatusPill::Leading leading) {
  switch (leading) {
    case EditorialStatusPill::Leading::none: return {0, 0};
    case EditorialStatusPill::Leading::checkmark: return {Symbols::sideForPointSize(10), Symbols::sideForPointSize(10)};
    case EditorialStatusPill::Leading::dot: return {6, 6};
    case EditorialStatusPill::Leading::lock: return {Symbols::sideForPointSize(9), Symbols::sideForPointSize(9)};
  }
  return {0, 0};
}

void strokeCapsule(QPainter& painter, const QRectF& rect, const QColor& color, qreal width) {
  const QRectF r = rect.adjusted(width / 2, width / 2, -width / 2, -width / 2);
  painter.setPen(QPen(color, width));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(r, r.height() / 2, r.height() / 2);
}

}  // namespace

// EditorialChapterNumeral

EditorialChapterNumeral::EditorialChapterNumeral(int index, bool isActive, bool topAlign, QWidget* parent)
    : QWidget(parent), index_(index), isActive_(isActive), topAlign_(topAlign) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString EditorialChapterNumeral::text() const { return QString::asprintf("%02d", index_); }

void EditorialChapterNumeral::setActive(bool active) {
  if (active == isActive_) return;
  isActive_ = active;
  update();
}

void EditorialChapterNumeral::setIndex(int index) {
  if (index == index_) return;
  index_ = index;
  update();
}

void EditorialChapterNumeral::setOpacity(qreal opacity) {
  opacity_ = opacity;
  update();
}

qreal EditorialChapterNumeral::fitScale() const {
  const qreal natural = QFontMetricsF(numeralFont()).horizontalAdvance(text());
  return natural <= 44 ? 1.0 : std::max(0.5, 44 / natural);
}

QSize EditorialChapterNumeral::sizeHint() const {
  return QSize(44, int(std::ceil(QFontMetricsF(numeralFont()).height())) + (topAlign_ ? 2 : 0));
}

void EditorialChapterNumeral::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  QFont font = numeralFont();
  const qreal scale = fitScale();
  if (scale < 1.0) font.setPixelSize(std::max(1, int(std::floor(28 * scale))));
  const qreal fullHeight = QFontMetricsF(numeralFont()).height();
  const qreal height = QFontMetricsF(font).height();
  // A shrunk numeral stays vertically centred on the line it would take.
  const QRectF box(0, (topAlign_ ? 2 : 0) + (fullHeight - height) / 2, 44, height);
  const QColor color = dsColor(isActive_ ? DSColor::accent : DSColor::inkSecondary, this, opacity_);
  TextMetrics::draw(painter, box, text(), font, 0, color, Qt::AlignLeft, false);
}

// EditorialToggleButton

EditorialToggleButton::EditorialToggleButton(bool isOn, QWidget* parent)
    : QAbstractButton(parent),
      slide_(new Tween(
          isOn ? 1 : 0, [this](qreal) { update(); }, this)) {
  setCheckable(true);
  setChecked(isOn);
  setFixedSize(44, 24);
  setFocusPolicy(Qt::TabFocus);
}

qreal EditorialToggleButton::knobPosition() const { return slide_->value(); }

void EditorialToggleButton::setOn(bool on) {
  setChecked(on);
  slide_->jumpTo(on ? 1 : 0);
}

void EditorialToggleButton::nextCheckState() {
  QAbstractButton::nextCheckState();
  slide_->animateTo(isChecked() ? 1 : 0, Motion::kToggle);
}

void EditorialToggleButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal t = slide_->value();
  const QRectF track(0, 0, 44, 24);
  QPainterPath capsule;
  capsule.addRoundedRect(track, 12, 12);
  painter.fillPath(capsule, dsColor(DSColor::accent, this, t));
  strokeCapsule(painter, track, mixColors(dsColor(DSColor::hairline, this), dsColor(DSColor::accent, this), t), 1);
  const QRectF knob(3 + t * (44 - 18 - 6), 3, 18, 18);
  painter.setPen(Qt::NoPen);
  painter.setBrush(mixColors(dsColor(DSColor::inkSecondary, this), dsColor(DSColor::onAccent, this), t));
  painter.drawEllipse(knob);
}

// EditorialStatusPill

EditorialStatusPill::EditorialStatusPill(const QString& label, Leading leading, DSColor tint, QWidget* parent)
    : QWidget(parent),
      label_(label),
      leading_(leading),
      tint_(tint),
      previousTint_(tint),
      tintFade_(new Tween(
          1, [this](qreal) { update(); }, this)) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setAccessibleName(label);
}

void EditorialStatusPill::setLabel(const QString& label) {
  label_ = label;
  setAccessibleName(label);
  updateGeometry();
  update();
}

void EditorialStatusPill::setLeading(Leading leading) {
  leading_ = leading;
  updateGeometry();
  update();
}

void EditorialStatusPill::setTint(DSColor tint) {
  if (tint == tint_) return;
  previousTint_ = tint_;
  tint_ = tint;
  tintFade_->jumpTo(0);
  tintFade_->animateTo(1, Motion::kToggle);
}

QSize EditorialStatusPill::pillSize(const QString& label, Leading leading) {
  const QSizeF text = TextMetrics::size(label, pillFont(), 2);
  const QSizeF mark = leadingSize(leading);
  const qreal width = 12 + (leading == Leading::none ? 0 : mark.width() + 4) + text.width() + 12;
  const qreal height = 4 + std::max(text.height(), mark.height()) + 4;
  return QSize(int(std::ceil(width)), int(std::ceil(height)));
}

QSize EditorialStatusPill::sizeHint() const { return pillSize(label_, leading_); }

void EditorialStatusPill::paintPill(QPainter& painter, const QRectF& rect, const QString& label, Leading leading,
                                    const QColor& color) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const QSizeF text = TextMetrics::size(label, pillFont(), 2);
  const QSizeF mark = leadingSize(leading);
  qreal x = rect.left() + 12;
  const qreal centreY = rect.center().y();
  const QRectF markBox(QPointF(x, centreY - mark.height() / 2), mark);
  switch (leading) {
    case Leading::none: break;
    case Leading::checkmark: Symbols::paint(painter, markBox, QStringLiteral("checkmark"), color); break;
    case Leading::lock: Symbols::paint(painter, markBox, QStringLiteral("lock.fill"), color); break;
    case Leading::dot:
      painter.setPen(Qt::NoPen);
      painter.setBrush(color);
      painter.drawEllipse(markBox);
      break;
  }
  if (leading != Leading::none) x += mark.width() + 4;
  TextMetrics::draw(painter, QRectF(QPointF(x, centreY - text.height() / 2), text), label, pillFont(), 2, color,
                    Qt::AlignLeft, false);
  strokeCapsule(painter, rect, color, 1);
  painter.restore();
}

void EditorialStatusPill::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QColor color = mixColors(dsColor(previousTint_, this), dsColor(tint_, this), tintFade_->value());
  paintPill(painter, QRectF(rect()), label_, leading_, color);
}

// EditorialPillButton

EditorialPillButton::EditorialPillButton(const QString& label, DSColor tint, std::function<void()> action,
                                         QWidget* parent)
    : QAbstractButton(parent), tint_(tint), action_(std::move(action)) {
  setText(label);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setFocusPolicy(Qt::TabFocus);
  connect(this, &QAbstractButton::clicked, this, [this] {
    if (action_) action_();
  });
}

void EditorialPillButton::setTint(DSColor tint) {
  tint_ = tint;
  update();
}

void EditorialPillButton::setLeading(EditorialStatusPill::Leading leading) {
  if (leading_ == leading) return;
  leading_ = leading;
  updateGeometry();
  update();
}

QSize EditorialPillButton::sizeHint() const { return EditorialStatusPill::pillSize(text(), leading_); }

bool EditorialPillButton::hitButton(const QPoint& pos) const {
  QPainterPath capsule;
  capsule.addRoundedRect(QRectF(rect()), height() / 2.0, height() / 2.0);
  return capsule.contains(QPointF(pos));
}

void EditorialPillButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // A plain button: dimmed while pressed or disabled, no look of its own.
  qreal opacity = 1.0;
  if (!isEnabled())
    opacity = 0.4;
  else if (isDown())
    opacity = 0.7;
  painter.setOpacity(opacity);
  EditorialStatusPill::paintPill(painter, QRectF(rect()), text(), leading_, dsColor(tint_, this));
}

// EditorialKeycap

EditorialKeycap::EditorialKeycap(const QString& label, qreal minWidth, qreal height, qreal fontSize, QWidget* parent)
    : QWidget(parent), label_(label), minWidth_(minWidth), height_(height), fontSize_(fontSize) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setAccessibleName(label);
}

QFont EditorialKeycap::font() const { return tracked(notoSans(fontSize_, DSWeight::heavy), 1); }

QSize EditorialKeycap::sizeHint() const {
  const qreal text = TextMetrics::size(label_, font(), 0).width();
  return QSize(int(std::ceil(std::max(minWidth_, text + 24))), int(std::ceil(height_)));
}

void EditorialKeycap::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(QPen(dsColor(DSColor::hairline, this), 1));
  painter.setBrush(dsColor(DSColor::ink, this));
  painter.drawRoundedRect(box, 4, 4);
  const QSizeF text = TextMetrics::size(label_, font(), 0);
  const QRectF textBox(QPointF((width() - text.width()) / 2, (height() - text.height()) / 2), text);
  TextMetrics::draw(painter, textBox, label_, font(), 0, dsColor(DSColor::background, this), Qt::AlignLeft, false);
}

// EditorialKeycapRow

EditorialKeycapRow::EditorialKeycapRow(const QStringList& labels, qreal minWidth, qreal height, qreal fontSize,
                                       qreal plusSize, QWidget* parent)
    : QWidget(parent), minWidth_(minWidth), height_(height), fontSize_(fontSize), plusSize_(plusSize) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(12);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setLabels(labels);
}

void EditorialKeycapRow::setLabels(const QStringList& labels) {
  labels_ = labels;
  auto* row = static_cast<QHBoxLayout*>(layout());
  while (QLayoutItem* item = row->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  for (int i = 0; i < labels.size(); ++i) {
    if (i > 0) {
      //% "+"
      //: The sign between two keys of a key combination, as in Option + Space.
      auto* plus = new TextLabel(qtTrId("design.keycap.plus"),
                                 TextStyle{notoSans(plusSize_, DSWeight::black), 0, DSColor::inkSecondary}, this);
      plus->setWrapping(false);
      row->addWidget(plus, 0, Qt::AlignVCenter);
    }
    row->addWidget(new EditorialKeycap(labels[i], minWidth_, height_, fontSize_, this), 0, Qt::AlignVCenter);
  }
}

// EditorialRowHover

EditorialRowHover::EditorialRowHover(QWidget* content, bool isActive, QWidget* parent)
    : QWidget(parent),
      content_(content),
      isActive_(isActive),
      fade_(new Tween(
          0, [this](qreal) { update(); }, this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(content);
  setAttribute(Qt::WA_Hover);
}

void EditorialRowHover::setActive(bool active) {
  if (active == isActive_) return;
  isActive_ = active;
  update();
}

void EditorialRowHover::setHovering(bool hovering) {
  if (hovering == isHovering_) return;
  isHovering_ = hovering;
  fade_->animateTo(hovering ? 1 : 0, Motion::kHover);
}

void EditorialRowHover::enterEvent(QEnterEvent*) { setHovering(true); }
void EditorialRowHover::leaveEvent(QEvent*) { setHovering(false); }

void EditorialRowHover::paintEvent(QPaintEvent*) {
  if (isActive_ || fade_->value() <= 0) return;
  QPainter painter(this);
  painter.fillRect(rect(), dsColor(DSColor::ink, this, 0.03 * fade_->value()));
}

}  // namespace murel
