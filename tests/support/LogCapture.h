#pragma once

#include "runtime/SystemLog.h"

#include <QList>
#include <QStringList>

#include <mutex>

namespace murel::test {

// Captures every system-log line while it lives (from any thread) instead of
// sending it to syslog.
class LogCapture {
 public:
  struct Line {
    SystemLog::Level level;
    QString category;
    QString message;
  };

  LogCapture() {
    SystemLog::setSink([this](SystemLog::Level level, const QString& category, const QString& message) {
      std::lock_guard lock(mutex_);
      lines_.append({level, category, message});
    });
  }
  ~LogCapture() { SystemLog::setSink({}); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  QList<Line> lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

  // The lines of one category in order, each after its level ("error …", "info …").
  QStringList leveled(const QString& category) {
    std::lock_guard lock(mutex_);
    QStringList out;
    for (const Line& line : lines_) {
      if (line.category != category) continue;
      out.append((line.level == SystemLog::Level::Error ? QStringLiteral("error ") : QStringLiteral("info ")) +
                 line.message);
    }
    return out;
  }

  // The messages of one category, in order.
  QStringList messages(const QString& category) {
    std::lock_guard lock(mutex_);
    QStringList out;
    for (const Line& line : lines_) {
      if (line.category == category) out.append(line.message);
    }
    return out;
  }

 private:
  std::mutex mutex_;
  QList<Line> lines_;
};

}  // namespace murel::test
