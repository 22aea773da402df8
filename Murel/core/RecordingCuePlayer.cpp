#include "core/RecordingCuePlayer.h"

#include "core/AppPaths.h"
#include "platform/PulseAudio.h"

#include <QFile>

#include <pulse/context.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <sndfile.h>

#include <chrono>
#include <thread>
#include <vector>

namespace murel {

struct RecordingCuePlayer::Sound {
  std::vector<int16_t> samples;  // interleaved
  pa_sample_spec spec{};
  pa_stream* stream = nullptr;
};

namespace {

constexpr std::chrono::milliseconds kStreamReadyTimeout{2000};
// Requested output latency: short, so the cue sounds with the key press.
constexpr pa_usec_t kTargetLatencyUsec = 25000;

}  // namespace

RecordingCuePlayer& RecordingCuePlayer::shared() {
  // Never destroyed: its streams belong to the shared sound-server connection.
  static RecordingCuePlayer* instance =
      new RecordingCuePlayer(AppPaths::resource(QStringLiteral("sounds/ListeningStart.wav")),
                             AppPaths::resource(QStringLiteral("sounds/ListeningStop.wav")),
                             platform::PulseAudio::shared());
  return *instance;
}

RecordingCuePlayer::RecordingCuePlayer(const QString& startSoundPath, const QString& stopSoundPath,
                                       platform::PulseAudio& pulse)
    : pulse_(pulse), start_(loadCueSound(startSoundPath)), stop_(loadCueSound(stopSoundPath)) {
  // Streams are made now so the first cue needs no round trip to the server.
  if (start_) ensureStream(*start_);
  if (stop_) ensureStream(*stop_);
}

RecordingCuePlayer::~RecordingCuePlayer() {
  queue_.waitForIdle();
  if (start_) dropStream(*start_);
  if (stop_) dropStream(*stop_);
}

std::unique_ptr<RecordingCuePlayer::Sound> RecordingCuePlayer::loadCueSound(const QString& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
  if (!file) return nullptr;
  auto sound = std::make_unique<Sound>();
  sound->spec.format = PA_SAMPLE_S16NE;
  sound->spec.rate = static_cast<uint32_t>(info.samplerate);
  sound->spec.channels = static_cast<uint8_t>(info.channels);
  const bool valid = info.channels > 0 && info.channels <= static_cast<int>(PA_CHANNELS_MAX) && info.frames > 0 &&
                     pa_sample_spec_valid(&sound->spec);
  if (valid) {
    sound->samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t got = sf_readf_short(file, sound->samples.data(), info.frames);
    sound->samples.resize(static_cast<size_t>(got > 0 ? got : 0) * static_cast<size_t>(info.channels));
  }
  sf_close(file);
  if (!valid || sound->samples.empty()) return nullptr;
  return sound;
}

void RecordingCuePlayer::dropStream(Sound& sound) {
  platform::PulseAudio::Lock lock(pulse_);
  if (!sound.stream) return;
  pa_stream_disconnect(sound.stream);
  pa_stream_unref(sound.stream);
  sound.stream = nullptr;
}

bool RecordingCuePlayer::ensureStream(Sound& sound) {
  {
    platform::PulseAudio::Lock lock(pulse_);
    if (sound.stream && pa_stream_get_state(sound.stream) == PA_STREAM_READY) return true;
  }
  // A stream the server dropped (it restarted, for one) is made anew.
  dropStream(sound);
  if (!pulse_.connect()) return false;
  {
    platform::PulseAudio::Lock lock(pulse_);
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
    if (pa_stream_connect_playback(sound.stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0) {
      pa_stream_unref(sound.stream);
      sound.stream = nullptr;
      return false;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + kStreamReadyTimeout;
  for (;;) {
    {
      platform::PulseAudio::Lock lock(pulse_);
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

bool RecordingCuePlayer::hasSound(RecordingCue cue) const {
  return (cue == RecordingCue::Started ? start_ : stop_) != nullptr;
}

void RecordingCuePlayer::play(RecordingCue cue) {
  Sound* sound = cue == RecordingCue::Started ? start_.get() : stop_.get();
  if (!sound) return;
  queue_.run([this, sound] {
    if (!ensureStream(*sound)) return;
    platform::PulseAudio::Lock lock(pulse_);
    // Whatever is left of an earlier play is dropped: the cue starts over.
    if (pa_operation* op = pa_stream_flush(sound->stream, nullptr, nullptr)) pa_operation_unref(op);
    pa_stream_write(sound->stream, sound->samples.data(), sound->samples.size() * sizeof(int16_t), nullptr, 0,
                    PA_SEEK_RELATIVE);
    if (pa_operation* op = pa_stream_trigger(sound->stream, nullptr, nullptr)) pa_operation_unref(op);
  });
}

}  // namespace murel
