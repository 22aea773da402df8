#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include <pulse/channelmap.h>
#include <pulse/sample.h>

struct pa_threaded_mainloop;
struct pa_context;

namespace murel {
class Clock;
}

namespace murel::platform {

// One PulseAudio source as the server describes it.
struct PulseSource {
  uint32_t index = 0;
  QString name;         // persistent, e.g. "alsa_input.usb-…"
  QString description;  // what the user sees
  bool isMonitor = false;
  pa_sample_spec sampleSpec{};
  pa_channel_map channelMap{};
};

// The process's connection to the PulseAudio server (PipeWire answers the same
// protocol): a threaded main loop plus one context, connected on first need and
// again after the server went away. Queries block the caller for at most a few
// seconds; call them from any thread except the PulseAudio thread itself.
// Server-side changes of the source list arrive as `sourcesChanged` on the
// main thread, coalesced to one signal per main-loop turn. When the server goes
// away the signal fires too, and again once a retry every two seconds finds it
// back.
class PulseAudio : public QObject {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{3000};

  // The process-wide connection, created on first use (from any thread).
  static PulseAudio& shared();

  // `retryClock` paces reconnecting after the server went away.
  explicit PulseAudio(Clock* retryClock = nullptr);
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

 Q_SIGNALS:
  void sourcesChanged();

 private:
  static void onContextState(pa_context* context, void* self);
  void postSourcesChanged();
  void dropContextLocked();
  void scheduleReconnect();

  Clock* retryClock_;
  bool reconnectScheduled_ = false;
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  std::atomic<bool> connected_{false};
  std::atomic<bool> changePending_{false};
};

}  // namespace murel::platform
