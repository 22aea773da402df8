#include "onboarding/OnboardingScene.h"

#include "app/MurelApp.h"
#include "onboarding/OnboardingContainerView.h"
#include "onboarding/OnboardingSteps.h"

namespace murel {

QWidget* makeOnboardingScene(MurelApp& app, AppState& appState, Clock& clock) {
  auto* container = new OnboardingContainerView(kOnboardingStepCount,
                                                OnboardingEnvironment{app.audioDeviceManager(), clock, appState});
  QObject::connect(container, &OnboardingContainerView::finished, &app, &MurelApp::completeOnboarding);
  return container;
}

}  // namespace murel
