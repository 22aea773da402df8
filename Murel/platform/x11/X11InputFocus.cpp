#include "platform/x11/X11InputFocus.h"

#include "platform/x11/X11Connection.h"

#include <X11/Xlib.h>

namespace murel {

X11InputFocus::X11InputFocus(x11::Connection* connection)
    : connection_(connection && connection->isOpen() ? connection : nullptr) {}

quint64 X11InputFocus::focusedWindow() {
  if (!connection_) return kNoWindow;
  Window focus = None;
  int revert = 0;
  XGetInputFocus(connection_->display(), &focus, &revert);
  return focus;
}

bool X11InputFocus::setFocusedWindow(quint64 window) {
  if (!connection_) return false;
  Display* display = connection_->display();
  if (window != kNoWindow && window != kPointerRoot) {
    // Only a viewable window may take the focus; asking for another is an error.
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) return false;
  }
  XSetInputFocus(display, Window(window), RevertToParent, CurrentTime);
  XSync(display, False);
  return focusedWindow() == window;
}

bool X11InputFocus::exists(quint64 window) {
  if (window == kNoWindow || window == kPointerRoot) return true;
  if (!connection_) return false;
  XWindowAttributes attributes{};
  return XGetWindowAttributes(connection_->display(), Window(window), &attributes) != 0;
}

}  // namespace murel
