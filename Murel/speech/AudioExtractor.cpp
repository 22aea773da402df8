#include "speech/AudioExtractor.h"

#include "runtime/SystemError.h"
#include "speech/FFmpegUtil.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <utility>

namespace murel {

AudioExtractorError::AudioExtractorError(Kind kind, std::optional<QString> underlying, bool cancelled)
    : kind_(kind), underlying_(std::move(underlying)), cancelled_(cancelled), utf8_(description().toUtf8()) {}

AudioExtractorError AudioExtractorError::exportFailed(std::optional<QString> underlying, bool cancelled) {
  return AudioExtractorError(Kind::ExportFailed, std::move(underlying), cancelled);
}
AudioExtractorError AudioExtractorError::noAudioTrack() { return AudioExtractorError(Kind::NoAudioTrack, {}, false); }
AudioExtractorError AudioExtractorError::exportSessionCreationFailed() {
  return AudioExtractorError(Kind::ExportSessionCreationFailed, {}, false);
}

QString AudioExtractorError::description() const {
  switch (kind_) {
    case Kind::ExportFailed:
      return QStringLiteral("Audio extraction failed: ") + underlying_.value_or(QStringLiteral("Unknown error"));
    case Kind::NoAudioTrack: return QStringLiteral("No audio track found in video file");
    case Kind::ExportSessionCreationFailed: return QStringLiteral("Failed to create audio export session");
  }
  return {};
}

bool AudioExtractor::isVideoFile(const QString& path) {
  const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
  if (type.name().startsWith(QLatin1String("video/"))) return true;
  for (const QString& ancestor : type.allAncestors()) {
    if (ancestor.startsWith(QLatin1String("video/"))) return true;
  }
  return false;
}

namespace {

using namespace ffmpeg;

struct OutputDeleter {
  void operator()(AVFormatContext* c) const {
    if (c->pb) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;

// AAC in an M4A container, at the source's rate when the encoder takes it.
class AacWriter {
 public:
  AacWriter(const QString& path, const AVCodecContext& source) : path_(path) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    AVFormatContext* raw = nullptr;
    const QByteArray encoded = QFile::encodeName(path);
    if (!codec || avformat_alloc_output_context2(&raw, nullptr, "ipod", encoded.constData()) < 0 || !raw) {
      throw AudioExtractorError::exportSessionCreationFailed();
    }
    out_.reset(raw);
    enc_.reset(avcodec_alloc_context3(codec));
    if (!enc_) throw AudioExtractorError::exportSessionCreationFailed();

    int rate = 48000;
    if (codec->supported_samplerates) {
      for (const int* r = codec->supported_samplerates; *r; ++r) {
        if (*r == source.sample_rate) rate = source.sample_rate;
      }
    } else {
      rate = source.sample_rate;
    }
    const int channels = source.ch_layout.nb_channels == 1 ? 1 : 2;
    av_channel_layout_default(&enc_->ch_layout, channels);
    enc_->sample_rate = rate;
    enc_->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    enc_->bit_rate = 64000 * channels;
    enc_->time_base = AVRational{1, rate};
    if (out_->oformat->flags & AVFMT_GLOBALHEADER) enc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc_.get(), codec, nullptr) < 0) throw AudioExtractorError::exportSessionCreationFailed();

    stream_ = avformat_new_stream(out_.get(), nullptr);
    if (!stream_ || avcodec_parameters_from_context(stream_->codecpar, enc_.get()) < 0) {
      throw AudioExtractorError::exportSessionCreationFailed();
    }
    stream_->time_base = enc_->time_base;

    SwrContext* swr = nullptr;
    AVChannelLayout inLayout = source.ch_layout;  // the API takes it non-const
    if (swr_alloc_set_opts2(&swr, &enc_->ch_layout, enc_->sample_fmt, rate, &inLayout, source.sample_fmt,
                            source.sample_rate, 0, nullptr) < 0 ||
        swr_init(swr) < 0) {
      swr_free(&swr);
      throw AudioExtractorError::exportSessionCreationFailed();
    }
    swr_.reset(swr);
    fifo_.reset(av_audio_fifo_alloc(enc_->sample_fmt, channels, 4096));
    packet_.reset(av_packet_alloc());
    if (!fifo_ || !packet_) throw AudioExtractorError::exportSessionCreationFailed();
  }

  // From here on the file exists and a failure must remove it.
  void open() {
    check(avio_open(&out_->pb, QFile::encodeName(path_).constData(), AVIO_FLAG_WRITE));
    check(avformat_write_header(out_.get(), nullptr));
  }

  void write(const uint8_t** data, int samples) {
    const int room = swr_get_out_samples(swr_.get(), samples);
    if (room > 0) {
      FramePtr converted(av_frame_alloc());
      if (!converted) check(AVERROR(ENOMEM));
      converted->format = enc_->sample_fmt;
      converted->sample_rate = enc_->sample_rate;
      check(av_channel_layout_copy(&converted->ch_layout, &enc_->ch_layout));
      converted->nb_samples = room;
      check(av_frame_get_buffer(converted.get(), 0));
      const int n = check(swr_convert(swr_.get(), converted->extended_data, room, data, samples));
      if (n > 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(converted->extended_data), n) < n) {
        check(AVERROR(ENOMEM));
      }
    }
    encodeFromFifo(false);
  }

  void finish() {
    write(nullptr, 0);  // the resampler's tail
    encodeFromFifo(true);
    sendFrame(nullptr);
    check(av_write_trailer(out_.get()));
    avio_closep(&out_->pb);
  }

 private:
  static int check(int rc) {
    if (rc < 0) throw AudioExtractorError::exportFailed(errorText(rc));
    return rc;
  }

  void encodeFromFifo(bool final) {
    const int frameSize = enc_->frame_size > 0 ? enc_->frame_size : 1024;
    while (av_audio_fifo_size(fifo_.get()) >= frameSize || (final && av_audio_fifo_size(fifo_.get()) > 0)) {
      const int n = std::min(frameSize, av_audio_fifo_size(fifo_.get()));
      FramePtr frame(av_frame_alloc());
      if (!frame) check(AVERROR(ENOMEM));
      frame->nb_samples = n;
      frame->format = enc_->sample_fmt;
      frame->sample_rate = enc_->sample_rate;
      check(av_channel_layout_copy(&frame->ch_layout, &enc_->ch_layout));
      check(av_frame_get_buffer(frame.get(), 0));
      if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data), n) < n) check(AVERROR(EIO));
      frame->pts = nextPts_;
      nextPts_ += n;
      sendFrame(frame.get());
    }
  }

  void sendFrame(AVFrame* frame) {
    check(avcodec_send_frame(enc_.get(), frame));
    for (;;) {
      const int rc = avcodec_receive_packet(enc_.get(), packet_.get());
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
      check(rc);
      av_packet_rescale_ts(packet_.get(), enc_->time_base, stream_->time_base);
      packet_->stream_index = stream_->index;
      check(av_interleaved_write_frame(out_.get(), packet_.get()));
    }
  }

  QString path_;
  OutputPtr out_;
  CodecPtr enc_;
  AVStream* stream_ = nullptr;
  SwrPtr swr_;
  FifoPtr fifo_;
  PacketPtr packet_;
  int64_t nextPts_ = 0;
};

}  // namespace

QString AudioExtractor::extractAudioBlocking(const QString& sourcePath, const CancellationToken& cancel) {
  InputFile input = openInput(sourcePath);
  if (input.streamIndex < 0) throw AudioExtractorError::noAudioTrack();
  if (!openDecoder(input)) throw AudioExtractorError::exportSessionCreationFailed();

  QString outPath = QDir::tempPath() + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                    QStringLiteral(".m4a");
  AacWriter writer(outPath, *input.decoder);
  try {
    writer.open();
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame) throw AudioExtractorError::exportFailed(errorText(AVERROR(ENOMEM)));
    auto drain = [&] {
      while (avcodec_receive_frame(input.decoder.get(), frame.get()) >= 0) {
        writer.write(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        av_frame_unref(frame.get());
      }
    };
    for (;;) {
      if (cancel.isCancelled()) {
        throw AudioExtractorError::exportFailed(QString::fromUtf8(OperationCancelled().what()), true);
      }
      const int rc = av_read_frame(input.format.get(), packet.get());
      if (rc == AVERROR_EOF) break;
      if (rc < 0) throw AudioExtractorError::exportFailed(errorText(rc));
      if (packet->stream_index == input.streamIndex) {
        // A damaged packet is skipped, as a player would.
        if (avcodec_send_packet(input.decoder.get(), packet.get()) == AVERROR(EAGAIN)) {
          drain();
          avcodec_send_packet(input.decoder.get(), packet.get());
        }
        drain();
      }
      av_packet_unref(packet.get());
    }
    avcodec_send_packet(input.decoder.get(), nullptr);
    drain();
    writer.finish();
  } catch (...) {
    QFile::remove(outPath);
    throw;
  }
  return outPath;
}

QCoro::Task<QString> AudioExtractor::extractAudio(QString sourcePath, CancellationToken cancel) {
  using Outcome = std::pair<QString, std::exception_ptr>;
  QFuture<Outcome> future = QtConcurrent::run([sourcePath, cancel]() -> Outcome {
    try {
      return {extractAudioBlocking(sourcePath, cancel), nullptr};
    } catch (...) {
      return {QString(), std::current_exception()};
    }
  });
  const Outcome outcome = co_await future;
  if (outcome.second) std::rethrow_exception(outcome.second);
  co_return outcome.first;
}

}  // namespace murel
