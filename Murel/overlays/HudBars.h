#pragma once

#include "app/HudPresentation.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "runtime/Clock.h"

#include <QRectF>
#include <QWidget>

#include <array>
#include <span>

class QHBoxLayout;
class QVariantAnimation;

namespace murel {

// The capsule every bar of the heads-up display sits in: `width` by 40, the
// content padded 16 on either side and centred, on the page colour with a
// 1-point accent outline inside its edge.
class HudBarContainer : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeight = 40;
  static constexpr int kPadding = 16;

  explicit HudBarContainer(int width, QWidget* parent = nullptr);

  // Replaces the previous content, which is hidden at once and deleted later.
  void setContent(QWidget* content);
  QWidget* content() const { return content_; }

  QSize sizeHint() const override { return size(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QHBoxLayout* layout_;
  QWidget* content_ = nullptr;
};

// An 8-point dot whose opacity swings from `lowOpacity` up to 1 and back,
// 0.8 s each way, eased, for as long as it is on screen.
class MinimalBarRecordingDot : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kPulseMs = 800;

  MinimalBarRecordingDot(DSColor color, qreal lowOpacity, QWidget* parent = nullptr);

  DSColor color() const { return color_; }
  qreal lowOpacity() const { return lowOpacity_; }
  qreal opacity() const;
  bool isPulsing() const;
  // Moves the pulse to `ms` into its 1.6 s cycle (screenshots, tests).
  void setPulseTime(int ms);

  QSize sizeHint() const override { return QSize(8, 8); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  DSColor color_;
  qreal lowOpacity_;
  QVariantAnimation* pulse_;
};

// The bars' short label: the micro style, tracking 1.5, in accent.
class RecLabel : public TextLabel {
  Q_OBJECT

 public:
  explicit RecLabel(const QString& text, QWidget* parent = nullptr);
};

// Where and in what colour reading `i` of `levels` is drawn on a canvas of
// `size`: bars 2 wide spread evenly from x = 0 to the right edge, centred
// vertically, at least 0.05 high relative to the canvas (and never under
// 2 points), accent above 0.25 and the quiet ink up to it. Readings above 1
// are not limited.
namespace WaveformBars {
struct Bar {
  QRectF rect;
  DSColor color;
};
inline constexpr qreal kBarWidth = 2;
Bar bar(std::span<const float> levels, std::size_t i, QSizeF size);
// Draws every bar of `levels` in a canvas of `size`, colours resolved for `widget`.
void paint(QPainter& painter, std::span<const float> levels, QSizeF size, const QWidget* widget);
}  // namespace WaveformBars

// The live waveform: the last 24 readings of `readLevel`, sampled 30 times a
// second on `clock` while on screen, drawn as thin bars. It starts from 24
// zeros whenever it comes on screen, so the bars grow in from the right.
class MinimalBarWaveform : public QWidget {
  Q_OBJECT

 public:
  static constexpr std::size_t kReadings = 24;
  static constexpr Clock::Duration kInterval{1'000'000'000 / 30};

  MinimalBarWaveform(ReadLevel readLevel, Clock& clock, QWidget* parent = nullptr);

  // Oldest first.
  const std::array<float, kReadings>& levels() const { return levels_; }
  bool isSampling() const { return timer_.isActive(); }
  // One reading: calls `readLevel`, slides the window by one and repaints.
  void tick();

  QSize sizeHint() const override { return QSize(96, 20); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  ReadLevel readLevel_;
  RepeatingTimer timer_;
  std::array<float, kReadings> levels_{};
};

// The recording bar: pulsing accent dot, `label`, and the waveform filling
// the rest of the row.
class HudMinimalBarWaveContent : public QWidget {
  Q_OBJECT

 public:
  HudMinimalBarWaveContent(ReadLevel readLevel, const QString& label, Clock& clock, QWidget* parent = nullptr);

  MinimalBarRecordingDot* dot() const { return dot_; }
  RecLabel* label() const { return label_; }
  MinimalBarWaveform* waveform() const { return waveform_; }

 private:
  MinimalBarRecordingDot* dot_;
  RecLabel* label_;
  MinimalBarWaveform* waveform_;
};

// The processing bar: a dim dot, "PROCESSING" and the spinner at the right end.
class HudProcessingBarContent : public QWidget {
  Q_OBJECT

 public:
  explicit HudProcessingBarContent(QWidget* parent = nullptr);

  MinimalBarRecordingDot* dot() const { return dot_; }
  RecLabel* label() const { return label_; }
  QWidget* spinner() const { return spinner_; }

 private:
  MinimalBarRecordingDot* dot_;
  RecLabel* label_;
  QWidget* spinner_;
};

}  // namespace murel
