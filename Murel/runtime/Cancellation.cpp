#include "runtime/Cancellation.h"

#include <QMutex>

#include <atomic>
#include <map>
#include <vector>

namespace murel {

struct CancellationToken::State {
  std::atomic<bool> cancelled{false};
  QMutex mutex;
  quint64 nextId = 1;
  std::map<quint64, std::function<void()>> callbacks;
};

CancellationToken::CancellationToken() : d_(std::make_shared<State>()) {}

void CancellationToken::cancel() const {
  std::vector<std::function<void()>> toRun;
  {
    QMutexLocker lock(&d_->mutex);
    if (d_->cancelled.exchange(true)) return;
    for (auto& [id, callback] : d_->callbacks) toRun.push_back(std::move(callback));
    d_->callbacks.clear();
  }
  for (auto& callback : toRun) callback();
}

bool CancellationToken::isCancelled() const { return d_->cancelled.load(); }

quint64 CancellationToken::onCancel(std::function<void()> callback) const {
  {
    QMutexLocker lock(&d_->mutex);
    if (!d_->cancelled.load()) {
      const quint64 id = d_->nextId++;
      d_->callbacks.emplace(id, std::move(callback));
      return id;
    }
  }
  callback();
  return 0;
}

void CancellationToken::removeCallback(quint64 id) const {
  if (id == 0) return;
  QMutexLocker lock(&d_->mutex);
  d_->callbacks.erase(id);
}

}  // namespace murel
