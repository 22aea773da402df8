#include "platform/pulse/PulseCapture.h"

#include "platform/pulse/PulseAudio.h"

#include <QObject>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>

#include <chrono>
#include <memory>

namespace murel::platform {
namespace {

constexpr std::chrono::milliseconds kStreamStartTimeout{3000};
// Data arrives in pieces of about this length: a lively level display, few wake-ups.
constexpr pa_usec_t kFragmentUsec = 20000;

// The formats the capture takes as they are; anything else is converted by the server.
pa_sample_format_t captureFormat(pa_sample_format_t source) {
  switch (source) {
    case PA_SAMPLE_S16NE:
    case PA_SAMPLE_FLOAT32NE:
    case PA_SAMPLE_S32NE: return source;
    case PA_SAMPLE_U8:
    case PA_SAMPLE_ALAW:
    case PA_SAMPLE_ULAW:
    case PA_SAMPLE_S16RE: return PA_SAMPLE_S16NE;
    case PA_SAMPLE_S32RE: return PA_SAMPLE_S32NE;
    default: return PA_SAMPLE_FLOAT32NE;
  }
}

CaptureFormat::Sample sampleOf(pa_sample_format_t format) {
  switch (format) {
    case PA_SAMPLE_FLOAT32NE: return CaptureFormat::Sample::Float32;
    case PA_SAMPLE_S32NE: return CaptureFormat::Sample::Int32;
    default: return CaptureFormat::Sample::Int16;
  }
}

class PulseCaptureStream final : public CaptureStream {
 public:
  PulseCaptureStream(PulseAudio& pulse, pa_stream* stream, const pa_sample_spec& spec, PulseSource source)
      : d_(std::make_shared<State>(pulse, stream, spec, std::move(source))) {
    format_.sample = sampleOf(spec.format);
    format_.rate = spec.rate;
    format_.channels = spec.channels;
  }

  ~PulseCaptureStream() override {
    PulseAudio::Lock lock(d_->pulse);
    pa_stream* stream = d_->stream;
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_overflow_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    if (pa_stream_get_state(stream) != PA_STREAM_UNCONNECTED) pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    // A start still waiting finds the stream gone when it wakes.
    d_->stream = nullptr;
  }

  const CaptureFormat& format() const override { return format_; }
  uint32_t sourceIndex() const override { return d_->source.index; }

  QCoro::Task<void> start(CaptureSink& sink, std::function<void()> onLost) override {
    return startStream(d_, &sink, std::move(onLost));
  }

  bool pull() override {
    PulseAudio::Lock lock(d_->pulse);
    if (pa_stream_get_state(d_->stream) != PA_STREAM_READY) return true;
    d_->drainLocked();
    const size_t left = pa_stream_readable_size(d_->stream);
    return left == 0 || left == static_cast<size_t>(-1);
  }

 private:
  // Shared with a start that is still waiting, so the stream may go first.
  struct State {
    State(PulseAudio& p, pa_stream* s, const pa_sample_spec& sp, PulseSource so)
        : pulse(p), stream(s), spec(sp), source(std::move(so)) {}

    // Moves what the server has buffered into the sink, piece by piece; a
    // piece the sink has no room for stays with the server. Lock held.
    void drainLocked() {
      while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0) {
          sink->audioLost(pa_context_errno(pa_stream_get_context(stream)));
          return;
        }
        if (bytes == 0) return;
        // A hole (no data for a stretch) goes on as silence so the timing holds.
        if (!sink->accept(data, bytes)) return;
        pa_stream_drop(stream);
      }
    }

    static void onRead(pa_stream*, size_t, void* self) { static_cast<State*>(self)->drainLocked(); }

    static void onOverflow(pa_stream*, void* self) { static_cast<State*>(self)->sink->audioLost(0); }

    static void onState(pa_stream* stream, void* user) {
      auto* self = static_cast<State*>(user);
      self->pulse.wakeWaitersLocked();
      const pa_stream_state_t state = pa_stream_get_state(stream);
      if (state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED) return;
      if (!self->armed || self->lostReported) return;
      // With PA_STREAM_DONT_MOVE the server ends the stream only when its source is gone.
      self->lostReported = true;
      QMetaObject::invokeMethod(
          &self->mainContext,
          [self] {
            if (self->stream && self->onLost) self->onLost();
          },
          Qt::QueuedConnection);
    }

    PulseAudio& pulse;
    pa_stream* stream;  // null once the stream is gone; changed under the lock
    pa_sample_spec spec;
    PulseSource source;
    CaptureSink* sink = nullptr;
    std::function<void()> onLost;
    // Set under the lock once the stream runs; a failure after that is a lost device.
    bool armed = false;
    bool lostReported = false;
    QObject mainContext;  // the lost report is queued through it, and dropped with it
  };

  static QCoro::Task<void> startStream(std::shared_ptr<State> d, CaptureSink* sink, std::function<void()> onLost) {
    {
      PulseAudio::Lock lock(d->pulse);
      d->sink = sink;
      d->onLost = std::move(onLost);
      pa_stream_set_read_callback(d->stream, &State::onRead, d.get());
      pa_stream_set_overflow_callback(d->stream, &State::onOverflow, d.get());
      pa_stream_set_state_callback(d->stream, &State::onState, d.get());
      pa_buffer_attr attr;
      attr.maxlength = static_cast<uint32_t>(-1);
      attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentUsec, &d->spec));
      attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
      const QByteArray name = d->source.name.toUtf8();
      const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
      if (pa_stream_connect_record(d->stream, name.constData(), &attr, flags) < 0) {
        throw CaptureError(CaptureError::Step::StreamConnect, pa_context_errno(pa_stream_get_context(d->stream)));
      }
    }
    auto settled = d->pulse.waitFor(
        [d] {
          if (!d->stream) return true;
          const pa_stream_state_t state = pa_stream_get_state(d->stream);
          return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        kStreamStartTimeout);
    const bool inTime = co_await std::move(settled);
    int error = PA_ERR_TIMEOUT;
    {
      PulseAudio::Lock lock(d->pulse);
      if (!d->stream) {
        error = PA_ERR_KILLED;
      } else if (pa_stream_get_state(d->stream) == PA_STREAM_READY) {
        d->armed = true;
        error = PA_OK;
      } else if (inTime) {
        error = pa_context_errno(pa_stream_get_context(d->stream));
        if (error == PA_OK) error = PA_ERR_NOENTITY;
      }
    }
    if (error != PA_OK) throw CaptureError(CaptureError::Step::Start, error);
  }

  std::shared_ptr<State> d_;
  CaptureFormat format_;
};

}  // namespace

PulseCapture::PulseCapture(PulseAudio& pulse) : pulse_(pulse) {}

QCoro::Task<std::unique_ptr<CaptureStream>> PulseCapture::open(std::optional<uint32_t> sourceIndex) {
  auto connecting = pulse_.connectAsync();
  if (!co_await std::move(connecting)) throw CaptureError(CaptureError::Step::Connect, PA_ERR_CONNECTIONREFUSED);

  std::optional<PulseSource> source;
  if (sourceIndex) {
    auto finding = pulse_.sourceByIndexAsync(*sourceIndex);
    source = co_await std::move(finding);
  } else {
    // A machine without a microphone often names an output's monitor the
    // default source: recording that would capture whatever plays instead of
    // the user.
    auto naming = pulse_.defaultSourceNameAsync();
    const std::optional<QString> name = co_await std::move(naming);
    if (name) {
      auto finding = pulse_.sourceByNameAsync(*name);
      std::optional<PulseSource> found = co_await std::move(finding);
      if (found && !found->isMonitor) source = std::move(found);
    }
  }
  if (!source) throw CaptureError(CaptureError::Step::Device, PA_ERR_NOENTITY);

  if (!pa_sample_spec_valid(&source->sampleSpec)) throw CaptureError(CaptureError::Step::Format, PA_ERR_NOTSUPPORTED);
  pa_sample_spec spec = source->sampleSpec;
  spec.format = captureFormat(spec.format);
  pa_channel_map map = source->channelMap;
  if (!pa_channel_map_valid(&map) || map.channels != spec.channels) {
    pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
  }

  pa_stream* stream = nullptr;
  int error = PA_OK;
  {
    PulseAudio::Lock lock(pulse_);
    pa_context* context = pulse_.context();
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "production");
    stream = context ? pa_stream_new_with_proplist(context, "Dictation", &spec, &map, props) : nullptr;
    pa_proplist_free(props);
    if (!stream) error = context ? pa_context_errno(context) : PA_ERR_CONNECTIONTERMINATED;
  }
  if (!stream) throw CaptureError(CaptureError::Step::Stream, error != PA_OK ? error : PA_ERR_INVALID);
  std::unique_ptr<CaptureStream> capture =
      std::make_unique<PulseCaptureStream>(pulse_, stream, spec, std::move(*source));
  co_return std::move(capture);
}

}  // namespace murel::platform
