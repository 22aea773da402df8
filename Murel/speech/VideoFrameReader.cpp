#include "speech/VideoFrameReader.h"

#include "runtime/SystemError.h"
#include "speech/FFmpegUtil.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <QFile>
#include <QFileInfo>

namespace murel {

namespace {

struct SwsDeleter {
  void operator()(SwsContext* c) const { sws_freeContext(c); }
};

[[noreturn]] void fail(const QString& path, const QString& reason) {
  throw SystemError(QStringLiteral("The video “%1” couldn’t be played: %2").arg(QFileInfo(path).fileName(), reason));
}

QSize fitted(QSize source, QSize bounds) {
  if (bounds.isEmpty()) return source;
  return source.scaled(bounds, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

}  // namespace

struct VideoFrameReader::Impl {
  QString path;
  ffmpeg::FormatInputPtr format;
  ffmpeg::CodecPtr decoder;
  ffmpeg::PacketPtr packet{av_packet_alloc()};
  ffmpeg::FramePtr frame{av_frame_alloc()};
  std::unique_ptr<SwsContext, SwsDeleter> scaler;
  int stream = -1;
  int index = 0;  // of the next picture, within the current pass
  bool draining = false;
  std::chrono::nanoseconds frameDuration{40'000'000};

  // Decodes into `frame`; false at the end of the clip.
  bool decodeOne() {
    for (;;) {
      const int received = avcodec_receive_frame(decoder.get(), frame.get());
      if (received == 0) return true;
      if (received == AVERROR_EOF) return false;
      if (received != AVERROR(EAGAIN)) fail(path, ffmpeg::errorText(received));
      if (draining) return false;
      const int read = av_read_frame(format.get(), packet.get());
      if (read < 0) {
        // End of file: hand the decoder nothing, so it gives up what it holds.
        draining = true;
        avcodec_send_packet(decoder.get(), nullptr);
        continue;
      }
      if (packet->stream_index == stream) {
        const int sent = avcodec_send_packet(decoder.get(), packet.get());
        av_packet_unref(packet.get());
        if (sent < 0 && sent != AVERROR(EAGAIN)) fail(path, ffmpeg::errorText(sent));
      } else {
        av_packet_unref(packet.get());
      }
    }
  }

  void rewind() {
    const int sought = av_seek_frame(format.get(), stream, 0, AVSEEK_FLAG_BACKWARD);
    if (sought < 0) fail(path, ffmpeg::errorText(sought));
    avcodec_flush_buffers(decoder.get());
    draining = false;
    index = 0;
  }
};

VideoFrameReader::VideoFrameReader(const QString& path) : d_(std::make_unique<Impl>()) {
  d_->path = path;
  AVFormatContext* raw = nullptr;
  const QByteArray encoded = QFile::encodeName(path);
  int rc = avformat_open_input(&raw, encoded.constData(), nullptr, nullptr);
  if (rc < 0) fail(path, ffmpeg::errorText(rc));
  d_->format.reset(raw);
  rc = avformat_find_stream_info(raw, nullptr);
  if (rc < 0) fail(path, ffmpeg::errorText(rc));
  const AVCodec* codec = nullptr;
  d_->stream = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (d_->stream < 0 || !codec) fail(path, QStringLiteral("it holds no video"));
  AVStream* stream = raw->streams[d_->stream];
  d_->decoder.reset(avcodec_alloc_context3(codec));
  if (!d_->decoder || avcodec_parameters_to_context(d_->decoder.get(), stream->codecpar) < 0)
    fail(path, QStringLiteral("its video format is not supported"));
  d_->decoder->pkt_timebase = stream->time_base;
  // One picture at a time: frame threads would only add delay to a small clip.
  d_->decoder->thread_count = 1;
  if (avcodec_open2(d_->decoder.get(), codec, nullptr) < 0 || d_->decoder->width <= 0 || d_->decoder->height <= 0)
    fail(path, QStringLiteral("its video format is not supported"));
  if (!d_->packet || !d_->frame) fail(path, QStringLiteral("out of memory"));
  const AVRational rate = av_guess_frame_rate(raw, stream, nullptr);
  if (rate.num > 0 && rate.den > 0)
    d_->frameDuration = std::chrono::nanoseconds(av_rescale(1'000'000'000LL, rate.den, rate.num));
}

VideoFrameReader::~VideoFrameReader() = default;

QSize VideoFrameReader::sourceSize() const { return QSize(d_->decoder->width, d_->decoder->height); }

VideoFrameReader::Frame VideoFrameReader::next(QSize bounds) {
  if (!d_->decodeOne()) {
    // A clip with no picture at all would loop here for ever.
    if (d_->index == 0) fail(d_->path, QStringLiteral("it holds no picture"));
    d_->rewind();
    if (!d_->decodeOne()) fail(d_->path, QStringLiteral("it holds no picture"));
  }
  AVFrame* source = d_->frame.get();
  const QSize size = fitted(QSize(source->width, source->height), bounds);
  d_->scaler.reset(sws_getCachedContext(d_->scaler.release(), source->width, source->height,
                                        static_cast<AVPixelFormat>(source->format), size.width(), size.height(),
                                        AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!d_->scaler) fail(d_->path, QStringLiteral("its pictures cannot be converted"));
  Frame result;
  result.image = QImage(size, QImage::Format_RGB32);
  uint8_t* planes[4] = {result.image.bits(), nullptr, nullptr, nullptr};
  int strides[4] = {static_cast<int>(result.image.bytesPerLine()), 0, 0, 0};
  sws_scale(d_->scaler.get(), source->data, source->linesize, 0, source->height, planes, strides);
  result.index = d_->index++;
  result.duration = d_->frameDuration;
  av_frame_unref(source);
  return result;
}

}  // namespace murel
