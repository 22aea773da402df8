#include "onboarding/OnboardingScene.h"

#include "app/MurelApp.h"
#include "onboarding/OnboardingContainerView.h"
#include "onboarding/OnboardingSteps.h"
#include "platform/pulse/MicrophonePermission.h"
#include "platform/x11/AccessibilityTrust.h"

namespace murel {

QWidget* makeOnboardingScene(MurelApp& app, AppState& appState, Clock& clock, HotKeyService& hotKeys,
                             platform::MicrophonePermission& microphone) {
  auto* container = new OnboardingContainerView(
      kOnboardingStepCount, OnboardingEnvironment{app.audioDeviceManager(), clock, microphone,
                                                  &platform::isAccessibilityTrusted, hotKeys, appState});
  QObject::connect(container, &OnboardingContainerView::finished, &app, &MurelApp::completeOnboarding);
  return container;
}

}  // namespace murel
