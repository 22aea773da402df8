#pragma once

#include "onboarding/OnboardingStep.h"
#include "onboarding/PushTransition.h"

#include <QPointer>
#include <QWidget>

class QGraphicsOpacityEffect;

namespace murel {

class StepCounter;

// The onboarding window's content, exactly 800 by 600: a header (accent bar,
// "Murel", step counter) from step 1 on, above the current step, which fills
// everything below it (the whole window on the welcome step).
//
// Steps come from makeOnboardingStep (OnboardingSteps.h) by index: one widget
// at a time, made when the flow enters it and deleted when it leaves. A move
// pushes the next step in over 0.15 s, ease-in-out, from the right going
// forward and from the left going back; the header fades in or out with it.
// Every time the window is shown the flow starts again at the welcome step.
//
// finishOnboarding closes the window, then emits finished() once; closing the
// window in any other way emits nothing.
class OnboardingContainerView : public QWidget {
  Q_OBJECT

 public:
  OnboardingContainerView(int totalSteps, OnboardingEnvironment environment, QWidget* parent = nullptr);
  ~OnboardingContainerView() override;

  static constexpr int kWidth = 800;
  static constexpr int kHeight = 600;
  static constexpr int kPushMs = 150;

  int currentStep() const { return currentStep_; }
  bool navigatingForward() const { return navigatingForward_; }
  int totalSteps() const { return totalSteps_; }
  // The step on screen (the entering one during a push); null past the last.
  OnboardingStep* currentStepView() const { return step_; }
  QWidget* header() const { return header_; }
  StepCounter* stepCounter() const { return counter_; }
  // The push under way, or null.
  PushTransition* transition() const { return transition_; }

  void goToNextStep();
  void goToPreviousStep();
  void finishOnboarding();
  // Ends a running push at once.
  void finishTransition();

  QSize sizeHint() const override { return QSize(kWidth, kHeight); }

 Q_SIGNALS:
  void currentStepChanged(int step);
  // The user finished the flow; the window is already closed.
  void finished();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void moveTo(int step, bool animated);
  QRect stepRect(int step) const;
  void setHeaderOpacity(qreal opacity);

  int totalSteps_;
  OnboardingEnvironment environment_;
  int currentStep_ = 0;
  bool navigatingForward_ = true;
  bool shownBefore_ = false;
  QWidget* header_;
  StepCounter* counter_;
  QGraphicsOpacityEffect* headerFade_ = nullptr;
  QPointer<OnboardingStep> step_;
  QPointer<PushTransition> transition_;
};

}  // namespace murel
