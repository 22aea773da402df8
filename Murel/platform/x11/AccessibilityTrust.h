#pragma once

namespace murel::platform {

// Whether the application may watch the keyboard and type into other windows:
// on X11 that needs the XTEST extension and XInput 2.2 or later on the display.
// Asked without any prompt; false when no X display answers.
bool isAccessibilityTrusted();

}  // namespace murel::platform
