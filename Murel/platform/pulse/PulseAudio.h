#pragma once

#include "platform/AudioDevices.h"
#include "runtime/Cancellation.h"
#include "runtime/Clock.h"

#include <QCoroTask>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <pulse/channelmap.h>
#include <pulse/sample.h>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;

namespace murel::platform {

// One PulseAudio source as the server describes it.
struct PulseSource : AudioSource {
  pa_sample_spec sampleSpec{};
  pa_channel_map channelMap{};
};

// A connection to the PulseAudio server (PipeWire answers the same
// protocol): a threaded main loop plus one context, connected on first need and
// again after the server went away. Queries block the caller for at most a few
// seconds; call them from any thread except the PulseAudio thread itself.
// Server-side changes of the source list arrive as `sourcesChanged` on the
// main thread, coalesced to one signal per main-loop turn. When the server goes
// away the signal fires too, and again once a retry every two seconds finds it
// back. The ...Async variants are for the main thread: they await the server's
// answers (queued to the main thread) with a time-out on the clock instead of
// blocking.
class PulseAudio : public AudioDevices {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{3000};

  // `clock` paces reconnecting after the server went away and times the
  // asynchronous waits.
  explicit PulseAudio(Clock* clock = nullptr);
  ~PulseAudio() override;
  PulseAudio(const PulseAudio&) = delete;
  PulseAudio& operator=(const PulseAudio&) = delete;

  // Connects unless connected; true when the server answers.
  bool ensureConnected(std::chrono::milliseconds timeout = kDefaultTimeout);
  bool isConnected() const { return connected_.load(std::memory_order_acquire); }

  // Empty optional when the server cannot be asked.
  std::optional<std::vector<PulseSource>> sources();
  std::optional<PulseSource> sourceByIndex(uint32_t index);
  std::optional<PulseSource> sourceByName(const QString& name);
  std::optional<QString> defaultSourceName();

  std::optional<std::vector<AudioSource>> audioSources() override;
  std::optional<AudioSource> audioSourceNamed(const QString& name) override;

  // Main thread.
  QCoro::Task<bool> connectAsync(Clock::Duration timeout = kDefaultTimeout);
  QCoro::Task<std::optional<PulseSource>> sourceByIndexAsync(uint32_t index);
  QCoro::Task<std::optional<PulseSource>> sourceByNameAsync(QString name);
  QCoro::Task<std::optional<QString>> defaultSourceNameAsync();
  // Ends when `doneLocked` (asked under the lock, again after every wake-up)
  // holds (true) or after `timeout` (false). Main thread.
  QCoro::Task<bool> waitFor(std::function<bool()> doneLocked, Clock::Duration timeout);
  // Wakes every waitFor() to look again; from callbacks on the PulseAudio
  // thread, lock held.
  void wakeWaitersLocked();

  // Holds the main-loop lock: every pa_stream_* / pa_context_* call needs it.
  class Lock {
   public:
    explicit Lock(PulseAudio& pulse);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* mainloop_;
  };

  pa_threaded_mainloop* mainloop() const { return mainloop_; }
  // Valid while locked and connected; null otherwise.
  pa_context* context() const { return context_; }
  // True when called on the PulseAudio thread (inside one of its callbacks).
  bool inPulseThread() const;
  // The last error of the context, as a PA_ERR_* code (PA_ERR_CONNECTIONREFUSED when there is none).
  int lastError();
  Clock& clock() const { return *clock_; }

 private:
  static void onContextState(pa_context* context, void* self);
  void postSourcesChanged();
  void dropContextLocked();
  void scheduleReconnect();
  // Makes the context unless there is one; false when that fails. Lock held.
  bool beginConnectLocked();
  // READY: subscribes to source changes. Lock held.
  void finishConnectLocked();
  QCoro::Task<bool> finishAsync(pa_operation* op);

  Clock* clock_;
  std::vector<CancellationToken> waiters_;  // guarded by the main-loop lock
  bool reconnectScheduled_ = false;
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_context* subscribed_ = nullptr;  // the context whose source changes are subscribed to
  std::atomic<bool> connected_{false};
  std::atomic<bool> changePending_{false};
};

}  // namespace murel::platform
