#include "design/CoreComponents.h"

#include "design/Symbols.h"
#include "design/Text.h"

#include <QPainter>

#include <cmath>

namespace murel {
namespace {

QFont stepCounterFont() { return tracked(notoSans(12), 1.5); }

QString twoDigits(qint64 value) { return QString::asprintf("%02lld", static_cast<long long>(value)); }

}  // namespace

// AppIcon

AppIcon::AppIcon(const QString& name, qreal size, QWidget* parent) : QWidget(parent), name_(name) {
  const int side = int(std::ceil(size));
  setFixedSize(side, side);
}

QString AppIcon::resourcePath(const QString& name) { return QStringLiteral("images/") + name + QStringLiteral(".svg"); }

void AppIcon::setColor(DSColor color, qreal opacity) {
  color_ = color;
  opacity_ = opacity;
  update();
}

void AppIcon::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  Symbols::paintImage(painter, QRectF(rect()), resourcePath(name_), dsColor(color_, this, opacity_));
}

// ThinDivider

ThinDivider::ThinDivider(QWidget* parent) : QWidget(parent) {
  setFixedHeight(1);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ThinDivider::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), dsColor(DSColor::hairline, this));
}

// StepCounter

StepCounter::StepCounter(int current, int total, QWidget* parent) : QWidget(parent), current_(current), total_(total) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setAccessibleName(text());
}

void StepCounter::setStep(int current, int total) {
  current_ = current;
  total_ = total;
  setAccessibleName(text());
  updateGeometry();
  update();
}

// Widened before adding one, so the largest index still reads correctly.
QString StepCounter::currentText() const { return twoDigits(qint64(current_) + 1); }

QString StepCounter::separatorText() const {
  //% "/"
  //: Separator between the current step and the number of steps, as in 01/07.
  return qtTrId("design.stepCounter.separator");
}

QString StepCounter::totalText() const { return twoDigits(total_); }

QString StepCounter::text() const { return currentText() + separatorText() + totalText(); }

QSize StepCounter::sizeHint() const {
  const QSizeF size = TextMetrics::size(text(), stepCounterFont(), 2);
  return QSize(int(std::ceil(size.width())), int(std::ceil(size.height())));
}

void StepCounter::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const QFont font = stepCounterFont();
  const QFontMetricsF metrics(font);
  const qreal top = (height() - metrics.height()) / 2;
  qreal x = 0;
  const std::pair<QString, DSColor> runs[] = {
      {currentText(), DSColor::accent}, {separatorText(), DSColor::inkSecondary}, {totalText(), DSColor::inkSecondary}};
  for (const auto& [run, token] : runs) {
    TextMetrics::draw(painter, QRectF(x, top, width() - x, metrics.height()), run, font, 0, dsColor(token, this),
                      Qt::AlignLeft, false);
    x += metrics.horizontalAdvance(run);
  }
}

// DSAccentStripe

DSAccentStripe::DSAccentStripe(qreal width, qreal thickness, QWidget* parent)
    : QWidget(parent), width_(width), thickness_(thickness) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize DSAccentStripe::sizeHint() const { return QSize(int(std::ceil(width_)), int(std::ceil(thickness_))); }

void DSAccentStripe::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRectF stripe(QPointF((width() - width_) / 2, (height() - thickness_) / 2), QSizeF(width_, thickness_));
  painter.fillRect(stripe, dsColor(DSColor::accent, this));
}

}  // namespace murel
