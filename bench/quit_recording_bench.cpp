// Quitting while a dictation records: the time from SIGTERM to the process's
// exit (target under 300 ms), with the recording in flight removed and nothing
// else left in the recordings folder. The real application process on the rig,
// with the selected model's files present and its hotkey typed through XTEST.
// Logging out while it records (SIGTERM and the X server killed, in either
// order): the time to the exit, target under 1 s. A second launch without a
// session bus: the time until it has ended, target under 1 s.
#include "../tests/app/AppProcessRig.h"
#include "../tests/support/OwnXServer.h"

#include "keys/KeyCombo.h"
#include "runtime/UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <csignal>
#include <memory>

namespace {

using namespace std::chrono_literals;

QString executable() {
  const QString build = qEnvironmentVariable("MUREL_BUILD_DIR");
  if (!build.isEmpty()) return build + QStringLiteral("/bin/murel");
  return QCoreApplication::applicationDirPath() + QStringLiteral("/murel");
}

bool typeKey(const QString& key, const QString& display = {}) {
  QProcess xdotool;
  if (!display.isEmpty()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    xdotool.setProcessEnvironment(env);
  }
  xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), key});
  return xdotool.waitForFinished(5000) && xdotool.exitCode() == 0;
}

// A home whose application records with F6 in toggle mode.
void prepareHome(const murel::apprig::Home& home) {
  home.installDefaultModel();
  QDir().mkpath(home.config() + QStringLiteral("/Murel"));
  murel::UserDefaults defaults(home.defaultsFile());
  defaults.setValue(QStringLiteral("hotKeyCombo"), murel::KeyCombo(murel::Key::f6, 0).rawValue());
  defaults.setValue(QStringLiteral("activationMode"), QStringLiteral("toggle"));
  defaults.setValue(QStringLiteral("soundCuesEnabled"), false);
}

// The application on `display` and `busAddress`, once it records; null when it never did.
std::unique_ptr<QProcess> recordingApp(const murel::apprig::Home& home, const QString& busAddress,
                                       const QString& display) {
  QProcessEnvironment env = murel::apprig::environmentFor(home, busAddress);
  if (!display.isEmpty()) env.insert(QStringLiteral("DISPLAY"), display);
  auto app = std::make_unique<QProcess>();
  app->setProgram(executable());
  app->setProcessEnvironment(env);
  app->start();
  if (!app->waitForStarted(10000)) return nullptr;
  const QDir recordings(home.data() + QStringLiteral("/Murel/Recordings"));
  const bool recording = murel::apprig::pump(
      [&] {
        if (!home.log().contains(QStringLiteral("  session  bootstrap"))) return false;
        typeKey(QStringLiteral("F6"), display);
        return murel::apprig::pump(
            [&] { return !recordings.entryList({QStringLiteral("*.wav")}, QDir::Files).isEmpty(); }, 1s);
      },
      30s);
  if (!recording || !murel::apprig::catchesSigterm(app->processId())) return nullptr;
  return app;
}

void BM_LogoutWhileRecording(benchmark::State& state) {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    state.SkipWithError("needs the rig");
    return;
  }
  const bool sigtermFirst = state.range(0) == 1;
  QTemporaryDir root;
  double quitMs = 0;
  qsizetype left = 0;
  int run = 0;
  for (auto _ : state) {
    murel::apprig::PrivateBus bus(root.path() + QStringLiteral("/bus-%1").arg(run));
    murel::apprig::Home home{root.path() + QStringLiteral("/run-%1").arg(run++)};
    prepareHome(home);
    murel::test::OwnXServer server;
    auto app = recordingApp(home, bus.address(), server.display());
    if (!app) {
      state.SkipWithError("the application never recorded");
      return;
    }
    QElapsedTimer timer;
    timer.start();
    if (sigtermFirst) ::kill(static_cast<pid_t>(app->processId()), SIGTERM);
    server.kill();
    if (!sigtermFirst) ::kill(static_cast<pid_t>(app->processId()), SIGTERM);
    app->waitForFinished(20000);
    quitMs = std::max(quitMs, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    left += QDir(home.data() + QStringLiteral("/Murel/Recordings")).entryList(QDir::Files | QDir::Hidden).size();
  }
  state.counters["quit_ms"] = quitMs;
  state.counters["files_left"] = static_cast<double>(left);
  if (quitMs > 1000 || left > 0) state.SkipWithError("the logout was slow or left files behind");
}
// 1: SIGTERM, then the X server killed; 0: the other way round.
BENCHMARK(BM_LogoutWhileRecording)->Arg(1)->Arg(0)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SecondLaunchWithoutABus(benchmark::State& state) {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    state.SkipWithError("needs the rig");
    return;
  }
  QTemporaryDir root;
  murel::apprig::Home home{root.path() + QStringLiteral("/home")};
  prepareHome(home);
  const QString noBus = QStringLiteral("unix:path=") + root.path() + QStringLiteral("/no-bus");
  auto first = recordingApp(home, noBus, {});
  if (!first) {
    state.SkipWithError("the application never recorded");
    return;
  }
  double slowestMs = 0;
  for (auto _ : state) {
    QElapsedTimer timer;
    timer.start();
    auto second = murel::apprig::startApp(executable(), home, noBus);
    second->waitForFinished(20000);
    slowestMs = std::max(slowestMs, static_cast<double>(timer.nsecsElapsed()) / 1e6);
  }
  ::kill(static_cast<pid_t>(first->processId()), SIGTERM);
  first->waitForFinished(10000);
  state.counters["second_launch_ms"] = slowestMs;
  if (slowestMs > 1000) state.SkipWithError("the second launch took longer than a second to end");
}
BENCHMARK(BM_SecondLaunchWithoutABus)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

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
    prepareHome(home);
    const QDir recordings(home.data() + QStringLiteral("/Murel/Recordings"));
    auto app = recordingApp(home, bus.address(), {});
    if (!app) {
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
