#pragma once

class QWidget;

namespace murel {

class Clock;
class MurelApp;

// The onboarding window's content as the application shows it: the container
// with the seven steps, the application's audio-device manager for the steps
// that read it, and finishing wired to MurelApp::completeOnboarding.
QWidget* makeOnboardingScene(MurelApp& app, Clock& clock);

}  // namespace murel
