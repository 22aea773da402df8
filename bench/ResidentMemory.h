#pragma once

#include <QFile>

namespace murel::bench {

// A memory figure of this process from /proc/self/status ("VmRSS:" resident,
// "VmHWM:" peak resident), in bytes; 0 when it cannot be read.
inline qint64 statusBytes(const char* field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith(field)) return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong() * 1024;
  }
  return 0;
}

// Starts the peak ("VmHWM:") over from the current resident size.
inline void resetPeakResidency() {
  QFile clear(QStringLiteral("/proc/self/clear_refs"));
  if (clear.open(QIODevice::WriteOnly)) clear.write("5");
}

}  // namespace murel::bench
