#pragma once

#include "runtime/Clock.h"

#include <map>

namespace murel::test {

// A clock that only moves when the test says so. Due callbacks run inside
// advance(), in time order, so coroutines waiting on sleep() resume there.
class FakeClock final : public Clock {
 public:
  Duration now() const override { return now_; }
  TimerId schedule(Duration delay, std::function<void()> callback) override;
  void cancel(TimerId id) override;

  void advance(Duration by);
  std::size_t pendingCount() const { return timers_.size(); }

 private:
  struct Entry {
    Duration due;
    std::function<void()> callback;
  };
  Duration now_{0};
  TimerId nextId_ = 1;
  std::map<TimerId, Entry> timers_;
};

}  // namespace murel::test
