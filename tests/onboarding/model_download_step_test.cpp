// The speech-model step in the real onboarding window on the rig's X server:
// rows of small test files in temporary folders, fetched from the loopback
// HTTP server, loaded through the application state by an engine host whose
// engines load the tiny generated Whisper model (or fail to, on demand).
// Clicks are real pointer input through xdotool.
#include "app/AppState.h"
#include "design/OnboardingButtonStyle.h"
#include "design/ProgressComponents.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "onboarding/ModelDownloadView.h"
#include "onboarding/OnboardingContainerView.h"
#include "root/Composition.h"
#include "runtime/ByteCountText.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "speech/ModelDownloader.h"
#include "speech/SpeechSegmenter.h"
#include "speech/WhisperEngine.h"
#include "speech/WhisperModel.h"
#include "support/DiagLogLines.h"
#include "support/FakeClock.h"
#include "support/LoopbackHttpServer.h"
#include "support/OnboardingRig.h"
#include "support/PasteTarget.h"
#include "support/SpeechAudio.h"
#include "support/TestEnv.h"

#include <QChildEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTest>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;
using Kind = SpeechModelSetupState::Kind;

namespace {

constexpr const char* kModelFile = "model.bin";

// Calls back with every model step the container takes in, before it is shown.
class StepWatcher : public QObject {
 public:
  explicit StepWatcher(std::function<void(ModelDownloadView*)> made) : made_(std::move(made)) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::ChildAdded)
      if (auto* view = qobject_cast<ModelDownloadView*>(static_cast<QChildEvent*>(event)->child())) made_(view);
    return false;
  }

 private:
  std::function<void(ModelDownloadView*)> made_;
};

class ModelStep : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installTranslations(*QCoreApplication::instance());
    Fonts::registerBundled();
  }

  void SetUp() override {
    ASSERT_TRUE(OnboardingRig::movePointerAway());
    // One row per catalogue entry, same ids, each with one small file of its own size.
    qint64 size = 40'000;
    for (const SpeechModelDescriptor& entry : SpeechModelDescriptor::catalog()) {
      SpeechModelDescriptor row = entry;
      row.storageDirectory = freshDir(QStringLiteral("model-") + entry.id.rawValue);
      const QString path = QStringLiteral("/%1/%2").arg(entry.id.rawValue, QLatin1String(kModelFile));
      row.artifacts = {
          ModelArtifact{QLatin1String(kModelFile), QUrl(QStringLiteral("https://models.invalid") + path), size}};
      server.setRoute(path, LoopbackHttpServer::Route{200, {}, size});
      rows.append(row);
      size += 1000;
    }
    tinyModel = WhisperModel::descriptor(WhisperModel::smallEnglishQ8);
    tinyModel.storageDirectory = QFileInfo(testModelPath(QStringLiteral("tiny-whisper-51864.bin"))).path();
    tinyModel.artifacts[0].filename = QStringLiteral("tiny-whisper-51864.bin");
    tinyModel.artifacts[0].sizeBytes = QFileInfo(testModelPath(QStringLiteral("tiny-whisper-51864.bin"))).size();
  }

  // The engines of the engine host: the tiny Whisper model, or a file that is not there.
  FakeDesktopComposition& application() {
    if (!application_) {
      application_ = std::make_unique<FakeDesktopComposition>([this](const SpeechModelDescriptor& model) {
        loads.append(model.id.rawValue);
        SpeechModelDescriptor file = tinyModel;
        if (failLoads) file.artifacts[0].filename = QStringLiteral("missing.bin");
        return std::make_shared<WhisperEngine>(WhisperModel::smallEnglishQ8, file, vadModelResourcePath);
      });
    }
    return *application_;
  }
  UserDefaults& defaults() { return application().composition().defaults(); }

  OnboardingRig& rig() {
    if (!rig_) {
      rig_ = std::make_unique<OnboardingRig>(clock,
                                             OnboardingRig::Options{&application().appState(), rows, server.baseUrl()});
    }
    return *rig_;
  }
  ModelDownloadView* step() { return qobject_cast<ModelDownloadView*>(rig().container().currentStepView()); }
  // Opens the window on the model step and records every badge each model
  // step shows, from the moment it is made.
  ModelDownloadView* open() {
    if (!watcher_) {
      watcher_ = std::make_unique<StepWatcher>([this](ModelDownloadView* view) {
        seen.clear();
        QObject::connect(view, &ModelDownloadView::stateChanged, view,
                         [this, view] { seen.append(view->setupBadge().label); });
      });
      rig().container().installEventFilter(watcher_.get());
    }
    if (!rig().open(4)) return nullptr;
    return step();
  }
  const SpeechModelDescriptor& row(const QString& id) {
    for (const SpeechModelDescriptor& r : rows)
      if (r.id.rawValue == id) return r;
    return rows.first();
  }
  QAbstractButton* rowButton(ModelDownloadView* view, const QString& id) {
    for (qsizetype i = 0; i < rows.size(); ++i)
      if (rows[i].id.rawValue == id) return view->modelRows()[i];
    return nullptr;
  }
  void placeFiles(const SpeechModelDescriptor& r) {
    QFile file(QDir(r.storageDirectory).filePath(QLatin1String(kModelFile)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(LoopbackHttpServer::pattern(r.artifacts[0].sizeBytes));
  }
  bool waitFor(Kind kind, std::chrono::milliseconds timeout = 60s) {
    return waitUntil([&] { return step() && step()->state().kind == kind; }, timeout);
  }
  static QString badgeOf(ModelDownloadView* view) { return view->badge()->label(); }
  void screenshot(const QString& name) {
    // After the badge's and the buttons' fades.
    QTest::qWait(300);
    rig().screenshots(QStringLiteral("model-") + name);
  }

  FakeClock clock;
  LoopbackHttpServer server;
  QList<SpeechModelDescriptor> rows;
  SpeechModelDescriptor tinyModel;
  bool failLoads = false;
  QStringList loads;
  QStringList seen;

 private:
  std::unique_ptr<FakeDesktopComposition> application_;
  std::unique_ptr<OnboardingRig> rig_;
  std::unique_ptr<StepWatcher> watcher_;
};

// The whole of `widget` lies within what `list` shows.
bool fullyInView(const QScrollArea* list, const QWidget* widget) {
  const QRect inViewport(widget->mapTo(list->viewport(), QPoint(0, 0)), widget->size());
  return list->viewport()->rect().contains(inViewport);
}

// Turns the real mouse wheel over `list` (4 up, 5 down) until it can go no
// further, calling `step` after every turn.
bool wheelToEnd(QScrollArea* list, const char* button, const std::function<void()>& step) {
  QScrollBar* bar = list->verticalScrollBar();
  const bool down = QByteArray(button) == "5";
  if (!OnboardingRig::movePointerTo(list->viewport())) return false;
  for (int turn = 0; turn < 40; ++turn) {
    if (bar->value() == (down ? bar->maximum() : bar->minimum())) return true;
    const int before = bar->value();
    if (!xdotool({QStringLiteral("click"), QString::fromLatin1(button)})) return false;
    if (!waitUntil([&] { return bar->value() != before; }, 3s)) return false;
    step();
  }
  return false;
}

const QString kDefaultId = QStringLiteral("largeV3TurboQ8");
const QString kSmallId = QStringLiteral("smallEnglishQ8");

TEST(ModelStepBadge, PercentIsTheFractionCutTowardZero) {
  const struct {
    double fraction;
    int percent;
  } cases[] = {
      {0.0, 0},   {0.005, 0}, {0.01, 1},   {0.29, 29},  // 0.29 × 100 is 28.999… in binary
      {0.57, 57}, {0.5, 50},  {0.999, 99}, {0.9999, 99}, {1.0, 100},
  };
  for (const auto& c : cases) EXPECT_EQ(ModelDownloadView::percentOf(c.fraction), c.percent) << c.fraction;
}

TEST_F(ModelStep, DownloadsWithWholeRisingPercentsThenLoadsAndOffersNext) {
  // A larger file, so the transfer reports several percents.
  rows[1].artifacts[0].sizeBytes = 3'000'000;
  server.setRoute(QStringLiteral("/%1/%2").arg(rows[1].id.rawValue, QLatin1String(kModelFile)),
                  LoopbackHttpServer::Route{200, {}, 3'000'000});
  defaults().setValue(QLatin1String(kSelectedSpeechModelKey), rows[1].id.rawValue);
  ModelDownloadView* view = open();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->state().kind, Kind::idle);
  EXPECT_EQ(badgeOf(view), QStringLiteral("NOT DOWNLOADED"));
  EXPECT_EQ(view->sizeText()->text(), QStringLiteral("DOWNLOAD SIZE · 3 MB"));
  EXPECT_TRUE(view->downloadButton()->isVisible());
  EXPECT_FALSE(view->cancelButton()->isVisible());
  EXPECT_FALSE(view->progressBar()->isVisible());
  EXPECT_FALSE(view->nextButton()->isEnabled());
  EXPECT_TRUE(view->backButton()->isEnabled());
  screenshot(QStringLiteral("idle"));

  ASSERT_TRUE(OnboardingRig::click(view->downloadButton()));
  ASSERT_TRUE(waitFor(Kind::ready));
  EXPECT_EQ(badgeOf(view), QStringLiteral("READY"));
  EXPECT_EQ(view->badge()->leading(), EditorialStatusPill::Leading::checkmark);
  EXPECT_TRUE(view->nextButton()->isEnabled());
  EXPECT_TRUE(view->backButton()->isEnabled());
  EXPECT_FALSE(view->downloadButton()->isVisible());
  EXPECT_FALSE(view->cancelButton()->isVisible());
  EXPECT_TRUE(rows[1].isModelInstalled());
  EXPECT_EQ(loads, QStringList{rows[1].id.rawValue});
  EXPECT_EQ(application().appState().status(), AppStatus::ready());

  // DOWNLOADING n% with whole, non-decreasing n; then LOADING; then READY.
  ASSERT_GE(seen.size(), 4) << seen.join(QStringLiteral(" | ")).toStdString();
  EXPECT_EQ(seen.last(), QStringLiteral("READY"));
  EXPECT_EQ(seen[seen.size() - 2], QStringLiteral("LOADING"));
  const QRegularExpression downloading(QStringLiteral("^DOWNLOADING (\\d+)%$"));
  int previous = -1;
  for (qsizetype i = 0; i + 2 < seen.size(); ++i) {
    const auto match = downloading.match(seen[i]);
    ASSERT_TRUE(match.hasMatch()) << seen[i].toStdString();
    const int percent = match.captured(1).toInt();
    EXPECT_GE(percent, previous);
    EXPECT_LE(percent, 100);
    previous = percent;
  }
  screenshot(QStringLiteral("ready"));
}

TEST_F(ModelStep, WhileBusyRowsAndBackAreDisabledAndCancelGoesBackToNotDownloaded) {
  const QString path = QStringLiteral("/%1/%2").arg(kSmallId, QLatin1String(kModelFile));
  rows[2].artifacts[0].sizeBytes = 1'000'000;
  server.setRoute(path, LoopbackHttpServer::Route{200, {}, 1'000'000, -1, 400'000});
  defaults().setValue(QLatin1String(kSelectedSpeechModelKey), kSmallId);
  ASSERT_EQ(rows[2].id.rawValue, kSmallId);
  ModelDownloadView* view = open();
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(OnboardingRig::click(view->downloadButton()));
  ASSERT_TRUE(waitUntil([&] { return view->state().kind == Kind::downloading && view->state().progress >= 0.4; }));
  EXPECT_EQ(badgeOf(view), QStringLiteral("DOWNLOADING 40%"));
  EXPECT_TRUE(view->progressBar()->isVisible());
  EXPECT_DOUBLE_EQ(view->progressBar()->progress().value_or(-1), 0.4);
  EXPECT_TRUE(view->cancelButton()->isVisible());
  EXPECT_FALSE(view->downloadButton()->isVisible());
  EXPECT_FALSE(view->backButton()->isEnabled());
  EXPECT_FALSE(view->nextButton()->isEnabled());
  for (QAbstractButton* r : view->modelRows()) EXPECT_FALSE(r->isEnabled());
  screenshot(QStringLiteral("downloading"));

  // A click on another row changes nothing.
  ASSERT_TRUE(OnboardingRig::click(view->modelRows()[0]));
  QCoreApplication::processEvents();
  EXPECT_EQ(defaults().stringValue(QLatin1String(kSelectedSpeechModelKey)), kSmallId);
  EXPECT_EQ(view->state().kind, Kind::downloading);

  ASSERT_TRUE(OnboardingRig::click(view->cancelButton()));
  ASSERT_TRUE(waitFor(Kind::idle));
  EXPECT_EQ(badgeOf(view), QStringLiteral("NOT DOWNLOADED"));
  EXPECT_TRUE(view->downloadButton()->isVisible());
  EXPECT_FALSE(view->cancelButton()->isVisible());
  EXPECT_TRUE(view->backButton()->isEnabled());
  EXPECT_FALSE(view->hasTask());
  ASSERT_TRUE(waitUntil([&] { return !view->downloader()->isDownloading(); }));
  EXPECT_FALSE(rows[2].isModelInstalled());
  EXPECT_TRUE(loads.isEmpty());
}

TEST_F(ModelStep, LeavingMidDownloadCancelsItAndComingBackShowsIdle) {
  const QString path = QStringLiteral("/%1/%2").arg(kSmallId, QLatin1String(kModelFile));
  rows[2].artifacts[0].sizeBytes = 1'000'000;
  server.setRoute(path, LoopbackHttpServer::Route{200, {}, 1'000'000, -1, 300'000});
  defaults().setValue(QLatin1String(kSelectedSpeechModelKey), kSmallId);
  QPointer<ModelDownloadView> view = open();
  ASSERT_TRUE(view);
  ASSERT_TRUE(OnboardingRig::click(view->downloadButton()));
  ASSERT_TRUE(waitUntil([&] { return view->state().kind == Kind::downloading && view->state().progress > 0; }));
  ModelDownloader* running = view->downloader();

  // The window closes: the download ends, the step shows idle.
  rig().window().close();
  ASSERT_TRUE(waitUntil([&] { return !view || !running->isDownloading(); }));
  ASSERT_TRUE(view);
  EXPECT_EQ(view->state().kind, Kind::idle);

  // Reopened, the flow starts over; on the model step again, a new step shows idle.
  ASSERT_TRUE(rig().open(4));
  EXPECT_TRUE(view.isNull());
  ASSERT_NE(step(), nullptr);
  EXPECT_EQ(step()->state().kind, Kind::idle);
  EXPECT_EQ(badgeOf(step()), QStringLiteral("NOT DOWNLOADED"));
  EXPECT_FALSE(rows[2].isModelInstalled());

  // Leaving by the flow while busy (BACK is disabled then) cancels too.
  server.setRoute(path, LoopbackHttpServer::Route{200, {}, 1'000'000, -1, 300'000});
  view = step();
  ASSERT_TRUE(OnboardingRig::click(view->downloadButton()));
  ASSERT_TRUE(waitUntil([&] { return view->state().kind == Kind::downloading && view->state().progress > 0; }));
  // The task holds the downloader while it runs: its end lets it go.
  QPointer<ModelDownloader> held = view->downloader();
  rig().container().goToPreviousStep();
  rig().container().finishTransition();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(view.isNull());
  ASSERT_TRUE(waitUntil([&] { return held.isNull(); }));
  EXPECT_EQ(rig().container().currentStep(), 3);
  EXPECT_TRUE(loads.isEmpty());
  EXPECT_FALSE(rows[2].isModelInstalled());
}

TEST_F(ModelStep, AServerErrorShowsErrorWithItsDescription) {
  server.setRoute(QStringLiteral("/%1/%2").arg(kDefaultId, QLatin1String(kModelFile)),
                  LoopbackHttpServer::Route{500, QByteArray("boom")});
  ModelDownloadView* view = open();
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(OnboardingRig::click(view->downloadButton()));
  ASSERT_TRUE(waitFor(Kind::error));
  EXPECT_EQ(badgeOf(view), QStringLiteral("ERROR"));
  EXPECT_EQ(view->badge()->tint(), DSColor::danger);
  EXPECT_TRUE(view->errorText()->isVisible());
  EXPECT_EQ(view->errorText()->text(), QStringLiteral("Model download failed (HTTP 500)"));
  EXPECT_EQ(view->errorText()->style().color, DSColor::danger);
  EXPECT_TRUE(view->downloadButton()->isVisible());
  EXPECT_TRUE(view->backButton()->isEnabled());
  EXPECT_FALSE(view->nextButton()->isEnabled());
  EXPECT_TRUE(loads.isEmpty());
  screenshot(QStringLiteral("error"));
}

TEST_F(ModelStep, AFailedLoadShowsItsMessageAndDownloadModelLoadsAgainWithoutARequest) {
  // Files present at their sizes: the step loads on appearance, without a click.
  placeFiles(row(kDefaultId));
  failLoads = true;
  ModelDownloadView* view = open();
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(waitFor(Kind::error));
  EXPECT_EQ(seen, (QStringList{QStringLiteral("LOADING"), QStringLiteral("ERROR")}));
  EXPECT_TRUE(view->errorText()->text().startsWith(QStringLiteral("Model load failed: ")))
      << view->errorText()->text().toStdString();
  EXPECT_EQ(view->errorText()->text(), application().appState().lastError().value_or(QString()));
  EXPECT_TRUE(view->downloadButton()->isVisible());
  EXPECT_TRUE(view->backButton()->isEnabled());
  EXPECT_FALSE(view->nextButton()->isEnabled());

  failLoads = false;
  ASSERT_TRUE(OnboardingRig::click(view->downloadButton()));
  ASSERT_TRUE(waitFor(Kind::ready));
  EXPECT_TRUE(server.requests().isEmpty()) << server.requests().join(QStringLiteral(", ")).toStdString();
  EXPECT_EQ(loads, (QStringList{kDefaultId, kDefaultId}));
  EXPECT_TRUE(view->nextButton()->isEnabled());
}

TEST_F(ModelStep, PresentFilesLoadOnAppearanceAndAgainAfterComingBack) {
  placeFiles(row(kSmallId));
  defaults().setValue(QLatin1String(kSelectedSpeechModelKey), kSmallId);
  ModelDownloadView* view = open();
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(waitFor(Kind::ready));
  EXPECT_EQ(seen, (QStringList{QStringLiteral("LOADING"), QStringLiteral("READY")}));
  EXPECT_TRUE(server.requests().isEmpty());

  // Back from ready, then on again: a new step, idle at first, then loading, then ready.
  ASSERT_TRUE(OnboardingRig::click(view->backButton()));
  ASSERT_TRUE(waitUntil([&] { return rig().container().currentStep() == 3; }));
  rig().container().finishTransition();
  rig().container().goToNextStep();
  ModelDownloadView* again = step();
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, view);
  ASSERT_TRUE(waitFor(Kind::ready));
  EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(ModelStep, AnUnknownStoredIdPicksTheDefaultRowAndTheChosenRowStartsNothing) {
  placeFiles(row(kDefaultId));
  defaults().setValue(QLatin1String(kSelectedSpeechModelKey), QStringLiteral("noSuchModel"));
  ModelDownloadView* view = open();
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(waitFor(Kind::ready));
  EXPECT_EQ(view->chosenEntry().id.rawValue, kDefaultId);
  EXPECT_EQ(view->sizeText()->text(),
            QStringLiteral("DOWNLOAD SIZE · ") + fileByteCountText(row(kDefaultId).artifacts[0].sizeBytes));
  // The engine host applies the same fallback.
  EXPECT_EQ(loads, QStringList{kDefaultId});

  // Clicking the chosen row starts nothing and stores nothing.
  QAbstractButton* chosen = nullptr;
  for (QAbstractButton* r : view->modelRows())
    if (r->text() == row(kDefaultId).displayName.text()) chosen = r;
  ASSERT_NE(chosen, nullptr);
  ASSERT_TRUE(OnboardingRig::click(chosen));
  QTest::qWait(100);
  EXPECT_EQ(view->state().kind, Kind::ready);
  EXPECT_EQ(seen.size(), 2);
  EXPECT_EQ(defaults().stringValue(QLatin1String(kSelectedSpeechModelKey)), QStringLiteral("noSuchModel"));

  // Another row is stored at once; its files are missing, so it waits for a download.
  ASSERT_TRUE(OnboardingRig::click(view->modelRows()[0]));
  ASSERT_TRUE(waitFor(Kind::idle));
  EXPECT_EQ(defaults().stringValue(QLatin1String(kSelectedSpeechModelKey)), rows[0].id.rawValue);
  EXPECT_EQ(view->chosenEntry().id, rows[0].id);
  EXPECT_EQ(loads.size(), 1);
  EXPECT_FALSE(view->nextButton()->isEnabled());
}

// At the window's 800×600 the five rows do not fit: the list says so with its
// indicator, and the wheel brings every row fully into view.
TEST_F(ModelStep, EveryRowCanBeScrolledIntoViewBesideAVisibleIndicator) {
  ModelDownloadView* view = open();
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(rig().container().size(), QSize(800, 600));
  QScrollArea* list = view->modelList();
  QScrollBar* bar = list->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_TRUE(bar->isVisible());

  // The indicator is drawn: its thumb shows in the muted ink, light and dark.
  const auto [light, dark] = rig().screenshots(QStringLiteral("model-list-indicator"));
  const QRect barArea(bar->mapTo(&rig().container(), QPoint(0, 0)), bar->size());
  for (const auto& [image, scheme] : {std::pair{light, Appearance::Scheme::Light}, {dark, Appearance::Scheme::Dark}}) {
    const QColor thumb = dsColor(DSColor::inkMuted, scheme);
    int thumbPixels = 0;
    for (int y = barArea.top(); y <= barArea.bottom(); ++y) {
      for (int x = barArea.left(); x <= barArea.right(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (std::abs(c.red() - thumb.red()) + std::abs(c.green() - thumb.green()) + std::abs(c.blue() - thumb.blue()) <
            24)
          ++thumbPixels;
      }
    }
    EXPECT_GE(thumbPixels, 2 * 16) << (scheme == Appearance::Scheme::Light ? "light" : "dark");
  }

  QSet<int> shown;
  const auto note = [&] {
    for (int i = 0; i < view->modelRows().size(); ++i)
      if (fullyInView(list, view->modelRows()[i])) shown.insert(i);
  };
  note();
  ASSERT_TRUE(wheelToEnd(list, "4", note));
  EXPECT_TRUE(fullyInView(list, view->modelRows().first()));
  ASSERT_TRUE(wheelToEnd(list, "5", note));
  EXPECT_TRUE(fullyInView(list, view->modelRows().last()));
  EXPECT_EQ(shown.size(), view->modelRows().size());
}

// The status area grows with a progress bar or an error line and shrinks the
// list above it: the chosen row stays in view through every state, also after
// the user scrolled it away.
TEST_F(ModelStep, TheChosenRowStaysInViewInEveryState) {
  const QString lastId = rows.last().id.rawValue;
  const QString path = QStringLiteral("/%1/%2").arg(lastId, QLatin1String(kModelFile));
  const qint64 size = rows.last().artifacts[0].sizeBytes;
  server.setRoute(path, LoopbackHttpServer::Route{200, {}, size, -1, size / 2});
  defaults().setValue(QLatin1String(kSelectedSpeechModelKey), lastId);
  ModelDownloadView* view = open();
  ASSERT_NE(view, nullptr);
  QScrollArea* list = view->modelList();
  QAbstractButton* chosen = view->modelRows().last();
  const auto chosenInView = [&] { return fullyInView(list, chosen); };

  EXPECT_EQ(view->state().kind, Kind::idle);
  EXPECT_TRUE(chosenInView());

  ASSERT_TRUE(wheelToEnd(list, "4", [] {}));
  ASSERT_FALSE(chosenInView());
  ASSERT_TRUE(OnboardingRig::click(view->downloadButton()));
  ASSERT_TRUE(waitUntil([&] { return view->state().kind == Kind::downloading && view->state().progress > 0; }));
  EXPECT_TRUE(waitUntil(chosenInView, 3s)) << "downloading";

  ASSERT_TRUE(OnboardingRig::click(view->cancelButton()));
  ASSERT_TRUE(waitFor(Kind::idle));
  EXPECT_TRUE(waitUntil(chosenInView, 3s)) << "idle again";

  // Scrolled away, then the download fails: the error line pushes the list up.
  ASSERT_TRUE(wheelToEnd(list, "4", [] {}));
  ASSERT_FALSE(chosenInView());
  server.setRoute(path, LoopbackHttpServer::Route{302, {}, -1, -1, -1, LoopbackHttpServer::closedUrl()});
  ASSERT_TRUE(OnboardingRig::click(view->downloadButton()));
  ASSERT_TRUE(waitFor(Kind::error));
  EXPECT_EQ(view->errorText()->text(), DownloadError::network(DownloadError::Network::Refused, {}).description());
  EXPECT_TRUE(waitUntil(chosenInView, 3s)) << "error";
  screenshot(QStringLiteral("error-chosen-row-in-view"));

  server.setRoute(path, LoopbackHttpServer::Route{200, {}, size});
  ASSERT_TRUE(OnboardingRig::click(view->downloadButton()));
  ASSERT_TRUE(waitFor(Kind::ready));
  EXPECT_TRUE(waitUntil(chosenInView, 3s)) << "ready";
}

// Every real model file is served through a redirect; here the redirect leads
// to a port nothing listens on and to a name that never resolves. The step
// says what happened in a plain sentence, and the log keeps the library's words.
TEST_F(ModelStep, NetworkFailuresShowPlainSentencesAndLeaveALogLineEach) {
  using Network = DownloadError::Network;
  const QString path = QStringLiteral("/%1/%2").arg(kDefaultId, QLatin1String(kModelFile));
  const struct {
    const char* what;
    QUrl target;
    Network failure;
    const char* logged;
  } cases[] = {
      {"closed port", LoopbackHttpServer::closedUrl().resolved(QUrl(path)), Network::Refused, "error=refused"},
      {"unknown host", QUrl(QStringLiteral("http://models.murel.invalid") + path), Network::HostNotFound,
       "redirected=models.murel.invalid error=host-not-found"},
  };
  ModelDownloadView* view = open();
  ASSERT_NE(view, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QString sentence = DownloadError::network(c.failure, {}).description();
    server.setRoute(path, LoopbackHttpServer::Route{302, {}, -1, -1, -1, c.target});
    const DiagLogLines log;
    ASSERT_TRUE(OnboardingRig::click(view->downloadButton()));
    ASSERT_TRUE(waitUntil([&] { return view->state() == SpeechModelSetupState::error(sentence); }, 30s))
        << view->state().message.toStdString();
    EXPECT_TRUE(view->errorText()->isVisible());
    EXPECT_EQ(view->errorText()->text(), sentence);
    EXPECT_EQ(badgeOf(view), QStringLiteral("ERROR"));
    const QStringList lines = log.added(QStringLiteral("  models  download failed  "));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("model=%1 file=%2 ").arg(kDefaultId, QLatin1String(kModelFile))))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(QString::fromUtf8(c.logged))) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral(" detail=\""))) << lines[0].toStdString();
    EXPECT_TRUE(fullyInView(view->modelList(), rowButton(view, kDefaultId)));
  }
  screenshot(QStringLiteral("error-host-not-found"));
}

TEST(ModelStepRows, TheCatalogueSizesReadAsAFileManagerShowsThem) {
  installTranslations(*QCoreApplication::instance());
  FakeDesktopComposition application;
  ModelDownloadView view(application.appState());
  const QStringList expected{QStringLiteral("765.8 MB"), QStringLiteral("1.83 GB"), QStringLiteral("264.5 MB"),
                             QStringLiteral("874.2 MB"), QStringLiteral("668.8 MB")};
  ASSERT_EQ(view.catalog().size(), expected.size());
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  for (qsizetype i = 0; i < expected.size(); ++i) {
    const SpeechModelDescriptor& entry = view.catalog()[i];
    EXPECT_EQ(fileByteCountText(ModelDownloadView::downloadSize(entry), english), expected[i])
        << entry.id.rawValue.toStdString();
    // The row shows the same text beside the model's name.
    QStringList texts;
    for (const TextLabel* label : view.modelRows()[i]->findChildren<TextLabel*>()) texts << label->text();
    EXPECT_TRUE(texts.contains(fileByteCountText(ModelDownloadView::downloadSize(entry))))
        << texts.join('|').toStdString();
  }
  // No divider after the last row: rows and dividers alternate.
  EXPECT_EQ(view.modelRows().size(), 5);
}

}  // namespace
