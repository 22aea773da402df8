#pragma once

#include "design/Appearance.h"

#include <QImage>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;

namespace murel {
class AudioDeviceManager;
class Clock;
class HotKeyService;
class OnboardingContainerView;
class UserDefaults;
class X11KeyEventTap;
namespace platform {
class AudioDevices;
class MicrophonePermission;
}  // namespace platform
}  // namespace murel

namespace murel::test {

// The onboarding window on the rig's X server, for the onboarding step tests:
// a top-level window holding the real container, with the steps' environment
// built from the given clock, user defaults of its own (a fresh profile), a
// real audio-device manager and a hotkey service on a real X11 key tap.
class OnboardingRig {
 public:
  // What a test may answer in place of the desktop; the real parts where unset.
  struct Parts {
    platform::MicrophonePermission* microphonePermission = nullptr;
    platform::AudioDevices* audioDevices = nullptr;
    std::function<bool()> isAccessibilityTrusted;
  };

  explicit OnboardingRig(Clock& clock);
  OnboardingRig(Clock& clock, Parts parts);
  ~OnboardingRig();
  OnboardingRig(const OnboardingRig&) = delete;
  OnboardingRig& operator=(const OnboardingRig&) = delete;

  QWidget& window() const { return *window_; }
  OnboardingContainerView& container() const { return *container_; }
  AudioDeviceManager& audioDevices() const { return *devices_; }
  UserDefaults& defaults() const { return *defaults_; }
  HotKeyService& hotKeys() const { return *hotKeys_; }

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
  std::unique_ptr<UserDefaults> defaults_;
  std::unique_ptr<X11KeyEventTap> tap_;
  std::unique_ptr<HotKeyService> hotKeys_;
  std::unique_ptr<AudioDeviceManager> devices_;
  QWidget* window_;
  OnboardingContainerView* container_;
};

}  // namespace murel::test
