// Recording and cue targets, under the rig's PulseAudio (scripts/bench):
//  - a recording starts in under 300 ms;
//  - the main thread never waits over 16 ms while a recording starts or stops
//    (the start awaits the sound server; the stop waits only for the file);
//  - a cue's play() returns in under a millisecond and the cue is heard on the
//    output within 200 ms;
//  - long captures drop no frames and cost under 2 % of one core
//    (MUREL_BENCH_CAPTURE_SECONDS, default 600).
#include "audio/AudioRecorder.h"
#include "audio/RecordingCuePlayer.h"
#include "platform/AudioCapture.h"
#include "platform/pulse/PulseAudio.h"
#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/PulseCuePlayback.h"
#include "runtime/AppPaths.h"
#include "runtime/DiagLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::optional<quint32> sourceID(const QString& name) {
  QProcess p;
  p.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")});
  if (!p.waitForFinished(10000) || p.exitCode() != 0) return std::nullopt;
  for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'))) {
    const QStringList cols = line.split(QLatin1Char('\t'));
    if (cols.size() > 1 && cols[1] == name) return cols[0].toUInt() + 1;
  }
  return std::nullopt;
}

double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void waitFrames(const murel::AudioRecorder& recorder, uint64_t frames) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (recorder.capturedFrames() < frames && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

QCoro::Task<void> finishInto(QCoro::Task<QString> task, QString& path, bool& done) {
  try {
    path = co_await std::move(task);
  } catch (...) {
  }
  done = true;
}

QCoro::Task<void> finishInto(QCoro::Task<void> task, bool& done) {
  try {
    co_await std::move(task);
  } catch (...) {
  }
  done = true;
}

// Runs the main loop until `done`; returns the longest stretch the loop went
// without a turn since `since` (so the call that made the task counts too).
double runLoopUntil(const bool& done, Clock::time_point since) {
  QTimer spin;  // keeps the loop turning, so every gap is a wait
  spin.start(0);
  double longest = std::chrono::duration<double>(Clock::now() - since).count();
  auto last = Clock::now();
  const auto deadline = last + std::chrono::seconds(10);
  while (!done && Clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const auto now = Clock::now();
    longest = std::max(longest, std::chrono::duration<double>(now - last).count());
    last = now;
  }
  return longest;
}

// Starts a recording and runs the main loop until it has started;
// `longestGap` is the longest the main loop was held meanwhile.
QString startWatched(murel::AudioRecorder& recorder, quint32 deviceID, double& longestGap) {
  QString path;
  bool done = false;
  const auto t0 = Clock::now();
  auto starting = recorder.startRecording(deviceID);
  auto runner = finishInto(std::move(starting), path, done);
  longestGap = runLoopUntil(done, t0);
  return path;
}

// Stops and runs the main loop until the file is closed; returns the longest
// the main loop was held meanwhile.
double stopWatched(murel::AudioRecorder& recorder) {
  bool done = false;
  const auto t0 = Clock::now();
  auto stopping = recorder.stopRecording();
  auto runner = finishInto(std::move(stopping), done);
  return runLoopUntil(done, t0);
}

murel::DiagLog& quietLog() {
  static murel::DiagLog log(std::nullopt);
  return log;
}

// One connection to the rig's sound server for every benchmark, as in the
// application; left to the end of the process (the cue streams may outlive
// the benchmarks' statics).
murel::platform::PulseAudio& pulse() {
  static auto* connection = new murel::platform::PulseAudio();
  return *connection;
}

murel::platform::PulseCapture& capture() {
  static auto* capture = new murel::platform::PulseCapture(pulse());
  return *capture;
}

void BM_RecordingStart(benchmark::State& state) {
  murel::AudioRecorder recorder(capture(), quietLog());
  const auto mic = sourceID(QStringLiteral("murel_test_mic"));
  if (!mic) {
    state.SkipWithError("no test microphone (run under scripts/rig)");
    return;
  }
  for (auto _ : state) {
    const auto t0 = Clock::now();
    double gap = 0;
    const QString path = startWatched(recorder, *mic, gap);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
    state.PauseTiming();
    stopWatched(recorder);
    QFile::remove(path);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_RecordingStart)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

// The longest the main thread is held while a recording starts (between two
// turns of its loop) and while one stops (the whole call), over starts and
// stops with a second of audio in between.
void BM_RecordingMainThreadWait(benchmark::State& state) {
  murel::AudioRecorder recorder(capture(), quietLog());
  const auto monitor = sourceID(QStringLiteral("murel_test_sink.monitor"));
  if (!monitor) {
    state.SkipWithError("no test sink (run under scripts/rig)");
    return;
  }
  // Worst and median over the iterations; the idle figures are the loop's own
  // gaps over a second with the capture running and nothing else to do: on a
  // loaded machine they show what the scheduler alone costs.
  std::vector<double> starts, stops, idles;
  for (auto _ : state) {
    double gap = 0;
    const QString path = startWatched(recorder, *monitor, gap);
    starts.push_back(gap);
    state.PauseTiming();
    // The monitor runs in real time: a second of audio, part of it still with
    // the server or in the ring when the stop comes. The loop's own longest
    // gap meanwhile is the machine's noise floor.
    bool elapsed = false;
    QTimer::singleShot(1000, [&elapsed] { elapsed = true; });
    idles.push_back(runLoopUntil(elapsed, Clock::now()));
    state.ResumeTiming();
    stops.push_back(stopWatched(recorder));
    QFile::remove(path);
  }
  const auto report = [&state](const char* name, std::vector<double>& values) {
    if (values.empty()) return;
    std::sort(values.begin(), values.end());
    state.counters[std::string("worst_") + name + "_ms"] = values.back() * 1e3;
    state.counters[std::string("median_") + name + "_ms"] = values[values.size() / 2] * 1e3;
  };
  report("start_block", starts);
  report("stop_block", stops);
  report("idle_gap", idles);
}
BENCHMARK(BM_RecordingMainThreadWait)->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_CuePlay(benchmark::State& state) {
  murel::platform::PulseCuePlayback playback(pulse());
  murel::BundledCues cues(playback);
  auto& player = cues.player();
  murel::AudioRecorder recorder(capture(), quietLog());
  const auto monitor = sourceID(QStringLiteral("murel_test_sink.monitor"));
  if (!monitor || !player.hasSound(murel::RecordingCue::Started)) {
    state.SkipWithError("no test sink or no cue sound");
    return;
  }
  double worstCall = 0;
  double worstOnset = 0;
  for (auto _ : state) {
    state.PauseTiming();
    double gap = 0;
    const QString path = startWatched(recorder, *monitor, gap);
    waitFrames(recorder, 4800);
    state.ResumeTiming();
    const auto t0 = Clock::now();
    player.play(murel::RecordingCue::Started);
    const double call = std::chrono::duration<double>(Clock::now() - t0).count();
    state.PauseTiming();
    worstCall = std::max(worstCall, call);
    // Heard: the recorded output's level reaches 0.1, an RMS of 0.01. Measured
    // from the call, so it includes the capture's own delay.
    double onset = 1.0;
    while (std::chrono::duration<double>(Clock::now() - t0).count() < 1.0) {
      if (recorder.currentLevel() >= 0.1f) {
        onset = std::chrono::duration<double>(Clock::now() - t0).count();
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    stopWatched(recorder);
    worstOnset = std::max(worstOnset, onset);
    QFile::remove(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the cue end
    state.ResumeTiming();
  }
  state.counters["worst_play_call_us"] = worstCall * 1e6;
  state.counters["worst_onset_ms"] = worstOnset * 1e3;
}
BENCHMARK(BM_CuePlay)->Iterations(10)->Unit(benchmark::kMicrosecond);

void BM_LongCapture(benchmark::State& state) {
  const int seconds = qEnvironmentVariableIsSet("MUREL_BENCH_CAPTURE_SECONDS")
                          ? qEnvironmentVariableIntValue("MUREL_BENCH_CAPTURE_SECONDS")
                          : 600;
  murel::AudioRecorder recorder(capture(), quietLog());
  // The null sink's monitor runs in real time, like a microphone.
  const auto monitor = sourceID(QStringLiteral("murel_test_sink.monitor"));
  if (!monitor) {
    state.SkipWithError("no test sink (run under scripts/rig)");
    return;
  }
  const auto source = pulse().sourceByIndex(*monitor - 1);
  for (auto _ : state) {
    double gap = 0;
    const QString path = startWatched(recorder, *monitor, gap);
    waitFrames(recorder, 1);
    const uint64_t startFrames = recorder.capturedFrames();
    const auto wall0 = Clock::now();
    const double cpu0 = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = cpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const uint64_t frames = recorder.capturedFrames() - startFrames;
    stopWatched(recorder);
    state.counters["dropped_frames"] = double(recorder.droppedFrames());
    state.counters["captured_vs_realtime"] = double(frames) / (wall * source->sampleSpec.rate);
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    QFile::remove(path);
  }
}
BENCHMARK(BM_LongCapture)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
