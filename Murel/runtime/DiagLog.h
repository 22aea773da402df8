#pragma once

#include "runtime/Async.h"

#include <QString>

#include <optional>

namespace murel {

// The application's own plain-text diagnostics log: one short line per notable
// event, in "murel.log" (rotated once to "murel.1.log") so a user can send it
// with the diagnostics report. Logging never blocks and never reports failure.
class DiagLog {
 public:
  static constexpr qint64 kMaxBytes = 524288;

  // The process-wide log in Murel's "Logs" folder, created on first use.
  static DiagLog& shared();

  // A log whose "Logs" folder lies in `parentFolder`; no folder means an inert log.
  explicit DiagLog(std::optional<QString> parentFolder);
  ~DiagLog();
  DiagLog(const DiagLog&) = delete;
  DiagLog& operator=(const DiagLog&) = delete;

  // Any thread. Takes the time of the call and queues the write.
  void log(const QString& category, const QString& event, const QString& message = QString());

  // Waits until every line logged before the call is written. Never call it from the queue.
  void flush();

  // The older file's text followed by the current file's; "" when neither can be
  // read. Waits for every line logged before the call. Never call it from the queue.
  QString readAll();

  // The current file, absent when the log is inert.
  const std::optional<QString>& filePath() const { return fileUrl_; }
  const std::optional<QString>& previousFilePath() const { return previousFileUrl_; }

 private:
  void write(const QString& line);
  void rotateIfNeeded();

  SerialExecutor queue_{QStringLiteral("com.murel.diaglog")};
  std::optional<QString> fileUrl_;
  std::optional<QString> previousFileUrl_;
};

}  // namespace murel
