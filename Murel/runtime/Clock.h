#pragma once

#include "runtime/Cancellation.h"

#include <QCoroTask>

#include <chrono>
#include <functional>

namespace murel {

// Every sleep, timeout and timer of the application goes through a Clock, so
// that tests can drive time. Callbacks run on the thread that scheduled them,
// which must run a Qt event loop (in practice the main thread).
class Clock {
 public:
  using Duration = std::chrono::nanoseconds;
  using TimerId = quint64;

  virtual ~Clock() = default;

  // Time since an arbitrary fixed point.
  virtual Duration now() const = 0;
  // Runs `callback` once after `delay`; returns an id for cancel().
  virtual TimerId schedule(Duration delay, std::function<void()> callback) = 0;
  // Cancelling an id that already fired or was cancelled does nothing.
  virtual void cancel(TimerId id) = 0;
  // Runs `tick` every `interval` until cancel(id). Returns 0 where the clock has
  // no native periodic timer; RepeatingTimer then re-arms one-shot timers.
  virtual TimerId scheduleRepeating(
      Duration interval,
      std::function<void()> tick) {  // NOLINT(performance-unnecessary-value-param): overrides keep it
    (void)interval;
    (void)tick;
    return 0;
  }

  // Ends after `delay` (true) or as soon as `token` is cancelled (false).
  QCoro::Task<bool> sleep(Duration delay, CancellationToken token = CancellationToken());

  // CLOCK_BOOTTIME: keeps counting while the machine is suspended.
  static Clock& continuous();
  // CLOCK_MONOTONIC: stops during suspend.
  static Clock& suspending();
};

// A timer for the main thread that re-arms itself on a Clock: used where the
// application needs a repeating tick (waveform, progress polling).
class RepeatingTimer {
 public:
  RepeatingTimer(Clock& clock, Clock::Duration interval, std::function<void()> tick);
  ~RepeatingTimer();
  RepeatingTimer(const RepeatingTimer&) = delete;
  RepeatingTimer& operator=(const RepeatingTimer&) = delete;

  void start();
  void stop();
  bool isActive() const { return id_ != 0; }

 private:
  void arm();

  Clock& clock_;
  bool native_ = false;
  Clock::Duration interval_;
  std::function<void()> tick_;
  Clock::TimerId id_ = 0;
};

}  // namespace murel
