#pragma once

#include "platform/KeyEventTap.h"
#include "runtime/Clock.h"

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <memory>

namespace murel {

// The key event tap on X11: its own X connection and thread. XInput2 raw key
// events on the root window show every key with its side (also while another
// client grabs the keyboard); a synchronous passive grab per registered
// combination (and per Caps Lock/Num Lock state) freezes the keyboard on a
// candidate press until this thread has decided, from its own copy of the
// registrations, to swallow the press or to replay it to the focused window.
// The main thread is never waited for, so a busy UI never freezes typing.
//
// A hotkey that is a modifier key alone is detected but never swallowed:
// grabbing a bare modifier would take every key typed while it is held.
class X11KeyEventTap final : public KeyEventTap {
 public:
  // Connects to `displayName`, or to $DISPLAY when empty, at install().
  // Events are stamped with `clock`, read on the tap's thread.
  explicit X11KeyEventTap(Clock& clock = Clock::suspending(), QByteArray displayName = {});
  ~X11KeyEventTap() override;
  X11KeyEventTap(const X11KeyEventTap&) = delete;
  X11KeyEventTap& operator=(const X11KeyEventTap&) = delete;

  bool install(Sink sink) override;
  std::vector<quint32> setRegistrations(const std::vector<HotKeyMatcher::Entry>& entries, quint64 generation) override;
  void setPaused(bool paused) override;

  // The longest time between reading a frozen press and releasing the
  // keyboard again, since the last reset (for the benchmark and diagnostics).
  std::chrono::nanoseconds longestDecisionTime() const;
  void resetDecisionTimes();

 private:
  class Worker;
  Clock& clock_;
  QByteArray displayName_;
  QObject mainContext_;  // deliveries are queued to the main thread through it
  Sink sink_;
  bool paused_ = false;
  std::unique_ptr<Worker> worker_;
};

}  // namespace murel
