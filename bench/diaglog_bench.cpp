// What a caller pays for one diagnostics line: the call only enqueues, so it
// must stay far below the 20 µs budget even while the queue writes.
#include "runtime/DiagLog.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

static void BM_DiagLogCallerCost(benchmark::State& state) {
  QTemporaryDir dir;
  murel::DiagLog log(dir.path());
  const QString category = QStringLiteral("session");
  const QString event = QStringLiteral("transcribed");
  const QString message = QStringLiteral("model=whisper-small chars=128 ms=842");
  for (auto _ : state) log.log(category, event, message);
  state.SetItemsProcessed(state.iterations());
  log.readAll();  // drain before the folder goes away
}
BENCHMARK(BM_DiagLogCallerCost)->Iterations(20000)->Unit(benchmark::kMicrosecond);
