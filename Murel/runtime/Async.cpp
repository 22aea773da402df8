#include "runtime/Async.h"

#include <pthread.h>

namespace murel {

SerialExecutor::SerialExecutor(QString name) : name_(std::move(name)) {
  thread_ = std::thread([this] { loop(); });
}

SerialExecutor::~SerialExecutor() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void SerialExecutor::enqueue(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void SerialExecutor::waitForIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

bool SerialExecutor::isCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

void SerialExecutor::loop() {
  // Kernel thread names are at most 15 bytes; the tail is the telling part.
  const QByteArray threadName = name_.right(15).toUtf8();
  pthread_setname_np(pthread_self(), threadName.constData());
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      // Jobs already queued still run: dropping them would lose log lines and writes.
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
      busy_ = true;
    }
    job();
    {
      std::lock_guard lock(mutex_);
      busy_ = false;
      if (jobs_.empty()) idle_.notify_all();
    }
  }
}

}  // namespace murel
