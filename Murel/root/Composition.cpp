#include "root/Composition.h"

#include "app/DiagnosticsReport.h"
#include "app/FilePanels.h"
#include "app/StatusItem.h"
#include "app/UpdateController.h"
#include "audio/AudioDeviceManager.h"
#include "audio/RecordingCuePlayer.h"
#include "design/Appearance.h"
#include "menubar/MenuBarView.h"
#include "onboarding/OnboardingScene.h"
#include "overlays/FloatingPanel.h"
#include "overlays/HudWindowController.h"
#include "overlays/ModeSwitcherHudController.h"
#include "platform/dbus/FileManagerWorkspace.h"
#include "platform/pulse/MicrophonePermission.h"
#include "platform/pulse/SoundServer.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11InputFocus.h"
#include "platform/x11/X11KeyEventTap.h"
#include "platform/x11/X11KeyPressMonitor.h"
#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/xdg/LoginItem.h"
#include "runtime/DiagLog.h"
#include "runtime/SystemLog.h"
#include "runtime/UserDefaults.h"
#include "speech/LanguageModelFile.h"

#include <QCoreApplication>
#include <QGuiApplication>

namespace murel {

// --- SystemPlatform ---

struct SystemPlatform::Impl {
  // The main thread's own connection to the X server, beside Qt's; null when none answers.
  x11::Connection connection;
  x11::Connection* display = connection.isOpen() ? &connection : nullptr;
  X11KeyEventTap keyTap{Clock::suspending()};
  X11KeySynthesizer keys{display};
  X11Pasteboard pasteboard{display};
  std::unique_ptr<X11KeyPressMonitor> escapeMonitor;
  X11InputFocus inputFocus{display};
  DialogFilePanels filePanels;
  FileManagerWorkspace workspace;
  platform::SoundServer sound;
  platform::XdgAutostartLoginItem loginItem{platform::XdgAutostartLoginItem::defaultFolder(),
                                            QCoreApplication::applicationFilePath()};

  void installEscapeMonitor(std::function<void(quint32, quint64)> handler) {
    auto outsideOurWindows = [handler = std::move(handler)](quint32 key, quint64 flags) {
      // An Escape typed into one of our own windows is the local monitor's.
      if (QGuiApplication::focusWindow()) return;
      handler(key, flags);
    };
    escapeMonitor =
        std::make_unique<X11KeyPressMonitor>(std::set<quint32>{AppState::kEscapeKeyCode}, std::move(outsideOurWindows));
    escapeMonitor->start();
  }
};

SystemPlatform::SystemPlatform() : d_(std::make_unique<Impl>()) {}
SystemPlatform::~SystemPlatform() = default;

PlatformParts SystemPlatform::parts() {
  Impl* impl = d_.get();
  return PlatformParts{
      .keyTap = impl->keyTap,
      .keys = impl->keys,
      .pasteboard = impl->pasteboard,
      .directSelection = SelectionReader::primarySelectionOfFocusedTerminal(impl->display),
      .installEscapeMonitor =
          [impl](std::function<void(quint32, quint64)> handler) { impl->installEscapeMonitor(std::move(handler)); },
      .inputFocus = impl->inputFocus,
      .filePanels = impl->filePanels,
      .workspace = impl->workspace,
      .audioDevices = impl->sound.devices(),
      .capture = impl->sound.capture(),
      .cues = impl->sound.cues(),
      .microphone = impl->sound.microphone(),
      .loginItem = impl->loginItem,
  };
}

// --- Composition ---

// The heads-up display window, built on its first showing and reused.
class Composition::HudWindowDisplay final : public HudDisplaying {
 public:
  void show(HudPresentation& presentation, ReadLevel level) override {
    if (!controller_) controller_ = std::make_unique<HudWindowController>();
    controller_->show(presentation, std::move(level));
  }
  void hide() override {
    if (controller_ && controller_->panel()) controller_->panel()->orderOut();
  }

 private:
  std::unique_ptr<HudWindowController> controller_;
};

QCoro::Task<std::optional<QString>> Composition::readSelection(SelectionReader* reader, CancellationToken token) {
  auto read = reader->readSelection(std::move(token));
  co_return co_await std::move(read);
}

namespace {

EngineHostOptions engineHostOptions(TextEnhancer& enhancer, DiagLog& diagLog,
                                    EngineHostOptions::EngineFactory makeEngine) {
  EngineHostOptions options = EngineHostLink::optionsFor(enhancer);
  options.diagnostics = &diagLog;
  options.makeEngine = std::move(makeEngine);
  return options;
}

}  // namespace

Composition::Composition(UserDefaults& defaults, DiagLog& diagLog, PlatformParts platform, Options options)
    : defaults_(defaults),
      diagLog_(diagLog),
      platform_(std::move(platform)),
      cues_(platform_.cues),
      modes_(defaults_),
      dictionary_(defaults_),
      snippets_(defaults_),
      history_(defaults_),
      usage_(defaults_),
      voiceEdit_(defaults_),
      hotKeys_(defaults_, platform_.keyTap,
               HotKeyService::UserData{[this] {
                                         QList<HotKeyService::ModeHotKey> list;
                                         for (const Mode& mode : modes_.modes()) list.append({mode.id, mode.hotkey});
                                         return list;
                                       },
                                       [this] { return voiceEdit_.isEnabled(); }}),
      enhancer_(TextEnhancer::storedDelay(defaults_), Clock::continuous(), std::nullopt, &diagLog_),
      host_(defaults_, TranscriptionPipeline::standard(), engineHostOptions(enhancer_, diagLog_, options.makeEngine)),
      link_(host_, enhancer_),
      engine_(options.decorateEngineHost ? options.decorateEngineHost(link_) : link_),
      processor_(TranscriptProcessor::enhanceWhenModelInstalled(
                     &isGemmaModelInstalled,
                     [this](QString text, QString instructions) { return engine_.enhance(text, instructions); }),
                 [this] { return dictionary_.entries(); }),
      recorder_(platform_.capture, diagLog_),
      mediaPlayers_(Clock::continuous()),
      media_(mediaPlayers_),
      hud_(std::make_unique<HudWindowDisplay>()),
      clipboard_(platform_.pasteboard, Clock::continuous()),
      deliverer_(processor_,
                 TranscriptDeliverer::standardFunctions(clipboard_, platform_.keys, snippets_, history_, usage_),
                 Clock::continuous(), diagLog_),
      selectionReader_(platform_.directSelection, platform_.pasteboard, platform_.keys),
      session_(DictationSession::Services{
          recorder_,
          modes_,
          dictionary_,
          engine_,
          deliverer_,
          media_,
          *hud_,
          Clock::continuous(),
          diagLog_,
          [this] { return static_cast<int>(platform_.microphone.status()); },
          [this](RecordingCue cue) { cues_.player().play(cue); },
          [this] { return AudioDeviceManager::storedDeviceID(defaults_, platform_.audioDevices); },
          [this] { hotKeys_.resetSession(); },
          [this] { return platform_.keys.isTrusted(); },
          [this] { return voiceEdit_.isEnabled(); },
          [] { return isGemmaModelInstalled(); },
          [this](CancellationToken token) { return readSelection(&selectionReader_, std::move(token)); },
      }),
      state_(AppState::Parts{defaults_, modes_, dictionary_, engine_, processor_, session_, hotKeys_, diagLog_,
                             [this] { cues_.player(); },
                             [this] { return std::make_unique<ModeSwitcherHudController>(platform_.inputFocus); },
                             platform_.installEscapeMonitor}),
      app_(appServices(options)),
      errorNotices_(state_, notifier_, [this] {
        const StatusItem* item = app_.statusItem();
        return item && item->isHostAvailable();
      }) {
  deliverer_.onPasteUnavailable = [this] { session_.handlePasteUnavailable(); };
  QObject::connect(&state_, &AppState::statusChanged, &app_, &MurelApp::dictationStateChanged);
  recorder_.setOnDeviceLost([this] { session_.handleRecordingDeviceLost(); });
  // The device manager follows the sound server for the whole process.
  QObject::connect(&app_.audioDeviceManager(), &AudioDeviceManager::soundServerReturned, &state_,
                   &AppState::handleSoundServerReturned);
  setAppStateFactsProvider([this] {
    AppStateFacts facts;
    facts.status = state_.status().label();
    facts.autoPaste = state_.autoPaste();
    facts.lastError = state_.lastError();
    facts.activationMode = hotKeys_.activationMode();
    return facts;
  });
}

Composition::Composition(UserDefaults& defaults, DiagLog& diagLog, PlatformParts platform)
    : Composition(defaults, diagLog, std::move(platform), Options{}) {}

Composition::~Composition() {
  setAppStateFactsProvider({});
  deliverer_.onPasteUnavailable = nullptr;
  recorder_.setOnDeviceLost({});
}

MurelApp::Services Composition::appServices(Options& options) {
  MurelApp::Services services;
  services.isReadyAtLaunch = std::move(options.isReadyAtLaunch);
  services.defaults = &defaults_;
  services.loginItem = &platform_.loginItem;
  services.microphone = &platform_.microphone;
  services.audioDevices = &platform_.audioDevices;
  // From the hotkey press (the microphone still opening) until the text is delivered.
  services.isDictationRunning = [this] { return session_.phase() != DictationSession::Phase::idle; };
  // Told on the error card (or as a desktop notice where no tray shows the icon).
  services.updateFailed = [this](const QString& message, const QString& reason) {
    diagLog_.log(QStringLiteral("updates"), QStringLiteral("download page not opened"), reason);
    state_.setLastError(message);
  };
  services.startHotKeys = [this] {
    if (hotKeys_.currentCombo()) hotKeys_.reloadRegistrations();
  };
  services.bootstrap = [this] {
    // Runs on by itself; the state lives as long as this root.
    QCoro::connect(bootstrap(), &state_, [] {});
  };
  registerSettingsPages(settingsPages_, platform_.workspace,
                        DiagnosticsSources{defaults_, platform_.microphone, platform_.audioDevices,
                                           platform_.filePanels, platform_.workspace});
  registerUsagePages(settingsPages_, usage_, history_, platform_.pasteboard, Clock::continuous());
  registerTranscribePage(settingsPages_, state_, platform_.pasteboard, platform_.filePanels);
  registerModelsPage(settingsPages_, state_, defaults_);
  registerListPages(settingsPages_, dictionary_, snippets_, platform_.filePanels, platform_.workspace);
  registerConfigurationPage(settingsPages_, hotKeys_, state_, platform_.loginItem);
  registerModesPages(settingsPages_, modes_, voiceEdit_, hotKeys_);
  services.settingsContent = settingsWindowContent(settingsPages_);
  services.onboardingContent = [this](MurelApp& app) {
    return makeOnboardingScene(app, state_, Clock::continuous(), hotKeys_, platform_.microphone);
  };
  services.menuBarContent = [this](MurelApp& app) -> QWidget* {
    MenuBarView::Actions actions;
    actions.openSettings = [&app] { app.openSettings(); };
    actions.checkForUpdates = [&app] {
      if (UpdateController* updates = app.updateController()) updates->checkForUpdates();
    };
    actions.openSetupGuide = [&app] { app.bringOnboardingForward(); };
    auto* view = new MenuBarView(MenuBarView::Parts{state_, modes_, defaults_, app.audioDeviceManager(),
                                                    app.settingsNavigator(), platform_.workspace},
                                 std::move(actions), app.hasCompletedOnboarding());
    QObject::connect(&app, &MurelApp::hasCompletedOnboardingChanged, view,
                     [view, &app] { view->setOnboardingComplete(app.hasCompletedOnboarding()); });
    return view;
  };
  return services;
}

void Composition::launch() {
  app_.launch();
  // The tray icon is drawn in the panel's foreground, which follows the desktop's scheme.
  if (StatusItem* item = app_.statusItem()) {
    Appearance& appearance = Appearance::shared();
    item->setDarkPanel(appearance.scheme() == Appearance::Scheme::Dark);
    QObject::connect(&appearance, &Appearance::schemeChanged, item,
                     [item](Appearance::Scheme scheme) { item->setDarkPanel(scheme == Appearance::Scheme::Dark); });
  }
}

QCoro::Task<void> Composition::bootstrap() {
  auto task = state_.bootstrap();
  co_await std::move(task);
}

}  // namespace murel
