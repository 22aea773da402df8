#include "runtime/Clock.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <map>
#include <memory>

#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace murel {
namespace {

// One timerfd per pending timer on the chosen POSIX clock. Qt's own timers use
// CLOCK_MONOTONIC, which stops during suspend; a timerfd on CLOCK_BOOTTIME does not.
class PosixClock final : public Clock {
 public:
  explicit PosixClock(clockid_t clockId) : clockId_(clockId) {}

  Duration now() const override {
    timespec ts{};
    clock_gettime(clockId_, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
  }

  TimerId schedule(Duration delay, std::function<void()> callback) override {
    const TimerId id = nextId_++;
    const int fd = timerfd_create(clockId_, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) {
      // Without a descriptor the callback still has to run; fall back to Qt's timer.
      auto* guard = new QObject;
      timers_.emplace(id, Entry{-1, nullptr, guard});
      QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(delay), guard,
                         [this, id, cb = std::move(callback)] {
                           release(id);
                           cb();
                         });
      return id;
    }
    itimerspec spec{};
    const auto total = std::max(delay, Duration(1));
    spec.it_value.tv_sec = static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(total).count());
    spec.it_value.tv_nsec = static_cast<long>((total % std::chrono::seconds(1)).count());
    timerfd_settime(fd, 0, &spec, nullptr);
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this, id, cb = std::move(callback)] {
      release(id);
      cb();
    });
    timers_.emplace(id, Entry{fd, notifier, nullptr});
    return id;
  }

  void cancel(TimerId id) override { release(id); }

  // One periodic timerfd for the whole life of the timer: a waveform ticking 30
  // times a second must not create a descriptor per tick.
  TimerId scheduleRepeating(Duration interval, std::function<void()> tick) override {
    const int fd = timerfd_create(clockId_, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) return 0;
    const TimerId id = nextId_++;
    itimerspec spec{};
    const auto period = std::max(interval, Duration(1));
    spec.it_value.tv_sec = static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(period).count());
    spec.it_value.tv_nsec = static_cast<long>((period % std::chrono::seconds(1)).count());
    spec.it_interval = spec.it_value;
    timerfd_settime(fd, 0, &spec, nullptr);
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd, cb = std::move(tick)] {
      // Expirations missed while the loop was busy collapse into one tick.
      quint64 expirations = 0;
      if (::read(fd, &expirations, sizeof expirations) != sizeof expirations) return;
      cb();
    });
    timers_.emplace(id, Entry{fd, notifier, nullptr});
    return id;
  }

 private:
  struct Entry {
    int fd;
    QSocketNotifier* notifier;
    QObject* guard;
  };

  void release(TimerId id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    Entry entry = it->second;
    timers_.erase(it);
    if (entry.notifier) {
      entry.notifier->setEnabled(false);
      entry.notifier->deleteLater();
    }
    if (entry.guard) entry.guard->deleteLater();
    if (entry.fd >= 0) ::close(entry.fd);
  }

  clockid_t clockId_;
  TimerId nextId_ = 1;
  std::map<TimerId, Entry> timers_;
};

struct SleepState {
  std::coroutine_handle<> handle;
  bool done = false;
  bool fired = false;
  Clock::TimerId timerId = 0;
  quint64 cancelId = 0;
};

class SleepAwaiter {
 public:
  SleepAwaiter(Clock& clock, Clock::Duration delay, CancellationToken token)
      : clock_(clock), delay_(delay), token_(std::move(token)) {}

  bool await_ready() const noexcept { return token_.isCancelled(); }

  void await_suspend(std::coroutine_handle<> handle) {
    state_ = std::make_shared<SleepState>();
    state_->handle = handle;
    auto state = state_;
    Clock* clock = &clock_;
    CancellationToken token = token_;
    state->timerId = clock->schedule(delay_, [state, token] {
      if (state->done) return;
      state->done = true;
      state->fired = true;
      token.removeCallback(state->cancelId);
      state->handle.resume();
    });
    QThread* owner = QThread::currentThread();
    QPointer<QObject> context = QCoreApplication::instance();
    state->cancelId = token.onCancel([state, clock, owner, context] {
      auto finish = [state, clock] {
        if (state->done) return;
        state->done = true;
        clock->cancel(state->timerId);
        state->handle.resume();
      };
      if (QThread::currentThread() == owner || !context) {
        finish();
      } else {
        QMetaObject::invokeMethod(context, finish, Qt::QueuedConnection);
      }
    });
  }

  bool await_resume() const noexcept { return state_ && state_->fired; }

 private:
  Clock& clock_;
  Clock::Duration delay_;
  CancellationToken token_;
  std::shared_ptr<SleepState> state_;
};

}  // namespace

QCoro::Task<bool> Clock::sleep(Duration delay, CancellationToken token) {
  SleepAwaiter slept(*this, delay, std::move(token));
  co_return co_await slept;
}

Clock& Clock::continuous() {
  static PosixClock clock(CLOCK_BOOTTIME);
  return clock;
}

Clock& Clock::suspending() {
  static PosixClock clock(CLOCK_MONOTONIC);
  return clock;
}

RepeatingTimer::RepeatingTimer(Clock& clock, Clock::Duration interval, std::function<void()> tick)
    : clock_(clock), interval_(interval), tick_(std::move(tick)) {}

RepeatingTimer::~RepeatingTimer() { stop(); }

void RepeatingTimer::start() {
  stop();
  arm();
}

void RepeatingTimer::stop() {
  if (id_ != 0) clock_.cancel(id_);
  id_ = 0;
}

void RepeatingTimer::arm() {
  id_ = clock_.scheduleRepeating(interval_, [this] { tick_(); });
  native_ = id_ != 0;
  if (native_) return;
  id_ = clock_.schedule(interval_, [this] {
    arm();
    tick_();
  });
}

}  // namespace murel
