#pragma once

#include <QWidget>

#include <optional>

class QVariantAnimation;

namespace murel {

// A thin capsule bar: the known fraction in accent over a faint track, or,
// without a fraction, an accent band sweeping left to right every 1.2 s. The
// sweep runs only while the bar is shown.
class DSProgressBar : public QWidget {
  Q_OBJECT

 public:
  DSProgressBar(std::optional<double> progress, qreal height, QWidget* parent = nullptr);

  void setProgress(std::optional<double> progress);
  std::optional<double> progress() const { return progress_; }
  // The drawn fill fraction of a determinate bar, clamped to 0...1.
  double fillFraction() const;

  bool isSweeping() const;
  // The band's left edge as a fraction of the width (-0.3 ... 1.0).
  qreal sweepOffset() const;
  // Moves the sweep to `ms` into its 1.2 s cycle (screenshots, tests).
  void setSweepTime(int ms);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void updateSweep();

  std::optional<double> progress_;
  qreal height_;
  QVariantAnimation* sweep_;
};

// Four accent squares of rising opacity turning about their centre, one
// clockwise turn every 0.8 s while shown.
class DSSpinner : public QWidget {
  Q_OBJECT

 public:
  explicit DSSpinner(qreal size, QWidget* parent = nullptr);

  bool isSpinning() const;
  qreal rotation() const;
  // Moves the turn to `ms` into its 0.8 s cycle (screenshots, tests).
  void setSpinTime(int ms);
  // Centre of square `i` (0...3) before rotation, relative to the centre.
  QPointF squareOffset(int i) const;
  qreal squareSide() const { return size_ / 4; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  qreal size_;
  QVariantAnimation* turn_;
};

}  // namespace murel
