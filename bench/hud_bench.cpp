// The heads-up display: one waveform tick (sample and slide alone, then with
// the repaint) and the first showing of the panel (native window made, mapped
// and painted). Counters: heap allocations per sample (the level window must
// not allocate) and per tick with the repaint (Qt's paint machinery).
#include "app/HudPresentation.h"
#include "design/Tokens.h"
#include "overlays/FloatingPanel.h"
#include "overlays/HudBars.h"
#include "overlays/HudWindowController.h"
#include "runtime/Clock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> gAllocations{0};

// A clock that never fires: the benchmark drives the ticks itself.
class StillClock final : public murel::Clock {
 public:
  Duration now() const override { return Duration(0); }
  TimerId schedule(Duration, std::function<void()>) override { return ++next_; }
  void cancel(TimerId) override {}

 private:
  TimerId next_ = 0;
};

}  // namespace

void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace murel;

// The waveform's own part of a tick, off screen (where asking for a repaint
// costs nothing): read the level and slide the 24-reading window.
static void BM_WaveformSample(benchmark::State& state) {
  StillClock clock;
  float level = 0;
  MinimalBarWaveform waveform(
      [&level] {
        level = level > 1.0f ? 0.0f : level + 0.07f;
        return level;
      },
      clock);
  const long before = gAllocations.load();
  for (auto _ : state) {
    waveform.tick();
    benchmark::DoNotOptimize(waveform.levels().back());
  }
  state.counters["allocsPerSample"] = double(gAllocations.load() - before) / double(state.iterations());
}
BENCHMARK(BM_WaveformSample)->Unit(benchmark::kNanosecond);

// A whole tick on screen: the sample, Qt's repaint request and the repaint of
// the 24 bars.
static void BM_WaveformTick(benchmark::State& state) {
  StillClock clock;
  float level = 0;
  MinimalBarWaveform waveform(
      [&level] {
        level = level > 1.0f ? 0.0f : level + 0.07f;
        return level;
      },
      clock);
  waveform.resize(120, 20);
  waveform.show();
  for (int i = 0; i < 20; ++i) QApplication::processEvents();
  const long before = gAllocations.load();
  for (auto _ : state) {
    waveform.tick();
    QApplication::processEvents();  // the repaint
  }
  state.counters["allocsPerTickWithRepaint"] = double(gAllocations.load() - before) / double(state.iterations());
}
BENCHMARK(BM_WaveformTick)->Iterations(2000)->Unit(benchmark::kMicrosecond);

static void BM_FirstShow(benchmark::State& state) {
  StillClock clock;
  HudPresentation presentation;
  for (auto _ : state) {
    HudWindowController controller(clock);
    controller.show(presentation, [] { return 0.5f; });
    // Until the window is on screen and painted.
    QElapsedTimer limit;
    limit.start();
    while (!(controller.panel()->windowHandle() && controller.panel()->windowHandle()->isExposed()) &&
           limit.elapsed() < 2000)
      QApplication::processEvents();
    QApplication::processEvents();
    state.PauseTiming();
    controller.panel()->orderOut();
    QApplication::processEvents();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FirstShow)->Iterations(20)->Unit(benchmark::kMillisecond);
