#pragma once

#include <QByteArray>
#include <QObject>

#include <functional>
#include <memory>
#include <set>

namespace murel {

// Watches the whole desktop's key presses of a few keys (XInput2 raw events
// on their own X connection and thread) without taking them from anyone: the
// focused window still gets every key. Reports the key's virtual key code and
// the modifier flags held at the time (Shift 0x20000, Control 0x40000,
// Option 0x80000, Command 0x100000) on the main thread.
class X11KeyPressMonitor {
 public:
  using Handler = std::function<void(quint32 virtualKeyCode, quint64 modifierFlags)>;

  // `keys`: the virtual key codes to report; every other key stays unseen.
  X11KeyPressMonitor(std::set<quint32> keys, Handler handler, QByteArray displayName = {});
  ~X11KeyPressMonitor();
  X11KeyPressMonitor(const X11KeyPressMonitor&) = delete;
  X11KeyPressMonitor& operator=(const X11KeyPressMonitor&) = delete;

  // False when the X server cannot be watched (no display or no XInput 2).
  bool start();

 private:
  class Worker;
  std::set<quint32> keys_;
  Handler handler_;
  QByteArray displayName_;
  QObject mainContext_;
  std::unique_ptr<Worker> worker_;
};

}  // namespace murel
