#pragma once

#include "keys/KeyCombo.h"

#include <QHash>
#include <QUuid>

namespace murel {

// What a hotkey is bound to; the key of the binding map the conflict check reads.
struct HotKeyBinding {
  enum class Kind { mode, toggleRecording, changeMode, commandEdit };

  Kind kind = Kind::toggleRecording;
  QUuid modeId;  // only for Kind::mode

  static HotKeyBinding mode(const QUuid& id) { return {Kind::mode, id}; }
  static HotKeyBinding toggleRecording() { return {Kind::toggleRecording, {}}; }
  static HotKeyBinding changeMode() { return {Kind::changeMode, {}}; }
  static HotKeyBinding commandEdit() { return {Kind::commandEdit, {}}; }

  friend bool operator==(const HotKeyBinding& a, const HotKeyBinding& b) {
    return a.kind == b.kind && (a.kind != Kind::mode || a.modeId == b.modeId);
  }
};

inline size_t qHash(const HotKeyBinding& b, size_t seed = 0) {
  return b.kind == HotKeyBinding::Kind::mode ? qHashMulti(seed, static_cast<int>(b.kind), b.modeId)
                                             : qHashMulti(seed, static_cast<int>(b.kind));
}

using HotKeyBindings = QHash<HotKeyBinding, KeyCombo>;

// Whether `candidate` clashes with the combo of any binding other than `editing`:
// same key, same fn setting, and per modifier either unused by both, or used by
// both with an either-side bit on one of them or exactly the same sides.
bool hasConflict(const KeyCombo& candidate, const HotKeyBinding& editing, const HotKeyBindings& bindings);

}  // namespace murel
