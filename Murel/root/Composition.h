#pragma once

#include "app/AppState.h"
#include "app/EngineHostLink.h"
#include "app/ErrorNotifications.h"
#include "app/MediaPlaybackController.h"
#include "app/MurelApp.h"
#include "app/SessionServices.h"
#include "audio/AudioRecorder.h"
#include "audio/RecordingCuePlayer.h"
#include "delivery/ClipboardCoordinator.h"
#include "delivery/SelectionReader.h"
#include "delivery/TranscriptDeliverer.h"
#include "enhance/TextEnhancer.h"
#include "hotkeys/HotKeyService.h"
#include "platform/dbus/FreedesktopNotifier.h"
#include "platform/dbus/MprisPlayers.h"
#include "root/SettingsWiring.h"
#include "speech/EngineHost.h"
#include "text/DictionaryStore.h"
#include "text/HistoryStore.h"
#include "text/ModeStore.h"
#include "text/SnippetStore.h"
#include "text/TranscriptProcessor.h"
#include "text/UsageStatsStore.h"
#include "text/VoiceEditPreferences.h"

#include <functional>
#include <memory>

namespace murel {

class DiagLog;
class FilePanels;
class InputFocus;
class KeyEventTap;
class KeySynthesizer;
class Pasteboard;
class UserDefaults;
class Workspace;
namespace platform {
class AudioCapture;
class AudioDevices;
class CuePlayback;
class LoginItem;
class MicrophonePermission;
}  // namespace platform

// What the application drives on the desktop: the keyboard tap, the paste and
// copy keys, the clipboard, the global Escape monitor and the keyboard focus;
// the open and save dialogs and the file manager; the sound server; the login
// item. SystemPlatform gives the system's; tests give fakes.
struct PlatformParts {
  KeyEventTap& keyTap;
  KeySynthesizer& keys;
  Pasteboard& pasteboard;
  // Reads the selection without the copy key where the desktop allows it.
  SelectionReader::DirectRead directSelection;
  // Starts watching Escape everywhere; calls back with (virtual key code, modifier flags).
  std::function<void(std::function<void(quint32, quint64)>)> installEscapeMonitor;
  // The mode switcher takes the keyboard for a moment and hands it back through this.
  InputFocus& inputFocus;
  FilePanels& filePanels;
  Workspace& workspace;
  platform::AudioDevices& audioDevices;
  platform::AudioCapture& capture;
  platform::CuePlayback& cues;
  platform::MicrophonePermission& microphone;
  platform::LoginItem& loginItem;
};

// The X11 desktop of this session: one key tap, one synthesizer, one clipboard
// and the keyboard focus on the process's X connection, the Escape monitor on
// its own; Qt's file dialogs, the file manager on the session bus, the sound
// server and the XDG autostart entry.
class SystemPlatform {
 public:
  SystemPlatform();
  ~SystemPlatform();
  SystemPlatform(const SystemPlatform&) = delete;
  SystemPlatform& operator=(const SystemPlatform&) = delete;

  PlatformParts parts();

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// The application's parts, built in the order they depend on each other and
// owned for the life of the process: `main` makes one after the single-instance
// claim, on a platform that outlives it. Only the user defaults and the
// diagnostics log are shared with the rest of the process. Main thread.
class Composition {
 public:
  struct Options {
    // Makes the engine for a speech model; the catalogue's engines when empty.
    EngineHostOptions::EngineFactory makeEngine;
    // Stands between the session and the engine host (tests watch what passes).
    std::function<SpeechEngineHosting&(SpeechEngineHosting&)> decorateEngineHost;
    // What the application object reaches outside itself; defaults as in MurelApp.
    std::function<bool()> isReadyAtLaunch;
  };

  Composition(UserDefaults& defaults, DiagLog& diagLog, PlatformParts platform);
  Composition(UserDefaults& defaults, DiagLog& diagLog, PlatformParts platform, Options options);
  ~Composition();
  Composition(const Composition&) = delete;
  Composition& operator=(const Composition&) = delete;

  UserDefaults& defaults() { return defaults_; }
  DiagLog& diagLog() { return diagLog_; }
  ModeStore& modes() { return modes_; }
  DictionaryStore& dictionary() { return dictionary_; }
  SnippetStore& snippets() { return snippets_; }
  HistoryStore& history() { return history_; }
  UsageStatsStore& usage() { return usage_; }
  VoiceEditPreferences& voiceEdit() { return voiceEdit_; }
  HotKeyService& hotKeys() { return hotKeys_; }
  TextEnhancer& textEnhancer() { return enhancer_; }
  EngineHost& engineHost() { return host_; }
  AudioRecorder& recorder() { return recorder_; }
  DictationSession& session() { return session_; }
  AppState& appState() { return state_; }
  MurelApp& app() { return app_; }

  // Builds the windows and the tray icon and runs the launch steps.
  void launch();
  // The application state's start-up: cues, ready, hotkey observation.
  QCoro::Task<void> bootstrap();

 private:
  class HudWindowDisplay;

  static QCoro::Task<std::optional<QString>> readSelection(SelectionReader* reader, CancellationToken token);
  MurelApp::Services appServices(Options& options);

  UserDefaults& defaults_;
  DiagLog& diagLog_;
  PlatformParts platform_;
  BundledCues cues_;
  ModeStore modes_;
  DictionaryStore dictionary_;
  SnippetStore snippets_;
  HistoryStore history_;
  UsageStatsStore usage_;
  VoiceEditPreferences voiceEdit_;
  HotKeyService hotKeys_;
  TextEnhancer enhancer_;
  EngineHost host_;
  EngineHostLink link_;
  SpeechEngineHosting& engine_;
  TranscriptProcessor processor_;
  AudioRecorder recorder_;
  MprisPlayers mediaPlayers_;
  MediaPlaybackController media_;
  std::unique_ptr<HudDisplaying> hud_;
  ClipboardCoordinator clipboard_;
  TranscriptDeliverer deliverer_;
  SelectionReader selectionReader_;
  DictationSession session_;
  AppState state_;
  // Before the application object, whose settings window builds from it.
  SettingsPages settingsPages_;
  MurelApp app_;
  // Errors reach the desktop's notifications where no tray shows the icon.
  FreedesktopNotifier notifier_;
  ErrorNotifications errorNotices_;
};

}  // namespace murel
