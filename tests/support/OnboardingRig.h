#pragma once

#include "design/Appearance.h"
#include "platform/x11/AccessibilityTrust.h"
#include "speech/SpeechModel.h"

#include <QImage>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class QWidget;

namespace murel {
class AppState;
class AudioDeviceManager;
class Clock;
class HotKeyService;
class Composition;
class OnboardingContainerView;
class UserDefaults;
class X11KeyEventTap;
namespace platform {
class AudioDevices;
class MicrophonePermission;
class SoundServer;
}  // namespace platform
}  // namespace murel

namespace murel::test {

// The application's parts on fakes of the desktop (no key tap, keys or
// clipboard of the rig's X server), for onboarding tests that dictate nothing:
// its state stands in for the application's in the steps that use one.
class FakeDesktopComposition {
 public:
  FakeDesktopComposition();
  // `makeEngine`: as Composition::Options (the catalogue's engines when empty).
  explicit FakeDesktopComposition(
      std::function<std::shared_ptr<TranscriptionEngine>(const SpeechModelDescriptor&)> makeEngine);
  ~FakeDesktopComposition();
  FakeDesktopComposition(const FakeDesktopComposition&) = delete;
  FakeDesktopComposition& operator=(const FakeDesktopComposition&) = delete;

  Composition& composition() const;
  AppState& appState() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> d_;
};

// The onboarding window on the rig's X server, for the onboarding step tests:
// a top-level window holding the real container, with the steps' environment
// built from the given clock, a real audio-device manager, an application
// state (a FakeDesktopComposition's unless one is given) and a hotkey service:
// the given state's, or else one of the rig's own on a real X11 key tap with
// user defaults of its own (a fresh profile).
class OnboardingRig {
 public:
  struct Options {
    AppState* appState = nullptr;
    // The speech-model step's rows and download address (see OnboardingEnvironment).
    QList<SpeechModelDescriptor> speechModels;
    QUrl downloadEndpoint;
    // What a test may answer in place of the desktop; the rig's sound server where unset.
    platform::MicrophonePermission* microphonePermission = nullptr;
    platform::AudioDevices* audioDevices = nullptr;
    std::function<bool()> isAccessibilityTrusted;
    // What the accessibility row says is missing (the rig's display's own answer where unset).
    std::function<platform::KeyAccessReport()> keyAccess;
    // Whether a tray shows the icon (none where unset).
    std::function<bool()> isTrayHostAvailable;
  };
  using Parts = Options;

  explicit OnboardingRig(Clock& clock);
  OnboardingRig(Clock& clock, Options options);
  ~OnboardingRig();
  OnboardingRig(const OnboardingRig&) = delete;
  OnboardingRig& operator=(const OnboardingRig&) = delete;

  QWidget& window() const { return *window_; }
  OnboardingContainerView& container() const { return *container_; }
  AudioDeviceManager& audioDevices() const { return *devices_; }
  UserDefaults& defaults() const { return *defaults_; }
  HotKeyService& hotKeys() const { return *hotKeys_; }
  AppState& appState() const { return *appState_; }

  // Shows the window at the top-left of the screen, waits until it is exposed
  // and active, and walks forward or back to `step` with every push ended at once.
  bool open(int step = 0);

  // Renders the window in light and in dark to
  // <build>/screenshots/onboarding/<name>-<light|dark>.png and returns both.
  QImage render(Appearance::Scheme scheme) const;
  std::pair<QImage, QImage> screenshots(const QString& name) const;

  // Every text the window shows now: labels, counters, pills, buttons and
  // accessible names of the visible widgets, each once.
  QStringList visibleTexts() const;

  // Real pointer input through xdotool, at the centre of `widget` (or at
  // `offset` from its top-left).
  static bool click(const QWidget* widget);
  static bool click(const QWidget* widget, QPoint offset);
  static bool movePointerTo(const QWidget* widget);
  // Moves the pointer off every window of the test.
  static bool movePointerAway();

  static QString screenshotDir();

 private:
  std::unique_ptr<FakeDesktopComposition> ownApplication_;
  AppState* appState_;
  std::unique_ptr<platform::SoundServer> sound_;
  std::unique_ptr<UserDefaults> ownDefaults_;
  std::unique_ptr<X11KeyEventTap> tap_;
  std::unique_ptr<HotKeyService> ownHotKeys_;
  UserDefaults* defaults_;
  HotKeyService* hotKeys_;
  std::unique_ptr<AudioDeviceManager> devices_;
  QWidget* window_;
  OnboardingContainerView* container_;
};

}  // namespace murel::test
