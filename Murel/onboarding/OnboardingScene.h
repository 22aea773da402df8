#pragma once

class QWidget;

namespace murel {

class AppState;
class Clock;
class MurelApp;

// The onboarding window's content as the application shows it: the container
// with the seven steps, the application's audio-device manager and state for
// the steps that use them, and finishing wired to MurelApp::completeOnboarding.
QWidget* makeOnboardingScene(MurelApp& app, AppState& appState, Clock& clock);

}  // namespace murel
