#include "hotkeys/HotKeyBinding.h"

namespace murel {
namespace {

bool combosClash(const KeyCombo& a, const KeyCombo& b) {
  using M = KeyModifiers;
  if (a.keyCode != b.keyCode) return false;
  struct Classic {
    quint32 either, all;
  };
  static constexpr Classic classics[] = {
      {M::command, M::command | M::leftCommand | M::rightCommand},
      {M::option, M::option | M::leftOption | M::rightOption},
      {M::control, M::control | M::leftControl | M::rightControl},
      {M::shift, M::shift | M::leftShift | M::rightShift},
  };
  for (const Classic& c : classics) {
    const quint32 x = a.modifiers.rawValue & c.all;
    const quint32 y = b.modifiers.rawValue & c.all;
    if (x == 0 && y == 0) continue;
    if (x == 0 || y == 0) return false;
    if ((x & c.either) || (y & c.either) || x == y) continue;
    return false;
  }
  return ((a.modifiers.rawValue & M::function) != 0) == ((b.modifiers.rawValue & M::function) != 0);
}

}  // namespace

bool hasConflict(const KeyCombo& candidate, const HotKeyBinding& editing, const HotKeyBindings& bindings) {
  for (auto it = bindings.cbegin(); it != bindings.cend(); ++it) {
    if (it.key() == editing) continue;
    if (combosClash(candidate, it.value())) return true;
  }
  return false;
}

}  // namespace murel
