#include "onboarding/OnboardingSteps.h"

#include "onboarding/CompletionView.h"
#include "onboarding/ModelDownloadView.h"
#include "onboarding/PlaceholderStepView.h"
#include "onboarding/TestSetupView.h"
#include "onboarding/WelcomeView.h"

namespace murel {

OnboardingStep* makeOnboardingStep(int index, OnboardingEnvironment& environment) {
  switch (index) {
    case 0: return new WelcomeView(environment.clock);
    case 1:  // permissions: reads environment.audioDevices
    case 2:  // microphone: reads environment.audioDevices
    case 3:  // hotkey
      return new PlaceholderStepView(index);
    case 4: return new ModelDownloadView(environment.appState, environment.speechModels, environment.downloadEndpoint);
    case 5: return new TestSetupView(environment.appState);
    case 6: return new CompletionView(environment.clock);
    default: return nullptr;
  }
}

}  // namespace murel
