// The application's own parts behind AppState::shared(), made in the order the
// state depends on them.
#include "app/AppState.h"

#include "runtime/DiagLog.h"
#include "app/EngineHostLink.h"
#include "audio/RecordingCuePlayer.h"
#include "runtime/SystemLog.h"
#include "runtime/UserDefaults.h"
#include "speech/LanguageModelFile.h"
#include "enhance/TextEnhancer.h"
#include "overlays/FloatingPanel.h"
#include "overlays/HudWindowController.h"
#include "platform/pulse/MicrophonePermission.h"
#include "platform/x11/X11KeyPressMonitor.h"
#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/X11Pasteboard.h"
#include "audio/AudioDeviceManager.h"
#include "audio/AudioRecorder.h"
#include "speech/EngineHost.h"
#include "delivery/ClipboardCoordinator.h"
#include "text/DictionaryStore.h"
#include "text/HistoryStore.h"
#include "text/ModeStore.h"
#include "delivery/SelectionReader.h"
#include "text/SnippetStore.h"
#include "delivery/TranscriptDeliverer.h"
#include "text/TranscriptProcessor.h"
#include "text/UsageStatsStore.h"
#include "text/VoiceEditPreferences.h"

#include <QGuiApplication>

namespace murel {

namespace {

const Logger kLog("app");

// The heads-up display window, built on its first showing and reused.
class HudWindowDisplay final : public HudDisplaying {
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

// Until the mode switcher panel exists: the hotkey is noted and nothing opens.
class NoModeSwitcher final : public ModeSwitching {
 public:
  void toggle(const QList<Mode>&, const QUuid&, std::function<void(const Mode&)>) override {
    kLog.info(QStringLiteral("Mode switcher requested; not available"));
  }
};

QCoro::Task<std::optional<QString>> readSelection(SelectionReader* reader, CancellationToken token) {
  co_return co_await reader->readSelection(std::move(token));
}

struct Assembly {
  UserDefaults& defaults = UserDefaults::shared();
  ModeStore& modes = ModeStore::shared();
  DictionaryStore& dictionary = DictionaryStore::shared();
  TextEnhancer enhancer{TextEnhancer::storedDelay(defaults), Clock::continuous(), std::nullopt, &DiagLog::shared()};
  EngineHost host{defaults, TranscriptionPipeline::standard(), EngineHostLink::optionsFor(enhancer)};
  EngineHostLink link{host, enhancer};
  TranscriptProcessor processor{
      [this](QString text, QString instructions) {
        return AppState::enhanceIfModelInstalled(&link, std::move(text), std::move(instructions));
      },
      [] { return DictionaryStore::shared().entries(); }};
  AudioRecorder recorder;
  NoMediaPlayback media;
  HudWindowDisplay hud;
  ClipboardCoordinator clipboard{X11Pasteboard::shared(), Clock::continuous()};
  TranscriptDeliverer deliverer{processor,
                                TranscriptDeliverer::standardFunctions(clipboard, X11KeySynthesizer::shared(),
                                                                       SnippetStore::shared(), HistoryStore::shared(),
                                                                       UsageStatsStore::shared())};
  SelectionReader selectionReader{SelectionReader::primarySelectionOfFocusedTerminal(), X11Pasteboard::shared(),
                                  X11KeySynthesizer::shared()};
  DictationSession session{DictationSession::Services{
      recorder, modes, dictionary, link, deliverer, media, hud, Clock::continuous(), DiagLog::shared(),
      [] { return static_cast<int>(platform::MicrophonePermission::system().status()); },
      [](RecordingCue cue) { RecordingCuePlayer::shared().play(cue); },
      [] { return AudioDeviceManager::storedDeviceID(); },
      [] { HotKeyService::shared().resetSession(); },
      [] { return X11KeySynthesizer::shared().isTrusted(); },
      [] { return VoiceEditPreferences::shared().isEnabled(); },
      [] { return LanguageModelFile::isInstalled(); },
      [this](CancellationToken token) { return readSelection(&selectionReader, std::move(token)); },
  }};
  std::unique_ptr<X11KeyPressMonitor> escapeMonitor;

  Assembly() {
    deliverer.onPasteUnavailable = [this] { session.handlePasteUnavailable(); };
    recorder.setOnDeviceLost([this] { session.handleRecordingDeviceLost(); });
  }

  void installEscapeMonitor(std::function<void(quint32, quint64)> handler) {
    escapeMonitor = std::make_unique<X11KeyPressMonitor>(
        std::set<quint32>{AppState::kEscapeKeyCode}, [handler = std::move(handler)](quint32 key, quint64 flags) {
          // An Escape typed into one of our own windows is the local monitor's.
          if (QGuiApplication::focusWindow()) return;
          handler(key, flags);
        });
    escapeMonitor->start();
  }
};

}  // namespace

AppState& AppState::shared() {
  static Assembly* assembly = new Assembly;
  static AppState* instance = new AppState(Parts{
      assembly->defaults, assembly->modes, assembly->dictionary, assembly->link, assembly->processor,
      assembly->session, HotKeyService::shared(), DiagLog::shared(),
      [] { RecordingCuePlayer::shared(); },
      [] { return std::make_unique<NoModeSwitcher>(); },
      [](std::function<void(quint32, quint64)> handler) { assembly->installEscapeMonitor(std::move(handler)); }});
  return *instance;
}

}  // namespace murel
