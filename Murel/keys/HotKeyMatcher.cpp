#include "keys/HotKeyMatcher.h"

namespace murel {

bool HotKeyMatcher::modifiersMatch(KeyModifiers wanted, KeyModifiers held) {
  using M = KeyModifiers;
  struct Classic {
    quint32 either, sides;
  };
  static constexpr Classic classics[] = {
      {M::command, M::leftCommand | M::rightCommand},
      {M::option, M::leftOption | M::rightOption},
      {M::control, M::leftControl | M::rightControl},
      {M::shift, M::leftShift | M::rightShift},
  };
  for (const Classic& c : classics) {
    const quint32 heldSides = held.rawValue & c.sides;
    if (wanted.rawValue & c.either) {
      if (heldSides == 0) return false;
    } else if (heldSides != (wanted.rawValue & c.sides)) {
      return false;
    }
  }
  return ((wanted.rawValue & M::function) != 0) == ((held.rawValue & M::function) != 0);
}

void HotKeyMatcher::reset(std::vector<Entry> entries, const std::set<Key>& heldModifierKeys) {
  entries_ = std::move(entries);
  activeRegistrations_.clear();
  pressedFlagKeys_ = heldModifierKeys;
}

MatchOutcome HotKeyMatcher::handle(const KeyEvent& event) {
  MatchOutcome out;
  if (paused_) return out;
  switch (event.kind) {
    case KeyEventKind::keyDown:
      if (event.isRepeat) {
        // A held hotkey's repeats are swallowed and go no further.
        out.handled = activeRegistrations_.contains(event.keyCode);
        return out;
      }
      if (const auto stale = activeRegistrations_.constFind(event.keyCode); stale != activeRegistrations_.cend()) {
        // Down already yet freshly pressed: its release was lost. Release it
        // first, so the hotkey does not stay stuck.
        out.actions.push_back({stale.value(), true});
        activeRegistrations_.erase(stale);
      }
      match(event.keyCode, false, out);
      return out;
    case KeyEventKind::keyUp: match(event.keyCode, true, out); return out;
    case KeyEventKind::modifierDown: {
      const std::optional<Key> key = keyFromCode(event.keyCode);
      if (!key || !isModifierKey(*key) || event.isRepeat) return out;
      if (pressedFlagKeys_.contains(*key)) return out;  // already known to be down
      match(event.keyCode, false, out);                 // held modifiers without this key
      pressedFlagKeys_.insert(*key);
      return out;
    }
    case KeyEventKind::modifierUp: {
      const std::optional<Key> key = keyFromCode(event.keyCode);
      if (!key || !isModifierKey(*key)) return out;
      pressedFlagKeys_.erase(*key);
      match(event.keyCode, true, out);
      return out;
    }
  }
  return out;
}

void HotKeyMatcher::match(quint32 keyCode, bool isRelease, MatchOutcome& out) {
  if (isRelease) {
    // Found by key code alone, so letting go of the modifiers first still ends the hotkey.
    const auto it = activeRegistrations_.constFind(keyCode);
    if (it == activeRegistrations_.cend()) return;
    out.actions.push_back({it.value(), true});
    activeRegistrations_.erase(it);
    out.handled = true;
    return;
  }
  const KeyModifiers held = KeyModifiers::fromFlagKeys(pressedFlagKeys_);
  for (const Entry& entry : entries_) {
    if (entry.combo.keyCode != keyCode || !modifiersMatch(entry.combo.modifiers, held)) continue;
    activeRegistrations_.insert(keyCode, entry.id);
    out.actions.push_back({entry.id, false});
    out.handled = true;
    return;
  }
}

}  // namespace murel
