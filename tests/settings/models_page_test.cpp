// The models page in a real settings window: speech-model rows downloading
// kilobyte stand-ins of the catalogue's files from the loopback server, the
// model switch through a real application state, the spoken-language picker,
// the language-model card and the model-memory menu, clicked with the real
// pointer where clicks matter.
#include "../app/SessionRig.h"

#include "app/AppState.h"
#include "app/EngineHostLink.h"
#include "design/EditorialComponents.h"
#include "design/ProgressComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "enhance/TextEnhancer.h"
#include "hotkeys/HotKeyService.h"
#include "runtime/ByteCountText.h"
#include "runtime/Localization.h"
#include "settings/ModelPickers.h"
#include "settings/ModelsSettingsView.h"
#include "settings/SpeechModelSettingsRow.h"
#include "speech/EngineHost.h"
#include "speech/LanguageModelFile.h"
#include "speech/ModelDownloader.h"
#include "speech/SpeechSegmenter.h"
#include "speech/SpokenLanguage.h"
#include "speech/WhisperEngine.h"
#include "speech/WhisperModel.h"
#include "support/DiagLogLines.h"
#include "support/FakeClock.h"
#include "support/FakeDesktop.h"
#include "support/FakeKeyEventTap.h"
#include "support/LoopbackHttpServer.h"
#include "support/PasteTarget.h"
#include "support/SettingsWindowRig.h"
#include "support/SpeechAudio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;
using Route = LoopbackHttpServer::Route;

namespace {

const QString kSmall = QStringLiteral("smallEnglishQ8");
const QString kTurbo = QStringLiteral("largeV3TurboQ8");
const QString kParakeet = QStringLiteral("parakeetTDT0_6BV3Q8");
const QString kQwenSmall = QStringLiteral("qwen3ASR0_6BQ5");
const QString kQwenLarge = QStringLiteral("qwen3ASR1_7BQ5");

// The server path of a file's own location (path and query).
QString remotePath(const ModelArtifact& artifact) {
  const QUrl& url = artifact.remoteURL;
  return url.path(QUrl::FullyEncoded) + (url.hasQuery() ? QStringLiteral("?") + url.query(QUrl::FullyEncoded) : "");
}

void writeSized(const QString& path, qint64 size) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_TRUE(file.resize(size));
}

QString filePath(const SpeechModelDescriptor& d, int artifact = 0) {
  return d.storageDirectory + QLatin1Char('/') + d.artifacts[artifact].filename;
}

// The catalogue with every file a few kilobytes large, each model in a folder of its own.
QList<SpeechModelDescriptor> kilobyteCatalog() {
  QList<SpeechModelDescriptor> entries = SpeechModelDescriptor::catalog();
  for (int i = 0; i < entries.size(); ++i) {
    entries[i].storageDirectory = freshDir(QStringLiteral("models-") + entries[i].id.rawValue);
    for (int j = 0; j < entries[i].artifacts.size(); ++j) entries[i].artifacts[j].sizeBytes = 4000 + 1000 * i + 100 * j;
  }
  return entries;
}

QString timedOutSentence() { return DownloadError::network(DownloadError::Network::TimedOut, {}).description(); }

// Scrolls the page so that `widget` is on screen.
void bringIntoView(QWidget* widget) {
  settle(50);  // a layout change (the banner coming or going) first
  for (QWidget* w = widget; w; w = w->parentWidget()) {
    if (auto* scroll = qobject_cast<SettingsPageLayout*>(w)) {
      scroll->ensureWidgetVisible(widget, 0, 60);
      break;
    }
  }
  settle(80);
}

bool click(QWidget* widget) {
  bringIntoView(widget);
  return clickCentre(widget);
}

// Opens a capsule's menu with the pointer and picks the entry labelled `label`.
bool pickFromMenu(CapsuleMenuButton* button, const QString& label) {
  if (!click(button)) return false;
  if (!waitUntil([&] { return button->menu()->isVisible(); }, 3s)) return false;
  settle(100);
  for (QAction* action : button->menu()->actions()) {
    if (action->text() != label) continue;
    const bool clicked = clickAt(button->menu(), button->menu()->actionGeometry(action).center());
    settle(150);
    return clicked;
  }
  return false;
}

class ModelsPage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(installTranslations(*QCoreApplication::instance())); }

  void SetUp() override {
    pages.set(SettingsTab::models, [this](const SettingsPageContext&, QWidget* parent) -> QWidget* {
      return new ModelsSettingsView(provider(), parent);
    });
  }
  void TearDown() override { window.reset(); }

  virtual AppState& appState() { return state; }
  ModelsPageProvider provider() {
    return ModelsPageProvider{appState(),  rig.defaults, catalog, languageModel, languageModelDir,
                              lmInstalled, lmDelete,     clock,   clock,         server.baseUrl()};
  }
  void open() { window = std::make_unique<SettingsWindowRig>(SettingsTab::models, pages); }
  ModelsSettingsView* page() { return qobject_cast<ModelsSettingsView*>(window->view().currentPage()); }
  const SpeechModelDescriptor& entry(const QString& id) const {
    for (const SpeechModelDescriptor& d : catalog)
      if (d.id.rawValue == id) return d;
    throw std::runtime_error("no such entry");
  }
  SpeechModelSettingsRow* row(const QString& id) {
    for (SpeechModelSettingsRow* r : page()->speechModelRows())
      if (r->descriptor().id.rawValue == id) return r;
    return nullptr;
  }
  void install(const QString& id) {
    const SpeechModelDescriptor& d = entry(id);
    for (int i = 0; i < d.artifacts.size(); ++i) writeSized(filePath(d, i), d.artifacts[i].sizeBytes);
  }
  void serve(const QString& id, Route route) {
    for (const ModelArtifact& a : entry(id).artifacts) server.setRoute(remotePath(a), route);
  }
  static Route generated(qint64 size) { return Route{200, {}, size, -1, -1}; }
  // What the row's trailing side offers now.
  static QString trailingState(SpeechModelSettingsRow* r) {
    SpeechModelTrailing* t = r->trailing();
    if (t->percentage()->isVisibleTo(t)) return t->percentage()->text();
    if (t->downloadButton()->isVisibleTo(t)) return QStringLiteral("DOWNLOAD");
    if (t->activePill()->isVisibleTo(t)) return QStringLiteral("ACTIVE");
    if (t->useButton()->isVisibleTo(t) && t->deleteButton()->isVisibleTo(t)) return QStringLiteral("USE DELETE");
    return QStringLiteral("?");
  }
  QString bannerText() { return page()->errorBanner()->isVisibleTo(page()) ? *page()->errorMessage() : QString(); }
  void noRawKeys() {
    const QStringList texts = visibleTexts(page());
    EXPECT_TRUE(rawKeysAmong(texts).isEmpty()) << rawKeysAmong(texts).join(" | ").toStdString();
  }
  void screenshot(const QString& name, QWidget* focus = nullptr) {
    if (focus) bringIntoView(focus);
    noRawKeys();
    for (auto scheme : {Appearance::Scheme::Light, Appearance::Scheme::Dark})
      settingsScreenshot(window->window(), QStringLiteral("models-") + name, scheme);
  }
  static QStringList partialsIn(const QString& dir) {
    return QDir(dir).entryList(QStringList{QStringLiteral("*.partial")}, QDir::Files);
  }

  SessionRig rig;
  FakeClock keyClock;
  FakeKeyEventTap tap{keyClock};
  HotKeyService hotKeys{rig.defaults, tap};
  TranscriptProcessor processor{[](QString text, QString) -> QCoro::Task<QString> { co_return text; },
                                [this] { return rig.dictionary.entries(); }};
  AppState state{AppState::Parts{
      rig.defaults, rig.modes, rig.dictionary, rig.engine, processor, rig.session, hotKeys, rig.diag, {}, {}, {}}};
  LoopbackHttpServer server;
  FakeClock clock;
  QList<SpeechModelDescriptor> catalog = kilobyteCatalog();
  ModelArtifact languageModel{QStringLiteral("gemma-4-E4B-it.litertlm"), gemmaModelArtifact().remoteURL, 6000};
  QString languageModelDir = freshDir(QStringLiteral("language-model"));
  // The stand-in file's install test; its deletion is only ever tried on the real file.
  std::function<bool()> lmInstalled = [this] { return isArtifactPresent(languageModel, languageModelDir); };
  std::function<void()> lmDelete = [] { FAIL() << "the stand-in is never deleted"; };
  SettingsPages pages;
  std::unique_ptr<SettingsWindowRig> window;
};

// Downloads

TEST_F(ModelsPage, AWholeAnswerOf200Or206EndsInUseAndDelete) {
  serve(kSmall, generated(entry(kSmall).artifacts[0].sizeBytes));
  serve(kParakeet, Route{206, {}, entry(kParakeet).artifacts[0].sizeBytes, -1, -1});
  open();
  screenshot(QStringLiteral("nothing-installed"));
  for (const QString& id : {kSmall, kParakeet}) {
    SCOPED_TRACE(id.toStdString());
    EXPECT_EQ(trailingState(row(id)), "DOWNLOAD");
    ASSERT_TRUE(click(row(id)->trailing()->downloadButton()));
    ASSERT_TRUE(waitUntil([&] { return trailingState(row(id)) == "USE DELETE"; }));
    const SpeechModelDescriptor& d = entry(id);
    EXPECT_EQ(QFileInfo(filePath(d)).size(), d.artifacts[0].sizeBytes);
    EXPECT_TRUE(partialsIn(d.storageDirectory).isEmpty());
    EXPECT_FALSE(row(id)->progressBar()->isVisibleTo(page()));
  }
  EXPECT_EQ(server.requests().size(), 2);
  for (const QByteArray& head : server.requestHeads())
    EXPECT_FALSE(head.toLower().contains("\r\nrange:")) << head.data();
  EXPECT_EQ(bannerText(), "");
}

TEST_F(ModelsPage, AFailedDownloadEndsInTheBannerAndLeavesNoPartial) {
  const qint64 size = entry(kSmall).artifacts[0].sizeBytes;
  const struct {
    const char* what;
    Route route;
    const char* banner;
  } cases[] = {
      {"refused", Route{404, QByteArrayLiteral("Not Found"), -1, -1, -1}, "Model download failed (HTTP 404)"},
      {"dropped connection", Route{200, {}, size / 2, size, -1}, "Downloaded model is incomplete"},
      {"wrong size", Route{200, {}, size - 1, -1, -1}, "Downloaded model is incomplete"},
  };
  open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    serve(kSmall, c.route);
    ASSERT_TRUE(click(row(kSmall)->trailing()->downloadButton()));
    ASSERT_TRUE(waitUntil([&] { return !row(kSmall)->isDownloading(); }));
    EXPECT_EQ(bannerText(), c.banner);
    EXPECT_EQ(trailingState(row(kSmall)), "DOWNLOAD");
    EXPECT_TRUE(QDir(entry(kSmall).storageDirectory).entryList(QDir::Files).isEmpty());
  }
  screenshot(QStringLiteral("error-banner"), page()->errorBanner());

  // A failure of a model's second file keeps its first, already in place.
  const SpeechModelDescriptor& qwen = entry(kQwenSmall);
  server.setRoute(remotePath(qwen.artifacts[0]), generated(qwen.artifacts[0].sizeBytes));
  server.setRoute(remotePath(qwen.artifacts[1]), Route{404, {}, -1, -1, -1});
  row(kQwenSmall)->startRowDownload();
  ASSERT_TRUE(waitUntil([&] { return !row(kQwenSmall)->isDownloading(); }));
  EXPECT_EQ(bannerText(), "Model download failed (HTTP 404)");
  EXPECT_EQ(QFileInfo(filePath(qwen, 0)).size(), qwen.artifacts[0].sizeBytes);
  EXPECT_FALSE(QFileInfo::exists(filePath(qwen, 1)));

  // DISMISS hides the banner.
  ASSERT_TRUE(click(page()->errorBanner()->dismissButton()));
  EXPECT_FALSE(page()->errorMessage());
  EXPECT_FALSE(page()->errorBanner()->isVisibleTo(page()));
}

// The banner sits below the five speech models, under the fold of the 700 px
// window: a failure scrolls it into view. Network failures read as plain
// sentences there (the model files come through a redirect, here to a port
// nothing listens on and to a name that never resolves); the library's words
// go to the diagnostics log.
TEST_F(ModelsPage, ANetworkFailureScrollsItsPlainSentenceIntoView) {
  using Network = DownloadError::Network;
  const QString path = remotePath(entry(kSmall).artifacts[0]);
  const struct {
    const char* what;
    QUrl target;
    Network failure;
    const char* logged;
  } cases[] = {
      {"closed port", LoopbackHttpServer::closedUrl().resolved(QUrl(path)), Network::Refused, "error=refused"},
      {"unknown host", QUrl(QStringLiteral("http://models.murel.invalid") + path), Network::HostNotFound,
       "error=host-not-found"},
  };
  open();
  auto* scroll = page()->findChild<SettingsPageLayout*>();
  ASSERT_NE(scroll, nullptr);
  ModelsErrorBanner* banner = page()->errorBanner();
  const auto bannerInView = [&] {
    if (!banner->isVisible()) return false;
    const QRect area(banner->mapTo(scroll->viewport(), QPoint(0, 0)), banner->size());
    return scroll->viewport()->rect().contains(area);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    scroll->verticalScrollBar()->setValue(0);
    if (banner->isVisible()) EXPECT_FALSE(bannerInView()) << "the banner is below the fold";
    serve(kSmall, Route{302, {}, -1, -1, -1, c.target});
    const DiagLogLines log;
    ASSERT_TRUE(click(row(kSmall)->trailing()->downloadButton()));
    ASSERT_TRUE(waitUntil([&] { return !row(kSmall)->isDownloading(); }, 30s));
    EXPECT_EQ(bannerText(), DownloadError::network(c.failure, {}).description());
    EXPECT_TRUE(waitUntil(bannerInView, 3s));
    const QStringList lines = log.added(QStringLiteral("  models  download failed  "));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("model=") + kSmall)) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(QString::fromUtf8(c.logged))) << lines[0].toStdString();
  }
  // As the user sees it: not scrolled by the test.
  screenshot(QStringLiteral("error-banner-network"));
}

TEST_F(ModelsPage, AStalledTransferEndsInTheTimeOut) {
  const qint64 size = entry(kSmall).artifacts[0].sizeBytes;
  serve(kSmall, Route{200, {}, size, -1, size / 2});
  open();
  ASSERT_TRUE(click(row(kSmall)->trailing()->downloadButton()));
  ASSERT_TRUE(waitUntil([&] { return trailingState(row(kSmall)) == "50%"; }));
  EXPECT_TRUE(row(kSmall)->progressBar()->isVisibleTo(page()));
  EXPECT_DOUBLE_EQ(*row(kSmall)->progressBar()->progress(), 0.5);
  screenshot(QStringLiteral("downloading"), row(kSmall));
  clock.advance(ModelDownloader::kRequestTimeout);
  ASSERT_TRUE(waitUntil([&] { return !row(kSmall)->isDownloading(); }));
  EXPECT_EQ(bannerText(), timedOutSentence());
  EXPECT_EQ(trailingState(row(kSmall)), "DOWNLOAD");
  EXPECT_TRUE(partialsIn(entry(kSmall).storageDirectory).isEmpty());
}

TEST_F(ModelsPage, ADoubleClickOnDownloadMakesOneRequest) {
  const qint64 size = entry(kSmall).artifacts[0].sizeBytes;
  serve(kSmall, Route{200, {}, size, -1, 10});
  open();
  QWidget* button = row(kSmall)->trailing()->downloadButton();
  bringIntoView(button);
  const QPoint global = button->mapToGlobal(button->rect().center());
  ASSERT_TRUE(xdotool({"mousemove", QString::number(global.x()), QString::number(global.y()), "click", "--repeat", "2",
                       "--delay", "40", "1"}));
  ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 1; }));
  settle(300);
  EXPECT_EQ(server.requests().size(), 1);
  EXPECT_EQ(bannerText(), "");
  EXPECT_TRUE(row(kSmall)->isDownloading());
}

TEST_F(ModelsPage, TwoRowsDownloadAtOnceAndLeavingClosesTheirConnectionsSilently) {
  serve(kSmall, Route{200, {}, entry(kSmall).artifacts[0].sizeBytes, -1, 100});
  serve(kParakeet, Route{200, {}, entry(kParakeet).artifacts[0].sizeBytes, -1, 100});
  open();
  ASSERT_TRUE(click(row(kSmall)->trailing()->downloadButton()));
  ASSERT_TRUE(click(row(kParakeet)->trailing()->downloadButton()));
  ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 2 && server.openConnections() == 2; }));
  ASSERT_TRUE(waitUntil([&] { return server.bodyBytesSent() == 200; }));
  settle(100);
  EXPECT_TRUE(row(kSmall)->isDownloading());
  EXPECT_TRUE(row(kParakeet)->isDownloading());
  EXPECT_TRUE(trailingState(row(kSmall)).endsWith('%'));
  EXPECT_TRUE(trailingState(row(kParakeet)).endsWith('%'));

  window->show(SettingsTab::about);
  EXPECT_TRUE(waitUntil([&] { return server.openConnections() == 0; }));
  window->show(SettingsTab::models);
  EXPECT_EQ(bannerText(), "");
  for (const QString& id : {kSmall, kParakeet}) {
    EXPECT_EQ(trailingState(row(id)), "DOWNLOAD");
    EXPECT_TRUE(QDir(entry(id).storageDirectory).entryList(QDir::Files).isEmpty()) << id.toStdString();
  }
}

TEST_F(ModelsPage, ClosingTheWindowMidDownloadCancelsIt) {
  serve(kSmall, Route{200, {}, entry(kSmall).artifacts[0].sizeBytes, -1, 100});
  open();
  ASSERT_TRUE(click(row(kSmall)->trailing()->downloadButton()));
  ASSERT_TRUE(waitUntil([&] { return server.openConnections() == 1; }));
  server.setRoute(remotePath(languageModel), Route{200, {}, languageModel.sizeBytes, -1, 100});
  page()->startGemmaDownload();
  ASSERT_TRUE(waitUntil([&] { return server.openConnections() == 2; }));
  window->window().hide();
  EXPECT_TRUE(waitUntil([&] { return server.openConnections() == 0; }));
  settle(100);
  EXPECT_FALSE(row(kSmall)->isDownloading());
  EXPECT_FALSE(page()->isGemmaDownloading());
  EXPECT_EQ(bannerText(), "");
}

// Rows

TEST(DownloadPercentage, TruncatesToWholePercents) {
  const struct {
    double progress;
    const char* text;
  } rows[] = {{0, "0%"}, {0.01, "1%"}, {0.42, "42%"}, {0.999, "99%"}, {1, "100%"}};
  for (const auto& r : rows) EXPECT_EQ(DownloadPercentage::textFor(r.progress), r.text) << r.progress;
}

TEST(DownloadSize, SumsTheFilesOfAModel) {
  const QList<ModelArtifact> qwen = findSpeechModel(kQwenSmall)->artifacts;
  ASSERT_EQ(qwen.size(), 2);
  EXPECT_EQ(downloadSizeText(qwen), QString("DOWNLOAD SIZE · ") + fileByteCountText(551'374'304 + 214'392'608));
  EXPECT_EQ(downloadSizeText({gemmaModelArtifact()}), "DOWNLOAD SIZE · 3.66 GB");
}

TEST_F(ModelsPage, TheTrailingSideFollowsTheRowsState) {
  open();
  SpeechModelTrailing trailing;
  const struct {
    const char* what;
    bool downloaded, selected, disabled;
    std::optional<double> progress;
    const char* shows;
  } cases[] = {
      {"not installed", false, false, false, std::nullopt, "DOWNLOAD"},
      {"selected but incomplete", false, true, false, std::nullopt, "DOWNLOAD"},
      {"installed", true, false, false, std::nullopt, "USE DELETE"},
      {"in use", true, true, false, std::nullopt, "ACTIVE"},
      {"almost there", false, false, false, 0.999, "99%"},
      {"all bytes in", false, true, false, 1.0, "100%"},
      {"switching", true, false, true, std::nullopt, "USE DELETE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    trailing.update(c.downloaded, c.selected, c.disabled, c.progress);
    QStringList shown;
    for (QWidget* w :
         std::initializer_list<QWidget*>{trailing.percentage(), trailing.downloadButton(), trailing.activePill(),
                                         trailing.useButton(), trailing.deleteButton()}) {
      if (!w->isVisibleTo(&trailing)) continue;
      if (auto* p = qobject_cast<DownloadPercentage*>(w))
        shown << p->text();
      else if (auto* pill = qobject_cast<EditorialStatusPill*>(w))
        shown << pill->label();
      else
        shown << static_cast<QAbstractButton*>(w)->text();
    }
    EXPECT_EQ(shown.join(' '), c.shows);
    EXPECT_EQ(trailing.isEnabled(), !c.disabled);
    EXPECT_EQ(trailing.isDimmed(), c.disabled);
  }
}

TEST_F(ModelsPage, TheSelectedModelShowsActiveOnlyWithCompleteFiles) {
  rig.defaults.setValue(kSelectedSpeechModelKey, kSmall);
  writeSized(filePath(entry(kSmall)), entry(kSmall).artifacts[0].sizeBytes - 1);
  open();
  EXPECT_EQ(trailingState(row(kSmall)), "DOWNLOAD");
  window->show(SettingsTab::about);
  install(kSmall);
  install(kQwenSmall);
  window->show(SettingsTab::models);
  EXPECT_EQ(trailingState(row(kSmall)), "ACTIVE");
  EXPECT_EQ(trailingState(row(kQwenSmall)), "USE DELETE");
  screenshot(QStringLiteral("active"));
}

TEST_F(ModelsPage, AMissingOrUnknownSelectionIsTheTurboModel) {
  install(kTurbo);
  for (const QVariant& stored : {QVariant(), QVariant(QStringLiteral("tinyQ1")), QVariant(42)}) {
    SCOPED_TRACE(stored.toString().toStdString());
    rig.defaults.setValue(kSelectedSpeechModelKey, stored);
    open();
    EXPECT_EQ(page()->resolvedSelectedModel().id.rawValue, kTurbo);
    EXPECT_EQ(trailingState(row(kTurbo)), "ACTIVE");
    EXPECT_TRUE(page()->languagePicker()) << "the language row follows the turbo model";
    EXPECT_EQ(rig.defaults.value(kSelectedSpeechModelKey).toString(), stored.toString()) << "nothing is written back";
    window.reset();
  }
}

// USE

TEST_F(ModelsPage, DuringASwitchEveryRowIsDisabledAtHalfOpacity) {
  install(kSmall);
  install(kQwenSmall);
  rig.engine.loadDelay = 1s;
  open();
  ASSERT_TRUE(click(row(kSmall)->trailing()->useButton()));
  EXPECT_TRUE(page()->isSwitchingSpeechModel());
  EXPECT_EQ(rig.defaults.stringValue(kSelectedSpeechModelKey), kSmall) << "the mark moves at once";
  EXPECT_EQ(trailingState(row(kSmall)), "ACTIVE");
  for (SpeechModelSettingsRow* r : page()->speechModelRows()) {
    EXPECT_FALSE(r->trailing()->isEnabled());
    EXPECT_TRUE(r->trailing()->isDimmed());
  }
  // A second USE meanwhile does nothing.
  page()->useSpeechModel(entry(kQwenSmall));
  EXPECT_EQ(rig.engine.loads, 1);
  clock.advance(1s);
  rig.clock.advance(1s);
  ASSERT_TRUE(waitUntil([&] { return !page()->isSwitchingSpeechModel(); }));
  for (SpeechModelSettingsRow* r : page()->speechModelRows()) EXPECT_TRUE(r->trailing()->isEnabled());
  EXPECT_EQ(rig.defaults.stringValue(kSelectedSpeechModelKey), kSmall);
}

TEST_F(ModelsPage, LeavingMidSwitchLetsTheSwitchFinishUnseen) {
  install(kSmall);
  rig.engine.loadDelay = 1s;
  open();
  page()->useSpeechModel(entry(kSmall));
  window->show(SettingsTab::about);
  rig.clock.advance(1s);
  settle(50);
  EXPECT_EQ(rig.engine.loads, 1);
  window->show(SettingsTab::models);
  EXPECT_FALSE(page()->isSwitchingSpeechModel());
  EXPECT_EQ(trailingState(row(kSmall)), "ACTIVE");
}

// A real engine host with the tiny generated Whisper model behind the small English entry.
class ModelsPageWithEngine : public ModelsPage {
 protected:
  void SetUp() override {
    ModelsPage::SetUp();
    SpeechModelDescriptor& small = catalog[catalog.indexOf(entry(kSmall))];
    ASSERT_TRUE(QFile::copy(testModelPath(QStringLiteral("tiny-whisper-51864.bin")), filePath(small)));
    small.artifacts[0].sizeBytes = QFileInfo(filePath(small)).size();
    rig.defaults.setValue(kSelectedSpeechModelKey, kParakeet);
  }
  AppState& appState() override { return realState; }

  TextEnhancer enhancer{TextEnhancer::storedDelay(rig.defaults), clock};
  EngineHost host{rig.defaults, TranscriptionPipeline::standard(), [this] {
                    EngineHostOptions options = EngineHostLink::optionsFor(enhancer);
                    options.clock = &clock;
                    options.makeEngine = [this](const SpeechModelDescriptor& model) {
                      const SpeechModelDescriptor& files = entry(model.id.rawValue);
                      const auto which =
                          model.id.rawValue == kSmall ? WhisperModel::smallEnglishQ8 : WhisperModel::largeV3TurboQ8;
                      return std::make_shared<WhisperEngine>(which, files, vadModelResourcePath);
                    };
                    return options;
                  }()};
  EngineHostLink link{host, enhancer};
  AppState realState{AppState::Parts{
      rig.defaults, rig.modes, rig.dictionary, link, processor, rig.session, hotKeys, rig.diag, {}, {}, {}}};
};

TEST_F(ModelsPageWithEngine, UseLoadsTheModelAndFailuresLandInTheBanner) {
  open();
  EXPECT_EQ(trailingState(row(kSmall)), "USE DELETE");
  ASSERT_TRUE(click(row(kSmall)->trailing()->useButton()));
  EXPECT_EQ(trailingState(row(kSmall)), "ACTIVE") << "the mark moves before the engine loads";
  ASSERT_TRUE(waitUntil([&] { return !page()->isSwitchingSpeechModel(); }, 60s));
  EXPECT_EQ(bannerText(), "");
  ASSERT_TRUE(host.currentEngine());
  EXPECT_EQ(host.currentModelId(), kSmall);
  EXPECT_TRUE(link.isEngineLoaded());

  // Model memory: a new delay restarts the loaded engine's idle unload; Never cancels it.
  EXPECT_TRUE(host.isIdleUnloadPending());
  ASSERT_TRUE(pickFromMenu(page()->inactivityDelayPicker(), "Never"));
  EXPECT_EQ(rig.defaults.integerValue(model_inactivity_delay::kKey), 0);
  EXPECT_FALSE(host.isIdleUnloadPending());
  ASSERT_TRUE(pickFromMenu(page()->inactivityDelayPicker(), "15 min"));
  EXPECT_TRUE(host.isIdleUnloadPending());
  clock.advance(14min);
  EXPECT_TRUE(host.currentEngine());
  clock.advance(1min);
  EXPECT_TRUE(waitUntil([&] { return !host.currentEngine(); }));

  // A file of the right size that is no model: the banner, and the new choice stays.
  install(kTurbo);
  window->show(SettingsTab::about);
  window->show(SettingsTab::models);
  ASSERT_TRUE(click(row(kTurbo)->trailing()->useButton()));
  ASSERT_TRUE(waitUntil([&] { return !page()->isSwitchingSpeechModel(); }, 60s));
  EXPECT_FALSE(bannerText().isEmpty());
  EXPECT_EQ(rig.defaults.stringValue(kSelectedSpeechModelKey), kTurbo);
  EXPECT_EQ(trailingState(row(kTurbo)), "ACTIVE");
  ASSERT_TRUE(click(page()->errorBanner()->dismissButton()));
  EXPECT_EQ(bannerText(), "");
  EXPECT_EQ(rig.defaults.stringValue(kSelectedSpeechModelKey), kTurbo);

  // Files removed behind the page: refused, the selection unchanged.
  QFile::remove(filePath(entry(kSmall)));
  ASSERT_TRUE(click(row(kSmall)->trailing()->useButton()));
  ASSERT_TRUE(waitUntil([&] { return !page()->isSwitchingSpeechModel(); }));
  EXPECT_EQ(bannerText(), "Speech model has not been downloaded");
  EXPECT_EQ(rig.defaults.stringValue(kSelectedSpeechModelKey), kTurbo);
}

// Deletion

TEST_F(ModelsPage, DeletingAsksFirstAndRemovesEveryFileWithItsPartial) {
  install(kQwenSmall);
  const SpeechModelDescriptor& qwen = entry(kQwenSmall);
  writeSized(filePath(qwen, 1) + ".partial", 10);
  open();
  ASSERT_TRUE(click(row(kQwenSmall)->trailing()->deleteButton()));
  ASSERT_TRUE(waitUntil(
      [&] { return row(kQwenSmall)->deletionConfirmation() && row(kQwenSmall)->deletionConfirmation()->isVisible(); }));
  QMessageBox* box = row(kQwenSmall)->deletionConfirmation();
  EXPECT_EQ(box->text(), "Delete this model?");
  EXPECT_EQ(box->informativeText(), "you'll need to download it again before you can use it.");
  settle(200);
  screenshot(QStringLiteral("delete-confirmation"));
  QAbstractButton* cancel = nullptr;
  QAbstractButton* remove = nullptr;
  for (QAbstractButton* b : box->buttons()) (b->text() == "Cancel" ? cancel : remove) = b;
  ASSERT_TRUE(cancel && remove);
  EXPECT_EQ(remove->text(), "Delete");
  ASSERT_TRUE(clickCentre(cancel));
  ASSERT_TRUE(waitUntil([&] { return !row(kQwenSmall)->deletionConfirmation(); }));
  EXPECT_TRUE(qwen.isModelInstalled());
  EXPECT_EQ(trailingState(row(kQwenSmall)), "USE DELETE");

  ASSERT_TRUE(click(row(kQwenSmall)->trailing()->deleteButton()));
  ASSERT_TRUE(waitUntil(
      [&] { return row(kQwenSmall)->deletionConfirmation() && row(kQwenSmall)->deletionConfirmation()->isVisible(); }));
  settle(200);
  box = row(kQwenSmall)->deletionConfirmation();
  for (QAbstractButton* b : box->buttons())
    if (b->text() == "Delete") {
      // The click closes the dialog, which deletes its buttons: stop here.
      ASSERT_TRUE(clickCentre(b));
      break;
    }
  ASSERT_TRUE(waitUntil([&] { return trailingState(row(kQwenSmall)) == "DOWNLOAD"; }));
  EXPECT_TRUE(QDir(qwen.storageDirectory).entryList(QDir::Files).isEmpty());
  EXPECT_EQ(bannerText(), "");

  // A file that cannot be removed (a folder in its place): its description in the banner.
  install(kSmall);
  window->show(SettingsTab::about);
  window->show(SettingsTab::models);
  const QString blocked = filePath(entry(kSmall)) + ".partial";
  ASSERT_TRUE(QDir().mkpath(blocked + "/inside"));
  row(kSmall)->deleteRowModel();
  EXPECT_TRUE(bannerText().contains("couldn’t be removed")) << bannerText().toStdString();
}

// Language

TEST_F(ModelsPage, TheLanguageRowFollowsTheSelectedModel) {
  open();
  const struct {
    QString id;
    const char* label;
    const char* value;  // shown text, or nullptr for the picker
  } cases[] = {
      {kSmall, "Preferred language", "ENGLISH"},
      {kTurbo, "Preferred language", nullptr},
      {kParakeet, "Language detection", "AUTO-DETECT"},
      {kQwenLarge, "Preferred language", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id.toStdString());
    rig.defaults.setValue(kSelectedSpeechModelKey, c.id);
    settle(50);
    SettingsRow* languageRow = page()->languageRow();
    ASSERT_TRUE(languageRow);
    EXPECT_EQ(languageRow->titleLabel()->text(), c.label);
    if (c.value) {
      EXPECT_FALSE(page()->languagePicker());
      EXPECT_TRUE(visibleTexts(languageRow).contains(c.value));
    } else {
      ASSERT_TRUE(page()->languagePicker());
    }
  }
  EXPECT_EQ(page()->languageRow()->descriptionLabel()->text(), "auto detects when no preference is set.");
  rig.defaults.setValue(kSelectedSpeechModelKey, kParakeet);
  settle(50);
  EXPECT_EQ(page()->languageRow()->descriptionLabel()->text(), "This model detects the spoken language automatically.");
}

class LanguagePicker : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(installTranslations(*QCoreApplication::instance())); }
  void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
  void show(QStringList codes, bool autoDetect) {
    host = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(host.get());
    picker = new SpeechLanguagePicker(std::move(codes), autoDetect, defaults, clock, host.get());
    layout->addWidget(picker);
    host->move(80, 80);
    host->show();
    waitUntil([&] { return host->isVisible(); });
    settle(100);
  }

  QString dir = freshDir(QStringLiteral("picker"));
  UserDefaults defaults{dir + QStringLiteral("/defaults.json")};
  FakeClock clock;
  std::unique_ptr<QWidget> host;
  SpeechLanguagePicker* picker = nullptr;
};

TEST_F(LanguagePicker, OffersItsEntries120msAfterItComesOnScreenAndStoresThePick) {
  show({"en", "de"}, true);
  EXPECT_EQ(picker->label(), "AUTO-DETECT");
  EXPECT_FALSE(picker->isInteractive());
  ASSERT_TRUE(clickCentre(picker));
  settle(150);
  EXPECT_FALSE(picker->menu()->isVisible()) << "nothing to press yet";
  clock.advance(119ms);
  EXPECT_FALSE(picker->isInteractive());
  clock.advance(1ms);
  ASSERT_TRUE(picker->isInteractive());
  QStringList labels;
  for (const auto& e : picker->entries()) labels << e.label;
  EXPECT_EQ(labels, (QStringList{"AUTO-DETECT", "ENGLISH", "GERMAN"}));
  ASSERT_TRUE(pickFromMenu(picker, "GERMAN"));
  EXPECT_EQ(defaults.stringValue(kSpokenLanguageKey), "de");
  EXPECT_EQ(picker->label(), "GERMAN");
  EXPECT_EQ(defaults.value(kSelectedSpeechModelKey), QVariant()) << "a pick writes nothing else";
}

TEST_F(LanguagePicker, AStoredCodeOutsideTheModelShowsWhatWillBeUsedAndStays) {
  defaults.setValue(kSpokenLanguageKey, QStringLiteral("fr"));
  show({"en", "de"}, true);
  EXPECT_EQ(picker->label(), "AUTO-DETECT");
  show({"en", "de"}, false);
  EXPECT_EQ(picker->label(), "ENGLISH");
  clock.advance(120ms);
  QStringList codes;
  for (const auto& e : picker->entries()) codes << e.value.toString();
  EXPECT_EQ(codes, (QStringList{"en", "de"}));
  EXPECT_EQ(defaults.stringValue(kSpokenLanguageKey), "fr");
  defaults.setValue(kSpokenLanguageKey, QStringLiteral("auto"));
  EXPECT_EQ(picker->label(), "ENGLISH");
}

TEST_F(LanguagePicker, NamesJwAsJavaneseAndUnknownCodesAsThemselves) {
  EXPECT_EQ(languageDisplayName("jw"), languageDisplayName("jv"));
  EXPECT_NE(languageDisplayName("jw"), "JW");
  const QList<SpokenLanguageOption> options = spokenLanguageOptions({"jw", "qq"}, false);
  ASSERT_EQ(options.size(), 2);
  EXPECT_EQ(options[0], (SpokenLanguageOption{"jw", languageDisplayName("jv")}));
  EXPECT_EQ(options[1], (SpokenLanguageOption{"qq", "QQ"}));
}

TEST_F(LanguagePicker, APickerGoneBeforeItsDelayBuildsNothing) {
  show({"en"}, true);
  EXPECT_EQ(clock.pendingCount(), 1u);
  host.reset();
  EXPECT_EQ(clock.pendingCount(), 0u);
  clock.advance(1s);
}

// Language model

class LanguageModelCard : public ModelsPage {
 protected:
  void SetUp() override {
    ModelsPage::SetUp();
    languageModel = gemmaModelArtifact();
    languageModelDir = gemmaModelDirectory();
    lmInstalled = &isGemmaModelInstalled;
    lmDelete = &deleteGemmaModel;
    QFile::remove(gemmaModelPath());
    QFile::remove(gemmaModelPartialPath());
  }
  QString cardState() {
    ModelDownloadTrailing* t = page()->gemmaTrailing();
    if (t->percentage()->isVisibleTo(t)) return t->percentage()->text();
    if (t->readyPill()->isVisibleTo(t)) return t->deleteButton()->isVisibleTo(t) ? "READY DELETE" : "READY";
    if (t->downloadButton()->isVisibleTo(t)) return "DOWNLOAD";
    return "?";
  }
};

TEST_F(LanguageModelCard, OnlyTheExactSizeCountsAsInstalled) {
  const struct {
    const char* what;
    std::optional<qint64> file;
    std::optional<qint64> partial;
    const char* shows;
  } cases[] = {
      {"exact size", kGemmaModelSizeBytes, std::nullopt, "READY DELETE"},
      {"one byte short", kGemmaModelSizeBytes - 1, std::nullopt, "DOWNLOAD"},
      {"only a partial", std::nullopt, kGemmaModelSizeBytes, "DOWNLOAD"},
      {"nothing", std::nullopt, std::nullopt, "DOWNLOAD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QFile::remove(gemmaModelPath());
    QFile::remove(gemmaModelPartialPath());
    if (c.file) writeSized(gemmaModelPath(), *c.file);
    if (c.partial) writeSized(gemmaModelPartialPath(), *c.partial);
    open();
    EXPECT_EQ(cardState(), c.shows);
    EXPECT_EQ(page()->isGemmaDownloaded(), QByteArray(c.shows) == "READY DELETE");
    if (QByteArray(c.what) == "exact size") screenshot(QStringLiteral("language-model-ready"), page()->gemmaTrailing());
    window.reset();
  }
}

TEST_F(LanguageModelCard, AConfirmedDeleteClearsTheBannerFirstAndRemovesBothFiles) {
  writeSized(gemmaModelPath(), kGemmaModelSizeBytes);
  writeSized(gemmaModelPartialPath(), 10);
  open();
  page()->setErrorMessage(QStringLiteral("an earlier failure"));
  ASSERT_TRUE(click(page()->gemmaTrailing()->deleteButton()));
  ASSERT_TRUE(
      waitUntil([&] { return page()->gemmaDeleteConfirmation() && page()->gemmaDeleteConfirmation()->isVisible(); }));
  settle(200);
  for (QAbstractButton* b : page()->gemmaDeleteConfirmation()->buttons())
    if (b->text() == "Cancel") {
      // The click closes the dialog, which deletes its buttons: stop here.
      ASSERT_TRUE(clickCentre(b));
      break;
    }
  ASSERT_TRUE(waitUntil([&] { return !page()->gemmaDeleteConfirmation(); }));
  EXPECT_EQ(cardState(), "READY DELETE");
  EXPECT_EQ(bannerText(), "an earlier failure");
  EXPECT_TRUE(QFile::exists(gemmaModelPartialPath()));

  ASSERT_TRUE(click(page()->gemmaTrailing()->deleteButton()));
  ASSERT_TRUE(
      waitUntil([&] { return page()->gemmaDeleteConfirmation() && page()->gemmaDeleteConfirmation()->isVisible(); }));
  settle(200);
  for (QAbstractButton* b : page()->gemmaDeleteConfirmation()->buttons())
    if (b->text() == "Delete") {
      // The click closes the dialog, which deletes its buttons: stop here.
      ASSERT_TRUE(clickCentre(b));
      break;
    }
  ASSERT_TRUE(waitUntil([&] { return cardState() == "DOWNLOAD"; }));
  EXPECT_EQ(bannerText(), "");
  EXPECT_FALSE(QFile::exists(gemmaModelPath()));
  EXPECT_FALSE(QFile::exists(gemmaModelPartialPath()));

  // A removal that fails shows its description.
  ASSERT_TRUE(QDir().mkpath(gemmaModelPath() + "/inside"));
  page()->performGemmaDelete();
  EXPECT_TRUE(bannerText().contains("couldn’t be removed")) << bannerText().toStdString();
}

TEST_F(ModelsPage, TheLanguageModelDownloadsThroughItsCard) {
  server.setRoute(remotePath(languageModel), Route{404, {}, -1, -1, -1});
  open();
  ASSERT_TRUE(click(page()->gemmaTrailing()->downloadButton()));
  ASSERT_TRUE(waitUntil([&] { return !page()->isGemmaDownloading(); }));
  EXPECT_EQ(bannerText(), "Model download failed (HTTP 404)");
  EXPECT_FALSE(page()->isGemmaDownloaded());

  server.setRoute(remotePath(languageModel), Route{200, {}, languageModel.sizeBytes, -1, 3000});
  ASSERT_TRUE(click(page()->gemmaTrailing()->downloadButton()));
  EXPECT_EQ(bannerText(), "") << "a new download clears the banner";
  ASSERT_TRUE(waitUntil([&] { return page()->gemmaTrailing()->percentage()->text() == "50%"; }));
  EXPECT_TRUE(page()->gemmaProgressBar()->isVisibleTo(page()));
  page()->startGemmaDownload();  // ignored while it runs
  settle(100);
  EXPECT_EQ(server.requests().size(), 2);
  clock.advance(ModelDownloader::kRequestTimeout);
  ASSERT_TRUE(waitUntil([&] { return !page()->isGemmaDownloading(); }));
  EXPECT_EQ(bannerText(), timedOutSentence());

  server.setRoute(remotePath(languageModel), generated(languageModel.sizeBytes));
  ASSERT_TRUE(click(page()->gemmaTrailing()->downloadButton()));
  ASSERT_TRUE(waitUntil([&] { return page()->isGemmaDownloaded() && !page()->isGemmaDownloading(); }));
  EXPECT_FALSE(page()->gemmaProgressBar()->isVisibleTo(page()));
  EXPECT_EQ(QFileInfo(languageModelDir + "/" + languageModel.filename).size(), languageModel.sizeBytes);
  EXPECT_TRUE(partialsIn(languageModelDir).isEmpty());
}

// Model memory

TEST_F(ModelsPage, ANewDelayIsStoredAndReschedulesBothUnloadsOnce) {
  rig.defaults.setValue(model_inactivity_delay::kKey, 20);
  open();
  ModelInactivityDelayPicker* picker = page()->inactivityDelayPicker();
  EXPECT_EQ(picker->label(), "30 min");
  QStringList labels;
  for (const auto& e : picker->entries()) labels << e.label;
  EXPECT_EQ(labels, (QStringList{"Never", "15 min", "30 min", "45 min", "1 hr", "2 hr"}));
  EXPECT_EQ(rig.engine.idleUnloadSchedules, 0) << "the first value is no change";

  ASSERT_TRUE(pickFromMenu(picker, "15 min"));
  EXPECT_EQ(rig.defaults.integerValue(model_inactivity_delay::kKey), 15);
  EXPECT_EQ(picker->label(), "15 min");
  EXPECT_EQ(rig.engine.idleUnloadSchedules, 1);
  ASSERT_TRUE(pickFromMenu(picker, "15 min"));
  EXPECT_EQ(rig.engine.idleUnloadSchedules, 1) << "the same value again does nothing";
  ASSERT_TRUE(pickFromMenu(picker, "Never"));
  EXPECT_EQ(rig.defaults.integerValue(model_inactivity_delay::kKey), 0);
  EXPECT_EQ(rig.engine.idleUnloadSchedules, 2);
  // A write from elsewhere is followed too.
  rig.defaults.setValue(model_inactivity_delay::kKey, 120);
  EXPECT_EQ(picker->label(), "2 hr");
  EXPECT_EQ(rig.engine.idleUnloadSchedules, 3);
}

}  // namespace
