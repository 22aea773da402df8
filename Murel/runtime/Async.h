#pragma once

#include <QCoreApplication>
#include <QFuture>
#include <QPromise>
#include <QString>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include <functional>
#include <type_traits>
#include <utility>

namespace murel {

// Runs `fn` on the main thread one main-loop turn later.
inline void postToMainLoop(std::function<void()> fn) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

// One worker thread that runs jobs strictly in submission order. Engines, the
// language model and the diagnostics log each own one; results come back as
// QFutures to co_await. (A QThreadPool is no substitute: waiting on one of its
// futures may run that job at once on the waiting thread, out of order.)
class SerialExecutor {
 public:
  explicit SerialExecutor(QString name);
  ~SerialExecutor();
  SerialExecutor(const SerialExecutor&) = delete;
  SerialExecutor& operator=(const SerialExecutor&) = delete;

  template <class F>
  auto run(F&& fn) -> QFuture<std::invoke_result_t<std::decay_t<F>>> {
    using T = std::invoke_result_t<std::decay_t<F>>;
    auto promise = std::make_shared<QPromise<T>>();
    QFuture<T> future = promise->future();
    // Started here, not on the worker: a future that is not yet started counts as
    // finished, and waiting on it would return before the job ran.
    promise->start();
    enqueue([promise, job = std::forward<F>(fn)]() mutable {
      try {
        if constexpr (std::is_void_v<T>) {
          job();
        } else {
          promise->addResult(job());
        }
      } catch (...) {
        promise->setException(std::current_exception());
      }
      promise->finish();
    });
    return future;
  }

  // Blocks until every job submitted so far has finished. Never call it from a job.
  void waitForIdle();
  const QString& name() const { return name_; }
  bool isCurrentThread() const;

 private:
  void enqueue(std::function<void()> job);
  void loop();

  QString name_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> jobs_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace murel
