#include "platform/Compositor.h"

#include <QByteArray>
#include <QGuiApplication>

#include <X11/Xlib.h>

namespace murel::platform {

bool compositorRunning() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 ? x11->display() : nullptr;
  if (!display) return false;
  // A compositing manager owns the _NET_WM_CM_S<screen> selection (EWMH).
  const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
  const Atom selection = XInternAtom(display, name.constData(), False);
  return XGetSelectionOwner(display, selection) != None;
}

}  // namespace murel::platform
