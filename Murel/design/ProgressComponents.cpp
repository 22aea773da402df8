#include "design/ProgressComponents.h"

#include "design/Tokens.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <cmath>
#include <numbers>

namespace murel {
namespace {

QVariantAnimation* makeLoop(QWidget* owner, qreal from, qreal to, int durationMs) {
  auto* animation = new QVariantAnimation(owner);
  animation->setStartValue(from);
  animation->setEndValue(to);
  animation->setDuration(durationMs);
  animation->setEasingCurve(QEasingCurve::Linear);
  animation->setLoopCount(-1);
  QObject::connect(animation, &QVariantAnimation::valueChanged, owner, [owner] { owner->update(); });
  return animation;
}

constexpr int kSweepMs = 1200;
constexpr int kTurnMs = 800;

}  // namespace

// DSProgressBar

DSProgressBar::DSProgressBar(std::optional<double> progress, qreal height, QWidget* parent)
    : QWidget(parent), progress_(progress), height_(height), sweep_(makeLoop(this, -0.3, 1.0, kSweepMs)) {
  setFixedHeight(int(std::ceil(height)));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize DSProgressBar::sizeHint() const { return QSize(120, int(std::ceil(height_))); }

void DSProgressBar::setProgress(std::optional<double> progress) {
  progress_ = progress;
  updateSweep();
  update();
}

double DSProgressBar::fillFraction() const { return progress_ ? std::clamp(*progress_, 0.0, 1.0) : 0.0; }

bool DSProgressBar::isSweeping() const { return sweep_->state() == QAbstractAnimation::Running; }

qreal DSProgressBar::sweepOffset() const {
  const QVariant value = sweep_->currentValue();
  return value.isValid() ? value.toReal() : -0.3;
}

void DSProgressBar::setSweepTime(int ms) { sweep_->setCurrentTime(ms % kSweepMs); }

void DSProgressBar::updateSweep() {
  // The sweep starts over from the left whenever the bar comes on screen.
  const bool wanted = !progress_ && isVisible();
  if (wanted && !isSweeping())
    sweep_->start();
  else if (!wanted && isSweeping())
    sweep_->stop();
}

void DSProgressBar::showEvent(QShowEvent*) { updateSweep(); }
void DSProgressBar::hideEvent(QHideEvent*) { updateSweep(); }

void DSProgressBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF bar(rect());
  const qreal radius = bar.height() / 2;
  QPainterPath track;
  track.addRoundedRect(bar, radius, radius);
  painter.fillPath(track, dsColor(DSColor::inkSecondary, this, 0.2));
  const QColor accent = dsColor(DSColor::accent, this);
  if (progress_) {
    const qreal width = bar.width() * fillFraction();
    if (width <= 0) return;
    QPainterPath fill;
    fill.addRoundedRect(QRectF(bar.left(), bar.top(), width, bar.height()), std::min(radius, width / 2), radius);
    painter.fillPath(fill, accent);
    return;
  }
  // A full-width capsule seen through a band 0.3 of the width wide.
  QPainterPath band;
  band.addRect(QRectF(bar.left() + bar.width() * sweepOffset(), bar.top(), bar.width() * 0.3, bar.height()));
  painter.fillPath(track.intersected(band), accent);
}

// DSSpinner

DSSpinner::DSSpinner(qreal size, QWidget* parent)
    : QWidget(parent), size_(size), turn_(makeLoop(this, 0.0, 360.0, kTurnMs)) {
  const int side = int(std::ceil(size));
  setFixedSize(side, side);
}

QSize DSSpinner::sizeHint() const {
  const int side = int(std::ceil(size_));
  return QSize(side, side);
}

bool DSSpinner::isSpinning() const { return turn_->state() == QAbstractAnimation::Running; }

qreal DSSpinner::rotation() const {
  const QVariant value = turn_->currentValue();
  return value.isValid() ? value.toReal() : 0.0;
}

void DSSpinner::setSpinTime(int ms) { turn_->setCurrentTime(ms % kTurnMs); }

QPointF DSSpinner::squareOffset(int i) const {
  const double angle = i * std::numbers::pi / 2;
  return QPointF(std::cos(angle), std::sin(angle)) * (size_ / 3);
}

void DSSpinner::showEvent(QShowEvent*) {
  if (!isSpinning()) turn_->start();
}

void DSSpinner::hideEvent(QHideEvent*) { turn_->stop(); }

void DSSpinner::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(QRectF(rect()).center());
  painter.rotate(rotation());
  painter.setPen(Qt::NoPen);
  const qreal side = squareSide();
  for (int i = 0; i < 4; ++i) {
    painter.setBrush(dsColor(DSColor::accent, this, (i + 1) * 0.25));
    painter.drawRect(QRectF(squareOffset(i) - QPointF(side / 2, side / 2), QSizeF(side, side)));
  }
}

}  // namespace murel
