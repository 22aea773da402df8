#include "AppProcessRig.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

// The executable starts on the rig's X server and ends cleanly on SIGTERM.
TEST(AppSmoke, StartsAndQuitsOnSigterm) {
  QProcess app;
  app.setProgram(murel::test::buildDir() + QStringLiteral("/bin/murel"));
  app.start();
  ASSERT_TRUE(app.waitForStarted(10000));
  ASSERT_TRUE(
      murel::test::waitUntil([&] { return murel::apprig::catchesSigterm(app.processId()); }, std::chrono::seconds(30)));
  EXPECT_FALSE(app.waitForFinished(1000)) << app.readAllStandardError().toStdString();
  ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
  ASSERT_TRUE(app.waitForFinished(10000));
  EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().toStdString();
}
