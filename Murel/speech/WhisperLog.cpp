#include "speech/WhisperLog.h"

#include "runtime/DiagLog.h"

#include <parakeet.h>
#include <whisper.h>

#include <QString>

#include <mutex>
#include <utility>

namespace murel {
namespace {

thread_local bool quiet = false;

void forwardWhisperLog(enum ggml_log_level level, const char* text, void*) {
  // Debug chatter and the pieces of a continued line carry nothing a report needs.
  if (quiet || !text || level == GGML_LOG_LEVEL_DEBUG || level == GGML_LOG_LEVEL_CONT) return;
  const QString line = QString::fromUtf8(text).trimmed();
  if (line.isEmpty()) return;
  DiagLog::shared().log(QStringLiteral("whisper"),
                        level >= GGML_LOG_LEVEL_WARN ? QStringLiteral("warning") : QStringLiteral("info"), line);
}

}  // namespace

void routeWhisperLogs() {
  static std::once_flag once;
  std::call_once(once, [] {
    whisper_log_set(forwardWhisperLog, nullptr);
    parakeet_log_set(forwardWhisperLog, nullptr);
  });
}

QuietWhisperLogs::QuietWhisperLogs() : wasQuiet_(std::exchange(quiet, true)) {}

QuietWhisperLogs::~QuietWhisperLogs() { quiet = wasQuiet_; }

}  // namespace murel
