// The speech-model and trial steps of onboarding: the model step coming on
// screen (built, its five install checks, the first paint; target under 5 ms),
// the badge repaints a whole download causes (counter; target at most one per
// whole percent), and a status change painted on the trial step (target well
// inside one 16 ms frame) with what the step adds to the status notice of a
// dictation (target under 1 ms).
#include "app/AppState.h"
#include "design/EditorialComponents.h"
#include "onboarding/ModelDownloadView.h"
#include "onboarding/TestSetupView.h"
#include "runtime/Localization.h"
#include "support/LoopbackHttpServer.h"
#include "support/OnboardingRig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace murel;
using murel::test::FakeDesktopComposition;
using murel::test::LoopbackHttpServer;

namespace {

// The English texts, as the application loads them.
void loadTexts() {
  static const bool loaded = [] {
    installTranslations(*QCoreApplication::instance());
    return true;
  }();
  Q_UNUSED(loaded);
}

// Shown (show events, layout) without mapping a window on each round.
void showOffScreen(QWidget& view) {
  view.setAttribute(Qt::WA_DontShowOnScreen);
  view.resize(800, 520);
  view.show();
}

}  // namespace

static void BM_ModelStepAppears(benchmark::State& state) {
  loadTexts();
  FakeDesktopComposition parts;
  QImage canvas(800, 520, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    ModelDownloadView view(parts.appState());
    showOffScreen(view);
    view.render(&canvas);
    state.PauseTiming();
    view.hide();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ModelStepAppears)->Unit(benchmark::kMillisecond);

// Not a speed: badge changes (each one repaint) per whole percent shown, over
// a 4 MB download from the loopback server.
static void BM_DownloadBadgeRepaints(benchmark::State& state) {
  loadTexts();
  FakeDesktopComposition parts;
  LoopbackHttpServer server;
  QTemporaryDir folder;
  constexpr qint64 kSize = 4'000'000;
  SpeechModelDescriptor row = SpeechModelDescriptor::defaultModel();
  row.storageDirectory = folder.path();
  row.artifacts = {
      ModelArtifact{QStringLiteral("model.bin"), QUrl(QStringLiteral("https://models.invalid/m.bin")), kSize}};
  server.setRoute(QStringLiteral("/m.bin"), LoopbackHttpServer::Route{200, {}, kSize});
  double perPercent = 0;
  for (auto _ : state) {
    QFile::remove(folder.filePath(QStringLiteral("model.bin")));
    ModelDownloadView view(parts.appState(), {row}, server.baseUrl());
    showOffScreen(view);
    int changes = 0;
    QSet<QString> percents;
    QObject::connect(&view, &ModelDownloadView::stateChanged, &view, [&] {
      if (view.state().kind != SpeechModelSetupState::Kind::downloading) return;
      ++changes;
      percents.insert(view.setupBadge().label);
    });
    view.startModelDownload();
    while (view.state().kind == SpeechModelSetupState::Kind::downloading ||
           view.state().kind == SpeechModelSetupState::Kind::idle)
      QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    perPercent = percents.isEmpty() ? 0 : double(changes) / double(percents.size());
  }
  state.counters["badgePaintsPerPercent"] = perPercent;
}
BENCHMARK(BM_DownloadBadgeRepaints)->Iterations(1)->Unit(benchmark::kMillisecond);

static void BM_TrialStatusChangePainted(benchmark::State& state) {
  loadTexts();
  FakeDesktopComposition parts;
  AppState& app = parts.appState();
  TestSetupView view(app);
  showOffScreen(view);
  QImage canvas(view.size(), QImage::Format_ARGB32_Premultiplied);
  bool recording = false;
  for (auto _ : state) {
    recording = !recording;
    app.setStatus(recording ? AppStatus::recording() : AppStatus::ready());
    view.render(&canvas);
  }
}
BENCHMARK(BM_TrialStatusChangePainted)->Unit(benchmark::kMicrosecond);

// The status notice alone, with and without the step listening.
static void BM_StatusNoticeWithTrialStep(benchmark::State& state) {
  loadTexts();
  FakeDesktopComposition parts;
  AppState& app = parts.appState();
  std::unique_ptr<TestSetupView> view;
  if (state.range(0)) view = std::make_unique<TestSetupView>(app);
  bool recording = false;
  for (auto _ : state) {
    recording = !recording;
    app.setStatus(recording ? AppStatus::recording() : AppStatus::ready());
  }
}
BENCHMARK(BM_StatusNoticeWithTrialStep)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
