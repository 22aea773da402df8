#include "support/TestEnv.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

namespace murel::test {

QString tempRoot() { return qEnvironmentVariable("MUREL_TEST_ROOT"); }

QString freshDir(const QString& name) {
  static int counter = 0;
  const QString path = tempRoot() + QStringLiteral("/t%1-").arg(++counter) + name;
  QDir(path).removeRecursively();
  QDir().mkpath(path);
  return path;
}

QString buildDir() { return qEnvironmentVariable("MUREL_BUILD_DIR"); }
QString sourceDir() { return qEnvironmentVariable("MUREL_SOURCE_DIR"); }

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  QDeadlineTimer deadline(timeout);
  while (!done()) {
    if (deadline.hasExpired()) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!done()) QThread::msleep(1);
  }
  return true;
}

}  // namespace murel::test
