// Quitting while a dictation records: the time from SIGTERM to the process's
// exit (target under 300 ms), with the recording in flight removed and nothing
// else left in the recordings folder. The real application process on the rig,
// with the selected model's files present and its hotkey typed through XTEST.
#include "../tests/app/AppProcessRig.h"

#include "keys/KeyCombo.h"
#include "runtime/UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <csignal>

namespace {

using namespace std::chrono_literals;

QString executable() {
  const QString build = qEnvironmentVariable("MUREL_BUILD_DIR");
  if (!build.isEmpty()) return build + QStringLiteral("/bin/murel");
  return QCoreApplication::applicationDirPath() + QStringLiteral("/murel");
}

bool typeKey(const QString& key) {
  QProcess xdotool;
  xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), key});
  return xdotool.waitForFinished(5000) && xdotool.exitCode() == 0;
}

void BM_QuitWhileRecording(benchmark::State& state) {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    state.SkipWithError("needs the rig");
    return;
  }
  QTemporaryDir root;
  double quitMs = 0;
  qsizetype left = 0;
  int run = 0;
  for (auto _ : state) {
    murel::apprig::PrivateBus bus(root.path() + QStringLiteral("/bus-%1").arg(run));
    murel::apprig::Home home{root.path() + QStringLiteral("/run-%1").arg(run++)};
    home.installDefaultModel();
    QDir().mkpath(home.config() + QStringLiteral("/Murel"));
    {
      murel::UserDefaults defaults(home.defaultsFile());
      defaults.setValue(QStringLiteral("hotKeyCombo"), murel::KeyCombo(murel::Key::f6, 0).rawValue());
      defaults.setValue(QStringLiteral("activationMode"), QStringLiteral("toggle"));
      defaults.setValue(QStringLiteral("soundCuesEnabled"), false);
    }
    const QDir recordings(home.data() + QStringLiteral("/Murel/Recordings"));
    auto app = murel::apprig::startApp(executable(), home, bus.address());
    const bool recording = murel::apprig::pump(
        [&] {
          if (!home.log().contains(QStringLiteral("  session  bootstrap"))) return false;
          typeKey(QStringLiteral("F6"));
          return murel::apprig::pump(
              [&] { return !recordings.entryList({QStringLiteral("*.wav")}, QDir::Files).isEmpty(); }, 1s);
        },
        30s);
    if (!recording || !murel::apprig::catchesSigterm(app->processId())) {
      state.SkipWithError("the application never recorded");
      return;
    }
    // Some speech in the file, as a real dictation would have.
    murel::apprig::pump([] { return false; }, 500ms);

    QElapsedTimer timer;
    timer.start();
    ::kill(static_cast<pid_t>(app->processId()), SIGTERM);
    app->waitForFinished(10000);
    // The slowest quit counts, and every file any run left.
    quitMs = std::max(quitMs, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    left += recordings.entryList(QDir::Files | QDir::Hidden).size();
  }
  state.counters["quit_ms"] = quitMs;
  state.counters["files_left"] = static_cast<double>(left);
  if (quitMs > 300 || left > 0) state.SkipWithError("the quit was slow or left files behind");
}
BENCHMARK(BM_QuitWhileRecording)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
