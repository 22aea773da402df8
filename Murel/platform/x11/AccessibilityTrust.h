#pragma once

namespace murel::platform {

// What watching the keyboard and typing into other windows needs of the
// desktop, as found on one display.
struct KeyAccessReport {
  bool display = false;   // an X display answered
  bool xtest = false;     // the XTEST extension
  bool xinput22 = false;  // XInput 2.2 or later
  bool wayland = false;   // a Wayland session (X only through XWayland)

  bool trusted() const { return display && xtest && xinput22; }
};

// Looks at `displayName` (the session's display when null).
KeyAccessReport checkKeyAccess(const char* displayName = nullptr);

// Whether the application may watch the keyboard and type into other windows:
// on X11 that needs the XTEST extension and XInput 2.2 or later on the display.
// Asked without any prompt; false when no X display answers.
bool isAccessibilityTrusted();

}  // namespace murel::platform
