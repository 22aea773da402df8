#pragma once

#include "onboarding/OnboardingStep.h"
#include "runtime/Clock.h"

#include <QList>

namespace murel {

class OnboardingButtonStyle;
class TextLabel;
class Tween;

// The last onboarding step: "you are DONE.", how Murel is used from now on,
// what it offers, and "START →", which ends the flow.
//
// It reveals itself in three stages when it first comes on screen, on the
// injected clock: the title (fading in while rising 20 px, 0.4 s) at once, the
// accent stripe (growing from the left, 0.3 s) 0.2 s later, and the eyebrow,
// detail, summary and buttons together (0.3 s) 0.15 s after that. Nothing of
// the reveal is pending once it has ended or the step is gone. In a preview
// run it starts revealed.
class CompletionView : public OnboardingStep {
  Q_OBJECT

 public:
  // `trayShown`: a tray shows the icon; otherwise the detail says how to reach Murel.
  explicit CompletionView(Clock& clock, bool trayShown = true, QWidget* parent = nullptr);
  ~CompletionView() override;

  static constexpr std::chrono::milliseconds kStripeDelay{200};
  static constexpr std::chrono::milliseconds kDetailsDelay{150};
  static constexpr int kTitleMs = 400;
  static constexpr int kStripeMs = 300;
  static constexpr int kDetailsMs = 300;

  bool titleRevealed() const { return titleRevealed_; }
  bool stripeVisible() const { return stripeVisible_; }
  bool detailsVisible() const { return detailsVisible_; }
  bool hasPendingStage() const { return pending_ != 0; }

  QWidget* stripe() const { return stripe_; }
  QWidget* title() const { return title_; }
  TextLabel* eyebrow() const { return eyebrow_; }
  TextLabel* detail() const { return detail_; }
  OnboardingButtonStyle* backButton() const { return back_; }
  OnboardingButtonStyle* startButton() const { return start_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void revealTitle();
  void revealStripe();
  void revealDetails();
  void applyDetailsOpacity(qreal opacity);

  Clock& clock_;
  bool titleRevealed_;
  bool stripeVisible_;
  bool detailsVisible_;
  bool revealStarted_ = false;
  Clock::TimerId pending_ = 0;
  QWidget* stripe_;
  QWidget* title_;
  TextLabel* eyebrow_;
  TextLabel* detail_;
  QList<TextLabel*> summary_;
  OnboardingButtonStyle* back_;
  OnboardingButtonStyle* start_;
  Tween* titleTween_;
  Tween* stripeTween_;
  Tween* detailsTween_;
};

}  // namespace murel
