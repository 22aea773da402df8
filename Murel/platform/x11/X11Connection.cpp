#include "platform/x11/X11Connection.h"

#include "platform/x11/X11Lifeline.h"
#include "runtime/SystemLog.h"

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <xcb/xcb.h>

#include <poll.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace murel::x11 {
namespace {

const Logger kLog("platform");

// The resource mask of an X server is the same for every client; Xorg's default.
constexpr unsigned long kDefaultResourceMask = 0x1FFFFF;

// Windows we ask about may vanish at any moment (BadWindow): errors on our
// own connections are expected and ignored; others go to the earlier handler.
std::atomic<Display*> gQuietDisplays[4]{};
XErrorHandler gChainedHandler = nullptr;

int quietErrors(Display* display, XErrorEvent* error) {
  for (auto& quiet : gQuietDisplays) {
    if (quiet.load() == display) return 0;
  }
  return gChainedHandler ? gChainedHandler(display, error) : 0;
}

void silenceErrors(Display* display) {
  static std::once_flag once;
  std::call_once(once, [] { gChainedHandler = XSetErrorHandler(quietErrors); });
  for (auto& quiet : gQuietDisplays) {
    Display* expected = nullptr;
    if (quiet.compare_exchange_strong(expected, display)) return;
  }
}

void forgetDisplay(Display* display) {
  for (auto& quiet : gQuietDisplays) {
    Display* expected = display;
    quiet.compare_exchange_strong(expected, nullptr);
  }
}

}  // namespace

struct Connection::Pending {
  XAtom selection = 0;
  XAtom property = 0;
  bool notified = false;  // SelectionNotify came
  bool refused = false;
  bool incr = false;
  bool incrDone = false;
  bool newValue = false;  // a PropertyNotify NewValue on our property
};

Connection::Connection(const QByteArray& displayName) {
  display_ = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
  if (!display_) {
    kLog.error(QStringLiteral("cannot open the X display"));
    return;
  }
  watchConnection(display_);
  silenceErrors(display_);
  clipboard_ = atom("CLIPBOARD");
  primary_ = XA_PRIMARY;
  int errorBase = 0;
  if (XFixesQueryExtension(display_, &xfixesEventBase_, &errorBase)) {
    int major = 5, minor = 0;
    XFixesQueryVersion(display_, &major, &minor);
    const unsigned long mask = XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                               XFixesSelectionClientCloseNotifyMask;
    XFixesSelectSelectionInput(display_, DefaultRootWindow(display_), clipboard_, mask);
    XFixesSelectSelectionInput(display_, DefaultRootWindow(display_), primary_, mask);
  } else {
    xfixesEventBase_ = -1;
    kLog.error(QStringLiteral("the X server lacks XFIXES: selection changes are not seen"));
  }
  resourceMask_ = kDefaultResourceMask;
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    if (auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>()) {
      if (xcb_connection_t* qt = x11->connection()) {
        const xcb_setup_t* setup = xcb_get_setup(qt);
        resourceMask_ = setup->resource_id_mask;
        qtResourceBase_ = setup->resource_id_base;
        qtResourceKnown_ = true;
      }
    }
  }
  XSync(display_, False);
}

Connection::~Connection() {
  if (!display_) return;
  // A lost server is never waited on: closing would sync with it.
  if (!serverLost()) XCloseDisplay(display_);
  forgetDisplay(display_);
}

XAtom Connection::atom(const char* name) { return display_ ? XInternAtom(display_, name, False) : 0; }

QByteArray Connection::atomName(XAtom a) {
  if (!display_ || a == None) return {};
  char* name = XGetAtomName(display_, a);
  if (!name) return {};
  QByteArray out(name);
  XFree(name);
  return out;
}

XWindow Connection::selectionOwner(XAtom selection) { return display_ ? XGetSelectionOwner(display_, selection) : 0; }

void Connection::setSelectionOwner(XAtom selection, XWindow window) {
  if (!display_) return;
  XSetSelectionOwner(display_, selection, window, CurrentTime);
  XSync(display_, False);
}

quint64 Connection::selectionChangeCount(XAtom selection) {
  if (!display_) return 0;
  // The round trip makes every change the server made so far arrive first.
  XSync(display_, False);
  drainEvents();
  return selection == primary_ ? primaryChanges_ : clipboardChanges_;
}

void Connection::drainEvents() {
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    handleEvent(&event);
  }
}

void Connection::handleEvent(void* raw) {
  auto& event = *static_cast<XEvent*>(raw);
  if (xfixesEventBase_ >= 0 && event.type == xfixesEventBase_ + XFixesSelectionNotify) {
    const auto& notify = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
    if (notify.selection == clipboard_) ++clipboardChanges_;
    if (notify.selection == primary_) ++primaryChanges_;
    return;
  }
  if (!pending_) return;
  if (event.type == SelectionNotify && event.xselection.requestor == requestor_ &&
      event.xselection.selection == pending_->selection) {
    pending_->notified = true;
    pending_->refused = event.xselection.property == None;
  } else if (event.type == PropertyNotify && event.xproperty.window == requestor_ &&
             event.xproperty.atom == pending_->property && event.xproperty.state == PropertyNewValue) {
    pending_->newValue = true;
  }
}

bool Connection::waitForEvent(Deadline deadline) {
  // A lost server's socket stays readable: nothing will ever come.
  if (serverLost()) return false;
  XFlush(display_);
  if (XPending(display_) > 0) {
    drainEvents();
    return true;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd fd{ConnectionNumber(display_), POLLIN, 0};
  if (::poll(&fd, 1, static_cast<int>(left.count()) + 1) <= 0) return false;
  drainEvents();
  return true;
}

XWindow Connection::requestor() {
  if (!requestor_) {
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    requestor_ = XCreateWindow(display_, DefaultRootWindow(display_), -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent,
                               CWEventMask, &attributes);
  }
  return requestor_;
}

std::optional<Connection::Converted> Connection::readProperty(XWindow window, XAtom property) {
  Converted out;
  long offset = 0;
  for (;;) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, window, property, offset, 1L << 22, False, AnyPropertyType, &type, &format, &count,
                           &after, &data) != Success) {
      return std::nullopt;
    }
    out.type = type;
    out.format = format;
    if (data) {
      if (format == 32) {
        // Xlib hands 32-bit items over as longs.
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        for (unsigned long i = 0; i < count; ++i) {
          const quint32 v = static_cast<quint32>(items[i]);
          out.data.append(reinterpret_cast<const char*>(&v), 4);
        }
      } else {
        out.data.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(count) * (format / 8));
      }
      XFree(data);
    }
    if (after == 0 || type == None) break;
    offset += static_cast<long>(count * (format / 8) / 4);
  }
  XDeleteProperty(display_, window, property);
  return out;
}

std::optional<Connection::Converted> Connection::convert(XAtom selection, XAtom target, Deadline deadline) {
  if (!display_ || selectionOwner(selection) == None) return std::nullopt;
  Pending pending;
  pending.selection = selection;
  pending.property = atom("MUREL_SELECTION");
  pending_ = &pending;
  const XWindow window = requestor();
  XDeleteProperty(display_, window, pending.property);
  drainEvents();
  pending.newValue = false;
  XConvertSelection(display_, selection, target, pending.property, window, CurrentTime);
  std::optional<Converted> result;
  while (!pending.notified) {
    if (!waitForEvent(deadline)) break;
  }
  if (pending.notified && !pending.refused) {
    result = readProperty(window, pending.property);
    if (result && result->type == atom("INCR")) {
      // The owner sends the data in pieces, each announced by a new value of
      // the property; an empty piece ends it.
      Converted whole;
      bool complete = false;
      for (;;) {
        pending.newValue = false;
        while (!pending.newValue) {
          if (!waitForEvent(deadline)) break;
        }
        if (!pending.newValue) break;
        std::optional<Converted> piece = readProperty(window, pending.property);
        if (!piece) break;
        if (piece->data.isEmpty()) {
          complete = true;
          break;
        }
        whole.type = piece->type;
        whole.format = piece->format;
        whole.data += piece->data;
      }
      result = complete ? std::optional<Converted>(whole) : std::nullopt;
    }
  }
  pending_ = nullptr;
  XDeleteProperty(display_, window, pending.property);
  XFlush(display_);
  return result;
}

bool Connection::isMetaTarget(const QByteArray& name) {
  static const QList<QByteArray> meta{
      "TARGETS",         "MULTIPLE",      "TIMESTAMP",         "SAVE_TARGETS", "DELETE",    "INSERT_SELECTION",
      "INSERT_PROPERTY", "_QT_SELECTION", "CLIPBOARD_MANAGER", "LENGTH",       "ATOM_PAIR", "INCR"};
  return meta.contains(name);
}

QList<XAtom> Connection::dataTargets(XAtom selection, Deadline deadline) {
  QList<XAtom> out;
  const std::optional<Converted> targets = convert(selection, atom("TARGETS"), deadline);
  if (!targets || targets->format != 32) return out;
  const auto* items = reinterpret_cast<const quint32*>(targets->data.constData());
  for (qsizetype i = 0; i < targets->data.size() / 4; ++i) {
    const XAtom a = items[i];
    if (a == None || out.contains(a) || isMetaTarget(atomName(a))) continue;
    out.append(a);
  }
  return out;
}

std::optional<QString> Connection::text(XAtom selection, Deadline deadline) {
  if (!display_) return std::nullopt;
  const QList<XAtom> targets = dataTargets(selection, deadline);
  const XAtom utf8 = atom("UTF8_STRING");
  const XAtom mimeUtf8 = atom("text/plain;charset=utf-8");
  const XAtom plain = atom("text/plain");
  for (XAtom target : {utf8, mimeUtf8, plain}) {
    if (!targets.contains(target)) continue;
    if (std::optional<Converted> c = convert(selection, target, deadline)) return QString::fromUtf8(c->data);
  }
  if (targets.contains(XA_STRING)) {
    if (std::optional<Converted> c = convert(selection, XA_STRING, deadline)) return QString::fromLatin1(c->data);
  }
  return std::nullopt;
}

bool Connection::hasWmState(XWindow window) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const bool found = XGetWindowProperty(display_, window, atom("WM_STATE"), 0, 0, False, AnyPropertyType, &type,
                                        &format, &count, &after, &data) == Success &&
                     type != None;
  if (data) XFree(data);
  return found;
}

XWindow Connection::clientWindowBelow(XWindow window, int depth) {
  if (depth > 4) return 0;
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display_, window, &root, &parent, &children, &count)) return 0;
  XWindow found = 0;
  for (unsigned i = 0; i < count && !found; ++i) {
    if (hasWmState(children[i])) found = children[i];
  }
  for (unsigned i = 0; i < count && !found; ++i) found = clientWindowBelow(children[i], depth + 1);
  if (children) XFree(children);
  return found;
}

XWindow Connection::focusedClientWindow() {
  if (!display_) return 0;
  Window focus = None;
  int revert = 0;
  XGetInputFocus(display_, &focus, &revert);
  const Window root = DefaultRootWindow(display_);
  if (focus == PointerRoot) {
    Window rootReturn = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(display_, root, &rootReturn, &child, &rx, &ry, &wx, &wy, &mask);
    focus = child;
  }
  if (focus == None || focus == root) return 0;
  // Up from the focus to the window the window manager manages.
  for (Window w = focus; w && w != root;) {
    if (hasWmState(w)) return w;
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, w, &rootReturn, &parent, &children, &count)) break;
    if (children) XFree(children);
    w = parent;
  }
  // A window manager that focuses its frame: the client window lies below it.
  if (const XWindow below = clientWindowBelow(focus, 0)) return below;
  return focus;
}

bool Connection::sameClient(XWindow a, XWindow b) const {
  return a != 0 && b != 0 && (a & ~resourceMask_) == (b & ~resourceMask_);
}

bool Connection::isOwnWindow(XWindow window) const {
  return qtResourceKnown_ && window != 0 && (window & ~resourceMask_) == qtResourceBase_;
}

QList<QByteArray> Connection::wmClass(XWindow window) {
  QList<QByteArray> out;
  if (!display_ || !window) return out;
  XClassHint hint{nullptr, nullptr};
  if (XGetClassHint(display_, window, &hint)) {
    out << QByteArray(hint.res_name ? hint.res_name : "") << QByteArray(hint.res_class ? hint.res_class : "");
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
  }
  return out;
}

bool Connection::hasXTest() {
  if (!display_) return false;
  int event = 0, error = 0, major = 0, minor = 0;
  return XTestQueryExtension(display_, &event, &error, &major, &minor);
}

bool Connection::hasXInput22() {
  if (!display_) return false;
  int opcode = 0, event = 0, error = 0;
  if (!XQueryExtension(display_, "XInputExtension", &opcode, &event, &error)) return false;
  int major = 2, minor = 2;
  return XIQueryVersion(display_, &major, &minor) == Success && (major > 2 || (major == 2 && minor >= 2));
}

}  // namespace murel::x11
