#include "support/TestEnv.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

// The executable starts on the rig's X server and ends cleanly on SIGTERM.
TEST(AppSmoke, StartsAndQuitsOnSigterm) {
  QProcess app;
  app.setProgram(murel::test::buildDir() + QStringLiteral("/bin/murel"));
  app.start();
  ASSERT_TRUE(app.waitForStarted(10000));
  EXPECT_FALSE(app.waitForFinished(1500)) << app.readAllStandardError().toStdString();
  ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
  ASSERT_TRUE(app.waitForFinished(10000));
  EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().toStdString();
}
