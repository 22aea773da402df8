// Counts constructions against destructions of a temporary inside a co_await
// expression. GCC 12 destroys a lambda with a non-trivial capture, or an
// awaiter constructed right in the expression, once more than it made it (a
// reference count released twice). The project builds with GCC 12 and names
// such temporaries first (tests/coroutines/check_co_await.py keeps it so): the
// named forms must balance; the unnamed ones must balance on any other
// compiler and are expected to miscount on GCC 12, so a compiler that changes
// either shows here.
#include "support/AwaitTask.h"

#include <QCoroTask>
#include <QTimer>

#include <gtest/gtest.h>

#include <coroutine>

namespace {

struct Counts {
  int made = 0;
  int destroyed = 0;
};
Counts counts;

struct Counted {
  Counted() { ++counts.made; }
  Counted(const Counted&) { ++counts.made; }
  Counted(Counted&&) noexcept { ++counts.made; }
  Counted& operator=(const Counted&) = default;
  ~Counted() { ++counts.destroyed; }
};

// Suspends and is resumed from the event loop, as the application's awaiters are.
struct CountingAwaiter {
  Counted counted;
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> handle) {
    QTimer::singleShot(0, [handle] { handle.resume(); });
  }
  int await_resume() const noexcept { return 1; }
};

template <class F>
QCoro::Task<int> runLater(F job) {
  CountingAwaiter later;
  co_await later;
  co_return job();
}

QCoro::Task<int> awaiterInExpression() { co_return co_await CountingAwaiter{}; }  // unnamed on purpose
QCoro::Task<int> namedAwaiter() {
  CountingAwaiter awaiter;
  co_return co_await awaiter;
}
QCoro::Task<int> lambdaInExpression() {
  Counted captured;
  co_return co_await runLater([captured] { return 2; });  // unnamed on purpose
}
QCoro::Task<int> namedLambda() {
  Counted captured;
  auto job = [captured] { return 2; };
  co_return co_await runLater(std::move(job));
}

TEST(CoroutineTemporaries, EveryTemporaryIsDestroyedOnceForEachConstruction) {
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
  constexpr int kExtraDestructionsUnnamed = 1;
#else
  constexpr int kExtraDestructionsUnnamed = 0;
#endif
  struct Case {
    const char* form;
    QCoro::Task<int> (*run)();
    int result;
    int extraDestructions;
  };
  const Case cases[] = {
      {"awaiter constructed in the co_await", awaiterInExpression, 1, kExtraDestructionsUnnamed},
      {"named awaiter", namedAwaiter, 1, 0},
      {"lambda with a capture in the co_await", lambdaInExpression, 2, kExtraDestructionsUnnamed},
      {"named lambda", namedLambda, 2, 0},
  };
  for (const Case& c : cases) {
    counts = {};
    EXPECT_EQ(murel::test::awaitTask(c.run()), c.result) << c.form;
    EXPECT_GT(counts.made, 0) << c.form;
    EXPECT_EQ(counts.destroyed - counts.made, c.extraDestructions) << c.form;
  }
}

}  // namespace
