#include "runtime/SystemLog.h"

#include <QMutex>

#include <syslog.h>

namespace murel {
namespace {

QMutex& sinkMutex() {
  static QMutex mutex;
  return mutex;
}

SystemLog::Sink& sink() {
  static SystemLog::Sink instance;
  return instance;
}

int priorityOf(SystemLog::Level level) {
  switch (level) {
    case SystemLog::Level::Debug: return LOG_DEBUG;
    case SystemLog::Level::Info: return LOG_INFO;
    case SystemLog::Level::Notice: return LOG_NOTICE;
    case SystemLog::Level::Error: return LOG_ERR;
    case SystemLog::Level::Fault: return LOG_CRIT;
  }
  return LOG_INFO;
}

void openOnce() {
  static const bool opened = [] {
    openlog("com.murel.app", LOG_PID | LOG_NDELAY, LOG_USER);
    return true;
  }();
  (void)opened;
}

}  // namespace

void SystemLog::write(Level level, const QString& category, const QString& message) {
  {
    QMutexLocker lock(&sinkMutex());
    if (sink()) {
      sink()(level, category, message);
      return;
    }
  }
  openOnce();
  const QByteArray line = (QLatin1Char('[') + category + QStringLiteral("] ") + message).toUtf8();
  syslog(priorityOf(level), "%s", line.constData());
}

void SystemLog::setSink(Sink newSink) {
  QMutexLocker lock(&sinkMutex());
  sink() = std::move(newSink);
}

}  // namespace murel
