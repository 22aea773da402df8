#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

#include <QWidget>

#include "app/SettingsNavigator.h"

namespace murel {

class AppDelegate;
class UpdateController;
class Updater;
class AudioDeviceManager;
class StatusItem;
class UserDefaults;
namespace platform {
class AudioDevices;
class LoginItem;
class MicrophonePermission;
}  // namespace platform

// Accessory: the tray icon only, windows stay out of the task bar's way.
// Regular: a window is brought to the front, as while setup is pending.
enum class ActivationPolicy { accessory, regular };

// The application object: the onboarding and settings windows, the tray icon,
// the one audio-device manager of the process, and whether setup is complete.
class MurelApp : public QObject {
  Q_OBJECT

 public:
  // What the application reaches outside itself; tests replace parts.
  struct Services {
    std::function<bool()> isReadyAtLaunch;     // default: evaluateLaunchReadiness on `microphone`
    std::function<void()> bootstrap;           // runs the application state's start-up
    std::function<void()> startHotKeys;        // registers the stored hotkeys
    std::function<bool()> isDictationRunning;  // recording or transcribing; default: never
    UserDefaults* defaults = nullptr;          // default: the shared user defaults
    platform::LoginItem* loginItem = nullptr;  // none: launch at login is left alone
    // The sound server's permission and device list behind the audio-device
    // manager: needed before audioDeviceManager() is first asked.
    platform::MicrophonePermission* microphone = nullptr;
    platform::AudioDevices* audioDevices = nullptr;
    std::function<std::unique_ptr<Updater>()> makeUpdater;  // default: the download page
    // An update check that could not be carried out (message for the user, reason for the log).
    std::function<void(const QString&, const QString&)> updateFailed;
    // The settings window's content once setup is complete, built each time the
    // window opens and dropped when it closes (the composition root passes the
    // settings view); none leaves the window empty.
    std::function<QWidget*(MurelApp&)> settingsContent;
    // The onboarding window's content (the layers above build it); it calls
    // completeOnboarding when the user finishes. Default: an empty page.
    std::function<QWidget*(MurelApp&)> onboardingContent;
    // The tray panel's content, built each time the panel opens (the layers
    // above build it). Default: an empty panel.
    std::function<QWidget*(MurelApp&)> menuBarContent;
  };

  // The window identifiers.
  static constexpr const char* kOnboardingID = "onboarding";
  static constexpr const char* kSettingsID = "settings";

  explicit MurelApp(Services services, QObject* parent = nullptr);
  ~MurelApp() override;

  // Builds the windows and the tray icon and runs the delegate's launch steps.
  void launch();

  bool hasCompletedOnboarding() const { return hasCompletedOnboarding_; }
  ActivationPolicy activationPolicy() const { return policy_; }
  void setActivationPolicy(ActivationPolicy policy);
  AudioDeviceManager& audioDeviceManager();
  // Which settings page shows; other windows write it, then call openSettings().
  SettingsNavigator& settingsNavigator() { return settingsNavigator_; }
  AppDelegate& delegate() { return *delegate_; }
  StatusItem* statusItem() const { return statusItem_; }
  const Services& services() const { return services_; }

  // The onboarding content calls this after the user has finished the last step.
  void completeOnboarding();
  // Opens (or brings forward) the settings window.
  void openSettings();
  // Brings the onboarding window forward with the regular policy.
  void bringOnboardingForward();
  // A later launch of the application: where no tray shows the icon, the
  // settings window (or, while setup is pending, the onboarding window) comes forward.
  // During a dictation it waits until the dictation is over, so the window the
  // text is going to keeps the focus.
  void reopen();
  // The dictation may have ended: a reopen that waited for it happens now.
  void dictationStateChanged();
  bool isReopenDeferred() const { return reopenDeferred_; }
  // Starts the application state's bootstrap one main-loop turn later.
  void startBootstrap();
  // Creates and starts the updater (once, at launch).
  void startUpdater();
  UpdateController* updateController() const { return updates_.get(); }

  QWidget* onboardingWindow() const { return onboardingWindow_; }
  QWidget* settingsWindow() const { return settingsWindow_; }

 Q_SIGNALS:
  void hasCompletedOnboardingChanged();

 private:
  QWidget* makeOnboardingWindow();
  QWidget* makeSettingsWindow();

  Services services_;
  std::unique_ptr<AppDelegate> delegate_;
  bool hasCompletedOnboarding_ = false;
  bool reopenDeferred_ = false;
  ActivationPolicy policy_ = ActivationPolicy::accessory;
  AudioDeviceManager* audioDeviceManager_ = nullptr;
  std::unique_ptr<UpdateController> updates_;
  SettingsNavigator settingsNavigator_;
  StatusItem* statusItem_ = nullptr;
  QPointer<QWidget> onboardingWindow_;
  QPointer<QWidget> settingsWindow_;
};

}  // namespace murel
