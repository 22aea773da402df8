#pragma once

class QWidget;

namespace murel {

class AppState;
class Clock;
class HotKeyService;
class MurelApp;
namespace platform {
class MicrophonePermission;
}

// The onboarding window's content as the application shows it: the container
// with the seven steps, the application's audio-device manager, hotkey service
// and state for the steps that use them, the desktop's microphone and key
// access checks (`microphone`), and finishing wired to MurelApp::completeOnboarding.
QWidget* makeOnboardingScene(MurelApp& app, AppState& appState, Clock& clock, HotKeyService& hotKeys,
                             platform::MicrophonePermission& microphone);

}  // namespace murel
