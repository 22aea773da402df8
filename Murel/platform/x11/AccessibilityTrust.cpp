#include "platform/x11/AccessibilityTrust.h"

#include "platform/x11/X11Lifeline.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

namespace murel::platform {

bool isAccessibilityTrusted() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  x11::watchConnection(display);
  int event = 0, error = 0, major = 0, minor = 0;
  bool trusted = XTestQueryExtension(display, &event, &error, &major, &minor) == True;
  int opcode = 0;
  if (trusted && XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) {
    int xiMajor = 2, xiMinor = 2;
    trusted = XIQueryVersion(display, &xiMajor, &xiMinor) == Success && (xiMajor > 2 || xiMinor >= 2);
  } else {
    trusted = false;
  }
  XCloseDisplay(display);
  return trusted;
}

}  // namespace murel::platform
