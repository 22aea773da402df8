#include "onboarding/OnboardingScene.h"

#include "app/MurelApp.h"
#include "app/StatusItem.h"
#include "onboarding/OnboardingContainerView.h"
#include "onboarding/OnboardingSteps.h"
#include "platform/pulse/MicrophonePermission.h"
#include "platform/x11/AccessibilityTrust.h"

namespace murel {

QWidget* makeOnboardingScene(MurelApp& app, AppState& appState, Clock& clock, HotKeyService& hotKeys,
                             platform::MicrophonePermission& microphone) {
  OnboardingEnvironment environment{app.audioDeviceManager(),          clock,   microphone,
                                    &platform::isAccessibilityTrusted, hotKeys, appState};
  environment.keyAccess = [] { return platform::checkKeyAccess(); };
  // The status item exists by the time a step asks (it is made at launch).
  environment.isTrayHostAvailable = [&app] {
    const StatusItem* item = app.statusItem();
    return item && item->isHostAvailable();
  };
  auto* container = new OnboardingContainerView(kOnboardingStepCount, std::move(environment));
  QObject::connect(container, &OnboardingContainerView::finished, &app, &MurelApp::completeOnboarding);
  return container;
}

}  // namespace murel
