#pragma once

#include <QPointer>
#include <QWidget>

namespace murel {

class Tween;

// Cross-fades a widget from its look now to the look it is given right after:
// a picture of the old look, laid over it, fades out while the widget fades
// in, ease-out. For changes of content that a component's state makes at once
// (a pill's label, a line's text and colour, a selection mark).
//
// Call before changing the widget. A widget about to be shown just fades in;
// nothing happens while its parent is off screen. A fade still running over
// the widget is ended first.
class Crossfade : public QWidget {
  Q_OBJECT

 public:
  static void begin(QWidget* widget, int durationMs);
  // The fade running over `widget`, or null.
  static Crossfade* running(const QWidget* widget);
  ~Crossfade() override;

  QWidget* target() const { return target_; }
  Tween* tween() const { return tween_; }
  // Ends the fade at once: the old picture goes, the widget is fully drawn.
  void finish();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Crossfade(QWidget* target, int durationMs);
  void apply(qreal progress);

  QPointer<QWidget> target_;
  QPixmap before_;
  qreal progress_ = 0;
  Tween* tween_;
};

}  // namespace murel
