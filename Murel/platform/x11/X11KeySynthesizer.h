#pragma once

#include "platform/KeySynthesizer.h"

#include <vector>

namespace murel {

namespace x11 {
class Connection;
}

// XTEST keys. Ctrl+key, or Ctrl+Shift+key when the focused window is a
// terminal emulator. Modifiers the user still holds (a held hotkey) are
// released first, so the application sees the shortcut alone, and pressed
// again after. Every key is announced to the hotkey tap, which then ignores it.
class X11KeySynthesizer : public KeySynthesizer {
 public:
  // `connection` may be null (no X server): nothing is trusted or posted.
  explicit X11KeySynthesizer(x11::Connection* connection);

  // The X server is reachable and has XTEST and XInput 2.2.
  bool isTrusted() override;
  bool postKeyWithCommand(Key key) override;
  bool isTerminalFocused() override;
  bool postShiftInsert() override;

 private:
  // Presses `keycode` with `modifiers` held (and the user's own modifiers let go).
  bool postChord(const std::vector<int>& modifiers, int keycode);

  x11::Connection* connection_;
};

}  // namespace murel
