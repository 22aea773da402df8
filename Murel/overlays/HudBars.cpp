#include "overlays/HudBars.h"

#include "design/ProgressComponents.h"

#include <QEasingCurve>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <algorithm>

namespace murel {

// HudBarContainer

HudBarContainer::HudBarContainer(int width, QWidget* parent) : QWidget(parent), layout_(new QHBoxLayout(this)) {
  setFixedSize(width, kHeight);
  layout_->setContentsMargins(kPadding, 0, kPadding, 0);
  layout_->setSpacing(0);
}

void HudBarContainer::setContent(QWidget* content) {
  if (content_ == content) return;
  delete content_;
  content_ = content;
  if (!content) return;
  layout_->addWidget(content, 1, Qt::AlignVCenter);
  content->show();
}

void HudBarContainer::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF bounds(rect());
  const qreal radius = bounds.height() / 2;
  QPainterPath capsule;
  capsule.addRoundedRect(bounds, radius, radius);
  painter.fillPath(capsule, dsColor(DSColor::background, this));
  // The outline lies wholly inside the capsule: its centre line runs half a
  // point in from the edge.
  const QRectF inner = bounds.adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(QPen(dsColor(DSColor::accent, this), 1.0));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(inner, radius - 0.5, radius - 0.5);
}

// MinimalBarRecordingDot

namespace {

constexpr int kCycleMs = 2 * MinimalBarRecordingDot::kPulseMs;

const QEasingCurve& easeInOut() {
  static const QEasingCurve curve = [] {
    QEasingCurve c(QEasingCurve::BezierSpline);
    c.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return c;
  }();
  return curve;
}

}  // namespace

MinimalBarRecordingDot::MinimalBarRecordingDot(DSColor color, qreal lowOpacity, QWidget* parent)
    : QWidget(parent), color_(color), lowOpacity_(lowOpacity), pulse_(new QVariantAnimation(this)) {
  setFixedSize(8, 8);
  pulse_->setStartValue(0);
  pulse_->setEndValue(kCycleMs);
  pulse_->setDuration(kCycleMs);
  pulse_->setLoopCount(-1);
  connect(pulse_, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

bool MinimalBarRecordingDot::isPulsing() const { return pulse_->state() == QAbstractAnimation::Running; }

qreal MinimalBarRecordingDot::opacity() const {
  if (!isPulsing()) return lowOpacity_;
  // Up in the first half of the cycle, down in the second, eased both ways.
  const int t = pulse_->currentTime() % kCycleMs;
  const qreal rise = t <= kPulseMs ? qreal(t) / kPulseMs : qreal(kCycleMs - t) / kPulseMs;
  return lowOpacity_ + (1.0 - lowOpacity_) * easeInOut().valueForProgress(rise);
}

void MinimalBarRecordingDot::setPulseTime(int ms) {
  if (isPulsing()) pulse_->setCurrentTime(ms % kCycleMs);
  update();
}

void MinimalBarRecordingDot::showEvent(QShowEvent*) {
  if (!isPulsing()) pulse_->start();
}

void MinimalBarRecordingDot::hideEvent(QHideEvent*) { pulse_->stop(); }

void MinimalBarRecordingDot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(dsColor(color_, this, opacity()));
  painter.drawEllipse(QRectF(rect()));
}

// RecLabel

RecLabel::RecLabel(const QString& text, QWidget* parent)
    : TextLabel(text, TextStyle{tracked(dsFont(DSFont::micro), 1.5), 2, DSColor::accent}, parent) {
  setWrapping(false);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

// WaveformBars

namespace WaveformBars {

Bar bar(std::span<const float> levels, std::size_t i, QSizeF size) {
  const qreal n = qreal(levels.size());
  const qreal step = (size.width() - kBarWidth * n) / (std::max(n, 2.0) - 1) + kBarWidth;
  const float reading = levels[i];
  // Silence still shows a bar.
  const qreal level = reading <= 0.05f ? 0.05 : qreal(reading);
  const qreal height = std::max(size.height() * level, 2.0);
  return Bar{QRectF(step * qreal(i), (size.height() - height) * 0.5, kBarWidth, height),
             level > 0.25 ? DSColor::accent : DSColor::inkSecondary};
}

void paint(QPainter& painter, std::span<const float> levels, QSizeF size, const QWidget* widget) {
  if (levels.empty()) return;
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor loud = dsColor(DSColor::accent, widget);
  const QColor quiet = dsColor(DSColor::inkSecondary, widget);
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const Bar b = bar(levels, i, size);
    painter.fillRect(b.rect, b.color == DSColor::accent ? loud : quiet);
  }
}

}  // namespace WaveformBars

// MinimalBarWaveform

MinimalBarWaveform::MinimalBarWaveform(ReadLevel readLevel, Clock& clock, QWidget* parent)
    : QWidget(parent), readLevel_(std::move(readLevel)), timer_(clock, kInterval, [this] { tick(); }) {
  setFixedHeight(20);
  setMinimumWidth(0);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void MinimalBarWaveform::tick() {
  const float reading = readLevel_ ? readLevel_() : 0.0f;
  std::shift_left(levels_.begin(), levels_.end(), 1);
  levels_.back() = reading;
  update();
}

void MinimalBarWaveform::showEvent(QShowEvent*) {
  levels_.fill(0.0f);
  timer_.start();
}

void MinimalBarWaveform::hideEvent(QHideEvent*) { timer_.stop(); }

void MinimalBarWaveform::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  WaveformBars::paint(painter, levels_, QSizeF(size()), this);
}

// HudMinimalBarWaveContent

HudMinimalBarWaveContent::HudMinimalBarWaveContent(ReadLevel readLevel, const QString& label, Clock& clock,
                                                   QWidget* parent)
    : QWidget(parent),
      dot_(new MinimalBarRecordingDot(DSColor::accent, 0.3)),
      label_(new RecLabel(label)),
      waveform_(new MinimalBarWaveform(std::move(readLevel), clock)) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(8);
  row->addWidget(dot_, 0, Qt::AlignVCenter);
  row->addWidget(label_, 0, Qt::AlignVCenter);
  row->addWidget(waveform_, 1, Qt::AlignVCenter);
}

// HudProcessingBarContent

HudProcessingBarContent::HudProcessingBarContent(QWidget* parent)
    : QWidget(parent),
      dot_(new MinimalBarRecordingDot(DSColor::inkSecondary, 0.08)),
      //: Heads-up display label while a dictation is being transcribed.
      //% "PROCESSING"
      label_(new RecLabel(qtTrId("PROCESSING"))),
      spinner_(new DSSpinner(14)) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(8);
  row->addWidget(dot_, 0, Qt::AlignVCenter);
  row->addWidget(label_, 0, Qt::AlignVCenter);
  row->addSpacerItem(new QSpacerItem(8, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
  row->addWidget(spinner_, 0, Qt::AlignVCenter);
}

}  // namespace murel
