#include "hotkeys/HotKeyRecorder.h"

#include "hotkeys/HotKeyBinding.h"
#include "hotkeys/HotKeyService.h"
#include "platform/x11/X11Keycodes.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>

namespace murel {

namespace {

// The recorders listening now (main thread). A key press goes to the capture
// that started last; the others must not mistake the release of the
// modifiers they saw go down for a modifiers-only combination.
QList<HotKeyRecorder*>& listeningRecorders() {
  static QList<HotKeyRecorder*> recorders;
  return recorders;
}

}  // namespace

HotKeyRecorder::HotKeyRecorder(HotKeyService& service, Target target, Clock& clock, QObject* parent)
    : QObject(parent), service_(service), target_(target), clock_(clock) {}

HotKeyRecorder::~HotKeyRecorder() { stopCapture(); }

void HotKeyRecorder::setRecording(bool value) {
  if (value == isRecording_) return;
  isRecording_ = value;
  Q_EMIT isRecordingChanged();
}

void HotKeyRecorder::setDidTimeout(bool value) {
  if (value == didTimeout_) return;
  didTimeout_ = value;
  Q_EMIT didTimeoutChanged();
}

void HotKeyRecorder::setDidConflict(bool value) {
  if (value == didConflict_) return;
  didConflict_ = value;
  Q_EMIT didConflictChanged();
}

void HotKeyRecorder::setCapturedCombo(std::optional<KeyCombo> combo) {
  if (combo == capturedCombo_) return;
  capturedCombo_ = combo;
  Q_EMIT capturedComboChanged();
}

void HotKeyRecorder::beginCapture() {
  if (isRecording_) return;
  setRecording(true);
  setDidTimeout(false);
  setDidConflict(false);
  setCapturedCombo(std::nullopt);
  pressedFlagKeys_.clear();
  service_.holdPause();
  // The application's own key events, before any window sees them.
  QCoreApplication::instance()->installEventFilter(this);
  monitoring_ = true;
  listeningRecorders().append(this);
  // Holds the recorder weakly: a discarded recorder is not kept alive by it.
  timeout_ = clock_.schedule(kTimeout, [this, alive = QPointer<HotKeyRecorder>(this)] {
    if (alive.isNull() || !isRecording_) return;
    timeout_ = 0;
    setDidTimeout(true);
    stopCapture();
  });
}

void HotKeyRecorder::stopCapture() {
  if (!isRecording_ && !monitoring_) return;
  setRecording(false);
  if (monitoring_) {
    QCoreApplication::instance()->removeEventFilter(this);
    monitoring_ = false;
    listeningRecorders().removeAll(this);
  }
  if (timeout_) {
    clock_.cancel(timeout_);
    timeout_ = 0;
  }
  service_.releasePause();
}

bool HotKeyRecorder::eventFilter(QObject* watched, QEvent* event) {
  if (!monitoring_ || (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)) {
    return QObject::eventFilter(watched, event);
  }
  // An event that a widget ignores reaches the filter again on its way up the
  // widget tree; a repeated modifier press or release changes nothing.
  auto* key = static_cast<QKeyEvent*>(event);
  const bool press = event->type() == QEvent::KeyPress;
  const std::optional<quint32> code = x11::virtualKeyCode(static_cast<int>(key->nativeScanCode()));
  const std::optional<Key> known = code ? keyFromCode(*code) : std::nullopt;
  if (known && isModifierKey(*known)) {
    if (!key->isAutoRepeat()) handleModifier(*known, press);
    return false;  // modifier changes still reach the window
  }
  if (!press) return false;
  // Every key press is consumed while capturing.
  if (code && !key->isAutoRepeat()) {
    for (HotKeyRecorder* other : listeningRecorders()) {
      if (other != this) other->pressedFlagKeys_.clear();
    }
    handleKeyDown(*code);
  }
  return true;
}

bool HotKeyRecorder::handleModifier(Key key, bool press) {
  if (press) {
    pressedFlagKeys_.insert(key);
    return false;
  }
  // A modifier held since before the capture began was never seen going down:
  // its release captures nothing.
  if (pressedFlagKeys_.erase(key) == 0) return false;
  captureCombo(KeyCombo(keyCode(key), KeyModifiers::fromFlagKeys(pressedFlagKeys_)));
  return true;
}

void HotKeyRecorder::handleKeyDown(quint32 code) {
  const KeyModifiers held = KeyModifiers::fromFlagKeys(pressedFlagKeys_);
  if (code == keyCode(Key::escape) && held.isEmpty()) {
    stopCapture();  // bare Escape cancels
    return;
  }
  captureCombo(KeyCombo(code, held));
}

void HotKeyRecorder::captureCombo(const KeyCombo& combo) {
  if (!isRecording_) return;
  stopCapture();
  if (target_ == Target::capture) {
    setCapturedCombo(combo);
    return;
  }
  const HotKeyBinding binding = target_ == Target::toggleRecording ? HotKeyBinding::toggleRecording()
                                : target_ == Target::changeMode    ? HotKeyBinding::changeMode()
                                                                   : HotKeyBinding::commandEdit();
  if (hasConflict(combo, binding, service_.currentBindings())) {
    setDidConflict(true);
    return;
  }
  switch (target_) {
    case Target::toggleRecording: service_.setCurrentCombo(combo); break;
    case Target::changeMode: service_.setChangeModeCombo(combo); break;
    case Target::commandEdit: service_.setCommandEditCombo(combo); break;
    case Target::capture: break;
  }
  service_.reloadRegistrations();
}

}  // namespace murel
