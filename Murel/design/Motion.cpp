#include "design/Motion.h"

#include <QGraphicsOpacityEffect>
#include <QPointF>
#include <QVariantAnimation>
#include <QWidget>

#include <cmath>

namespace murel {

QEasingCurve Motion::easeOut() {
  QEasingCurve curve(QEasingCurve::BezierSpline);
  curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
  return curve;
}

void Motion::setContentOpacity(QWidget* widget, qreal opacity) {
  if (opacity >= 1) {
    widget->setGraphicsEffect(nullptr);
    return;
  }
  auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
  if (!effect) {
    effect = new QGraphicsOpacityEffect(widget);
    widget->setGraphicsEffect(effect);
  }
  effect->setOpacity(opacity);
}

QEasingCurve Motion::easeInOut() {
  QEasingCurve curve(QEasingCurve::BezierSpline);
  curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
  return curve;
}

void Motion::foldAway(QWidget* widget, int durationMs, std::function<void()> gone) {
  widget->setAttribute(Qt::WA_TransparentForMouseEvents);
  if (QWidget* focus = widget->focusWidget(); focus && focus->hasFocus()) focus->clearFocus();
  const int height = widget->height();
  if (durationMs <= 0 || !widget->isVisible() || height <= 0) {
    gone();
    return;
  }
  auto* fold = new Tween(
      1,
      [widget, height, gone = std::move(gone)](qreal value) {
        if (value <= 0) {
          gone();
          return;
        }
        widget->setFixedHeight(int(std::lround(height * value)));
        setContentOpacity(widget, value);
      },
      widget);
  fold->animateTo(0, durationMs);
}

Tween::Tween(qreal initial, std::function<void(qreal)> onChange, QObject* parent)
    : QObject(parent),
      value_(initial),
      target_(initial),
      onChange_(std::move(onChange)),
      animation_(new QVariantAnimation(this)) {
  connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
    // Setting the start and end values of a stopped animation reports them too.
    if (animation_->state() != QAbstractAnimation::Stopped) set(v.toReal());
  });
  connect(animation_, &QVariantAnimation::finished, this, [this] { set(target_); });
}

bool Tween::isRunning() const { return animation_->state() == QAbstractAnimation::Running; }

void Tween::animateTo(qreal target, int durationMs, const QEasingCurve& curve) {
  target_ = target;
  animation_->stop();
  if (durationMs <= 0 || value_ == target) {
    set(target);
    return;
  }
  animation_->setDuration(durationMs);
  animation_->setEasingCurve(curve);
  animation_->setStartValue(value_);
  animation_->setEndValue(target);
  animation_->start();
}

void Tween::jumpTo(qreal target) {
  target_ = target;
  animation_->stop();
  set(target);
}

void Tween::set(qreal value) {
  if (value == value_) return;
  value_ = value;
  if (onChange_) onChange_(value_);
}

}  // namespace murel
