#include "onboarding/OnboardingSteps.h"

#include "onboarding/CompletionView.h"
#include "onboarding/HotkeyRecordView.h"
#include "onboarding/MicrophoneSelectionView.h"
#include "onboarding/ModelDownloadView.h"
#include "onboarding/PermissionsView.h"
#include "onboarding/TestSetupView.h"
#include "onboarding/WelcomeView.h"

namespace murel {

OnboardingStep* makeOnboardingStep(int index, OnboardingEnvironment& environment) {
  const auto trayShown = [&environment] {
    return environment.isTrayHostAvailable && environment.isTrayHostAvailable();
  };
  switch (index) {
    case 0: return new WelcomeView(environment.clock);
    case 1: return new PermissionsView(environment);
    case 2: return new MicrophoneSelectionView(environment.audioDevices, {}, trayShown());
    case 3: return new HotkeyRecordView(environment);
    case 4: return new ModelDownloadView(environment.appState, environment.speechModels, environment.downloadEndpoint);
    case 5: return new TestSetupView(environment.appState);
    case 6: return new CompletionView(environment.clock, trayShown());
    default: return nullptr;
  }
}

}  // namespace murel
