#pragma once

#include "keys/KeyCombo.h"

#include <QByteArray>
#include <QList>

namespace murel {

// Synthesized shortcut keys into the focused window: the paste and copy keys.
// Main thread only.
class KeySynthesizer {
 public:
  virtual ~KeySynthesizer() = default;

  // Whether this process may watch and type on the desktop's keyboard.
  virtual bool isTrusted() = 0;
  // One press and release of `key` with the platform's shortcut modifier (the
  // one that pastes with v and copies with c in the focused application); true
  // when the keys were posted.
  virtual bool postKeyWithCommand(Key key) = 0;
  // Whether the focused window is a terminal emulator. Stock xterm binds no
  // Control paste key at all, so terminals are pasted into with Shift+Insert,
  // which every common terminal binds to paste PRIMARY or CLIPBOARD.
  virtual bool isTerminalFocused() = 0;
  // One press and release of Shift+Insert; true when the keys were posted.
  virtual bool postShiftInsert() = 0;
};

// Whether a window of this WM_CLASS (instance or class) is a terminal
// emulator, where Ctrl+V and Ctrl+C are control characters and the clipboard
// keys carry Shift.
bool isTerminalEmulator(const QList<QByteArray>& wmClass);

}  // namespace murel
