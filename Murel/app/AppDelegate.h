#pragma once

#include <QObject>

namespace murel {

class MurelApp;
class UserDefaults;
namespace platform {
class LoginItem;
}

inline constexpr char kLaunchAtLoginDefaultAppliedKey[] = "launchAtLoginDefaultApplied";

// Registers the application to start at login once, on its first successful
// launch. A failed registration leaves the flag unset so the next launch tries
// again; a login item the user removed later is never put back.
void applyLaunchAtLoginDefault(UserDefaults& defaults, platform::LoginItem& loginItem);

// What happens around launching: the order in which the updater, the login
// item, the hotkeys and the application state come up. Main thread.
class AppDelegate : public QObject {
  Q_OBJECT

 public:
  explicit AppDelegate(MurelApp& app);

  void applicationWillFinishLaunching();
  void applicationDidFinishLaunching();
  // Opening the running application again does nothing of its own.
  bool applicationShouldHandleReopen(bool hasVisibleWindows) const;
  bool applicationShouldOpenUntitledFile() const { return false; }

  // Asks every window identified as "onboarding" to close.
  void closeOnboardingWindows();

 private:
  MurelApp& app_;
};

}  // namespace murel
