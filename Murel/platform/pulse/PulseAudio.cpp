#include "platform/pulse/PulseAudio.h"

#include "runtime/Clock.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <thread>

namespace murel::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Short sleeps rather than pa_threaded_mainloop_wait: that one has no timeout,
// and a hung server must never hang the caller.
void pause() { std::this_thread::sleep_for(std::chrono::microseconds(200)); }

PulseSource toSource(const pa_source_info& info) {
  PulseSource s;
  s.index = info.index;
  s.name = QString::fromUtf8(info.name ? info.name : "");
  s.description = QString::fromUtf8(info.description ? info.description : "");
  s.isMonitor = info.monitor_of_sink != PA_INVALID_INDEX;
  s.sampleSpec = info.sample_spec;
  s.channelMap = info.channel_map;
  return s;
}

// State of one source query, filled on the PulseAudio thread under the main-loop lock.
struct SourceQuery {
  PulseAudio* pulse = nullptr;
  std::vector<PulseSource> found;
  bool failed = false;

  static void onInfo(pa_context*, const pa_source_info* info, int eol, void* self) {
    auto* q = static_cast<SourceQuery*>(self);
    if (eol < 0) q->failed = true;
    if (eol == 0 && info) q->found.push_back(toSource(*info));
    if (eol != 0) q->pulse->wakeWaitersLocked();
  }
};

struct ServerQuery {
  PulseAudio* pulse = nullptr;
  std::optional<QString> defaultSource;

  static void onInfo(pa_context*, const pa_server_info* info, void* self) {
    auto* q = static_cast<ServerQuery*>(self);
    if (info && info->default_source_name) q->defaultSource = QString::fromUtf8(info->default_source_name);
    q->pulse->wakeWaitersLocked();
  }
};

AudioSource plain(const PulseSource& source) { return static_cast<const AudioSource&>(source); }

}  // namespace

PulseAudio::PulseAudio(murel::Clock* clock) : clock_(clock ? clock : &murel::Clock::suspending()) {
  if (auto* app = QCoreApplication::instance()) moveToThread(app->thread());
  mainloop_ = pa_threaded_mainloop_new();
  pa_threaded_mainloop_set_name(mainloop_, "murel-pulse");
  pa_threaded_mainloop_start(mainloop_);
}

PulseAudio::~PulseAudio() {
  {
    Lock lock(*this);
    dropContextLocked();
  }
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

PulseAudio::Lock::Lock(PulseAudio& pulse) : mainloop_(pulse.mainloop_) { pa_threaded_mainloop_lock(mainloop_); }
PulseAudio::Lock::~Lock() { pa_threaded_mainloop_unlock(mainloop_); }

bool PulseAudio::inPulseThread() const { return pa_threaded_mainloop_in_thread(mainloop_) != 0; }

int PulseAudio::lastError() {
  Lock lock(*this);
  const int error = context_ ? pa_context_errno(context_) : PA_OK;
  return error != PA_OK ? error : PA_ERR_CONNECTIONREFUSED;
}

void PulseAudio::dropContextLocked() {
  if (!context_) return;
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_set_subscribe_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  context_ = nullptr;
  subscribed_ = nullptr;
  connected_.store(false, std::memory_order_release);
}

void PulseAudio::onContextState(pa_context* context, void* self) {
  auto* pulse = static_cast<PulseAudio*>(self);
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: pulse->connected_.store(true, std::memory_order_release); break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      // The server went away: the device list is now empty, and the next query reconnects.
      if (pulse->connected_.exchange(false, std::memory_order_acq_rel)) pulse->postSourcesChanged();
      break;
    default: break;
  }
  pulse->wakeWaitersLocked();
}

void PulseAudio::wakeWaitersLocked() {
  if (waiters_.empty()) return;
  // Resumed on the main thread, where they wait.
  QMetaObject::invokeMethod(
      this,
      [woken = std::move(waiters_)] {
        for (const CancellationToken& token : woken) token.cancel();
      },
      Qt::QueuedConnection);
  waiters_.clear();
}

QCoro::Task<bool> PulseAudio::waitFor(std::function<bool()> doneLocked, Clock::Duration timeout) {
  const Clock::Duration deadline = clock_->now() + timeout;
  for (;;) {
    CancellationToken woken;
    {
      Lock lock(*this);
      if (doneLocked()) break;
      // Registered under the lock, so a change between the look and the wait still wakes it.
      waiters_.push_back(woken);
    }
    const Clock::Duration left = deadline - clock_->now();
    if (left <= Clock::Duration::zero()) co_return false;
    auto sleeping = clock_->sleep(left, woken);
    co_await std::move(sleeping);
  }
  co_return true;
}

void PulseAudio::postSourcesChanged() {
  if (changePending_.exchange(true, std::memory_order_acq_rel)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        changePending_.store(false, std::memory_order_release);
        Q_EMIT sourcesChanged();
        if (!isConnected()) scheduleReconnect();
      },
      Qt::QueuedConnection);
}

void PulseAudio::scheduleReconnect() {
  if (reconnectScheduled_) return;
  reconnectScheduled_ = true;
  clock_->schedule(std::chrono::seconds(2), [this] {
    reconnectScheduled_ = false;
    if (isConnected()) return;
    if (ensureConnected(std::chrono::milliseconds(500))) {
      Q_EMIT sourcesChanged();
    } else {
      scheduleReconnect();
    }
  });
}

bool PulseAudio::beginConnectLocked() {
  if (context_) {
    const pa_context_state_t state = pa_context_get_state(context_);
    if (PA_CONTEXT_IS_GOOD(state)) return true;
    dropContextLocked();
  }
  pa_proplist* props = pa_proplist_new();
  pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Murel");
  pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "com.murel.app");
  context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_), "Murel", props);
  pa_proplist_free(props);
  if (!context_) return false;
  pa_context_set_state_callback(context_, &PulseAudio::onContextState, this);
  pa_context_set_subscribe_callback(
      context_,
      [](pa_context*, pa_subscription_event_type_t type, uint32_t, void* self) {
        const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SOURCE || facility == PA_SUBSCRIPTION_EVENT_SERVER) {
          static_cast<PulseAudio*>(self)->postSourcesChanged();
        }
      },
      this);
  // No autospawn: a desktop session starts its own sound server.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    dropContextLocked();
    return false;
  }
  return true;
}

void PulseAudio::finishConnectLocked() {
  if (connected_.load(std::memory_order_acquire) && subscribed_ == context_) return;
  pa_operation* op = pa_context_subscribe(
      context_, static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER), nullptr,
      nullptr);
  if (op) pa_operation_unref(op);
  subscribed_ = context_;
  connected_.store(true, std::memory_order_release);
}

bool PulseAudio::ensureConnected(std::chrono::milliseconds timeout) {
  const auto deadline = SteadyClock::now() + timeout;
  {
    Lock lock(*this);
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) {
      finishConnectLocked();
      return true;
    }
    if (!beginConnectLocked()) return false;
  }
  for (;;) {
    {
      Lock lock(*this);
      if (!context_) return false;
      const pa_context_state_t state = pa_context_get_state(context_);
      if (state == PA_CONTEXT_READY) break;
      if (!PA_CONTEXT_IS_GOOD(state)) {
        dropContextLocked();
        return false;
      }
    }
    if (SteadyClock::now() >= deadline) {
      Lock lock(*this);
      dropContextLocked();
      return false;
    }
    pause();
  }
  Lock lock(*this);
  if (!context_) return false;
  finishConnectLocked();
  return true;
}

QCoro::Task<bool> PulseAudio::connectAsync(Clock::Duration timeout) {
  {
    Lock lock(*this);
    if (!beginConnectLocked()) co_return false;
  }
  auto settled = waitFor(
      [this] {
        if (!context_) return true;
        const pa_context_state_t state = pa_context_get_state(context_);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
      },
      timeout);
  co_await std::move(settled);
  Lock lock(*this);
  if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) {
    finishConnectLocked();
    co_return true;
  }
  dropContextLocked();
  co_return false;
}

namespace {

// Waits for `op` to finish; cancels it on time-out so its callback never runs later.
bool finish(PulseAudio& pulse, pa_operation* op, std::chrono::milliseconds timeout) {
  if (!op) return false;
  const auto deadline = SteadyClock::now() + timeout;
  for (;;) {
    {
      PulseAudio::Lock lock(pulse);
      const pa_operation_state_t state = pa_operation_get_state(op);
      if (state != PA_OPERATION_RUNNING || SteadyClock::now() >= deadline) {
        if (state == PA_OPERATION_RUNNING) pa_operation_cancel(op);
        pa_operation_unref(op);
        return state == PA_OPERATION_DONE;
      }
    }
    pause();
  }
}

}  // namespace

std::optional<std::vector<PulseSource>> PulseAudio::sources() {
  if (!ensureConnected()) return std::nullopt;
  SourceQuery query{this, {}, false};
  pa_operation* op = nullptr;
  {
    Lock lock(*this);
    if (!context_) return std::nullopt;
    op = pa_context_get_source_info_list(context_, &SourceQuery::onInfo, &query);
  }
  if (!finish(*this, op, kDefaultTimeout) || query.failed) return std::nullopt;
  return std::move(query.found);
}

std::optional<PulseSource> PulseAudio::sourceByIndex(uint32_t index) {
  if (index == PA_INVALID_INDEX || !ensureConnected()) return std::nullopt;
  SourceQuery query{this, {}, false};
  pa_operation* op = nullptr;
  {
    Lock lock(*this);
    if (!context_) return std::nullopt;
    op = pa_context_get_source_info_by_index(context_, index, &SourceQuery::onInfo, &query);
  }
  if (!finish(*this, op, kDefaultTimeout) || query.found.empty()) return std::nullopt;
  return query.found.front();
}

std::optional<PulseSource> PulseAudio::sourceByName(const QString& name) {
  if (name.isEmpty() || !ensureConnected()) return std::nullopt;
  SourceQuery query{this, {}, false};
  const QByteArray utf8 = name.toUtf8();
  pa_operation* op = nullptr;
  {
    Lock lock(*this);
    if (!context_) return std::nullopt;
    op = pa_context_get_source_info_by_name(context_, utf8.constData(), &SourceQuery::onInfo, &query);
  }
  if (!finish(*this, op, kDefaultTimeout) || query.found.empty()) return std::nullopt;
  // The server also resolves "@DEFAULT_SOURCE@" and the like; only the exact name counts.
  if (query.found.front().name != name) return std::nullopt;
  return query.found.front();
}

std::optional<QString> PulseAudio::defaultSourceName() {
  if (!ensureConnected()) return std::nullopt;
  ServerQuery query{this, {}};
  pa_operation* op = nullptr;
  {
    Lock lock(*this);
    if (!context_) return std::nullopt;
    op = pa_context_get_server_info(context_, &ServerQuery::onInfo, &query);
  }
  if (!finish(*this, op, kDefaultTimeout)) return std::nullopt;
  return query.defaultSource;
}

QCoro::Task<bool> PulseAudio::finishAsync(pa_operation* op) {
  if (!op) co_return false;
  auto finished = waitFor([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, kDefaultTimeout);
  co_await std::move(finished);
  Lock lock(*this);
  const pa_operation_state_t state = pa_operation_get_state(op);
  // Cancelled on time-out so its callback never runs later.
  if (state == PA_OPERATION_RUNNING) pa_operation_cancel(op);
  pa_operation_unref(op);
  co_return state == PA_OPERATION_DONE;
}

QCoro::Task<std::optional<PulseSource>> PulseAudio::sourceByIndexAsync(uint32_t index) {
  if (index == PA_INVALID_INDEX) co_return std::nullopt;
  auto connecting = connectAsync();
  if (!co_await std::move(connecting)) co_return std::nullopt;
  SourceQuery query{this, {}, false};
  pa_operation* op = nullptr;
  {
    Lock lock(*this);
    if (!context_) co_return std::nullopt;
    op = pa_context_get_source_info_by_index(context_, index, &SourceQuery::onInfo, &query);
  }
  auto finished = finishAsync(op);
  if (!co_await std::move(finished) || query.found.empty()) co_return std::nullopt;
  co_return query.found.front();
}

QCoro::Task<std::optional<PulseSource>> PulseAudio::sourceByNameAsync(QString name) {
  if (name.isEmpty()) co_return std::nullopt;
  auto connecting = connectAsync();
  if (!co_await std::move(connecting)) co_return std::nullopt;
  SourceQuery query{this, {}, false};
  const QByteArray utf8 = name.toUtf8();
  pa_operation* op = nullptr;
  {
    Lock lock(*this);
    if (!context_) co_return std::nullopt;
    op = pa_context_get_source_info_by_name(context_, utf8.constData(), &SourceQuery::onInfo, &query);
  }
  auto finished = finishAsync(op);
  if (!co_await std::move(finished) || query.found.empty()) co_return std::nullopt;
  if (query.found.front().name != name) co_return std::nullopt;
  co_return query.found.front();
}

QCoro::Task<std::optional<QString>> PulseAudio::defaultSourceNameAsync() {
  auto connecting = connectAsync();
  if (!co_await std::move(connecting)) co_return std::nullopt;
  ServerQuery query{this, {}};
  pa_operation* op = nullptr;
  {
    Lock lock(*this);
    if (!context_) co_return std::nullopt;
    op = pa_context_get_server_info(context_, &ServerQuery::onInfo, &query);
  }
  auto finished = finishAsync(op);
  if (!co_await std::move(finished)) co_return std::nullopt;
  co_return query.defaultSource;
}

std::optional<std::vector<AudioSource>> PulseAudio::audioSources() {
  auto found = sources();
  if (!found) return std::nullopt;
  std::vector<AudioSource> list;
  list.reserve(found->size());
  for (const PulseSource& source : *found) list.push_back(plain(source));
  return list;
}

std::optional<AudioSource> PulseAudio::audioSourceNamed(const QString& name) {
  auto found = sourceByName(name);
  if (!found) return std::nullopt;
  return plain(*found);
}

}  // namespace murel::platform
