#include "onboarding/OnboardingSteps.h"

#include "onboarding/CompletionView.h"
#include "onboarding/PlaceholderStepView.h"
#include "onboarding/WelcomeView.h"

namespace murel {

OnboardingStep* makeOnboardingStep(int index, OnboardingEnvironment& environment) {
  switch (index) {
    case 0: return new WelcomeView(environment.clock);
    case 1:  // permissions: reads environment.audioDevices
    case 2:  // microphone: reads environment.audioDevices
    case 3:  // hotkey
    case 4:  // speech model
    case 5:  // trial dictation
      return new PlaceholderStepView(index);
    case 6: return new CompletionView(environment.clock);
    default: return nullptr;
  }
}

}  // namespace murel
