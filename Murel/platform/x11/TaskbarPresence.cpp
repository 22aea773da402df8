#include "platform/x11/TaskbarPresence.h"

#include <QGuiApplication>
#include <QWidget>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <vector>

namespace murel::platform {

namespace {

Display* x11Display() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->display() : nullptr;
}

std::vector<Atom> readState(Display* display, Window window, Atom stateAtom) {
  std::vector<Atom> atoms;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, stateAtom, 0, 64, False, XA_ATOM, &type, &format, &count, &after, &data) ==
          Success &&
      data) {
    if (type == XA_ATOM && format == 32) {
      const auto* values = reinterpret_cast<const long*>(data);
      for (unsigned long i = 0; i < count; ++i) atoms.push_back(static_cast<Atom>(values[i]));
    }
    XFree(data);
  }
  return atoms;
}

}  // namespace

void setSkipTaskbar(QWidget* window, bool skip) {
  Display* display = x11Display();
  if (!display || !window) return;
  const Window id = static_cast<Window>(window->winId());
  const Atom stateAtom = XInternAtom(display, "_NET_WM_STATE", False);
  const Atom skipTaskbar = XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False);
  const Atom skipPager = XInternAtom(display, "_NET_WM_STATE_SKIP_PAGER", False);

  // The property is what a window manager reads at mapping; a mapped window
  // asks the window manager, which owns the property from then on.
  std::vector<Atom> atoms = readState(display, id, stateAtom);
  std::erase_if(atoms, [&](Atom a) { return a == skipTaskbar || a == skipPager; });
  if (skip) {
    atoms.push_back(skipTaskbar);
    atoms.push_back(skipPager);
  }
  XChangeProperty(display, id, stateAtom, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
  if (window->isVisible()) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = id;
    event.xclient.message_type = stateAtom;
    event.xclient.format = 32;
    event.xclient.data.l[0] = skip ? 1 : 0;
    event.xclient.data.l[1] = static_cast<long>(skipTaskbar);
    event.xclient.data.l[2] = static_cast<long>(skipPager);
    event.xclient.data.l[3] = 1;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  }
  XFlush(display);
}

bool skipsTaskbar(QWidget* window) {
  Display* display = x11Display();
  if (!display || !window) return false;
  const Atom skipTaskbar = XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False);
  const auto atoms =
      readState(display, static_cast<Window>(window->winId()), XInternAtom(display, "_NET_WM_STATE", False));
  return std::find(atoms.begin(), atoms.end(), skipTaskbar) != atoms.end();
}

}  // namespace murel::platform
