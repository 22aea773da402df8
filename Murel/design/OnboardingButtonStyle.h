#pragma once

#include <QAbstractButton>

namespace murel {

class Tween;

// The push button of the onboarding steps, also used by the tray panel's error
// card and the transcribe page (hence here, below all three windows). Primary: accent fill and outline, label in the
// page colour. Secondary: no fill, a 30 % ink outline, ink label, so it draws
// over whatever lies beneath. Labels are given upper-case by the caller
// ("NEXT →", "← BACK").
//
// Half opacity while disabled (fading over 0.15 s); 97 % scale and 1 px lower
// while pressed (0.1 s, ease-out both ways). The whole padded rectangle takes
// clicks, not only the glyphs. Everything is painted, so nested opacity needs
// no graphics effect: setOpacity() multiplies in the caller's own fade.
class OnboardingButtonStyle : public QAbstractButton {
  Q_OBJECT

 public:
  OnboardingButtonStyle(const QString& label, bool isPrimary, QWidget* parent = nullptr);

  bool isPrimary() const { return isPrimary_; }
  // The caller's opacity (a staged reveal), on top of the disabled look. A
  // fully transparent button takes no clicks.
  void setOpacity(qreal opacity);
  qreal opacity() const { return opacity_; }
  // The label's face; 12 px with 1.5 tracking unless the caller sets its own
  // (the tray panel's error card uses a smaller one).
  void setLabelFont(const QFont& font);
  const QFont& labelFont() const { return labelFont_; }
  // What the paint uses now: 1 or 0.5 by enabled state, in between while fading.
  qreal enabledOpacity() const;
  // 0 at rest, 1 fully pressed, in between while animating.
  qreal pressProgress() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

  static constexpr qreal kDisabledOpacity = 0.5;
  static constexpr qreal kPressedScale = 0.97;
  static constexpr int kPressMs = 100;
  static constexpr int kEnableMs = 150;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
  bool event(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void followDown();

  bool isPrimary_;
  qreal opacity_ = 1.0;
  QFont labelFont_;
  Tween* press_ = nullptr;
  Tween* enabled_ = nullptr;
};

}  // namespace murel
