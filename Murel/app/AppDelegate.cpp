#include "app/AppDelegate.h"

#include "app/MurelApp.h"
#include "platform/xdg/LoginItem.h"
#include "runtime/DiagLog.h"
#include "runtime/UserDefaults.h"

#include <QApplication>
#include <QWidget>

namespace murel {

void applyLaunchAtLoginDefault(UserDefaults& defaults, platform::LoginItem& loginItem) {
  const QString key = QString::fromLatin1(kLaunchAtLoginDefaultAppliedKey);
  if (defaults.boolOr(key, false)) return;
  QString why;
  if (loginItem.status() == platform::LoginItem::Status::notRegistered && !loginItem.registerItem(&why)) {
    // Tried again at the next launch; until then the log says why.
    DiagLog::shared().log(QStringLiteral("app"), QStringLiteral("login item failed"), why);
    return;
  }
  defaults.setValue(key, true);
}

AppDelegate::AppDelegate(MurelApp& app) : app_(app) {}

void AppDelegate::applicationWillFinishLaunching() { app_.setActivationPolicy(ActivationPolicy::accessory); }

void AppDelegate::applicationDidFinishLaunching() {
  app_.startUpdater();
  if (app_.services().loginItem) applyLaunchAtLoginDefault(*app_.services().defaults, *app_.services().loginItem);
  app_.services().startHotKeys();
  if (app_.hasCompletedOnboarding()) {
    closeOnboardingWindows();
    app_.startBootstrap();
  } else {
    app_.bringOnboardingForward();
  }
}

bool AppDelegate::applicationShouldHandleReopen(bool) const { return false; }

void AppDelegate::closeOnboardingWindows() {
  const auto windows = QApplication::topLevelWidgets();
  for (QWidget* window : windows)
    if (window->objectName() == QLatin1String(MurelApp::kOnboardingID)) window->close();
}

}  // namespace murel
