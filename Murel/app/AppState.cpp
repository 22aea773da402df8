#include "app/AppState.h"

#include "runtime/DiagLog.h"
#include "runtime/PrivateFiles.h"
#include "runtime/SettingsWrites.h"
#include "runtime/SystemLog.h"
#include "runtime/UserDefaults.h"
#include "speech/AudioExtractor.h"
#include "speech/EngineError.h"
#include "speech/SpeechModel.h"
#include "text/DictionaryStore.h"
#include "text/ModeStore.h"
#include "text/TranscriptProcessor.h"

#include <QCoroFuture>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QThread>
#include <QtConcurrent>

namespace murel {

namespace {

const Logger kLog("app");

const QString kShowHudKey = QStringLiteral("showHud");
const QString kSoundCuesKey = QStringLiteral("soundCuesEnabled");
const QString kRestoreClipboardKey = QStringLiteral("restoreClipboard");
const QString kPauseMediaKey = QStringLiteral("pauseMediaWhileRecording");

bool storedBoolOrTrue(const UserDefaults& defaults, const QString& key) {
  return defaults.boolValue(key).value_or(true);
}

QString describe(const HotKeyService::Session& session) {
  if (session.kind == HotKeyService::Session::Kind::commandEdit) return QStringLiteral("commandEdit");
  return session.modeId ? QStringLiteral("dictation(mode: %1)").arg(session.modeId->toString(QUuid::WithoutBraces))
                        : QStringLiteral("dictation");
}

}  // namespace

bool AppState::readDefaultsBool(const QVariant& value) {
  switch (value.metaType().id()) {
    case QMetaType::Bool: return value.toBool();
    case QMetaType::LongLong:
    case QMetaType::Int: return value.toLongLong() != 0;
    case QMetaType::Double: return value.toDouble() != 0.0;
    case QMetaType::QString: {
      const QString text = value.toString();
      qsizetype i = 0;
      while (i < text.size() && text[i].isSpace()) ++i;
      if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
      while (i < text.size() && text[i] == u'0') ++i;
      if (i >= text.size()) return false;
      const QChar c = text[i];
      return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
    }
    default: return false;
  }
}

AppState::AppState(Parts parts, QObject* parent) : QObject(parent), p_(std::move(parts)) {
  showHud_ = storedBoolOrTrue(p_.defaults, kShowHudKey);
  soundCuesEnabled_ = storedBoolOrTrue(p_.defaults, kSoundCuesKey);
  restoreClipboard_ = readDefaultsBool(p_.defaults.value(kRestoreClipboardKey));
  pauseMediaWhileRecording_ = readDefaultsBool(p_.defaults.value(kPauseMediaKey));

  connect(&SettingsWrites::of(p_.defaults), &SettingsWrites::failureChanged, this, &AppState::showSettingsWriteFailure);
  if (SettingsWrites::of(p_.defaults).failure()) showSettingsWriteFailure();

  QPointer<AppState> self(this);
  p_.session.preferences = [self] { return self ? self->sessionPreferences() : DictationSessionPreferences{}; };
  p_.session.onEvent = [self](const DictationSessionEvent& event) {
    if (self) self->handleSessionEvent(event);
  };
}

AppState::~AppState() {
  p_.session.preferences = {};
  p_.session.onEvent = {};
  if (isObservingHotkey_) {
    p_.hotKeys.onSessionChanged = {};
    p_.hotKeys.onChangeMode = {};
  }
}

// ---- Observed properties ----

void AppState::setStatus(const AppStatus& status) {
  if (status_ == status) return;
  status_ = status;
  Q_EMIT statusChanged();
}

void AppState::setLastTranscription(std::optional<QString> text) {
  if (lastTranscription_ == text) return;
  lastTranscription_ = std::move(text);
  Q_EMIT lastTranscriptionChanged();
}

void AppState::setLastError(std::optional<QString> error) {
  if (lastError_ == error) return;
  lastError_ = std::move(error);
  Q_EMIT lastErrorChanged();
}

void AppState::setSettingsDeepLink(std::optional<QUrl> url) {
  if (settingsDeepLink_ == url) return;
  settingsDeepLink_ = std::move(url);
  Q_EMIT settingsDeepLinkChanged();
}

#define MUREL_PERSISTED_FLAG(setter, member, key, signal) \
  void AppState::setter(bool value) {                     \
    p_.defaults.setValue((key), value);                   \
    if ((member) == value) return;                        \
    (member) = value;                                     \
    Q_EMIT signal();                                      \
  }
MUREL_PERSISTED_FLAG(setShowHud, showHud_, kShowHudKey, showHudChanged)
MUREL_PERSISTED_FLAG(setSoundCuesEnabled, soundCuesEnabled_, kSoundCuesKey, soundCuesEnabledChanged)
MUREL_PERSISTED_FLAG(setRestoreClipboard, restoreClipboard_, kRestoreClipboardKey, restoreClipboardChanged)
MUREL_PERSISTED_FLAG(setPauseMediaWhileRecording, pauseMediaWhileRecording_, kPauseMediaKey,
                     pauseMediaWhileRecordingChanged)
#undef MUREL_PERSISTED_FLAG

void AppState::setAutoPaste(bool value) {
  if (autoPaste_ == value) return;
  autoPaste_ = value;
  Q_EMIT autoPasteChanged();
}

void AppState::setSuppressHud(bool value) {
  if (suppressHud_ == value) return;
  suppressHud_ = value;
  Q_EMIT suppressHudChanged();
}

DictationSessionPreferences AppState::sessionPreferences() const {
  return {autoPaste_, restoreClipboard_, showHud_ && !suppressHud_, soundCuesEnabled_, pauseMediaWhileRecording_};
}

// ---- Start-up and observation ----

QCoro::Task<void> AppState::bootstrap() {
  if (p_.preloadCues) co_await QtConcurrent::run(p_.preloadCues);
  setStatus(AppStatus::ready());
  p_.diagLog.log(QStringLiteral("session"), QStringLiteral("bootstrap"));
  setupHotkeyObservation();
}

void AppState::setupHotkeyObservation() {
  if (isObservingHotkey_) return;
  isObservingHotkey_ = true;
  kLog.info(QStringLiteral("Setting up hotkey observation"));
  QPointer<AppState> self(this);
  p_.hotKeys.onSessionChanged = [self](bool isActive, const HotKeyService::Session& session) {
    kLog.debug(QStringLiteral("Hotkey session changed: %1, %2").arg(isActive ? 1 : 0).arg(describe(session)));
    if (self) self->handleHotkeySession(isActive, session);
  };
  p_.hotKeys.onChangeMode = [self] {
    if (self) self->toggleModeSwitcher();
  };
  const auto& combo = p_.hotKeys.currentCombo();
  kLog.info(
      QStringLiteral("Hotkey callback set, combo: %1").arg(combo ? combo->displayString() : QStringLiteral("none")));
  if (!escGlobalMonitor_) {
    escGlobalMonitor_ = true;
    if (p_.installGlobalKeyMonitor) {
      p_.installGlobalKeyMonitor([self](quint32 keyCode, quint64 flags) {
        if (self) self->handleEscapeKey(keyCode, flags);
      });
    }
    escLocalMonitor_ = true;
    if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
  }
  if (!resignObserved_) {
    resignObserved_ = true;
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
      auto previous = std::make_shared<Qt::ApplicationState>(app->applicationState());
      connect(app, &QGuiApplication::applicationStateChanged, this, [this, previous](Qt::ApplicationState state) {
        const bool resigned = *previous == Qt::ApplicationActive && state != Qt::ApplicationActive;
        *previous = state;
        if (resigned) handleResignActive();
      });
    }
  }
}

// ---- Handlers ----

void AppState::handleHotkeySession(bool isActive, const HotKeyService::Session& session) {
  if (!isActive) {
    p_.session.stop();
    return;
  }
  if (session.kind == HotKeyService::Session::Kind::commandEdit) {
    startCommandEdit();
    return;
  }
  std::optional<Mode> mode;
  if (session.modeId) {
    for (const Mode& m : p_.modeStore.modes()) {
      if (m.id == *session.modeId) {
        mode = m;
        break;
      }
    }
  }
  startRecording(std::move(mode));
}

void AppState::startRecording(std::optional<Mode> mode) {
  if (showsSoundServerError()) {
    // The server may be back before its return was noticed: the session asks it again.
    setLastError(std::nullopt);
    setStatus(AppStatus::ready());
  } else if (!status_.is(AppStatus::Kind::ready)) {
    kLog.error(QStringLiteral("startRecording skipped — status is %1").arg(status_.label()));
    // Otherwise, in toggle and auto mode, the next press would only end a
    // recording that never began.
    p_.hotKeys.resetSession();
    return;
  }
  p_.session.start(std::move(mode));
  if (showsSoundServerError()) Q_EMIT pressRefused(status_.message());
}

void AppState::startCommandEdit() {
  if (!status_.is(AppStatus::Kind::ready)) {
    kLog.error(QStringLiteral("startCommandEdit skipped — status is %1").arg(status_.label()));
    p_.hotKeys.resetSession();
    return;
  }
  p_.session.startCommandEdit();
}

void AppState::toggleModeSwitcher() {
  if (!modeSwitcher_) {
    if (!p_.makeModeSwitcher) return;
    modeSwitcher_ = p_.makeModeSwitcher();
    if (!modeSwitcher_) return;
  }
  QPointer<AppState> self(this);
  ModeStore* store = &p_.modeStore;
  modeSwitcher_->toggle(p_.modeStore.modes(), p_.modeStore.defaultMode().id, [self, store](const Mode& mode) {
    if (!self.isNull()) store->setDefault(mode.id);
  });
}

bool AppState::isDictationRunning() const {
  return status_.is(AppStatus::Kind::recording) || status_.is(AppStatus::Kind::transcribing);
}

bool AppState::handleEscapeKey(quint32 keyCode, quint64 modifierFlags) {
  if (keyCode != kEscapeKeyCode || (modifierFlags & kEscapeBlockingModifiers) != 0) return false;
  if (!isDictationRunning()) return false;
  p_.session.cancel();
  return true;
}

bool AppState::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    // Only windows see key events; the same event also passes their parents.
    if (key->key() == Qt::Key_Escape && watched->isWindowType()) {
      quint64 flags = 0;
      const Qt::KeyboardModifiers m = key->modifiers();
      if (m & Qt::ShiftModifier) flags |= kShiftFlag;
      if (m & Qt::ControlModifier) flags |= kControlFlag;
      if (m & Qt::AltModifier) flags |= kOptionFlag;
      if (m & Qt::MetaModifier) flags |= kCommandFlag;
      if (handleEscapeKey(kEscapeKeyCode, flags)) return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

void AppState::handleResignActive() {
  // A press just decided may still be on its way to the recorder (its report
  // queued, or the recording file opening): that session is not stale. On a
  // busy machine a focus change made just before the press is handled there.
  const bool starting = p_.hotKeys.hasReportInFlight() || p_.session.phase() == DictationSession::Phase::starting;
  if (p_.hotKeys.isActive() && !isDictationRunning() && !starting) {
    kLog.error(QStringLiteral("Activation state desynced on resign active; resetting"));
    p_.hotKeys.resetSession();
  }
}

bool AppState::showsSoundServerError() const { return soundServerError_ && status_ == *soundServerError_; }

void AppState::handleSoundServerReturned() {
  if (!showsSoundServerError()) return;
  kLog.info(QStringLiteral("The sound server is back; its error is cleared"));
  p_.diagLog.log(QStringLiteral("session"), QStringLiteral("sound server back"));
  dismissError();
}

void AppState::handleSessionEvent(const DictationSessionEvent& event) {
  if (event.kind == DictationSessionEvent::Kind::transcription) {
    setLastTranscription(event.text);
    Q_EMIT transcriptionDelivered(event.text);
    return;
  }
  if (event.status.is(AppStatus::Kind::error)) {
    soundServerError_ = event.cause == DictationSessionEvent::Cause::soundServer
                            ? std::optional<AppStatus>(event.status)
                            : std::nullopt;
  }
  setStatus(event.status);
  if (event.status.is(AppStatus::Kind::error)) {
    setLastError(event.status.message());
    setSettingsDeepLink(event.settingsUrl);
  }
}

void AppState::showSettingsWriteFailure() {
  if (const std::optional<QString>& reason = SettingsWrites::of(p_.defaults).failure()) {
    // Once per run of failing writes: the card (or the desktop notice) says it
    // and stays until dismissed; dictation goes on meanwhile.
    //% "Settings couldn't be saved: %1"
    //: Error shown when the settings file can't be written; the system's reason follows, e.g. "no space left on device".
    settingsWriteError_ = qtTrId("error.settings.saveFailed").arg(PrivateFiles::inSentence(*reason));
    setLastError(settingsWriteError_);
    return;
  }
  // Saved again: an error still on show about it is out of date.
  if (settingsWriteError_ && lastError_ == settingsWriteError_) setLastError(std::nullopt);
  settingsWriteError_.reset();
}

// ---- Model loading and file transcription ----

// The model and file operations run on the state, which lives for the process.
QCoro::Task<void> AppState::loadSpeechModel(bool resetStatus, bool reportErrors) {
  // A dictation that is recording or transcribing keeps its status: Escape
  // must still cancel it and hotkey starts must stay refused.
  if (resetStatus && !isDictationRunning()) {
    setStatus(AppStatus::loading());
    setLastError(std::nullopt);
  }
  try {
    co_await p_.engineHost.ensureLoaded();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    if (reportErrors && !isDictationRunning()) {
      const QString message = QStringLiteral("Model load failed: ") + ErrorDescription::of(error).description;
      setStatus(AppStatus::error(message));
      setLastError(message);
      setSettingsDeepLink(std::nullopt);
    }
    std::rethrow_exception(error);
  }
  if (status_.is(AppStatus::Kind::loading)) setStatus(AppStatus::ready());
}

QCoro::Task<void> AppState::retryAfterError() {
  setLastError(std::nullopt);
  setSettingsDeepLink(std::nullopt);
  if (p_.engineHost.isEngineLoaded()) {
    setStatus(AppStatus::ready());
    co_return;
  }
  try {
    co_await loadSpeechModel(true, true);
  } catch (...) {
    // Shown through the status and the last error already.
  }
}

void AppState::dismissError() {
  setLastError(std::nullopt);
  setSettingsDeepLink(std::nullopt);
  if (status_.is(AppStatus::Kind::error)) setStatus(AppStatus::ready());
}

QCoro::Task<void> AppState::selectSpeechModel(const SpeechModelDescriptor& model) {
  if (!model.isModelInstalled()) throw EngineError::modelMissing();
  p_.defaults.setValue(QString::fromLatin1(kSelectedSpeechModelKey), model.id.rawValue);
  co_await p_.engineHost.ensureLoaded();
}

QCoro::Task<QString> AppState::transcribeFile(QString path) {
  std::optional<QString> temporary;
  auto settle = [this, &temporary] {
    if (temporary) QFile::remove(*temporary);
    if (status_.is(AppStatus::Kind::loading) || status_.is(AppStatus::Kind::error)) setStatus(AppStatus::ready());
  };
  try {
    co_await loadSpeechModel(true, false);
    QString audio = path;
    if (AudioExtractor::isVideoFile(path)) {
      temporary = co_await AudioExtractor::extractAudio(path);
      audio = *temporary;
    }
    QStringList vocabulary;
    for (const DictionaryEntry& entry : p_.dictionaryStore.entries()) vocabulary.append(entry.replacement);
    const QString raw = co_await p_.engineHost.transcribe(audio, vocabulary);
    const QString text = co_await p_.transcriptProcessor.process(raw, p_.modeStore.defaultMode().transformation);
    settle();
    co_return text;
  } catch (...) {
    settle();
    throw;
  }
}

}  // namespace murel
