#include "runtime/Async.h"
#include "runtime/Cancellation.h"
#include "runtime/Clock.h"
#include "support/FakeClock.h"
#include "support/TestEnv.h"

#include <QCoroFuture>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using namespace std::chrono_literals;
using murel::CancellationToken;
using murel::test::FakeClock;

namespace {

QCoro::Task<void> sleepAndRecord(murel::Clock& clock, std::chrono::milliseconds d, CancellationToken token,
                                 std::vector<int>& log, int tag, bool& result) {
  result = co_await clock.sleep(d, token);
  log.push_back(tag);
}

}  // namespace

TEST(Clock, FakeClockWakesSleepersInTimeOrder) {
  FakeClock clock;
  std::vector<int> order;
  bool r1 = false, r2 = false;
  CancellationToken token;
  auto a = sleepAndRecord(clock, 300ms, token, order, 300, r1);
  auto b = sleepAndRecord(clock, 50ms, token, order, 50, r2);
  clock.advance(49ms);
  EXPECT_TRUE(order.empty());
  clock.advance(1ms);
  EXPECT_EQ(order, std::vector<int>({50}));
  clock.advance(1s);
  EXPECT_EQ(order, std::vector<int>({50, 300}));
  EXPECT_TRUE(r1 && r2);
  EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST(Clock, CancelledSleepEndsEarlyAndReportsIt) {
  FakeClock clock;
  std::vector<int> order;
  bool result = true;
  CancellationToken token;
  auto task = sleepAndRecord(clock, 300s, token, order, 1, result);
  token.cancel();
  EXPECT_EQ(order, std::vector<int>({1}));
  EXPECT_FALSE(result);
  EXPECT_EQ(clock.pendingCount(), 0u);  // the timer went with it

  bool again = true;
  auto already = sleepAndRecord(clock, 1s, token, order, 2, again);  // cancelled before it starts
  EXPECT_FALSE(again);
  EXPECT_EQ(order.size(), 2u);
}

TEST(Clock, CancelFromAnotherThreadResumesOnTheMainThread) {
  FakeClock clock;
  std::vector<int> order;
  bool result = true;
  CancellationToken token;
  auto task = sleepAndRecord(clock, 300s, token, order, 7, result);
  QThread* canceller = QThread::create([token] { token.cancel(); });
  canceller->start();
  canceller->wait();
  delete canceller;
  EXPECT_TRUE(order.empty());  // queued to the main thread, not run on the canceller
  ASSERT_TRUE(murel::test::waitUntil([&] { return !order.empty(); }));
  EXPECT_FALSE(result);
}

TEST(Clock, RealClocksSleepAndRepeat) {
  for (murel::Clock* clock : {&murel::Clock::continuous(), &murel::Clock::suspending()}) {
    const auto before = clock->now();
    bool result = false;
    std::vector<int> order;
    auto task = sleepAndRecord(*clock, 20ms, CancellationToken(), order, 1, result);
    ASSERT_TRUE(murel::test::waitUntil([&] { return !order.empty(); }));
    EXPECT_TRUE(result);
    EXPECT_GE(clock->now() - before, 20ms);

    int ticks = 0;
    murel::RepeatingTimer timer(*clock, 5ms, [&] { ++ticks; });
    timer.start();
    ASSERT_TRUE(murel::test::waitUntil([&] { return ticks >= 3; }));
    timer.stop();
    const int stoppedAt = ticks;
    murel::test::waitUntil([] { return false; }, 30ms);
    EXPECT_EQ(ticks, stoppedAt);
  }
}

TEST(SerialExecutor, RunsJobsOneAtATimeInOrderOffTheMainThread) {
  murel::SerialExecutor executor(QStringLiteral("test.serial"));
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  QThread* main = QThread::currentThread();
  std::atomic<bool> ranOnMain{false};
  QFuture<int> last;
  for (int i = 0; i < 20; ++i) {
    last = executor.run([&, i] {
      if (running.fetch_add(1) != 0) overlapped = true;
      if (QThread::currentThread() == main) ranOnMain = true;
      QThread::usleep(200);
      order.push_back(i);
      running.fetch_sub(1);
      return i;
    });
  }
  bool done = false;
  int value = -1;
  // Coroutine lambdas must not capture: the lambda object dies at the first suspension.
  auto waiter = [](QFuture<int> future, int& out, bool& finished) -> QCoro::Task<void> {
    out = co_await future;
    finished = true;
  }(last, value, done);
  ASSERT_TRUE(murel::test::waitUntil([&] { return done; }));
  EXPECT_EQ(value, 19);
  EXPECT_FALSE(overlapped);
  EXPECT_FALSE(ranOnMain);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

TEST(Async, PostToMainLoopRunsOneTurnLater) {
  bool ran = false;
  murel::postToMainLoop([&] { ran = true; });
  EXPECT_FALSE(ran);
  ASSERT_TRUE(murel::test::waitUntil([&] { return ran; }));
}
