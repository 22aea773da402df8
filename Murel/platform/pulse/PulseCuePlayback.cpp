#include "platform/pulse/PulseCuePlayback.h"

#include "platform/pulse/PulseAudio.h"

#include <pulse/context.h>
#include <pulse/mainloop-api.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <chrono>
#include <thread>

namespace murel::platform {

struct PulseCuePlayback::Sound {
  std::vector<int16_t> samples;  // interleaved
  pa_sample_spec spec{};
  pa_stream* stream = nullptr;
  // Closes the stream once the cue has played out.
  pa_time_event* idleTimer = nullptr;
};

namespace {

constexpr std::chrono::milliseconds kStreamReadyTimeout{2000};
// Requested output latency: short, so the cue sounds with the key press.
constexpr pa_usec_t kTargetLatencyUsec = 25000;
// Time past a cue's own length before its stream is closed: room for the
// output's latency, and for a quick second play that reuses the stream.
constexpr pa_usec_t kIdleMarginUsec = 500000;

void closeStream(pa_stream*& stream) {
  if (!stream) return;
  pa_stream_disconnect(stream);
  pa_stream_unref(stream);
  stream = nullptr;
}

}  // namespace

PulseCuePlayback::PulseCuePlayback(PulseAudio& pulse) : pulse_(pulse) {}

PulseCuePlayback::~PulseCuePlayback() {
  for (auto& sound : sounds_) dropStream(*sound);
}

bool PulseCuePlayback::connect() { return pulse_.ensureConnected(); }

std::optional<CuePlayback::SoundId> PulseCuePlayback::addSound(std::vector<int16_t> samples, uint32_t rate,
                                                               uint32_t channels) {
  auto sound = std::make_unique<Sound>();
  sound->spec.format = PA_SAMPLE_S16NE;
  sound->spec.rate = rate;
  sound->spec.channels = static_cast<uint8_t>(channels);
  if (channels == 0 || channels > PA_CHANNELS_MAX || !pa_sample_spec_valid(&sound->spec) || samples.size() < channels) {
    return std::nullopt;
  }
  sound->samples = std::move(samples);
  PulseAudio::Lock lock(pulse_);
  sounds_.push_back(std::move(sound));
  return static_cast<SoundId>(sounds_.size() - 1);
}

void PulseCuePlayback::dropStream(Sound& sound) {
  PulseAudio::Lock lock(pulse_);
  if (sound.idleTimer) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(pulse_.mainloop());
    api->time_free(sound.idleTimer);
    sound.idleTimer = nullptr;
  }
  closeStream(sound.stream);
}

bool PulseCuePlayback::ensureStream(Sound& sound) {
  {
    PulseAudio::Lock lock(pulse_);
    if (sound.stream && pa_stream_get_state(sound.stream) == PA_STREAM_READY) return true;
  }
  // A stream the server dropped (it restarted, for one) is made anew.
  dropStream(sound);
  if (!pulse_.ensureConnected()) return false;
  {
    PulseAudio::Lock lock(pulse_);
    pa_context* context = pulse_.context();
    if (!context) return false;
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "event");
    sound.stream = pa_stream_new_with_proplist(context, "Recording cue", &sound.spec, nullptr, props);
    pa_proplist_free(props);
    if (!sound.stream) return false;
    const auto latency = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatencyUsec, &sound.spec));
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = latency;
    // Playback begins as soon as one target's worth is queued (every cue is longer); a
    // played-out stream waits for that again instead of running on silence.
    attr.prebuf = latency;
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    const auto flags = PA_STREAM_ADJUST_LATENCY;
    if (pa_stream_connect_playback(sound.stream, nullptr, &attr, flags, nullptr, nullptr) < 0) {
      pa_stream_unref(sound.stream);
      sound.stream = nullptr;
      return false;
    }
  }
  // This runs on the caller's worker thread, which has no event loop to await on.
  const auto deadline = std::chrono::steady_clock::now() + kStreamReadyTimeout;
  for (;;) {
    {
      PulseAudio::Lock lock(pulse_);
      const pa_stream_state_t state = pa_stream_get_state(sound.stream);
      if (state == PA_STREAM_READY) return true;
      if (!PA_STREAM_IS_GOOD(state)) break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  dropStream(sound);
  return false;
}

bool PulseCuePlayback::play(SoundId id) {
  Sound* sound = nullptr;
  {
    PulseAudio::Lock lock(pulse_);
    if (id < 0 || static_cast<size_t>(id) >= sounds_.size()) return false;
    sound = sounds_[static_cast<size_t>(id)].get();
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!ensureStream(*sound)) return false;
    PulseAudio::Lock lock(pulse_);
    // The idle timer may have closed the stream just now: make it again.
    if (!sound->stream || pa_stream_get_state(sound->stream) != PA_STREAM_READY) continue;
    // Whatever is left of an earlier play is dropped: the cue starts over.
    if (pa_operation* op = pa_stream_flush(sound->stream, nullptr, nullptr)) pa_operation_unref(op);
    pa_stream_write(sound->stream, sound->samples.data(), sound->samples.size() * sizeof(int16_t), nullptr, 0,
                    PA_SEEK_RELATIVE);
    if (pa_operation* op = pa_stream_trigger(sound->stream, nullptr, nullptr)) pa_operation_unref(op);

    const size_t frames = sound->samples.size() / sound->spec.channels;
    const pa_usec_t length = pa_usec_t(frames) * PA_USEC_PER_SEC / sound->spec.rate;
    struct timeval when {};
    pa_timeval_add(pa_gettimeofday(&when), length + kIdleMarginUsec);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(pulse_.mainloop());
    if (sound->idleTimer) {
      api->time_restart(sound->idleTimer, &when);
    } else {
      // Runs on the PulseAudio thread with the lock held, like every stream call.
      sound->idleTimer = api->time_new(
          api, &when,
          [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user) {
            closeStream(static_cast<Sound*>(user)->stream);
          },
          sound);
    }
    return true;
  }
  return false;
}

}  // namespace murel::platform
