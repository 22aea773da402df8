#pragma once

#include <QEasingCurve>
#include <QObject>

#include <functional>

class QVariantAnimation;
class QWidget;

namespace murel {

namespace Motion {
// The kit's timings, in milliseconds.
inline constexpr int kHover = 100;
inline constexpr int kToggle = 150;
inline constexpr int kPageEntrance = 200;
// The ease-out curve of the kit's transitions (cubic Bézier 0, 0, 0.58, 1).
QEasingCurve easeOut();
// Draws `widget` and its children at `opacity` (an opacity effect, which needs
// no compositor); at 1 the effect is removed so that it draws directly.
void setContentOpacity(QWidget* widget, qreal opacity);

// The ease-in-out curve of pushes between screens (cubic Bézier 0.42, 0, 0.58, 1).
QEasingCurve easeInOut();

// The exit of a view from a list: out of reach of the pointer and the
// keyboard at once, it fades out while its height folds to nothing, ease-out
// over `durationMs`; then `gone` is called (at once when it is not on screen
// or there is no time to take).
void foldAway(QWidget* widget, int durationMs, std::function<void()> gone);
}  // namespace Motion

// One animated number of a component (a hover fade, a knob position); calls
// `onChange` with every new value, typically to repaint.
class Tween : public QObject {
  Q_OBJECT

 public:
  Tween(qreal initial, std::function<void(qreal)> onChange, QObject* parent);

  qreal value() const { return value_; }
  qreal target() const { return target_; }
  bool isRunning() const;
  // Eases towards `target` over `durationMs` (ease-out unless told).
  void animateTo(qreal target, int durationMs, const QEasingCurve& curve = Motion::easeOut());
  // Sets the value at once, stopping any animation.
  void jumpTo(qreal target);
  // The running animation: tests pause it and seek to a moment of it.
  QVariantAnimation* animation() const { return animation_; }

 private:
  void set(qreal value);

  qreal value_;
  qreal target_;
  std::function<void(qreal)> onChange_;
  QVariantAnimation* animation_;
};

}  // namespace murel
