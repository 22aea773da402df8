#include "hotkeys/HotKeyService.h"

#include "runtime/Async.h"
#include "runtime/UserDefaults.h"

#include <QPointer>
#include <QThread>

#include <algorithm>

namespace murel {
namespace {

const QString kHotKeyComboKey = QStringLiteral("hotKeyCombo");
const QString kChangeModeComboKey = QStringLiteral("changeModeCombo");
const QString kCommandEditComboKey = QStringLiteral("commandEditCombo");
const QString kActivationModeKey = QStringLiteral("activationMode");
const QString kVoiceEditEnabledKey = QStringLiteral("voiceEditEnabled");

// Option+Shift+Space, either side.
const KeyCombo kDefaultChangeModeCombo(Key::space, KeyModifiers::option | KeyModifiers::shift);

std::optional<KeyCombo> readCombo(const UserDefaults& defaults, const QString& key) {
  const std::optional<QString> text = defaults.stringValue(key);
  return text ? KeyCombo::fromRawValue(*text) : std::nullopt;
}

}  // namespace

HotKeyService::HotKeyService(UserDefaults& defaults, KeyEventTap& tap, UserData userData, QObject* parent)
    : QObject(parent), defaults_(defaults), tap_(tap), userData_(std::move(userData)) {
  setCurrentCombo(readCombo(defaults_, kHotKeyComboKey));
  setChangeModeCombo(readCombo(defaults_, kChangeModeComboKey).value_or(kDefaultChangeModeCombo));
  setCommandEditCombo(readCombo(defaults_, kCommandEditComboKey));
  const std::optional<QString> modeText = defaults_.stringValue(kActivationModeKey);
  setActivationMode(modeText ? activationModeFromRawValue(*modeText).value_or(ActivationMode::hybrid)
                             : ActivationMode::hybrid);
  stateMachine_.activationMode = activationMode_;
}

HotKeyService::~HotKeyService() = default;

void HotKeyService::storeCombo(const QString& key, const std::optional<KeyCombo>& combo) {
  if (combo) {
    defaults_.setValue(key, combo->rawValue());
  } else {
    defaults_.remove(key);
  }
}

void HotKeyService::setCurrentCombo(std::optional<KeyCombo> combo) {
  storeCombo(kHotKeyComboKey, combo);
  if (combo == currentCombo_) return;
  currentCombo_ = combo;
  Q_EMIT currentComboChanged();
}

void HotKeyService::setChangeModeCombo(std::optional<KeyCombo> combo) {
  storeCombo(kChangeModeComboKey, combo);
  if (combo == changeModeCombo_) return;
  changeModeCombo_ = combo;
  Q_EMIT changeModeComboChanged();
}

void HotKeyService::setCommandEditCombo(std::optional<KeyCombo> combo) {
  storeCombo(kCommandEditComboKey, combo);
  if (combo == commandEditCombo_) return;
  commandEditCombo_ = combo;
  Q_EMIT commandEditComboChanged();
}

void HotKeyService::setActivationMode(ActivationMode mode) {
  defaults_.setValue(kActivationModeKey, activationModeRawValue(mode));
  stateMachine_.activationMode = mode;
  if (mode == activationMode_) return;
  activationMode_ = mode;
  Q_EMIT activationModeChanged();
}

void HotKeyService::setPaused(bool paused) {
  if (paused == isPaused_) return;
  isPaused_ = paused;
  tap_.setPaused(paused);
  Q_EMIT isPausedChanged();
}

void HotKeyService::holdPause() {
  ++pauseHolds_;
  setPaused(true);
}

void HotKeyService::releasePause() {
  if (pauseHolds_ == 0) return;
  if (--pauseHolds_ == 0) setPaused(false);
}

void HotKeyService::setActive(bool active) {
  if (active == isActive_) return;
  isActive_ = active;
  Q_EMIT isActiveChanged();
}

void HotKeyService::setRegistered(bool registered) {
  if (registered == isRegistered_) return;
  isRegistered_ = registered;
  Q_EMIT isRegisteredChanged();
}

void HotKeyService::setLastRegistrationError(std::optional<qint32> error) {
  if (error == lastRegistrationError_) return;
  lastRegistrationError_ = error;
  Q_EMIT lastRegistrationErrorChanged();
}

void HotKeyService::setRefusedBindings(QList<HotKeyBinding> bindings) {
  if (bindings == refusedBindings_) return;
  refusedBindings_ = std::move(bindings);
  Q_EMIT refusedBindingsChanged();
}

QList<HotKeyService::ModeHotKey> HotKeyService::modeHotKeys() const {
  return userData_.modeHotKeys ? userData_.modeHotKeys() : QList<ModeHotKey>();
}

bool HotKeyService::isVoiceEditEnabled() const {
  if (userData_.isVoiceEditEnabled) return userData_.isVoiceEditEnabled();
  return defaults_.boolOr(kVoiceEditEnabledKey, false);
}

void HotKeyService::reloadRegistrations() {
  Q_ASSERT(QThread::currentThread() == thread());
  registrations_.clear();
  sessionOwner_.reset();
  setActive(false);
  stateMachine_.reset();
  ++generation_;  // events still queued from the old table are dropped

  bool installed = tap_.install([this, alive = QPointer<HotKeyService>(this)](const KeyEventTap::Delivery& delivery) {
    if (!alive.isNull()) handleDelivery(delivery);
  });

  quint32 nextId = 1;
  auto add = [&](const KeyCombo& combo, Action action, const QUuid& modeId = QUuid()) {
    registrations_.insert(nextId++, Registration{combo, action, modeId});
  };
  if (currentCombo_) add(*currentCombo_, Action::toggleRecording);
  if (changeModeCombo_) add(*changeModeCombo_, Action::changeMode);
  if (commandEditCombo_ && isVoiceEditEnabled()) add(*commandEditCombo_, Action::commandEdit);
  for (const ModeHotKey& mode : modeHotKeys()) {
    if (mode.hotkey) add(*mode.hotkey, Action::recordMode, mode.modeId);
  }

  std::vector<HotKeyMatcher::Entry> entries;
  entries.reserve(registrations_.size());
  for (auto it = registrations_.cbegin(); it != registrations_.cend(); ++it) entries.push_back({it.key(), it->combo});
  // Registered whether or not the tap runs, so a later rebuild only has to succeed.
  const std::vector<quint32> refused = installed ? tap_.setRegistrations(entries, generation_) : std::vector<quint32>{};
  // A combination another program holds cannot be caught. Each refusal is
  // reported for its own hotkey: a taken mode hotkey must not mark the
  // dictation hotkey failed.
  QList<HotKeyBinding> refusedBindings;
  bool dictationRefused = false;
  for (auto it = registrations_.cbegin(); it != registrations_.cend(); ++it) {
    if (std::find(refused.begin(), refused.end(), it.key()) == refused.end()) continue;
    refusedBindings.append(bindingOf(*it));
    dictationRefused = dictationRefused || it->action == Action::toggleRecording;
  }
  setRefusedBindings(std::move(refusedBindings));

  const bool dictationCaught = installed && !dictationRefused;
  setLastRegistrationError(dictationCaught ? std::nullopt : std::optional<qint32>(kRegistrationFailed));
  bool hasDictation = false;
  for (const Registration& r : registrations_) hasDictation = hasDictation || r.action == Action::toggleRecording;
  setRegistered(dictationCaught && hasDictation);
}

HotKeyBinding HotKeyService::bindingOf(const Registration& registration) {
  switch (registration.action) {
    case Action::recordMode: return HotKeyBinding::mode(registration.modeId);
    case Action::toggleRecording: return HotKeyBinding::toggleRecording();
    case Action::changeMode: return HotKeyBinding::changeMode();
    case Action::commandEdit: return HotKeyBinding::commandEdit();
  }
  return HotKeyBinding::toggleRecording();
}

HotKeyBindings HotKeyService::currentBindings() const {
  HotKeyBindings bindings;
  if (currentCombo_) bindings.insert(HotKeyBinding::toggleRecording(), *currentCombo_);
  if (changeModeCombo_) bindings.insert(HotKeyBinding::changeMode(), *changeModeCombo_);
  if (commandEditCombo_) bindings.insert(HotKeyBinding::commandEdit(), *commandEditCombo_);
  for (const ModeHotKey& mode : modeHotKeys()) {
    if (mode.hotkey) bindings.insert(HotKeyBinding::mode(mode.modeId), *mode.hotkey);
  }
  return bindings;
}

void HotKeyService::resetSession() {
  setActive(false);
  sessionOwner_.reset();
  stateMachine_.reset();
}

void HotKeyService::handleDelivery(const KeyEventTap::Delivery& delivery) {
  Q_ASSERT(QThread::currentThread() == thread());
  if (delivery.generation != generation_ || isPaused_) return;
  for (const RegistrationAction& action : delivery.outcome.actions) {
    if (action.isRelease) {
      releaseRegistration(action.id, delivery.time);
    } else {
      pressRegistration(action.id, delivery.time);
    }
  }
}

void HotKeyService::pressRegistration(quint32 id, Clock::Duration at) {
  if (isPaused_) return;
  const auto it = registrations_.constFind(id);
  if (it == registrations_.cend()) return;
  switch (it->action) {
    case Action::changeMode:
      if (onChangeMode) onChangeMode();
      return;
    case Action::toggleRecording: driveStateMachine(id, false, Session::dictation(), at); return;
    case Action::recordMode: driveStateMachine(id, false, Session::dictation(it->modeId), at); return;
    case Action::commandEdit: driveStateMachine(id, false, Session::commandEdit(), at); return;
  }
}

void HotKeyService::releaseRegistration(quint32 id, Clock::Duration at) {
  if (isPaused_) return;
  const auto it = registrations_.constFind(id);
  if (it == registrations_.cend()) return;
  switch (it->action) {
    case Action::changeMode: return;
    case Action::toggleRecording: driveStateMachine(id, true, Session::dictation(), at); return;
    case Action::recordMode: driveStateMachine(id, true, Session::dictation(it->modeId), at); return;
    case Action::commandEdit: driveStateMachine(id, true, Session::commandEdit(), at); return;
  }
}

void HotKeyService::driveStateMachine(quint32 id, bool isRelease, const Session& session, Clock::Duration at) {
  if (!sessionOwner_) {
    if (isRelease) return;
    sessionOwner_ = id;  // owns the session even if the machine ignores this press
  } else if (*sessionOwner_ != id) {
    return;  // another hotkey's session is running
  }
  switch (stateMachine_.handleKeyEvent(isRelease, at)) {
    case ActivationDecision::start:
      setActive(true);
      postSessionChange(true, session);
      return;
    case ActivationDecision::stop:
      setActive(false);
      sessionOwner_.reset();
      postSessionChange(false, session);
      return;
    case ActivationDecision::ignore: return;
  }
}

void HotKeyService::postSessionChange(bool started, const Session& session) {
  // Holds the service weakly: a report for a service that is gone is dropped.
  ++reportsInFlight_;
  postToMainLoop([this, alive = QPointer<HotKeyService>(this), started, session] {
    if (alive.isNull()) return;
    --reportsInFlight_;
    if (onSessionChanged) onSessionChanged(started, session);
  });
}

}  // namespace murel
