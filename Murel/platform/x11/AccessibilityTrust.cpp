#include "platform/x11/AccessibilityTrust.h"

#include "platform/x11/X11Lifeline.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <cstring>

namespace murel::platform {

namespace {

bool isWaylandSession() {
  const char* type = std::getenv("XDG_SESSION_TYPE");
  if (type && std::strcmp(type, "wayland") == 0) return true;
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return wayland && *wayland;
}

}  // namespace

KeyAccessReport checkKeyAccess(const char* displayName) {
  KeyAccessReport report;
  report.wayland = isWaylandSession();
  Display* display = XOpenDisplay(displayName);
  if (!display) return report;
  x11::watchConnection(display);
  report.display = true;
  int event = 0, error = 0, major = 0, minor = 0;
  report.xtest = XTestQueryExtension(display, &event, &error, &major, &minor) == True;
  int opcode = 0;
  if (XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) {
    int xiMajor = 2, xiMinor = 2;
    report.xinput22 = XIQueryVersion(display, &xiMajor, &xiMinor) == Success && (xiMajor > 2 || xiMinor >= 2);
  }
  XCloseDisplay(display);
  return report;
}

bool isAccessibilityTrusted() { return checkKeyAccess().trusted(); }

}  // namespace murel::platform
