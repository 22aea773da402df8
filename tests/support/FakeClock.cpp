#include "support/FakeClock.h"

namespace murel::test {

Clock::TimerId FakeClock::schedule(Duration delay, std::function<void()> callback) {
  const TimerId id = nextId_++;
  timers_.emplace(id, Entry{now_ + std::max(delay, Duration(0)), std::move(callback)});
  return id;
}

void FakeClock::cancel(TimerId id) { timers_.erase(id); }

void FakeClock::advance(Duration by) {
  const Duration target = now_ + by;
  for (;;) {
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      if (it->second.due <= target && (next == timers_.end() || it->second.due < next->second.due)) next = it;
    }
    if (next == timers_.end()) break;
    now_ = std::max(now_, next->second.due);
    auto callback = std::move(next->second.callback);
    timers_.erase(next);
    callback();
  }
  now_ = target;
}

}  // namespace murel::test
