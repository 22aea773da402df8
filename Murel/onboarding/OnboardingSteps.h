#pragma once

#include "onboarding/OnboardingStep.h"

namespace murel {

// The seam between the container and its steps. The flow is strictly linear:
//   0 welcome · 1 permissions · 2 microphone · 3 hotkey · 4 speech model ·
//   5 trial dictation · 6 completion
// makeOnboardingStep builds the widget of one index, with no parent and fresh
// state; the container places it, connects its signals and deletes it when
// the flow leaves it. An index outside 0...6 gives null (an empty content
// area under the header).
inline constexpr int kOnboardingStepCount = 7;

OnboardingStep* makeOnboardingStep(int index, OnboardingEnvironment& environment);

}  // namespace murel
