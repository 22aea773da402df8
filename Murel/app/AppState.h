#pragma once

#include "app/AppStatus.h"
#include "app/DictationSession.h"
#include "hotkeys/HotKeyService.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace murel {

class DiagLog;
class DictionaryStore;
class ModeStore;
class SpeechEngineHosting;
class TranscriptProcessor;
class UserDefaults;
struct SpeechModelDescriptor;

// The mode switcher the change-mode hotkey opens and closes.
class ModeSwitching {
 public:
  virtual ~ModeSwitching() = default;
  // Closes an open switcher without committing; otherwise opens it on `modes`
  // (nothing happens for an empty list) and commits the chosen mode.
  virtual void toggle(const QList<Mode>& modes, const QUuid& activeModeId, std::function<void(const Mode&)> commit) = 0;
};

// The application's central state: its status, last transcript and error, the
// behaviour flags, and the dictation session it drives from the hotkeys and
// the Escape key. Model loading, model choice and file transcription are its
// operations too. One instance, main thread only.
class AppState : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool showHud READ showHud WRITE setShowHud NOTIFY showHudChanged)
  Q_PROPERTY(bool soundCuesEnabled READ soundCuesEnabled WRITE setSoundCuesEnabled NOTIFY soundCuesEnabledChanged)
  Q_PROPERTY(bool restoreClipboard READ restoreClipboard WRITE setRestoreClipboard NOTIFY restoreClipboardChanged)
  Q_PROPERTY(bool pauseMediaWhileRecording READ pauseMediaWhileRecording WRITE setPauseMediaWhileRecording NOTIFY
                 pauseMediaWhileRecordingChanged)
  Q_PROPERTY(bool autoPaste READ autoPaste WRITE setAutoPaste NOTIFY autoPasteChanged)
  Q_PROPERTY(bool suppressHud READ suppressHud WRITE setSuppressHud NOTIFY suppressHudChanged)

 public:
  // What the state works with; the composition root wires the real parts,
  // tests their own.
  struct Parts {
    UserDefaults& defaults;
    ModeStore& modeStore;
    DictionaryStore& dictionaryStore;
    SpeechEngineHosting& engineHost;
    TranscriptProcessor& transcriptProcessor;
    DictationSession& session;
    HotKeyService& hotKeys;
    DiagLog& diagLog;
    // Loads the recording cues; runs off the main thread.
    std::function<void()> preloadCues;
    // Makes the mode switcher on the first change-mode hotkey.
    std::function<std::unique_ptr<ModeSwitching>()> makeModeSwitcher;
    // Installs the global Escape monitor; it calls back with (virtual key code, modifier flags).
    std::function<void(std::function<void(quint32, quint64)>)> installGlobalKeyMonitor;
  };

  // Modifier flags of key events, as stored hotkeys carry them.
  static constexpr quint64 kShiftFlag = 0x20000;
  static constexpr quint64 kControlFlag = 0x40000;
  static constexpr quint64 kOptionFlag = 0x80000;
  static constexpr quint64 kCommandFlag = 0x100000;
  static constexpr quint64 kEscapeBlockingModifiers = 0x1E0000;
  static constexpr quint32 kEscapeKeyCode = 53;

  explicit AppState(Parts parts, QObject* parent = nullptr);
  ~AppState() override;

  const AppStatus& status() const { return status_; }
  void setStatus(const AppStatus& status);
  const std::optional<QString>& lastTranscription() const { return lastTranscription_; }
  void setLastTranscription(std::optional<QString> text);
  const std::optional<QString>& lastError() const { return lastError_; }
  void setLastError(std::optional<QString> error);
  const std::optional<QUrl>& settingsDeepLink() const { return settingsDeepLink_; }
  void setSettingsDeepLink(std::optional<QUrl> url);

  bool showHud() const { return showHud_; }
  void setShowHud(bool value);
  bool soundCuesEnabled() const { return soundCuesEnabled_; }
  void setSoundCuesEnabled(bool value);
  bool restoreClipboard() const { return restoreClipboard_; }
  void setRestoreClipboard(bool value);
  bool pauseMediaWhileRecording() const { return pauseMediaWhileRecording_; }
  void setPauseMediaWhileRecording(bool value);
  bool autoPaste() const { return autoPaste_; }
  void setAutoPaste(bool value);
  bool suppressHud() const { return suppressHud_; }
  void setSuppressHud(bool value);

  UserDefaults& defaults() { return p_.defaults; }
  HotKeyService& hotKeys() { return p_.hotKeys; }
  ModeStore& modeStore() { return p_.modeStore; }
  DictionaryStore& dictionaryStore() { return p_.dictionaryStore; }
  SpeechEngineHosting& engineHost() { return p_.engineHost; }
  DictationSession& dictationSession() { return p_.session; }
  ModeSwitching* modeSwitcherController() const { return modeSwitcher_.get(); }

  // Loads the cues off the main thread, turns ready and installs the hotkey observation.
  QCoro::Task<void> bootstrap();
  // Once per process: the hotkey callbacks, the Escape monitors and the resign-active observer.
  void setupHotkeyObservation();

  // Model loading and file transcription.
  QCoro::Task<void> loadSpeechModel(bool resetStatus, bool reportErrors);
  QCoro::Task<void> retryAfterError();
  // The user has seen the error and lets it go: the last error and its link are
  // cleared, and an error status becomes ready; any other status stays.
  void dismissError();
  QCoro::Task<void> selectSpeechModel(const SpeechModelDescriptor& model);
  QCoro::Task<QString> transcribeFile(QString path);

  // The session's preferences as the owner's flags give them now.
  DictationSessionPreferences sessionPreferences() const;

  // Handlers, public for the platform glue and for tests.
  void handleHotkeySession(bool isActive, const HotKeyService::Session& session);
  void toggleModeSwitcher();
  // True when the event cancelled the dictation (the local monitor then consumes it).
  bool handleEscapeKey(quint32 keyCode, quint64 modifierFlags);
  void handleResignActive();
  void handleSessionEvent(const DictationSessionEvent& event);
  // The sound server answers again: an error that its absence caused is over,
  // and the next press records.
  void handleSoundServerReturned();

  // A stored flag read the way the platform reads a Boolean: numbers are true
  // when not zero, texts when they start with Y, y, T, t or a digit 1-9 (after
  // blanks, a sign and zeros); anything else, or nothing, is false.
  static bool readDefaultsBool(const QVariant& value);

 Q_SIGNALS:
  void statusChanged();
  void lastTranscriptionChanged();
  // Every delivered transcript, also one equal to lastTranscription (which
  // then tells nobody): "a dictation arrived" for whoever waits for one.
  void transcriptionDelivered(const QString& text);
  void lastErrorChanged();
  // A hotkey press met the sound-server error and recorded nothing. The user
  // is looking at another window, not at the tray panel's card.
  void pressRefused(const QString& message);
  void settingsDeepLinkChanged();
  void showHudChanged();
  void soundCuesEnabledChanged();
  void restoreClipboardChanged();
  void pauseMediaWhileRecordingChanged();
  void autoPasteChanged();
  void suppressHudChanged();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void startRecording(std::optional<Mode> mode);
  void startCommandEdit();
  void showSettingsWriteFailure();
  bool isDictationRunning() const;
  bool showsSoundServerError() const;

  Parts p_;
  AppStatus status_ = AppStatus::loading();
  std::optional<QString> lastTranscription_;
  std::optional<QString> lastError_;
  std::optional<QUrl> settingsDeepLink_;
  // The error shown for the current run of failed settings writes.
  std::optional<QString> settingsWriteError_;
  // The error status the session sent for an unreachable sound server.
  std::optional<AppStatus> soundServerError_;
  bool showHud_ = true;
  bool soundCuesEnabled_ = true;
  bool restoreClipboard_ = false;
  bool pauseMediaWhileRecording_ = false;
  bool autoPaste_ = true;
  bool suppressHud_ = false;
  std::unique_ptr<ModeSwitching> modeSwitcher_;
  bool isObservingHotkey_ = false;
  bool resignObserved_ = false;
  bool escGlobalMonitor_ = false;
  bool escLocalMonitor_ = false;
};

}  // namespace murel
