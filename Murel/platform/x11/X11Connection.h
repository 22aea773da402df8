#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

struct _XDisplay;  // NOLINT(bugprone-reserved-identifier): Xlib names its display so

namespace murel::x11 {

// Xlib's types, without pulling Xlib's macros into every includer.
using XWindow = unsigned long;
using XAtom = unsigned long;

// A connection of the main thread to the X server, apart from Qt's: the
// pasteboard, the key synthesizer and the selection reader use it to ask who
// owns a selection, which window has the focus, to read selections with a
// time limit (Qt's own conversions may block for seconds) and to count
// selection changes as they happen. Main thread only.
class Connection {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  explicit Connection(const QByteArray& displayName = {});
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool isOpen() const { return display_ != nullptr; }
  _XDisplay* display() const { return display_; }

  XAtom atom(const char* name);
  QByteArray atomName(XAtom atom);

  // --- selections (CLIPBOARD, PRIMARY)
  XWindow selectionOwner(XAtom selection);
  // Makes `window` (0: nobody) the owner at the server's current time.
  void setSelectionOwner(XAtom selection, XWindow window);
  // How often the selection changed owner (or its owner went away) since the
  // connection opened, up to this very moment (one round trip).
  quint64 selectionChangeCount(XAtom selection);

  struct Converted {
    XAtom type = 0;
    int format = 8;
    QByteArray data;  // 32-bit items packed as 32-bit values
  };
  // Asks the selection's owner for `target` and waits for the answer until
  // `deadline`; large answers (INCR) are read in pieces. Nothing when the owner
  // refuses, there is no owner, or the deadline passes.
  std::optional<Converted> convert(XAtom selection, XAtom target, Deadline deadline);
  // The owner's TARGETS, without the meta targets (TARGETS, MULTIPLE, TIMESTAMP …).
  QList<XAtom> dataTargets(XAtom selection, Deadline deadline);
  // The selection as text (UTF8_STRING, then text/plain;charset=utf-8, then STRING).
  std::optional<QString> text(XAtom selection, Deadline deadline);
  static bool isMetaTarget(const QByteArray& name);

  // --- windows and clients
  // The top-level client window (the one with WM_STATE) that has the keyboard
  // focus, else the focus window itself; 0 when nothing has the focus.
  XWindow focusedClientWindow();
  // Whether two windows were created by the same X client (the same program).
  bool sameClient(XWindow a, XWindow b) const;
  // Whether `window` was created by Qt's own connection of this process.
  bool isOwnWindow(XWindow window) const;
  // The two strings of WM_CLASS (instance, class); empty when unset.
  QList<QByteArray> wmClass(XWindow window);

  // --- extensions
  bool hasXTest();
  bool hasXInput22();

 private:
  XWindow requestor();
  void drainEvents();
  void handleEvent(void* event);
  bool waitForEvent(Deadline deadline);
  XWindow clientWindowBelow(XWindow window, int depth);
  bool hasWmState(XWindow window);
  std::optional<Converted> readProperty(XWindow window, XAtom property);

  _XDisplay* display_ = nullptr;
  XWindow requestor_ = 0;
  int xfixesEventBase_ = -1;
  unsigned long resourceMask_ = 0;
  unsigned long qtResourceBase_ = 0;
  bool qtResourceKnown_ = false;
  XAtom clipboard_ = 0;
  XAtom primary_ = 1;  // XA_PRIMARY
  quint64 clipboardChanges_ = 0;
  quint64 primaryChanges_ = 0;

  // The conversion being waited for.
  struct Pending;
  Pending* pending_ = nullptr;
};

}  // namespace murel::x11
