#pragma once

#include "keys/KeyCombo.h"

#include <QHash>

#include <set>
#include <vector>

namespace murel {

// One keyboard event as the event tap sees it, with the key as a virtual key
// code. Modifier keys (codes 54 to 63) come as modifierDown/modifierUp.
enum class KeyEventKind { keyDown, keyUp, modifierDown, modifierUp };

struct KeyEvent {
  KeyEventKind kind = KeyEventKind::keyDown;
  quint32 keyCode = 0;
  bool isRepeat = false;
};

// A press or release of one registered hotkey.
struct RegistrationAction {
  quint32 id = 0;
  bool isRelease = false;
  friend bool operator==(const RegistrationAction&, const RegistrationAction&) = default;
};

struct MatchOutcome {
  // The event belongs to a registered hotkey and must not reach the focused window.
  bool handled = false;
  // Usually at most one; a fresh press of a key whose release was lost gives
  // the release of the old registration first.
  std::vector<RegistrationAction> actions;
};

// Matches keyboard events against the registered combos, tracking the held
// modifier keys and the hotkeys held down. It runs where the swallow decision
// is taken (the event tap's own thread), so it knows nothing of what a
// registration is for: the hotkey service acts on the outcome.
class HotKeyMatcher {
 public:
  struct Entry {
    quint32 id = 0;
    KeyCombo combo;
  };

  // Whether the held modifiers (side bits and fn only) satisfy the wanted ones:
  // an either-side bit accepts either or both sides, side bits must match
  // exactly, extra modifiers prevent a match, fn must agree.
  static bool modifiersMatch(KeyModifiers wanted, KeyModifiers held);

  // A new table; forgets the held hotkeys and takes `heldModifierKeys` (read
  // from the real keyboard) as the held modifiers.
  void reset(std::vector<Entry> entries, const std::set<Key>& heldModifierKeys);
  // While paused every event passes and nothing is tracked.
  void setPaused(bool paused) { paused_ = paused; }
  bool isPaused() const { return paused_; }
  // Resynchronises the held modifiers with the real keyboard.
  void setHeldModifierKeys(const std::set<Key>& keys) { pressedFlagKeys_ = keys; }

  MatchOutcome handle(const KeyEvent& event);

  const std::vector<Entry>& entries() const { return entries_; }
  const std::set<Key>& pressedFlagKeys() const { return pressedFlagKeys_; }
  bool isHeld(quint32 keyCode) const { return activeRegistrations_.contains(keyCode); }

 private:
  void match(quint32 keyCode, bool isRelease, MatchOutcome& out);

  std::vector<Entry> entries_;
  QHash<quint32, quint32> activeRegistrations_;  // key code -> registration id
  std::set<Key> pressedFlagKeys_;
  bool paused_ = false;
};

}  // namespace murel
