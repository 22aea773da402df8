#include "app/DictationSession.h"

#include "audio/AudioRecorder.h"
#include "delivery/TranscriptDeliverer.h"
#include "runtime/AppPaths.h"
#include "runtime/DiagLog.h"
#include "runtime/SystemLog.h"
#include "text/DictionaryStore.h"
#include "text/UsageStatsStore.h"
#include "text/VoiceEditPrompt.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPromise>
#include <QScopeGuard>

#include <vector>

#include <unistd.h>

namespace murel {

namespace {

const Logger kLog("dictationSession");

QString fileName(const QString& path) { return QFileInfo(path).fileName(); }

double seconds(Clock::Duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

bool DictationSession::systemLogShowsDictatedText() {
#ifdef NDEBUG
  static const bool shown = qEnvironmentVariableIntValue("MUREL_LOG_DICTATED_TEXT") == 1;
  return shown;
#else
  return true;
#endif
}

namespace {

// Loads the speech model while the user speaks; a load error shows up again at
// the transcription step.
QCoro::Task<void> warmSpeechEngine(SpeechEngineHosting* host) {
  try {
    co_await host->ensureLoaded();
  } catch (...) {
  }
}

QCoro::Task<void> readSelectionInto(std::function<QCoro::Task<std::optional<QString>>(CancellationToken)> read,
                                    CancellationToken token,
                                    std::shared_ptr<QPromise<std::optional<QString>>> promise) {
  std::optional<QString> selection;
  try {
    if (read) {
      auto reading = read(token);
      selection = co_await std::move(reading);
    }
  } catch (...) {
  }
  promise->addResult(selection);
  promise->finish();
}

// The live sessions, for an exit() that never returns to the event loop (Qt's
// own when the X server is lost): their recordings still go. Main thread only.
std::vector<const DictationSession*>& liveSessions() {
  // Never destroyed: the exit hook may run after static destructors.
  static auto* sessions = new std::vector<const DictationSession*>;
  return *sessions;
}

}  // namespace

DictationSession::DictationSession(Services services) : s_(std::move(services)) {
  liveSessions().push_back(this);
  if (QCoreApplication* app = QCoreApplication::instance()) {
    QObject::connect(app, &QCoreApplication::aboutToQuit, &quitContext_, [this] { discardRecordingInFlight(); });
  }
}

DictationSession::~DictationSession() {
  std::erase(liveSessions(), this);
  cancelWatchdog();
  if (autoRecover_) s_.clock.cancel(*autoRecover_);
  if (commandSelection_) commandSelection_->token.cancel();
  if (transcriptionToken_) transcriptionToken_->cancel();
}

DictationSessionPreferences DictationSession::prefs() const {
  return preferences ? preferences() : DictationSessionPreferences{};
}

void DictationSession::send(const DictationSessionEvent& event) {
  if (onEvent) onEvent(event);
}

int DictationSession::wordCount(const QString& text) { return int(UsageStatsStore::wordCount(text)); }

void DictationSession::start(std::optional<Mode> mode) { startRecording(std::move(mode), false); }

void DictationSession::startRecording(std::optional<Mode> mode, bool commandEdit) {
  if (phase_ != Phase::idle) {
    kLog.error(QStringLiteral("start skipped — session is active"));
    return;
  }
  const int mic = s_.micAuthorization ? s_.micAuthorization() : 3;
  if (mic != 3) {
    kLog.error(QStringLiteral("start blocked — microphone not authorized (%1)").arg(mic));
    s_.diagLog.log(QStringLiteral("session"), QStringLiteral("record blocked"), QStringLiteral("mic=%1").arg(mic));
    phase_ = Phase::idle;
    // Linux has no microphone permission: "not authorized" means the sound
    // server can't be reached, and no settings page would help.
    //% "Murel can't reach the sound server, so it can't record. Check that PulseAudio or PipeWire is running, then try again."
    //: Menu-bar error shown when recording is attempted while the sound server can't be reached.
    DictationSessionEvent refused =
        DictationSessionEvent::statusChanged(AppStatus::error(qtTrId("error.microphone.denied")));
    refused.cause = DictationSessionEvent::Cause::soundServer;
    send(refused);
    if (s_.resetHotkeySession) s_.resetHotkeySession();
    return;
  }
  const quint32 deviceID = s_.inputDeviceID ? s_.inputDeviceID() : 0;
  kLog.info(QStringLiteral("start — deviceID=%1 (0=systemDefault), micPermission=%2").arg(deviceID).arg(mic));
  phase_ = Phase::starting;
  stopWhenStarted_ = false;
  cancelWhenStarted_ = false;
  // Only one start at a time (the phase sees to it), so the one kept here has ended.
  starting_ = openRecorder(deviceID, mic, std::move(mode), commandEdit);
}

QCoro::Task<void> DictationSession::openRecorder(quint32 deviceID, int mic, std::optional<Mode> mode,
                                                 bool commandEdit) {
  std::weak_ptr<bool> alive = alive_;
  QString file;
  std::exception_ptr failure;
  try {
    auto opening = s_.recorder.startRecording(deviceID);
    file = co_await std::move(opening);
  } catch (...) {
    failure = std::current_exception();
  }
  if (alive.expired()) co_return;
  if (failure) {
    const ErrorDescription error = ErrorDescription::of(failure);
    kLog.error(
        QStringLiteral("Recording failed (deviceID=%1, mic=%2): %3").arg(deviceID).arg(mic).arg(error.description));
    s_.diagLog.log(QStringLiteral("session"), QStringLiteral("record start failed"),
                   error.typeName + QStringLiteral(": ") + error.description);
    reportFailure(QStringLiteral("Recording failed: ") + error.description, std::nullopt, true);
    if (s_.resetHotkeySession) s_.resetHotkeySession();
    co_return;
  }
  recordingURL_ = file;
  recordingMode_ = mode ? std::move(mode) : std::optional<Mode>(s_.modeStore.defaultMode());
  beginRecording();
  if (commandEdit) beginCommandEdit();
  // The key was let go (or Escape pressed) while the input opened.
  if (cancelWhenStarted_) {
    cancel();
  } else if (stopWhenStarted_) {
    stop();
  }
}

void DictationSession::beginRecording() {
  recordingStartTime_ = s_.clock.now();
  phase_ = Phase::recording;
  hudPresentation_.setPhase(HudPhase::recording);
  send(DictationSessionEvent::statusChanged(AppStatus::recording()));
  if (prefs().soundCuesEnabled && s_.playRecordingCue) s_.playRecordingCue(RecordingCue::Started);
  if (prefs().pauseMediaWhileRecording) s_.mediaPlayback.beginPauseForRecording();
  startWatchdog();
  warmup_.emplace(warmSpeechEngine(&s_.engineHost));
  const bool transforms = recordingMode_ && !recordingMode_->transformation.isRaw();
  if (transforms) s_.engineHost.prewarmTextEnhancer();
  kLog.info(QStringLiteral("Recording started → %1").arg(fileName(recordingURL_.value_or(QString()))));
  s_.diagLog.log(QStringLiteral("session"), QStringLiteral("record start"),
                 QStringLiteral("transform=") + (transforms ? QStringLiteral("true") : QStringLiteral("false")));
  if (prefs().showHud) {
    AudioRecording* recorder = &s_.recorder;
    s_.hud.show(hudPresentation_, [recorder] { return recorder->isRecording() ? recorder->currentLevel() : 0.0f; });
  }
}

void DictationSession::startWatchdog() {
  cancelWatchdog();
  // Cancelled by the destructor, so it never fires for a session that is gone.
  watchdog_ = s_.clock.schedule(maxRecordingDuration, [this] {
    watchdog_.reset();
    if (phase_ != Phase::recording) return;
    kLog.error(QStringLiteral("Recording exceeded max duration; auto-stopping"));
    stop();
    // The key session would otherwise outlive the recording: in toggle and
    // auto mode the user's next press would only end a recording that is gone.
    if (s_.resetHotkeySession) s_.resetHotkeySession();
  });
}

void DictationSession::cancelWatchdog() {
  if (watchdog_) {
    s_.clock.cancel(*watchdog_);
    watchdog_.reset();
  }
}

void DictationSession::stopRecorder() {
  // One recording at a time: an earlier stop has long ended.
  recorderStopped_ = s_.recorder.stopRecording();
  s_.recorder.setIsRecording(false);
  if (prefs().soundCuesEnabled && s_.playRecordingCue) s_.playRecordingCue(RecordingCue::Stopped);
  s_.mediaPlayback.resumeAfterRecording();
}

void DictationSession::stop() {
  if (phase_ == Phase::starting) {
    stopWhenStarted_ = true;
    return;
  }
  if (phase_ != Phase::recording) {
    kLog.error(QStringLiteral("stop skipped — session is not recording"));
    return;
  }
  cancelWatchdog();
  stopRecorder();
  phase_ = Phase::transcribing;
  hudPresentation_.setPhase(HudPhase::transcribing);
  send(DictationSessionEvent::statusChanged(AppStatus::transcribing()));
  kLog.info(QStringLiteral("Recording stopped, transcribing..."));
  const double length = recordingStartTime_ ? seconds(s_.clock.now() - *recordingStartTime_) : 0.0;
  s_.diagLog.log(QStringLiteral("session"), QStringLiteral("record stop"), QString::asprintf("duration=%.1fs", length));
  if (!recordingURL_) {
    kLog.error(QStringLiteral("No recording URL"));
    phase_ = Phase::idle;
    send(DictationSessionEvent::statusChanged(AppStatus::ready()));
    return;
  }
  CancellationToken token;
  transcriptionToken_ = token;
  transcription_.emplace(transcribe(*recordingURL_, length, token));
}

QCoro::Task<void> DictationSession::transcribe(QString file, double length, CancellationToken token) {
  const Clock::Duration began = s_.clock.now();
  // Whatever the outcome, the recording and its token go once the status is sent.
  const auto cleanup = qScopeGuard([this, file] {
    transcriptionToken_.reset();
    cleanupRecording(file);
  });
  try {
    if (recorderStopped_) {
      // The file is complete once the recorder has closed it.
      auto stopped = std::move(*recorderStopped_);
      recorderStopped_.reset();
      co_await std::move(stopped);
    }
    co_await s_.engineHost.ensureLoaded();
    if (token.isCancelled()) throw OperationCancelled();
    kLog.info(QStringLiteral("Transcribing %1...").arg(fileName(file)));
    s_.diagLog.log(QStringLiteral("session"), QStringLiteral("transcribe start"));
    QStringList vocabulary;
    for (const DictionaryEntry& entry : s_.dictionaryStore.entries()) vocabulary.append(entry.replacement);
    const QString raw = co_await s_.engineHost.transcribe(file, vocabulary, token);
    if (token.isCancelled()) throw OperationCancelled();
    const int characters = int(UsageStatsStore::characterCount(raw));
    kLog.info(systemLogShowsDictatedText() ? QStringLiteral("Raw transcription: \"%1\"").arg(raw)
                                           : QStringLiteral("Raw transcription: %1 characters").arg(characters));
    s_.diagLog.log(QStringLiteral("session"), QStringLiteral("transcribe ok"),
                   QString::asprintf("chars=%d duration=%.1fs", characters, seconds(s_.clock.now() - began)));
    std::optional<QString> result;
    if (isCommandEdit_) {
      result = co_await applyCommandEdit(raw, token);
    } else {
      const DictationSessionPreferences p = prefs();
      const Transformation transformation = recordingMode_ ? recordingMode_->transformation : Transformation::raw();
      result = co_await s_.deliverer.deliver(raw, transformation, p.autoPaste, p.restoreClipboard, length, token);
    }
    if (result) send(DictationSessionEvent::transcription(*result));
    if (phase_ == Phase::transcribing) {
      phase_ = Phase::idle;
      send(DictationSessionEvent::statusChanged(AppStatus::ready()));
    }
  } catch (const OperationCancelled&) {
    kLog.info(QStringLiteral("Transcription canceled"));
    phase_ = Phase::idle;
    send(DictationSessionEvent::statusChanged(AppStatus::ready()));
  } catch (...) {
    const ErrorDescription error = ErrorDescription::of(std::current_exception());
    kLog.error(QStringLiteral("Transcription error: %1").arg(error.description));
    s_.diagLog.log(QStringLiteral("session"), QStringLiteral("transcribe failed"),
                   error.typeName + QStringLiteral(": ") + error.description);
    phase_ = Phase::idle;
    send(DictationSessionEvent::statusChanged(
        AppStatus::error(QStringLiteral("Transcription failed: ") + error.description)));
    scheduleAutoRecover();
  }
}

void DictationSession::cleanupRecording(const std::optional<QString>& file) {
  cancelWatchdog();
  s_.hud.hide();
  if (file) QFile::remove(*file);
  recordingURL_.reset();
  recordingMode_.reset();
  recordingStartTime_.reset();
  isCommandEdit_ = false;
  if (commandSelection_) {
    commandSelection_->token.cancel();
    commandSelection_.reset();
  }
}

void DictationSession::cancel() {
  if (phase_ == Phase::starting) {
    kLog.info(QStringLiteral("Dictation canceled while the recording starts"));
    cancelWhenStarted_ = true;
  } else if (phase_ == Phase::recording) {
    kLog.info(QStringLiteral("Dictation canceled while recording"));
    stopRecorder();
    cleanupRecording(recordingURL_);
    phase_ = Phase::idle;
    send(DictationSessionEvent::statusChanged(AppStatus::ready()));
  } else if (phase_ == Phase::transcribing) {
    kLog.info(QStringLiteral("Dictation canceled while transcribing"));
    if (transcriptionToken_) transcriptionToken_->cancel();
  }
  if (s_.resetHotkeySession) s_.resetHotkeySession();
}

void DictationSession::handleRecordingDeviceLost() {
  if (phase_ != Phase::recording) return;
  kLog.error(QStringLiteral("Recording input device disconnected"));
  stopRecorder();
  cleanupRecording(recordingURL_);
  //% "The microphone was disconnected, so recording stopped."
  //: Menu-bar error shown when the recording input device is disconnected mid-recording.
  reportFailure(qtTrId("error.recordingDevice.lost"), std::nullopt, true);
  if (s_.resetHotkeySession) s_.resetHotkeySession();
}

void DictationSession::discardRecordingInFlight() {
  if (phase_ == Phase::idle && !recordingURL_) return;
  kLog.info(QStringLiteral("Recording in flight discarded"));
  s_.diagLog.log(QStringLiteral("session"), QStringLiteral("record discarded"));
  if (phase_ == Phase::recording) {
    s_.recorder.stopRecording();
    s_.recorder.setIsRecording(false);
    s_.mediaPlayback.resumeAfterRecording();
  }
  if (transcriptionToken_) transcriptionToken_->cancel();
  cleanupRecording(recordingURL_);
  phase_ = Phase::idle;
}

void DictationSession::removeLeftoverRecordings(DiagLog& diagLog) {
  const QString folder = AppPaths::recordings();
  if (folder.isEmpty()) return;
  const QFileInfoList files =
      QDir(folder).entryInfoList({QStringLiteral("recording_*.wav")}, QDir::Files | QDir::Hidden);
  int removed = 0;
  for (const QFileInfo& file : files) removed += QFile::remove(file.absoluteFilePath()) ? 1 : 0;
  if (removed > 0) {
    kLog.info(QStringLiteral("Removed %1 leftover recording(s)").arg(removed));
    diagLog.log(QStringLiteral("session"), QStringLiteral("leftover recordings removed"),
                QStringLiteral("count=%1").arg(removed));
  }
}

void DictationSession::removeRecordingsInFlight() {
  for (const DictationSession* session : liveSessions()) {
    if (session->recordingFile()) ::unlink(QFile::encodeName(*session->recordingFile()).constData());
  }
}

void DictationSession::handlePasteUnavailable() {
  QString message;
  std::optional<QUrl> url;
  if (s_.isAccessibilityTrusted && s_.isAccessibilityTrusted()) {
    //% "Couldn't paste automatically. Your text is on the clipboard, ready to paste."
    //: Menu-bar error when auto-paste failed despite Accessibility access.
    message = qtTrId("error.paste.failed");
  } else {
    //% "Murel can't type into other windows here (it needs an X11 session with XTEST), so it can't paste. Text is on the clipboard."
    //: Menu-bar error when auto-paste is impossible because synthesized keys are unavailable.
    message = qtTrId("error.accessibility.denied");
  }
  phase_ = Phase::idle;
  send(DictationSessionEvent::statusChanged(AppStatus::error(message), url));
}

void DictationSession::reportFailure(const QString& message, std::optional<QUrl> url, bool recover) {
  phase_ = Phase::idle;
  send(DictationSessionEvent::statusChanged(AppStatus::error(message), std::move(url)));
  if (recover) scheduleAutoRecover();
}

void DictationSession::scheduleAutoRecover() {
  if (autoRecover_) s_.clock.cancel(*autoRecover_);
  autoRecover_ = s_.clock.schedule(autoRecoverDelay, [this] {
    autoRecover_.reset();
    if (phase_ == Phase::idle) send(DictationSessionEvent::statusChanged(AppStatus::ready()));
  });
}

// ---- Voice edit ----

void DictationSession::startCommandEdit() {
  if (!(s_.isVoiceEditEnabled && s_.isVoiceEditEnabled())) {
    if (s_.resetHotkeySession) s_.resetHotkeySession();
    return;
  }
  if (phase_ != Phase::idle) {
    kLog.error(QStringLiteral("startCommandEdit skipped — session is active"));
    return;
  }
  if (!(s_.isLanguageModelInstalled && s_.isLanguageModelInstalled())) {
    //% "Voice edit needs the AI model. Download it in Settings first."
    //: Menu-bar error when the voice-edit hotkey is used before the Gemma model is downloaded.
    const QString message = qtTrId("error.commandEdit.modelMissing");
    if (s_.resetHotkeySession) s_.resetHotkeySession();
    s_.diagLog.log(QStringLiteral("commandEdit"), QStringLiteral("blocked"), message);
    reportFailure(message, std::nullopt, true);
    return;
  }
  startRecording(std::nullopt, true);
}

void DictationSession::beginCommandEdit() {
  isCommandEdit_ = true;
  hudPresentation_.setPhase(HudPhase::editing);
  s_.engineHost.prewarmTextEnhancer();
  auto promise = std::make_shared<QPromise<std::optional<QString>>>();
  promise->start();
  SelectionRead read{CancellationToken(), promise->future()};
  commandSelection_ = read;
  selectionRead_.emplace(readSelectionInto(s_.readSelection, read.token, promise));
  s_.diagLog.log(QStringLiteral("commandEdit"), QStringLiteral("start"));
}

QCoro::Task<std::optional<QString>> DictationSession::applyCommandEdit(QString raw, CancellationToken token) {
  const QString instruction = raw.trimmed();
  if (instruction.isEmpty()) {
    if (commandSelection_) {
      commandSelection_->token.cancel();
      commandSelection_.reset();
    }
    kLog.info(QStringLiteral("Empty voice-edit instruction, nothing applied"));
    co_return std::nullopt;
  }
  std::optional<QString> selection;
  if (commandSelection_) {
    QFuture<std::optional<QString>> future = commandSelection_->result;
    selection = co_await future;
  }
  commandSelection_.reset();
  if (token.isCancelled()) throw OperationCancelled();
  if (selection && wordCount(*selection) > kMaxSelectionWords) {
    //% "That selection is too long to edit — try under 1,000 words."
    //: Menu-bar error when the selected text exceeds the voice-edit word limit.
    const QString message = qtTrId("error.commandEdit.selectionTooLong");
    s_.diagLog.log(QStringLiteral("commandEdit"), QStringLiteral("selection too long"), message);
    reportFailure(message, std::nullopt, true);
    co_return std::nullopt;
  }
  s_.diagLog.log(QStringLiteral("commandEdit"), QStringLiteral("apply"),
                 QStringLiteral("instruction=%1 chars selection=%2 chars")
                     .arg(UsageStatsStore::characterCount(instruction))
                     .arg(selection ? UsageStatsStore::characterCount(*selection) : 0));
  const QString prompt = voiceEditSystemPrompt(selection);
  const QString result = co_await s_.engineHost.enhance(instruction, prompt, token);
  if (result == instruction) {
    //% "Voice edit couldn't process that. Your text wasn't changed."
    //: Menu-bar error when the local model failed to produce a voice-edit result.
    const QString message = qtTrId("error.commandEdit.failed");
    s_.diagLog.log(QStringLiteral("commandEdit"), QStringLiteral("enhance failed"), message);
    reportFailure(message, std::nullopt, true);
    co_return std::nullopt;
  }
  const DictationSessionPreferences p = prefs();
  co_return co_await s_.deliverer.deliverEditedText(result, p.autoPaste, p.restoreClipboard, token);
}

}  // namespace murel
