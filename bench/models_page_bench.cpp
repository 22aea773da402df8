// The models page: built with its five install checks under 50 ms
// (BM_ModelsPageBuild), and a 500 MB download through a speech-model row from
// the loopback server that grows resident memory by under 64 MB
// (`rss_growth_MB`), never stalls the main thread over 50 ms
// (`max_main_thread_stall_ms`) and publishes at most 101 progress values
// (`progress_values`).
#include "PageRepaint.h"
#include "ResidentMemory.h"
#include "app/AppState.h"
#include "runtime/Localization.h"
#include "settings/ModelsSettingsView.h"
#include "settings/SpeechModelSettingsRow.h"
#include "speech/ModelDownloader.h"
#include "support/LoopbackHttpServer.h"
#include "support/OnboardingRig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

namespace {

using namespace murel;
using murel::bench::resetPeakResidency;
using murel::bench::statusBytes;

void BM_ModelsPageBuild(benchmark::State& state) {
  installTranslations(*QCoreApplication::instance());
  test::FakeDesktopComposition application;
  AppState& app = application.appState();
  for (auto _ : state) {
    ModelsSettingsView page(ModelsPageProvider::application(app, app.defaults()));
    page.resize(600, 700);
    page.show();
    QCoreApplication::processEvents();
    murel::bench::repaintWhole(&page);
  }
}
BENCHMARK(BM_ModelsPageBuild)->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_DownloadThroughARow(benchmark::State& state) {
  constexpr qint64 kSize = 500'000'000;
  test::FakeDesktopComposition application;
  AppState& app = application.appState();
  QTemporaryDir dir;
  test::LoopbackHttpServer server;

  ModelsPageProvider provider = ModelsPageProvider::application(app, app.defaults());
  SpeechModelDescriptor row = provider.catalog.value(2);
  row.storageDirectory = dir.path();
  row.artifacts = {row.artifacts.value(0)};
  row.artifacts[0].sizeBytes = kSize;
  server.setRoute(row.artifacts[0].remoteURL.path(), {200, {}, kSize, -1, -1});
  provider.catalog = {row};
  provider.downloadEndpoint = server.url(QStringLiteral("/"));

  double growth = 0;
  double worstStall = 0;
  int progressValues = 0;
  for (auto _ : state) {
    QFile::remove(dir.filePath(row.artifacts[0].filename));
    ModelsSettingsView page(provider);
    page.resize(600, 700);
    page.show();
    QCoreApplication::processEvents();
    SpeechModelSettingsRow* speechRow = page.speechModelRows().value(0);
    if (!speechRow || !speechRow->downloader()) {
      state.SkipWithError("no row to download through");
      return;
    }
    QObject::connect(speechRow->downloader(), &ModelDownloader::stateChanged, [&] {
      if (speechRow->downloader()->state().kind == ModelDownloader::State::Kind::Downloading) ++progressValues;
    });
    resetPeakResidency();
    const qint64 base = statusBytes("VmRSS:");

    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 worst = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      worst = std::max(worst, now - last);
      last = now;
    });
    tick.start(1);
    speechRow->startRowDownload();
    while (speechRow->isDownloading()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    tick.stop();
    worstStall = double(worst) / 1e6;
    growth = double(statusBytes("VmHWM:") - base);
    if (!speechRow->isDownloaded()) state.SkipWithError("the download did not complete");
  }
  state.counters["rss_growth_MB"] = growth / 1e6;
  state.counters["max_main_thread_stall_ms"] = worstStall;
  state.counters["progress_values"] = progressValues;
}
BENCHMARK(BM_DownloadThroughARow)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
