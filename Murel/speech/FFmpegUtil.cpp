#include "speech/FFmpegUtil.h"

#include "runtime/DiagLog.h"
#include "runtime/SystemError.h"

#include <QFile>
#include <QFileInfo>

#include <cstdarg>
#include <mutex>

namespace murel::ffmpeg {

QString errorText(int code) {
  char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buffer, sizeof(buffer));
  return QString::fromUtf8(buffer);
}

namespace {

// FFmpeg's warnings and errors go to the diagnostics log, not stderr; its
// informational chatter (the AAC encoder's statistics, say) is dropped.
void forwardFFmpegLog(void* context, int level, const char* format, va_list arguments) {
  if (level > AV_LOG_WARNING) return;
  char line[1024];
  int printPrefix = 1;
  av_log_format_line2(context, level, format, arguments, line, sizeof line, &printPrefix);
  const QString text = QString::fromUtf8(line).trimmed();
  if (text.isEmpty()) return;
  DiagLog::shared().log(QStringLiteral("ffmpeg"),
                        level <= AV_LOG_ERROR ? QStringLiteral("error") : QStringLiteral("warning"), text);
}

void routeFFmpegLogs() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(forwardFFmpegLog); });
}

[[noreturn]] void cannotOpen(const QString& path, const QString& reason) {
  throw SystemError(QStringLiteral("The file “%1” couldn’t be opened: %2").arg(QFileInfo(path).fileName(), reason));
}

}  // namespace

InputFile openInput(const QString& path) {
  routeFFmpegLogs();
  InputFile input;
  AVFormatContext* raw = nullptr;
  const QByteArray encoded = QFile::encodeName(path);
  int rc = avformat_open_input(&raw, encoded.constData(), nullptr, nullptr);
  if (rc < 0) cannotOpen(path, errorText(rc));
  input.format.reset(raw);
  rc = avformat_find_stream_info(raw, nullptr);
  if (rc < 0) cannotOpen(path, errorText(rc));
  input.streamIndex = -1;
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    if (raw->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      input.streamIndex = static_cast<int>(i);
      break;
    }
  }
  return input;
}

bool openDecoder(InputFile& input) {
  const AVCodecParameters* par = input.format->streams[input.streamIndex]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (!codec) return false;
  CodecPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx || avcodec_parameters_to_context(ctx.get(), par) < 0) return false;
  ctx->pkt_timebase = input.format->streams[input.streamIndex]->time_base;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return false;
  if (ctx->ch_layout.nb_channels <= 0 || ctx->sample_rate <= 0) return false;
  if (ctx->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_default(&ctx->ch_layout, ctx->ch_layout.nb_channels);
  input.decoder = std::move(ctx);
  return true;
}

InputFile openAudioInput(const QString& path) {
  InputFile input = openInput(path);
  if (input.streamIndex < 0) cannotOpen(path, QStringLiteral("it holds no audio"));
  if (!openDecoder(input)) cannotOpen(path, QStringLiteral("its audio format is not supported"));
  return input;
}

}  // namespace murel::ffmpeg
