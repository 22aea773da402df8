// The settings window: opening it (content built and first frame painted), a
// page switch for every registered page, and resident memory after many
// switches. Targets: open < 200 ms, switch < 50 ms, memory after 1,000
// switches within 2 MB of that after 10.
#include "PageRepaint.h"
#include "app/DiagnosticsReport.h"
#include "app/FilePanels.h"
#include "app/SettingsNavigator.h"
#include "audio/AudioDeviceManager.h"
#include "design/Tokens.h"
#include "platform/dbus/FileManagerWorkspace.h"
#include "platform/pulse/SoundServer.h"
#include "root/SettingsWiring.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "settings/SettingsView.h"

#include <QApplication>
#include <QFile>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

#include <unistd.h>

using namespace murel;

namespace {

struct Fixture {
  platform::SoundServer sound;
  DialogFilePanels panels;
  FileManagerWorkspace workspace;
  SettingsPages pages;
  SettingsNavigator navigator;
  AudioDeviceManager audio{UserDefaults::shared(), sound.microphone(), sound.devices()};
  Fixture() {
    registerSettingsPages(
        pages, workspace,
        DiagnosticsSources{UserDefaults::shared(), sound.microphone(), sound.devices(), panels, workspace});
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void drain() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QApplication::processEvents();
}

double residentMegabytes() {
  QFile statm(QStringLiteral("/proc/self/statm"));
  if (!statm.open(QIODevice::ReadOnly)) return 0;
  const QList<QByteArray> fields = statm.readAll().split(' ');
  return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

}  // namespace

static void BM_OpenWindow(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new SettingsView(f.navigator, f.audio, f.pages));
    window.show();
    murel::bench::repaintWhole(&window);  // the first frame
    state.PauseTiming();
    window.close();
    state.ResumeTiming();
  }
  drain();
}
BENCHMARK(BM_OpenWindow)->Iterations(30)->Unit(benchmark::kMillisecond);

static void BM_PageSwitch(benchmark::State& state) {
  Fixture& f = fixture();
  const SettingsTab tab = allSettingsTabs().at(int(state.range(0)));
  const SettingsTab other = tab == SettingsTab::dashboard ? SettingsTab::about : SettingsTab::dashboard;
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* view = new SettingsView(f.navigator, f.audio, f.pages);
  layout->addWidget(view);
  window.show();
  drain();
  for (auto _ : state) {
    f.navigator.setSelectedTab(tab);
    murel::bench::repaintWhole(view);
    state.PauseTiming();
    f.navigator.setSelectedTab(other);
    drain();
    state.ResumeTiming();
  }
  state.SetLabel(settingsTabRawValue(tab).toStdString());
}
BENCHMARK(BM_PageSwitch)->DenseRange(0, 9)->Iterations(30)->Unit(benchmark::kMillisecond);

// Resident memory after 1,000 switches against after 10 (counter "growthMB").
static void BM_SwitchMemory(benchmark::State& state) {
  Fixture& f = fixture();
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* view = new SettingsView(f.navigator, f.audio, f.pages);
  layout->addWidget(view);
  window.show();
  const auto cycle = [&](int switches) {
    for (int i = 0; i < switches; ++i) {
      f.navigator.setSelectedTab(allSettingsTabs().at((i + 1) % 10));
      if (i % 10 == 0) drain();
    }
    drain();
    return residentMegabytes();
  };
  double afterTen = 0, afterThousand = 0;
  for (auto _ : state) {
    afterTen = cycle(10);
    afterThousand = cycle(1000);
  }
  state.counters["afterTenMB"] = afterTen;
  state.counters["growthMB"] = afterThousand - afterTen;
}
BENCHMARK(BM_SwitchMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Fonts::registerBundled();
  installTranslations(app);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
