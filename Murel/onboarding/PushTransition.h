#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

class QVariantAnimation;

namespace murel {

// Swaps two sibling widgets with a push: the entering one slides in from one
// edge while fading in, the leaving one slides out towards the other edge while
// fading out. Forward comes in from the right, backward from the left.
//
// The leaving widget takes no input while it goes and is deleted at the end.
// The opacity effects exist only while the push runs, so a resting screen pays
// nothing for them. finish() jumps to the end at once (a new push, a reset).
class PushTransition : public QObject {
  Q_OBJECT

 public:
  // `leaving` may be null (nothing to push out). Both are children of the same
  // parent; `enteringRect` and `leavingRect` are their resting places there.
  PushTransition(QWidget* leaving, QRect leavingRect, QWidget* entering, QRect enteringRect, bool forward,
                 int durationMs, QObject* parent = nullptr);
  ~PushTransition() override;

  void start();
  void finish();
  bool isRunning() const;
  // 0...1 along the eased curve.
  qreal progress() const { return progress_; }
  QWidget* entering() const { return entering_; }
  QWidget* leaving() const { return leaving_; }
  // The animation, so that a test can hold it at a chosen moment.
  QVariantAnimation* animation() const { return animation_; }

 Q_SIGNALS:
  void progressed(qreal progress);
  void finished();

 private:
  void apply(qreal progress);
  void end();

  QPointer<QWidget> leaving_;
  QRect leavingRect_;
  QPointer<QWidget> entering_;
  QRect enteringRect_;
  int distance_;
  qreal progress_ = 0;
  bool ended_ = false;
  QVariantAnimation* animation_;
};

}  // namespace murel
