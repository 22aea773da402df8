#include "app/MurelApp.h"

#include "app/AppDelegate.h"
#include "app/LaunchReadiness.h"
#include "app/StatusItem.h"
#include "app/UpdateController.h"
#include "audio/AudioDeviceManager.h"
#include "platform/x11/AccessibilityTrust.h"
#include "platform/x11/TaskbarPresence.h"
#include "runtime/UserDefaults.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace murel {

namespace {

// A top-level window whose size follows its content and which tells its owner
// when it is shown or closed.
class AppWindow : public QWidget {
 public:
  std::function<void()> onShown;
  std::function<void()> onClosed;
  // When set, the content is built each time the window opens and dropped when
  // it closes, so nothing a page held outlives the window.
  std::function<QWidget*()> buildContent;

  AppWindow(const char* identifier, const QString& title, QWidget* content) {
    setObjectName(QString::fromLatin1(identifier));
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    if (content) setContent(content);
  }

  void present() {
    if (!isVisible()) {
      if (!content_ && buildContent) setContent(buildContent());
      adjustSize();
      if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
      }
    }
    show();
    raise();
    activateWindow();
  }

 protected:
  void showEvent(QShowEvent* event) override {
    QWidget::showEvent(event);
    if (onShown) onShown();
  }
  void closeEvent(QCloseEvent* event) override {
    QWidget::closeEvent(event);
    if (!event->isAccepted()) return;
    if (buildContent && content_) {
      // Later, not now: the close may come from inside the content.
      QWidget* old = content_;
      content_ = nullptr;
      layout()->removeWidget(old);
      old->hide();
      old->deleteLater();
    }
    if (onClosed) onClosed();
  }

 private:
  void setContent(QWidget* content) {
    content_ = content;
    layout()->addWidget(content);
  }

  QPointer<QWidget> content_;
};

}  // namespace

MurelApp::MurelApp(Services services, QObject* parent) : QObject(parent), services_(std::move(services)) {
  if (!services_.startHotKeys) services_.startHotKeys = [] {};
  if (!services_.defaults) services_.defaults = &UserDefaults::shared();
  if (!services_.isReadyAtLaunch) {
    services_.isReadyAtLaunch = [this] {
      return services_.microphone &&
             evaluateLaunchReadiness(*services_.microphone, &platform::isAccessibilityTrusted, *services_.defaults);
    };
  }
  delegate_ = std::make_unique<AppDelegate>(*this);
  hasCompletedOnboarding_ = services_.isReadyAtLaunch();
}

MurelApp::~MurelApp() {
  delete onboardingWindow_;
  delete settingsWindow_;
}

void MurelApp::launch() {
  delegate_->applicationWillFinishLaunching();
  onboardingWindow_ = makeOnboardingWindow();
  settingsWindow_ = makeSettingsWindow();
  setActivationPolicy(policy_);
  statusItem_ = new StatusItem(
      [this]() -> QWidget* { return services_.menuBarContent ? services_.menuBarContent(*this) : new QWidget(); },
      // Before setup there are no settings to show: the guide comes forward instead.
      [this] {
        if (hasCompletedOnboarding_)
          openSettings();
        else
          bringOnboardingForward();
      },
      [this] {
        if (updates_) updates_->checkForUpdates();
      },
      this);
  statusItem_->show();
  // The onboarding window opens at launch unless setup is complete (it would be
  // closed at once); the settings window waits to be asked for.
  delegate_->applicationDidFinishLaunching();
}

void MurelApp::startUpdater() {
  if (updates_) return;
  updates_ = std::make_unique<UpdateController>(services_.makeUpdater ? services_.makeUpdater()
                                                                      : std::make_unique<DownloadPageUpdater>());
  updates_->updaterController().setFailureHandler(services_.updateFailed);
}

void MurelApp::setActivationPolicy(ActivationPolicy policy) {
  policy_ = policy;
  // An accessory keeps its windows out of the task bar; a regular application shows them there.
  for (QWidget* window : {onboardingWindow_.data(), settingsWindow_.data()})
    if (window) platform::setSkipTaskbar(window, policy == ActivationPolicy::accessory);
}

AudioDeviceManager& MurelApp::audioDeviceManager() {
  if (!audioDeviceManager_) {
    if (!services_.microphone || !services_.audioDevices) qFatal("the audio-device manager needs the sound server");
    audioDeviceManager_ =
        new AudioDeviceManager(*services_.defaults, *services_.microphone, *services_.audioDevices, this);
  }
  return *audioDeviceManager_;
}

void MurelApp::completeOnboarding() {
  if (!hasCompletedOnboarding_) {
    hasCompletedOnboarding_ = true;
    Q_EMIT hasCompletedOnboardingChanged();
  }
  delegate_->closeOnboardingWindows();
  setActivationPolicy(ActivationPolicy::accessory);
  startBootstrap();
}

void MurelApp::openSettings() {
  if (auto* window = static_cast<AppWindow*>(settingsWindow_.data())) window->present();
}

void MurelApp::bringOnboardingForward() {
  setActivationPolicy(ActivationPolicy::regular);
  if (auto* window = static_cast<AppWindow*>(onboardingWindow_.data())) window->present();
}

void MurelApp::reopen() {
  if (services_.isDictationRunning && services_.isDictationRunning()) {
    reopenDeferred_ = true;
    return;
  }
  reopenDeferred_ = false;
  if (delegate_->applicationShouldHandleReopen(false)) return;
  if (statusItem_ && statusItem_->isHostAvailable()) return;
  if (hasCompletedOnboarding_)
    openSettings();
  else
    bringOnboardingForward();
}

void MurelApp::dictationStateChanged() {
  if (reopenDeferred_) reopen();
}

void MurelApp::startBootstrap() {
  if (!services_.bootstrap) return;
  // Tied to the application: a launch torn down before the loop turns runs no bootstrap.
  QMetaObject::invokeMethod(
      this, [bootstrap = services_.bootstrap] { bootstrap(); }, Qt::QueuedConnection);
}

QWidget* MurelApp::makeOnboardingWindow() {
  QWidget* content = services_.onboardingContent ? services_.onboardingContent(*this) : new QWidget();
  //% "Onboarding"
  //: Title of the onboarding window.
  auto* window = new AppWindow(kOnboardingID, qtTrId("window.onboarding.title"), content);
  // Closed after setup is complete, the window leaves the application an accessory again.
  window->onClosed = [this] {
    if (hasCompletedOnboarding_) setActivationPolicy(ActivationPolicy::accessory);
  };
  return window;
}

QWidget* MurelApp::makeSettingsWindow() {
  //% "Settings"
  //: Title of the settings window.
  auto* window = new AppWindow(kSettingsID, qtTrId("window.settings.title"), nullptr);
  window->buildContent = [this]() -> QWidget* {
    if (hasCompletedOnboarding_ && services_.settingsContent) return services_.settingsContent(*this);
    return new QWidget();
  };
  // Before setup is complete there is nothing to set: the window closes itself.
  window->onShown = [this, window] {
    if (!hasCompletedOnboarding_) QTimer::singleShot(0, window, [window] { window->close(); });
  };
  return window;
}

}  // namespace murel
