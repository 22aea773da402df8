#pragma once

#include "onboarding/OnboardingStep.h"

namespace murel {

class OnboardingButtonStyle;

// Stands in for a step whose own view is not built yet: its name and the
// "← BACK" / "NEXT →" buttons, so the flow can be walked end to end.
class PlaceholderStepView : public OnboardingStep {
  Q_OBJECT

 public:
  explicit PlaceholderStepView(int index, QWidget* parent = nullptr);

  int index() const { return index_; }
  OnboardingButtonStyle* backButton() const { return back_; }
  OnboardingButtonStyle* nextButton() const { return next_; }

 private:
  int index_;
  OnboardingButtonStyle* back_;
  OnboardingButtonStyle* next_;
};

}  // namespace murel
