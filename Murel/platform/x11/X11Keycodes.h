#pragma once

#include <QtGlobal>

#include <optional>
#include <vector>

namespace murel::x11 {

// X keycodes (evdev numbering, as every current X server uses) to the virtual
// key codes under which hotkeys are stored. The mapping is by position on the
// keyboard; each side of a modifier keeps its own code.
std::optional<quint32> virtualKeyCode(int xKeycode);
// Every X keycode that gives this virtual key code (Print and F13 both give 105).
std::vector<int> xKeycodes(quint32 virtualKeyCode);

}  // namespace murel::x11
