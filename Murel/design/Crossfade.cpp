#include "design/Crossfade.h"

#include "design/Motion.h"

#include <QPainter>

namespace murel {

namespace {
const char* const kProperty = "murelCrossfade";
}

void Crossfade::begin(QWidget* widget, int durationMs) {
  if (!widget || !widget->parentWidget() || !widget->parentWidget()->isVisible() || durationMs <= 0) return;
  if (Crossfade* previous = running(widget)) previous->finish();
  new Crossfade(widget, durationMs);
}

Crossfade* Crossfade::running(const QWidget* widget) {
  return qobject_cast<Crossfade*>(widget->property(kProperty).value<QObject*>());
}

Crossfade::Crossfade(QWidget* target, int durationMs) : QWidget(target->parentWidget()), target_(target) {
  // The picture is of the old look alone: no fade of its own in it.
  Motion::setContentOpacity(target, 1);
  // A hidden widget has no old look: it only fades in once shown.
  if (target->isVisible()) before_ = target->grab();
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
  // A sibling, so that the fade-in of the widget leaves the picture alone.
  setGeometry(target->geometry());
  target->setProperty(kProperty, QVariant::fromValue<QObject*>(this));
  connect(target, &QObject::destroyed, this, &QObject::deleteLater);
  show();
  raise();
  tween_ = new Tween(
      0, [this](qreal value) { apply(value); }, this);
  apply(0);
  tween_->animateTo(1, durationMs);
}

Crossfade::~Crossfade() {
  if (target_ && target_->property(kProperty).value<QObject*>() == this) target_->setProperty(kProperty, QVariant());
}

void Crossfade::finish() {
  if (tween_->value() < 1) tween_->jumpTo(1);
}

void Crossfade::apply(qreal progress) {
  progress_ = progress;
  if (target_) Motion::setContentOpacity(target_, progress);
  update();
  if (progress < 1) return;
  if (target_ && target_->property(kProperty).value<QObject*>() == this) target_->setProperty(kProperty, QVariant());
  hide();
  deleteLater();
}

void Crossfade::paintEvent(QPaintEvent*) {
  if (progress_ >= 1 || before_.isNull()) return;
  QPainter painter(this);
  painter.setOpacity(1 - progress_);
  painter.drawPixmap(0, 0, before_);
}

}  // namespace murel
