#include "support/OnboardingRig.h"

#include "audio/AudioDeviceManager.h"
#include "design/CoreComponents.h"
#include "design/EditorialComponents.h"
#include "design/Text.h"
#include "hotkeys/HotKeyService.h"
#include "onboarding/OnboardingContainerView.h"
#include "onboarding/OnboardingSteps.h"
#include "platform/AudioDevices.h"
#include "platform/pulse/MicrophonePermission.h"
#include "platform/pulse/SoundServer.h"
#include "platform/x11/AccessibilityTrust.h"
#include "platform/x11/X11KeyEventTap.h"
#include "root/Composition.h"
#include "runtime/DiagLog.h"
#include "runtime/UserDefaults.h"
#include "support/FakePlatform.h"
#include "support/PasteTarget.h"
#include "support/TestEnv.h"

#include <QAbstractButton>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

namespace murel::test {

namespace {

Composition::Options compositionOptions(EngineHostOptions::EngineFactory makeEngine) {
  Composition::Options options;
  options.makeEngine = std::move(makeEngine);
  return options;
}

}  // namespace

struct FakeDesktopComposition::Parts {
  explicit Parts(EngineHostOptions::EngineFactory makeEngine)
      : composition(defaults, diag, platform.parts(), compositionOptions(std::move(makeEngine))) {}

  // A benchmark has no per-process test folder: a temporary one then.
  QTemporaryDir scratch;
  QString dir = tempRoot().isEmpty() ? scratch.path() : freshDir(QStringLiteral("onboarding-application"));
  UserDefaults defaults{dir + QStringLiteral("/defaults.json")};
  DiagLog diag{dir};
  FakePlatform platform;
  Composition composition;
};

FakeDesktopComposition::FakeDesktopComposition() : FakeDesktopComposition(nullptr) {}
FakeDesktopComposition::FakeDesktopComposition(EngineHostOptions::EngineFactory makeEngine)
    : d_(std::make_unique<Parts>(std::move(makeEngine))) {}
FakeDesktopComposition::~FakeDesktopComposition() = default;
Composition& FakeDesktopComposition::composition() const { return d_->composition; }
AppState& FakeDesktopComposition::appState() const { return d_->composition.appState(); }

OnboardingRig::OnboardingRig(Clock& clock) : OnboardingRig(clock, Options{}) {}

OnboardingRig::OnboardingRig(Clock& clock, Options options)
    : ownApplication_(options.appState ? nullptr : std::make_unique<FakeDesktopComposition>()),
      appState_(options.appState ? options.appState : &ownApplication_->appState()) {
  // A given application state brings its own defaults and hotkey service;
  // otherwise the rig's profile and a hotkey service on the rig's X server.
  if (options.appState) {
    defaults_ = &options.appState->defaults();
    hotKeys_ = &options.appState->hotKeys();
  } else {
    ownDefaults_ =
        std::make_unique<UserDefaults>(freshDir(QStringLiteral("onboarding")) + QStringLiteral("/defaults.json"));
    tap_ = std::make_unique<X11KeyEventTap>();
    ownHotKeys_ = std::make_unique<HotKeyService>(*ownDefaults_, *tap_);
    defaults_ = ownDefaults_.get();
    hotKeys_ = ownHotKeys_.get();
  }
  if (!options.microphonePermission || !options.audioDevices) sound_ = std::make_unique<platform::SoundServer>();
  platform::MicrophonePermission& permission =
      options.microphonePermission ? *options.microphonePermission : sound_->microphone();
  devices_ = std::make_unique<AudioDeviceManager>(*defaults_, permission,
                                                  options.audioDevices ? *options.audioDevices : sound_->devices());
  if (!options.isAccessibilityTrusted) options.isAccessibilityTrusted = &platform::isAccessibilityTrusted;
  if (!options.keyAccess) options.keyAccess = [] { return platform::checkKeyAccess(); };
  window_ = new QWidget();
  window_->setObjectName(QStringLiteral("onboarding"));
  window_->setWindowTitle(QStringLiteral("Onboarding"));
  auto* layout = new QVBoxLayout(window_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  OnboardingEnvironment environment{*devices_,
                                    clock,
                                    permission,
                                    std::move(options.isAccessibilityTrusted),
                                    *hotKeys_,
                                    *appState_,
                                    std::move(options.speechModels),
                                    std::move(options.downloadEndpoint),
                                    std::move(options.keyAccess),
                                    std::move(options.isTrayHostAvailable)};
  container_ = new OnboardingContainerView(kOnboardingStepCount, std::move(environment));
  layout->addWidget(container_);
}

// The window (and the steps' recorders) go before the service they use.
OnboardingRig::~OnboardingRig() { delete window_; }

bool OnboardingRig::open(int step) {
  if (!window_->isVisible()) {
    window_->adjustSize();
    window_->move(QGuiApplication::primaryScreen()->availableGeometry().topLeft() + QPoint(20, 20));
    parkPointer();
    window_->show();
  }
  window_->raise();
  window_->activateWindow();
  if (!QTest::qWaitForWindowExposed(window_)) return false;
  while (container_->currentStep() != step) {
    if (container_->currentStep() < step)
      container_->goToNextStep();
    else
      container_->goToPreviousStep();
    container_->finishTransition();
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
  return container_->currentStep() == step;
}

QString OnboardingRig::screenshotDir() {
  const QString dir = buildDir() + QStringLiteral("/screenshots/onboarding");
  QDir().mkpath(dir);
  return dir;
}

QImage OnboardingRig::render(Appearance::Scheme scheme) const {
  Appearance::setOverride(window_, scheme);
  QCoreApplication::processEvents();
  return container_->grab().toImage();
}

std::pair<QImage, QImage> OnboardingRig::screenshots(const QString& name) const {
  const QImage light = render(Appearance::Scheme::Light);
  const QImage dark = render(Appearance::Scheme::Dark);
  Appearance::setOverride(window_, std::nullopt);
  light.save(screenshotDir() + QStringLiteral("/%1-light.png").arg(name));
  dark.save(screenshotDir() + QStringLiteral("/%1-dark.png").arg(name));
  return {light, dark};
}

QStringList OnboardingRig::visibleTexts() const {
  QStringList texts;
  const auto add = [&](const QString& text) {
    if (!text.isEmpty() && !texts.contains(text)) texts << text;
  };
  const QList<QWidget*> widgets = container_->findChildren<QWidget*>();
  for (const QWidget* widget : widgets) {
    if (!widget->isVisibleTo(window_)) continue;
    if (const auto* label = qobject_cast<const TextLabel*>(widget)) add(label->text());
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) add(button->text());
    if (const auto* counter = qobject_cast<const StepCounter*>(widget)) add(counter->text());
    if (const auto* pill = qobject_cast<const EditorialStatusPill*>(widget)) add(pill->label());
    add(widget->accessibleName());
  }
  return texts;
}

namespace {

bool pointerAt(QPoint global, const QStringList& then = {}) {
  // No --sync: it waits forever when the pointer is already there.
  QStringList arguments{QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y())};
  arguments += then;
  return xdotool(arguments);
}

}  // namespace

bool OnboardingRig::click(const QWidget* widget) { return click(widget, widget->rect().center()); }

bool OnboardingRig::click(const QWidget* widget, QPoint offset) {
  return pointerAt(widget->mapToGlobal(offset), {QStringLiteral("click"), QStringLiteral("1")});
}

bool OnboardingRig::movePointerTo(const QWidget* widget) {
  return pointerAt(widget->mapToGlobal(widget->rect().center()));
}

bool OnboardingRig::movePointerAway() {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  return pointerAt(screen.bottomRight() - QPoint(2, 2));
}

}  // namespace murel::test
