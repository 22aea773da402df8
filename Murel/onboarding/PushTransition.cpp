#include "onboarding/PushTransition.h"

#include "design/Motion.h"

#include <QGraphicsOpacityEffect>
#include <QVariantAnimation>

#include <cmath>

namespace murel {
namespace {

void setOpacity(QWidget* widget, qreal opacity) {
  if (!widget) return;
  auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
  if (!effect) {
    effect = new QGraphicsOpacityEffect(widget);
    widget->setGraphicsEffect(effect);
  }
  effect->setOpacity(opacity);
}

}  // namespace

PushTransition::PushTransition(QWidget* leaving, QRect leavingRect, QWidget* entering, QRect enteringRect, bool forward,
                               int durationMs, QObject* parent)
    : QObject(parent),
      leaving_(leaving),
      leavingRect_(leavingRect),
      entering_(entering),
      enteringRect_(enteringRect),
      distance_(forward ? enteringRect.width() : -enteringRect.width()),
      animation_(new QVariantAnimation(this)) {
  animation_->setStartValue(0.0);
  animation_->setEndValue(1.0);
  animation_->setDuration(durationMs);
  animation_->setEasingCurve(Motion::easeInOut());
  connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
    if (animation_->state() == QAbstractAnimation::Running || animation_->state() == QAbstractAnimation::Paused)
      apply(value.toReal());
  });
  connect(animation_, &QVariantAnimation::finished, this, [this] { end(); });
}

PushTransition::~PushTransition() { finish(); }

void PushTransition::start() {
  if (leaving_) leaving_->setAttribute(Qt::WA_TransparentForMouseEvents, true);
  apply(0);
  if (entering_) entering_->show();
  animation_->start();
}

bool PushTransition::isRunning() const { return !ended_; }

void PushTransition::finish() {
  if (ended_) return;
  animation_->stop();
  end();
}

void PushTransition::apply(qreal progress) {
  progress_ = progress;
  if (entering_) {
    entering_->setGeometry(enteringRect_.translated(int(std::lround(distance_ * (1 - progress))), 0));
    setOpacity(entering_, progress);
  }
  if (leaving_) {
    leaving_->setGeometry(leavingRect_.translated(-int(std::lround(distance_ * progress)), 0));
    setOpacity(leaving_, 1 - progress);
  }
  Q_EMIT progressed(progress);
}

void PushTransition::end() {
  if (ended_) return;
  ended_ = true;
  progress_ = 1;
  if (entering_) {
    entering_->setGeometry(enteringRect_);
    entering_->setGraphicsEffect(nullptr);
  }
  if (leaving_) {
    // Hidden now, so a step stops its timers at once; deleted once control is
    // back in the event loop, since this may run inside one of its own handlers.
    leaving_->hide();
    leaving_->deleteLater();
  }
  Q_EMIT progressed(1);
  Q_EMIT finished();
}

}  // namespace murel
