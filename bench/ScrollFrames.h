#pragma once
// Frames of a settings page scrolled from top to bottom, as the benchmarks of
// the long list pages measure them.

#include "design/SettingsComponents.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>

namespace murel::bench {

inline double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// One frame is a wheel-sized scroll step of `scroller` and the repaint it
// causes, the backing store flushed to the X server; each pass scrolls from
// top to bottom. Counters: worst_frame_ms, the slowest step of any pass (wall
// clock); worst_frame_cpu_ms, the most CPU time of a step; mean_frame_ms;
// frames per pass.
inline void scrollFrames(benchmark::State& state, SettingsPageLayout* scroller) {
  QScrollBar* bar = scroller->verticalScrollBar();
  constexpr int kStep = 60;  // three wheel lines
  double worstWall = 0;
  double worstCpu = 0;
  double sumWall = 0;
  int frames = 0;
  for (auto _ : state) {
    bar->setValue(0);
    QApplication::processEvents();
    for (int value = kStep; value <= bar->maximum() + kStep - 1; value += kStep) {
      QElapsedTimer wall;
      const double cpu = threadCpuMs();
      wall.start();
      bar->setValue(std::min(value, bar->maximum()));
      QApplication::processEvents();  // the repaint and its flush
      const double ms = double(wall.nsecsElapsed()) / 1e6;
      worstWall = std::max(worstWall, ms);
      worstCpu = std::max(worstCpu, threadCpuMs() - cpu);
      sumWall += ms;
      ++frames;
    }
  }
  state.counters["worst_frame_ms"] = worstWall;
  state.counters["worst_frame_cpu_ms"] = worstCpu;
  state.counters["mean_frame_ms"] = frames ? sumWall / frames : 0;
  state.counters["frames"] = benchmark::Counter(frames, benchmark::Counter::kAvgIterations);
}

}  // namespace murel::bench
