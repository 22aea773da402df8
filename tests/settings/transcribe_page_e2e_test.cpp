// The transcribe page on real parts: the application's composition root with
// the tiny generated Whisper model behind the real engine host, files spoken
// by espeak-ng (a WAV, and an MP4 that ffmpeg makes with that speech as its
// audio), the real X clipboard, and the page clicked with the real pointer.
#include "app/FilePanels.h"
#include "design/EditorialComponents.h"
#include "design/OnboardingButtonStyle.h"
#include "root/Composition.h"
#include "runtime/DiagLog.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "settings/TranscribeSettingsView.h"
#include "speech/SpeechSegmenter.h"
#include "speech/WhisperEngine.h"
#include "speech/WhisperModel.h"
#include "support/AwaitTask.h"
#include "support/FakeClock.h"
#include "support/MediaFiles.h"
#include "support/ScriptedFilePanels.h"
#include "support/SettingsWindowRig.h"
#include "support/SpeechAudio.h"
#include "support/TestEnv.h"
#include "support/Xclip.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;

namespace {

// Keeps a copy of every file the application hands to the engine, with the
// vocabulary it passed, to transcribe it again the same way.
class CopyingHost final : public SpeechEngineHosting {
 public:
  CopyingHost(SpeechEngineHosting& inner, QString folder) : inner_(inner), folder_(std::move(folder)) {}
  QCoro::Task<void> ensureLoaded() override { return inner_.ensureLoaded(); }
  QCoro::Task<QString> transcribe(QString file, QStringList vocabulary, CancellationToken token) override {
    const QString copy = folder_ + QStringLiteral("/copy%1_").arg(copies.size()) + QFileInfo(file).fileName();
    QFile::copy(file, copy);
    copies.append(copy);
    vocabularies.append(vocabulary);
    return inner_.transcribe(file, vocabulary, token);
  }
  void prewarmTextEnhancer() override { inner_.prewarmTextEnhancer(); }
  QCoro::Task<QString> enhance(QString text, QString instructions, CancellationToken token) override {
    return inner_.enhance(text, instructions, token);
  }
  bool isEngineLoaded() const override { return inner_.isEngineLoaded(); }
  QStringList copies;
  QList<QStringList> vocabularies;

 private:
  SpeechEngineHosting& inner_;
  QString folder_;
};

class TranscribePageEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "needs the rig";
    installTranslations(*QCoreApplication::instance());
    dir = freshDir(QStringLiteral("transcribe-e2e"));
    defaults = std::make_unique<UserDefaults>(dir + QStringLiteral("/defaults.json"));
    defaults->setValue(QStringLiteral("soundCuesEnabled"), false);

    // The tiny model in the place of the catalogue's small English model.
    SpeechModelDescriptor row = WhisperModel::descriptor(WhisperModel::smallEnglishQ8);
    row.storageDirectory = freshDir(QStringLiteral("transcribe-e2e-model"));
    const QString modelFile = QDir(row.storageDirectory).filePath(row.artifacts[0].filename);
    ASSERT_TRUE(QFile::copy(testModelPath(QStringLiteral("tiny-whisper-51864.bin")), modelFile));
    row.artifacts[0].sizeBytes = QFileInfo(modelFile).size();
    defaults->setValue(QString::fromLatin1(kSelectedSpeechModelKey), row.id.rawValue);

    diag = std::make_unique<DiagLog>(dir);
    Composition::Options options;
    options.makeEngine = [row](const SpeechModelDescriptor&) {
      return std::make_shared<WhisperEngine>(WhisperModel::smallEnglishQ8, row, vadModelResourcePath);
    };
    options.decorateEngineHost = [this](SpeechEngineHosting& inner) -> SpeechEngineHosting& {
      engine = std::make_unique<CopyingHost>(inner, dir);
      return *engine;
    };
    platform = std::make_unique<SystemPlatform>();
    composition = std::make_unique<Composition>(*defaults, *diag, platform->parts(), std::move(options));

    pages.set(SettingsTab::transcribe, [this](const SettingsPageContext&, QWidget* parent) -> QWidget* {
      return new TranscribeSettingsView(composition->appState(), platform->parts().pasteboard, panels, copyClock,
                                        parent);
    });
    window = std::make_unique<SettingsWindowRig>(SettingsTab::transcribe, pages);
  }
  void TearDown() override { window.reset(); }

  TranscribeSettingsView* page() { return qobject_cast<TranscribeSettingsView*>(window->view().currentPage()); }

  // Chooses `path` through the panel, presses TRANSCRIBE and waits for the outcome.
  TranscribeStatus transcribeThroughThePage(const QString& path) {
    TranscribeSettingsView* view = page();
    panels.answer = path;
    EXPECT_TRUE(clickCentre(view->chooseButton()));
    EXPECT_TRUE(waitUntil([&] { return view->transcribeButton()->isVisible(); }));
    EXPECT_TRUE(clickCentre(view->transcribeButton()));
    EXPECT_TRUE(waitUntil([&] { return view->status().kind != TranscribeStatus::Case::idle; }));
    EXPECT_TRUE(waitUntil([&] { return view->status().kind != TranscribeStatus::Case::transcribing; }, 180s));
    return view->status();
  }

  // What the engine says for the file it was last handed, with the same vocabulary.
  QString engineTextOfLastFile() {
    auto again = follow(composition->engineHost().transcribe(engine->copies.last(), engine->vocabularies.last(), {}));
    EXPECT_TRUE(waitUntil([&] { return again->done; }, 180s));
    return again->value.value_or(QStringLiteral("<error>")).trimmed();
  }

  QString dir;
  std::unique_ptr<UserDefaults> defaults;
  std::unique_ptr<DiagLog> diag;
  std::unique_ptr<CopyingHost> engine;
  std::unique_ptr<SystemPlatform> platform;
  std::unique_ptr<Composition> composition;
  ScriptedPanels panels;
  FakeClock copyClock;
  SettingsPages pages;
  std::unique_ptr<SettingsWindowRig> window;
};

TEST_F(TranscribePageEndToEnd, SpokenWavAndMp4ShowTheEnginesTextWithTheDictionaryApplied) {
  const QString wav = dir + QStringLiteral("/spoken.wav");
  runTool(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), wav, QStringLiteral("Please send the report to Anna.")});
  const QString mp4 = dir + QStringLiteral("/spoken.mp4");
  ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
          QStringLiteral("testsrc=size=64x48:rate=10:duration=3"), QStringLiteral("-i"), wav, QStringLiteral("-c:v"),
          QStringLiteral("mpeg4"), QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-shortest"), mp4});

  ASSERT_TRUE(xclipSeed("what the user copied"));

  // The rule's replacement is the engine's vocabulary, which steers what it
  // hears: a first run under that vocabulary finds a word for the rule to meet.
  composition->dictionary().setEntries(
      {DictionaryEntry{QUuid::createUuid(), QStringLiteral("placeholder"), QStringLiteral("Zanzibar")}});
  const TranscribeStatus first = transcribeThroughThePage(wav);
  ASSERT_EQ(first.kind, TranscribeStatus::Case::completed) << first.text.toStdString();
  const QRegularExpressionMatch word = QRegularExpression(QStringLiteral("\\b\\w{2,}\\b")).match(first.text);
  ASSERT_TRUE(word.hasMatch()) << "the generated model says words: " << first.text.toStdString();
  composition->dictionary().setEntries(
      {DictionaryEntry{QUuid::createUuid(), word.captured(), QStringLiteral("Zanzibar")}});

  int rulesApplied = 0;
  for (const QString& file : {wav, mp4}) {
    const TranscribeStatus status = transcribeThroughThePage(file);
    ASSERT_EQ(status.kind, TranscribeStatus::Case::completed)
        << file.toStdString() << ": " << status.text.toStdString();
    const QString raw = engineTextOfLastFile();
    QString expected = raw;
    expected.replace(
        QRegularExpression(QStringLiteral("\\b") + QRegularExpression::escape(word.captured()) + QStringLiteral("\\b"),
                           QRegularExpression::CaseInsensitiveOption),
        QStringLiteral("Zanzibar"));
    EXPECT_EQ(status.text, expected) << file.toStdString();
    if (expected != raw) ++rulesApplied;
    EXPECT_TRUE(visibleTexts(page()).contains(QStringLiteral("\u201C") + expected + QStringLiteral("\u201D")));
  }
  EXPECT_GT(rulesApplied, 0) << "the dictionary rule met its word";
  EXPECT_TRUE(engine->copies.last().endsWith(QStringLiteral(".m4a"))) << "the video's audio reaches the engine";

  // Nothing went to the clipboard, the history or the usage statistics.
  EXPECT_EQ(xclipRead(), QByteArray("what the user copied"));
  EXPECT_FALSE(defaults->contains(QStringLiteral("historyEntries")));
  EXPECT_FALSE(defaults->contains(QStringLiteral("usageStats")));

  // COPY puts the text alone on the clipboard, as text.
  ASSERT_TRUE(clickCentre(page()->copyButton()));
  ASSERT_TRUE(waitUntil([&] { return xclipRead() == page()->status().text.toUtf8(); }));
  for (const QByteArray& target : xclipDataTargets())
    EXPECT_TRUE(target == "UTF8_STRING" || target == "STRING" || target == "TEXT" || target.startsWith("text/plain"))
        << target.toStdString();
}

TEST_F(TranscribePageEndToEnd, FilesWithoutSpeechEndInTheirError) {
  const QString silent = dir + QStringLiteral("/silent.mp4");
  makeVideo(silent, 2, false);
  const QString notAudio = dir + QStringLiteral("/notes.wav");
  QFile text(notAudio);
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("these are notes, not sound\n");
  text.close();

  const TranscribeStatus video = transcribeThroughThePage(silent);
  EXPECT_EQ(video, (TranscribeStatus{TranscribeStatus::Case::error, "No audio track found in video file"}));
  const TranscribeStatus bogus = transcribeThroughThePage(notAudio);
  EXPECT_EQ(bogus.kind, TranscribeStatus::Case::error);
  EXPECT_FALSE(bogus.text.isEmpty());
  EXPECT_TRUE(page()->selectedFile()) << "the chosen file stays";
  EXPECT_TRUE(rawKeysAmong(visibleTexts(page())).isEmpty());
}

}  // namespace
