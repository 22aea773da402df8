#include "design/OnboardingButtonStyle.h"

#include "design/Motion.h"
#include "design/Text.h"
#include "design/Tokens.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace murel {
namespace {

constexpr int kPaddingX = 20;
constexpr int kPaddingY = 8;
constexpr qreal kRadius = 6;
constexpr qreal kLineSpacing = 2;

QFont defaultLabelFont() { return tracked(notoSans(12), 1.5); }

}  // namespace

OnboardingButtonStyle::OnboardingButtonStyle(const QString& label, bool isPrimary, QWidget* parent)
    : QAbstractButton(parent), isPrimary_(isPrimary), labelFont_(defaultLabelFont()) {
  press_ = new Tween(
      0, [this](qreal) { update(); }, this);
  enabled_ = new Tween(
      1, [this](qreal) { update(); }, this);
  setText(label);
  setAccessibleName(label);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
}

void OnboardingButtonStyle::setOpacity(qreal opacity) {
  if (opacity_ == opacity) return;
  opacity_ = opacity;
  setAttribute(Qt::WA_TransparentForMouseEvents, opacity_ <= 0);
  update();
}

void OnboardingButtonStyle::setLabelFont(const QFont& font) {
  labelFont_ = font;
  updateGeometry();
  update();
}

qreal OnboardingButtonStyle::enabledOpacity() const { return enabled_->value(); }
qreal OnboardingButtonStyle::pressProgress() const { return press_->value(); }

QSize OnboardingButtonStyle::sizeHint() const {
  const QSizeF label = TextMetrics::size(text(), labelFont_, kLineSpacing);
  return QSize(int(std::ceil(label.width())) + 2 * kPaddingX, int(std::ceil(label.height())) + 2 * kPaddingY);
}

bool OnboardingButtonStyle::event(QEvent* event) {
  const bool handled = QAbstractButton::event(event);
  // The down state changes on press, release, dragging out and back in, and
  // the space key; QAbstractButton signals only some of these.
  if (press_) followDown();  // events arrive while the constructor runs, too
  return handled;
}

void OnboardingButtonStyle::changeEvent(QEvent* event) {
  QAbstractButton::changeEvent(event);
  if (event->type() == QEvent::EnabledChange && enabled_)
    enabled_->animateTo(isEnabled() ? 1.0 : kDisabledOpacity, kEnableMs);
}

void OnboardingButtonStyle::followDown() {
  const qreal target = isDown() ? 1.0 : 0.0;
  if (press_->target() != target) press_->animateTo(target, kPressMs);
}

void OnboardingButtonStyle::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setOpacity(opacity_ * enabled_->value());

  const qreal pressed = press_->value();
  const QPointF centre = QRectF(rect()).center();
  const qreal scale = 1.0 - (1.0 - kPressedScale) * pressed;
  painter.translate(centre.x(), centre.y() + pressed);
  painter.scale(scale, scale);
  painter.translate(-centre);

  // The 1 px line is centred on the outline, half inside, half outside.
  const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QPainterPath outline;
  outline.addRoundedRect(shape, kRadius, kRadius);
  if (isPrimary_) painter.fillPath(outline, dsColor(DSColor::accent, this));
  painter.setPen(QPen(isPrimary_ ? dsColor(DSColor::accent, this) : dsColor(DSColor::ink, this, 0.3), 1.0));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(outline);

  const QFont& font = labelFont_;
  const QSizeF label = TextMetrics::size(text(), font, kLineSpacing);
  const QRectF textBox(QPointF((width() - label.width()) / 2, (height() - label.height()) / 2), label);
  TextMetrics::draw(painter, textBox, text(), font, kLineSpacing,
                    dsColor(isPrimary_ ? DSColor::inkInverse : DSColor::ink, this), Qt::AlignLeft, false);
}

}  // namespace murel
