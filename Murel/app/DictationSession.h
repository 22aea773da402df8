#pragma once

#include "app/AppStatus.h"
#include "app/HudPresentation.h"
#include "app/SessionServices.h"
#include "audio/RecordingCuePlayer.h"
#include "runtime/Cancellation.h"
#include "runtime/Clock.h"
#include "text/ModeStore.h"

#include <QCoroTask>
#include <QFuture>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace murel {

class AudioRecording;
class DiagLog;
class DictionaryStore;
class TranscriptDeliverer;

struct DictationSessionPreferences {
  bool autoPaste = false;
  bool restoreClipboard = false;
  bool showHud = false;
  bool soundCuesEnabled = false;
  bool pauseMediaWhileRecording = false;
};

struct DictationSessionEvent {
  enum class Kind { statusChanged, transcription };
  // What an error status waits for: `soundServer` ends once the sound server answers again.
  enum class Cause { other, soundServer };
  Kind kind = Kind::statusChanged;
  AppStatus status;
  std::optional<QUrl> settingsUrl;  // statusChanged: the settings pane offered with an error
  QString text;                     // transcription: the delivered text
  Cause cause = Cause::other;

  static DictationSessionEvent statusChanged(AppStatus status, std::optional<QUrl> url = std::nullopt) {
    return {Kind::statusChanged, std::move(status), std::move(url), {}, Cause::other};
  }
  static DictationSessionEvent transcription(QString text) {
    return {Kind::transcription, AppStatus::ready(), std::nullopt, std::move(text), Cause::other};
  }
};

// One dictation (or voice edit) from the hotkey press to the delivered text:
// recording with cues and the heads-up display, a watchdog on the recording's
// length, transcription with the dictionary as vocabulary, delivery, and
// recovery from errors. Every status change goes to the owner through onEvent.
// Main thread only. Tasks it starts keep running after a cancel until they
// reach a cancellation point, so the session must outlive them (the
// application keeps it for the life of the process).
class DictationSession {
 public:
  // `starting` while the recorder opens the input: a stop or cancel then waits
  // for the recording to begin.
  enum class Phase { idle, starting, recording, transcribing };

  struct Services {
    AudioRecording& recorder;
    ModeStore& modeStore;
    DictionaryStore& dictionaryStore;
    SpeechEngineHosting& engineHost;
    TranscriptDeliverer& deliverer;
    MediaPlaybackControlling& mediaPlayback;
    HudDisplaying& hud;
    Clock& clock;
    DiagLog& diagLog;
    // 0 not determined, 1 restricted, 2 denied, 3 authorized.
    std::function<int()> micAuthorization;
    std::function<void(RecordingCue)> playRecordingCue;
    // The input chosen by the user; 0 = the system default.
    std::function<quint32()> inputDeviceID;
    // Ends the hotkey service's key session without a report.
    std::function<void()> resetHotkeySession;
    std::function<bool()> isAccessibilityTrusted;
    // Voice edit.
    std::function<bool()> isVoiceEditEnabled;
    std::function<bool()> isLanguageModelInstalled;
    std::function<QCoro::Task<std::optional<QString>>(CancellationToken)> readSelection;
  };

  static constexpr Clock::Duration kMaxRecordingDuration = std::chrono::seconds(300);
  static constexpr Clock::Duration kAutoRecoverDelay = std::chrono::seconds(3);
  static constexpr int kMaxSelectionWords = 1000;

  explicit DictationSession(Services services);
  ~DictationSession();
  DictationSession(const DictationSession&) = delete;
  DictationSession& operator=(const DictationSession&) = delete;

  // Read afresh at every use; all false until the owner sets it.
  std::function<DictationSessionPreferences()> preferences;
  std::function<void(const DictationSessionEvent&)> onEvent;

  Clock::Duration maxRecordingDuration = kMaxRecordingDuration;
  Clock::Duration autoRecoverDelay = kAutoRecoverDelay;

  void start(std::optional<Mode> mode = std::nullopt);
  void startCommandEdit();
  void stop();
  void cancel();
  void handleRecordingDeviceLost();
  void handlePasteUnavailable();
  // Ends the recording or transcription in flight at once and removes its
  // file: speech never stays on disk after the process. Called on quit.
  void discardRecordingInFlight();
  // Recordings an earlier process left behind when it died mid-dictation.
  // Call at launch, once this process is the only instance.
  static void removeLeftoverRecordings(DiagLog& diagLog);
  // Removes the files of the recordings in flight at once, touching nothing
  // else: for an exit() that never returns to the event loop. Main thread only.
  static void removeRecordingsInFlight();

  Phase phase() const { return phase_; }
  bool isCommandEdit() const { return isCommandEdit_; }
  const std::optional<QString>& recordingFile() const { return recordingURL_; }
  const std::optional<Mode>& recordingMode() const { return recordingMode_; }
  HudPresentation& hudPresentation() { return hudPresentation_; }
  bool isTranscribing() const { return transcriptionToken_.has_value(); }
  bool isWatchdogRunning() const { return watchdog_.has_value(); }

  // Pieces between whitespace (any Unicode whitespace), empty pieces not counted.
  static int wordCount(const QString& text);
  // Whether the system log may carry what was dictated: a journal keeps its
  // lines for months, so only a debug build or MUREL_LOG_DICTATED_TEXT=1 may;
  // otherwise the transcript's line gives its length.
  static bool systemLogShowsDictatedText();

 private:
  void startRecording(std::optional<Mode> mode, bool commandEdit);
  QCoro::Task<void> openRecorder(quint32 deviceID, int mic, std::optional<Mode> mode, bool commandEdit);
  void beginRecording();
  void beginCommandEdit();
  void startWatchdog();
  void cancelWatchdog();
  void stopRecorder();
  QCoro::Task<void> transcribe(QString file, double seconds, CancellationToken token);
  QCoro::Task<std::optional<QString>> applyCommandEdit(QString raw, CancellationToken token);
  void cleanupRecording(const std::optional<QString>& file);
  void reportFailure(const QString& message, std::optional<QUrl> url, bool recover);
  void scheduleAutoRecover();
  void send(const DictationSessionEvent& event);
  DictationSessionPreferences prefs() const;

  Services s_;
  HudPresentation hudPresentation_;
  Phase phase_ = Phase::idle;
  std::optional<QCoro::Task<void>> starting_;
  // The recorder closing the last file; transcription waits for it.
  std::optional<QCoro::Task<void>> recorderStopped_;
  bool stopWhenStarted_ = false;
  bool cancelWhenStarted_ = false;
  std::optional<QString> recordingURL_;
  std::optional<Mode> recordingMode_;
  std::optional<Clock::Duration> recordingStartTime_;
  bool isCommandEdit_ = false;
  std::optional<CancellationToken> transcriptionToken_;
  struct SelectionRead {
    CancellationToken token;
    QFuture<std::optional<QString>> result;
  };
  std::optional<SelectionRead> commandSelection_;
  std::optional<Clock::TimerId> watchdog_;
  std::optional<Clock::TimerId> autoRecover_;
  // The running (or last) background steps of a session; kept, never dropped.
  std::optional<QCoro::Task<void>> warmup_;
  std::optional<QCoro::Task<void>> selectionRead_;
  std::optional<QCoro::Task<void>> transcription_;
  // The recorder can finish opening after the session is gone; the start checks it.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  // Quitting the application discards the recording in flight through it.
  QObject quitContext_;
};

}  // namespace murel
