#pragma once

#include <QString>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <memory>
#include <type_traits>

// Small RAII helpers over the FFmpeg C API shared by the sample loader and the
// audio extractor.
namespace murel::ffmpeg {

struct FormatInputDeleter {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrDeleter {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
// The sample queue's type, as its allocator returns it.
using AudioFifo = std::remove_pointer_t<decltype(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLT, 1, 1))>;
struct FifoDeleter {
  void operator()(AudioFifo* f) const { av_audio_fifo_free(f); }
};

using FormatInputPtr = std::unique_ptr<AVFormatContext, FormatInputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using FifoPtr = std::unique_ptr<AudioFifo, FifoDeleter>;

QString errorText(int code);

// An opened media file.
struct InputFile {
  FormatInputPtr format;
  int streamIndex = -1;  // the first audio stream, or -1
  CodecPtr decoder;      // opened decoder for that stream
};

// Opens the file and probes its streams; throws SystemError when it cannot be read
// as media.
InputFile openInput(const QString& path);
// openInput() plus the first audio stream's decoder; throws SystemError when the
// file holds no decodable audio.
InputFile openAudioInput(const QString& path);
// Opens the decoder for input.streamIndex; false when none fits.
bool openDecoder(InputFile& input);

}  // namespace murel::ffmpeg
