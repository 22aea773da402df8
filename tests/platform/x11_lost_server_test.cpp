// The key tap when its X server goes away, as at logout. Its own binary: the
// loss is a fact of the whole process once noticed.
#include "platform/x11/X11KeyEventTap.h"
#include "platform/x11/X11KeyPressMonitor.h"
#include "platform/x11/X11Lifeline.h"
#include "runtime/Clock.h"
#include "support/OwnXServer.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

#include <memory>

using namespace murel;

// The tap's thread notices the loss first (it watches the connection). Xlib
// then keeps that connection locked for the noticing thread, so tearing the
// tap down from the main thread must not call Xlib on it: closing it waited
// for ever, and the process never ended at logout.
TEST(LostXServer, TearingDownTheKeyWatchersNeverWaitsOnIt) {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "needs the rig";
  test::OwnXServer server;
  ASSERT_FALSE(server.display().isEmpty());
  const QByteArray display = server.display().toLatin1();
  auto tap = std::make_unique<X11KeyEventTap>(Clock::suspending(), display);
  ASSERT_TRUE(tap->install([](const KeyEventTap::Delivery&) {}));
  auto monitor = std::make_unique<X11KeyPressMonitor>(
      std::set<quint32>{53}, [](quint32, quint64) {}, display);
  ASSERT_TRUE(monitor->start());

  server.kill();
  ASSERT_TRUE(test::waitUntil([] { return x11::serverLost(); }, std::chrono::seconds(60)));
  // A hang here ends the test by its time-out.
  monitor.reset();
  tap.reset();
  SUCCEED();
}
