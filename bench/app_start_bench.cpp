// The application process with no model loaded: time from launch to its tray
// icon (target under 1.5 s), processor use while idle (under 1 %), resident
// memory (under 120 MB) and the time a quit takes; once waiting for setup, once
// set up (the selected model's files present, the application state started,
// the model itself not loaded). Runs on the rig (scripts/bench).
#include "../tests/app/AppProcessRig.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <unistd.h>
#include <csignal>

namespace {

using namespace std::chrono_literals;

QString executable() {
  const QString build = qEnvironmentVariable("MUREL_BUILD_DIR");
  if (!build.isEmpty()) return build + QStringLiteral("/bin/murel");
  return QCoreApplication::applicationDirPath() + QStringLiteral("/murel");
}

// User plus system time of a process, in clock ticks.
qint64 cpuTicks(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return -1;
  const QByteArray text = stat.readAll();
  const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
  // After the name: state is field 3, utime 14 and stime 15.
  return fields.value(11).toLongLong() + fields.value(12).toLongLong();
}

double residentMegabytes(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
  return -1;
}

void BM_AppStartIdleQuit(benchmark::State& state) {
  QTemporaryDir root;
  double startMs = 0, idlePercent = 0, rssMb = 0, quitMs = 0;
  for (auto _ : state) {
    murel::apprig::PrivateBus bus(root.path() + QStringLiteral("/bus"));
    murel::apprig::FakeTrayWatcher watcher(bus.connection());
    murel::apprig::Home home{root.path() + QStringLiteral("/run-%1").arg(state.range(0))};
    if (state.range(0) == 1) home.installDefaultModel();
    QElapsedTimer timer;
    timer.start();
    auto app = murel::apprig::startApp(executable(), home, bus.address());
    if (!murel::apprig::pump([&] { return !watcher.items().isEmpty(); }, 15s)) {
      state.SkipWithError("the tray icon was never registered");
      return;
    }
    startMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;

    // Let start-up settle, then watch it idle.
    murel::apprig::pump([] { return false; }, 1s);
    const qint64 ticksBefore = cpuTicks(app->processId());
    QElapsedTimer idle;
    idle.start();
    murel::apprig::pump([] { return false; }, 3s);
    const qint64 ticks = cpuTicks(app->processId()) - ticksBefore;
    idlePercent = 100.0 * static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK)) /
                  (static_cast<double>(idle.elapsed()) / 1000.0);
    rssMb = residentMegabytes(app->processId());

    timer.restart();
    ::kill(static_cast<pid_t>(app->processId()), SIGTERM);
    app->waitForFinished(10000);
    quitMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  }
  state.counters["start_to_tray_ms"] = startMs;
  state.counters["idle_cpu_percent"] = idlePercent;
  state.counters["rss_mb"] = rssMb;
  state.counters["quit_ms"] = quitMs;
  if (startMs > 1500 || idlePercent > 1.0 || rssMb > 120)
    state.SkipWithError("a start, idle or memory target was missed");
}
BENCHMARK(BM_AppStartIdleQuit)
    ->ArgName("setUp")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
