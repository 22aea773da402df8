#include "speech/AudioSampleLoader.h"

#include "runtime/SystemError.h"
#include "speech/EngineError.h"
#include "speech/FFmpegUtil.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace murel {

TranscriptionPipeline TranscriptionPipeline::standard() { return {&AudioSampleLoader::loadSamples}; }

namespace {

// Frames of margin beyond the estimated length, for the resampler's last block.
constexpr qint64 kOutputMargin = 1024;

// The container's duration in seconds: exact for PCM, an estimate for
// compressed formats, 0 when it does not say.
double declaredSeconds(const ffmpeg::InputFile& input) {
  const AVStream* stream = input.format->streams[input.streamIndex];
  if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0 && stream->time_base.den > 0) {
    return double(stream->duration) * av_q2d(stream->time_base);
  }
  if (input.format->duration != AV_NOPTS_VALUE && input.format->duration > 0) {
    return double(input.format->duration) / AV_TIME_BASE;
  }
  return 0;
}

// Refuses what no real recording holds before a resampler is set up: the
// resampler's set-up cost grows with the input rate, and a forged header can
// claim any rate, channel count or length.
void checkFormat(const ffmpeg::InputFile& input) {
  const AVCodecContext* dec = input.decoder.get();
  if (dec->sample_rate <= 0 || dec->sample_rate > AudioSampleLoader::kMaxSampleRate) {
    throw EngineError::audioConversionFailed(
        QStringLiteral("the sample rate of %1 Hz is not supported").arg(dec->sample_rate));
  }
  if (dec->ch_layout.nb_channels <= 0 || dec->ch_layout.nb_channels > AudioSampleLoader::kMaxChannels) {
    throw EngineError::audioConversionFailed(
        QStringLiteral("%1 audio channels are not supported").arg(dec->ch_layout.nb_channels));
  }
  if (declaredSeconds(input) > AudioSampleLoader::kMaxSeconds) {
    throw EngineError::audioConversionFailed(QStringLiteral("the recording is too long"));
  }
}

}  // namespace

AudioSamples AudioSampleLoader::loadSamples(const QString& filePath) {
  ffmpeg::InputFile input = ffmpeg::openAudioInput(filePath);
  checkFormat(input);

  AVCodecContext* dec = input.decoder.get();
  const int inputRate = dec->sample_rate;
  const AVSampleFormat inputFormat = dec->sample_fmt;
  AVChannelLayout inputLayout{};
  if (av_channel_layout_copy(&inputLayout, &dec->ch_layout) < 0) {
    throw EngineError::audioConversionFailed(QStringLiteral("Could not allocate input buffer"));
  }
  const std::unique_ptr<AVChannelLayout, void (*)(AVChannelLayout*)> layoutGuard(&inputLayout,
                                                                                 av_channel_layout_uninit);

  ffmpeg::SwrPtr swr;
  {
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext* raw = nullptr;
    if (swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_FLT, kTargetSampleRate, &inputLayout, inputFormat, inputRate, 0,
                            nullptr) < 0 ||
        swr_init(raw) < 0) {
      swr_free(&raw);
      throw EngineError::audioConversionFailed(QStringLiteral("the audio resampler could not be set up"));
    }
    swr.reset(raw);
  }

  // Reserve the container's estimate once and let the vector grow past it if needed.
  AudioSamples out;
  const double seconds = declaredSeconds(input);
  const double estimate = seconds * kTargetSampleRate + kOutputMargin;
  // A damaged header can claim hours that are not there: reserve at most two
  // hours up front and grow beyond that only as samples really arrive.
  constexpr double kMaxReserve = 2.0 * 3600 * kTargetSampleRate;
  try {
    out.reserve(static_cast<size_t>(std::min(estimate, kMaxReserve)));
  } catch (const std::bad_alloc&) {
    throw EngineError::audioConversionFailed(QStringLiteral("Could not allocate output buffer"));
  }

  ffmpeg::FramePtr frame(av_frame_alloc());
  ffmpeg::PacketPtr packet(av_packet_alloc());
  if (!frame || !packet) throw EngineError::audioConversionFailed(QStringLiteral("Could not allocate input buffer"));

  auto append = [&](const uint8_t** data, int inSamples) {
    const int room = swr_get_out_samples(swr.get(), inSamples);
    if (room <= 0) return;
    const size_t before = out.size();
    // The result's length must fit a 32-bit frame count (about 74 hours).
    if (before + static_cast<size_t>(room) > std::numeric_limits<quint32>::max()) {
      throw EngineError::audioConversionFailed(QStringLiteral("Could not allocate output buffer"));
    }
    try {
      out.resize(before + static_cast<size_t>(room));
    } catch (const std::bad_alloc&) {
      throw EngineError::audioConversionFailed(QStringLiteral("Could not allocate output buffer"));
    }
    uint8_t* dst = reinterpret_cast<uint8_t*>(out.data() + before);
    const int written = swr_convert(swr.get(), &dst, room, data, inSamples);
    if (written < 0) {
      out.resize(before);
      throw EngineError::audioConversionFailed(ffmpeg::errorText(written));
    }
    out.resize(before + static_cast<size_t>(written));
  };
  // The resampler reads frames in the sample format and channel count it was set
  // up for: a frame that changed either on the way (a damaged stream) is skipped
  // rather than read past its planes.
  auto matchesInput = [&](const AVFrame* f) {
    return f->format == inputFormat && f->ch_layout.nb_channels == inputLayout.nb_channels;
  };
  auto drainDecoder = [&] {
    for (;;) {
      const int rc = avcodec_receive_frame(input.decoder.get(), frame.get());
      if (rc < 0) return;  // EAGAIN, EOF, or a damaged frame: nothing more now
      if (matchesInput(frame.get())) append(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
      av_frame_unref(frame.get());
    }
  };

  // A read error ends the stream: a damaged or cut-off file yields what was read.
  while (av_read_frame(input.format.get(), packet.get()) >= 0) {
    if (packet->stream_index == input.streamIndex) {
      // A packet the decoder refuses is skipped; the next one may decode.
      if (avcodec_send_packet(input.decoder.get(), packet.get()) == AVERROR(EAGAIN)) {
        drainDecoder();
        avcodec_send_packet(input.decoder.get(), packet.get());
      }
      drainDecoder();
    }
    av_packet_unref(packet.get());
  }
  avcodec_send_packet(input.decoder.get(), nullptr);
  drainDecoder();
  append(nullptr, 0);  // flush the resampler's tail

  // A header that promised more than the file held leaves spare capacity.
  if (out.capacity() - out.size() > out.size() / 8 + kOutputMargin) out.shrink_to_fit();
  return out;
}

}  // namespace murel
