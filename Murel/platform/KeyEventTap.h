#pragma once

#include "keys/HotKeyMatcher.h"

#include <chrono>
#include <functional>
#include <vector>

namespace murel {

// The global keyboard: every key press and release of the desktop, matched
// against the registered hotkeys where it is caught, so the swallow decision
// never waits for the main thread. Only events that press or release a
// registered hotkey travel on to the main thread.
class KeyEventTap {
 public:
  struct Delivery {
    KeyEvent event;
    MatchOutcome outcome;
    quint64 generation = 0;            // of the registrations that matched it
    std::chrono::nanoseconds time{0};  // when it was caught, on the service's clock
  };
  // Called on the main thread, one main-loop turn after the event was caught.
  using Sink = std::function<void(const Delivery&)>;

  virtual ~KeyEventTap() = default;

  // Starts watching the keyboard, or checks that it still runs. False when the
  // desktop's keyboard cannot be watched. Main thread.
  virtual bool install(Sink sink) = 0;
  // Replaces the registrations; held hotkeys are forgotten and the held
  // modifiers are read again from the keyboard. Returns the ids of the
  // registrations that cannot be caught because another program holds their
  // combination. Main thread.
  virtual std::vector<quint32> setRegistrations(const std::vector<HotKeyMatcher::Entry>& entries,
                                                quint64 generation) = 0;
  // While paused every event passes untouched and nothing is tracked (the
  // hotkey recorder must see the keys). Main thread.
  virtual void setPaused(bool paused) = 0;
};

}  // namespace murel
