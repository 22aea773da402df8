#include "support/TestEnv.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

namespace {

// True once the process catches SIGTERM (its handler is installed), read from
// /proc so that a loaded machine cannot make the test kill a half-started process.
bool catchesSigterm(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (!line.startsWith("SigCgt:")) continue;
    bool ok = false;
    const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
    return ok && (mask & (1ULL << (SIGTERM - 1)));
  }
  return false;
}

}  // namespace

// The executable starts on the rig's X server and ends cleanly on SIGTERM.
TEST(AppSmoke, StartsAndQuitsOnSigterm) {
  QProcess app;
  app.setProgram(murel::test::buildDir() + QStringLiteral("/bin/murel"));
  app.start();
  ASSERT_TRUE(app.waitForStarted(10000));
  ASSERT_TRUE(murel::test::waitUntil([&] { return catchesSigterm(app.processId()); }, std::chrono::seconds(30)));
  EXPECT_FALSE(app.waitForFinished(1000)) << app.readAllStandardError().toStdString();
  ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
  ASSERT_TRUE(app.waitForFinished(10000));
  EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().toStdString();
}
