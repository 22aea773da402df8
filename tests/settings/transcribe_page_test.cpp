// The transcribe page in a real settings window: files come from scripted open
// panels, the run goes through a real application state over a fake engine host
// whose clock the test turns, and the page is clicked with the real pointer.
#include "../app/SessionRig.h"

#include "app/AppState.h"
#include "app/FilePanels.h"
#include "hotkeys/HotKeyService.h"
#include "settings/TranscribeSettingsView.h"
#include "support/FakeClock.h"
#include "support/FakeDesktop.h"
#include "support/FakeKeyEventTap.h"
#include "support/ScriptedFilePanels.h"
#include "support/SettingsWindowRig.h"
#include "support/TestEnv.h"

#include "design/EditorialComponents.h"
#include "design/OnboardingButtonStyle.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSet>
#include <QTimer>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;

namespace {

QString writeFile(const QString& dir, const QString& name, qint64 bytes) {
  const QString path = dir + "/" + name;
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  file.write(QByteArray(bytes, 'x'));
  return path;
}

class TranscribePage : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.engine.transcribeDelay = 1s;
    pages.set(SettingsTab::transcribe, [this](const SettingsPageContext&, QWidget* parent) -> QWidget* {
      return new TranscribeSettingsView(state, pasteboard, panels, copyClock, parent);
    });
    window = std::make_unique<SettingsWindowRig>(SettingsTab::transcribe, pages);
  }
  void TearDown() override { window.reset(); }
  TranscribeSettingsView* page() { return qobject_cast<TranscribeSettingsView*>(window->view().currentPage()); }
  void finishRun() {
    rig.clock.advance(1s);
    settle(50);
  }

  SessionRig rig;
  FakeClock keyClock;
  FakeKeyEventTap tap{keyClock};
  HotKeyService hotKeys{rig.defaults, tap};
  TranscriptProcessor processor{[](QString text, QString) -> QCoro::Task<QString> { co_return text; },
                                [this] { return rig.dictionary.entries(); }};
  AppState state{AppState::Parts{
      rig.defaults, rig.modes, rig.dictionary, rig.engine, processor, rig.session, hotKeys, rig.diag, {}, {}, {}}};
  FakePasteboard pasteboard;
  FakeClock copyClock;
  ScriptedPanels panels;
  SettingsPages pages;
  std::unique_ptr<SettingsWindowRig> window;
};

TEST_F(TranscribePage, ChooseTranscribeAndCopyInARealWindow) {
  TranscribeSettingsView* view = page();
  ASSERT_TRUE(view);
  const QStringList empty = visibleTexts(view);
  EXPECT_TRUE(empty.contains("No file selected"));
  EXPECT_TRUE(empty.contains("pick something to transcribe."));
  EXPECT_TRUE(empty.contains("SELECT"));
  EXPECT_EQ(view->numeral()->text(), "00");
  EXPECT_FALSE(view->transcribeButton()->isVisible());
  EXPECT_TRUE(rawKeysAmong(empty).isEmpty()) << empty.join(" | ").toStdString();
  settingsScreenshot(window->window(), "transcribe-empty", Appearance::Scheme::Light);

  // A cancelled panel changes nothing.
  panels.answer.reset();
  ASSERT_TRUE(clickCentre(view->chooseButton()));
  settle(100);
  EXPECT_FALSE(view->selectedFile());

  const QString wav = writeFile(rig.dir, "meeting.wav", 1'500'000);
  panels.answer = wav;
  ASSERT_TRUE(clickCentre(view->chooseButton()));
  settle(100);
  ASSERT_TRUE(view->selectedFile());
  EXPECT_TRUE(visibleTexts(view).contains("meeting.wav"));
  EXPECT_TRUE(visibleTexts(view).contains("1.5 MB"));
  EXPECT_TRUE(visibleTexts(view).contains("CHANGE"));
  ASSERT_TRUE(view->transcribeButton()->isVisible());
  for (auto scheme : {Appearance::Scheme::Light, Appearance::Scheme::Dark})
    settingsScreenshot(window->window(), "transcribe-chosen", scheme);

  rig.engine.transcript = "hello from the file";
  ASSERT_TRUE(clickCentre(view->transcribeButton()));
  settle(100);
  EXPECT_EQ(view->status().kind, TranscribeStatus::Case::transcribing);
  EXPECT_FALSE(view->transcribeButton()->isVisible());
  EXPECT_TRUE(visibleTexts(view).contains("listening to your file…"));
  settingsScreenshot(window->window(), "transcribe-running", Appearance::Scheme::Light);

  finishRun();
  EXPECT_EQ(view->status(), (TranscribeStatus{TranscribeStatus::Case::completed, "hello from the file"}));
  EXPECT_TRUE(visibleTexts(view).contains("\u201Chello from the file\u201D"));
  EXPECT_FALSE(view->transcribeButton()->isVisible()) << "the button returns only with a new choice";
  EXPECT_TRUE(rig.clipboard.isEmpty());
  EXPECT_TRUE(rig.history.isEmpty());
  for (auto scheme : {Appearance::Scheme::Light, Appearance::Scheme::Dark})
    settingsScreenshot(window->window(), "transcribe-completed", scheme);

  // Two presses 1 s apart: the mark ends 1.5 s after the first.
  ASSERT_TRUE(clickCentre(view->copyButton()));
  settle(50);
  EXPECT_EQ(pasteboard.text(), "hello from the file");
  EXPECT_TRUE(view->copied());
  EXPECT_EQ(view->copyButton()->text(), "COPIED");
  EXPECT_EQ(view->copyButton()->leading(), EditorialStatusPill::Leading::checkmark);
  EXPECT_EQ(view->copyButton()->tint(), DSColor::success);
  copyClock.advance(1s);
  ASSERT_TRUE(clickCentre(view->copyButton()));
  settle(50);
  copyClock.advance(500ms);
  EXPECT_FALSE(view->copied());
  EXPECT_EQ(view->copyButton()->text(), "COPY");
  EXPECT_EQ(view->copyButton()->leading(), EditorialStatusPill::Leading::none);

  // The same file again, now with nothing said.
  ASSERT_TRUE(clickCentre(view->chooseButton()));
  settle(100);
  ASSERT_TRUE(view->transcribeButton()->isVisible());
  rig.engine.transcript = "";
  ASSERT_TRUE(clickCentre(view->transcribeButton()));
  settle(50);
  finishRun();
  EXPECT_EQ(view->status(), (TranscribeStatus{TranscribeStatus::Case::error, "No speech detected in file"}));
  EXPECT_TRUE(view->selectedFile()) << "the chosen file stays";
  EXPECT_TRUE(rawKeysAmong(visibleTexts(view)).isEmpty());
  for (auto scheme : {Appearance::Scheme::Light, Appearance::Scheme::Dark})
    settingsScreenshot(window->window(), "transcribe-error", scheme);
}

// Only the newest run of the file still shown may change the page.
TEST_F(TranscribePage, StaleRunsAreDropped) {
  TranscribeSettingsView* view = page();
  const QString a = writeFile(rig.dir, "a.wav", 10);
  const QString b = writeFile(rig.dir, "b.wav", 10);
  rig.engine.transcript = "text";

  view->selectFile(a);
  view->startFileTranscription();
  view->selectFile(b);
  finishRun();
  EXPECT_EQ(view->status().kind, TranscribeStatus::Case::idle) << "A's outcome is not shown under B";
  EXPECT_TRUE(view->transcribeButton()->isVisible());

  // A started, B chosen and started, A ends after B: B's outcome stays.
  view->selectFile(a);
  rig.engine.transcribeDelay = 2s;
  view->startFileTranscription();
  view->selectFile(b);
  rig.engine.transcribeDelay = 1s;
  view->startFileTranscription();
  rig.engine.transcript = "from B";
  finishRun();
  rig.engine.transcript = "from A";
  finishRun();
  EXPECT_EQ(view->status(), (TranscribeStatus{TranscribeStatus::Case::completed, "from B"}));

  rig.engine.transcript = "text";
  view->selectFile(a);
  view->startFileTranscription();
  view->selectFile(a);
  finishRun();
  EXPECT_EQ(view->status(), (TranscribeStatus{TranscribeStatus::Case::completed, "text"}))
      << "A chosen again during its run: " << view->status().text.toStdString();
}

TEST_F(TranscribePage, LeavingTheTabDuringARunTouchesNothing) {
  const QString a = writeFile(rig.dir, "a.wav", 10);
  page()->selectFile(a);
  page()->startFileTranscription();
  window->show(SettingsTab::about);
  window->show(SettingsTab::transcribe);
  finishRun();
  EXPECT_FALSE(page()->selectedFile());
  EXPECT_EQ(page()->status().kind, TranscribeStatus::Case::idle);

  // The window closed during a run: the run ends without its page.
  page()->selectFile(a);
  page()->startFileTranscription();
  window.reset();
  finishRun();
  window = std::make_unique<SettingsWindowRig>(SettingsTab::transcribe, pages);
  EXPECT_FALSE(page()->selectedFile());
}

TEST(FileSymbol, FilmForVideoNamesElseWaveform) {
  for (const char* name : {"clip.mp4", "clip.mov", "clip.m4v", "CLIP.MP4"})
    EXPECT_EQ(fileSymbolFor(name), "film") << name;
  for (const char* name : {"voice.m4a", "voice.wav", "notes.xyz", "noextension"})
    EXPECT_EQ(fileSymbolFor(name), "waveform") << name;
}

// What the real open panel showed when it came up.
struct PanelSeen {
  QString title;
  QString folder;
  QStringList filters;
  QString selectedFilter;
  QStringList listed;  // enabled entries of the folder under the selected filter
};

// Answers the next open panel: records what it shows once its folder is
// listed, then chooses `choose` (cancels when empty).
void answerNextPanel(PanelSeen& seen, const QString& choose) {
  auto* poll = new QTimer();
  poll->setInterval(20);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, &seen, choose] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
    auto listed = [view] {
      QStringList names;
      if (!view || !view->model()) return names;
      for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
        const QModelIndex index = view->model()->index(row, 0, view->rootIndex());
        if (index.flags() & Qt::ItemIsEnabled) names.append(index.data().toString());
      }
      return names;
    };
    waitUntil([&] { return !listed().isEmpty(); });
    settle(100);  // the rest of the folder, if anything lags
    seen = {dialog->windowTitle(), dialog->directory().absolutePath(), dialog->nameFilters(),
            dialog->selectedNameFilter(), listed()};
    seen.listed.sort();
    settingsScreenshot(*dialog, QStringLiteral("transcribe-open-panel"), Appearance::Scheme::Light);
    if (choose.isEmpty()) {
      dialog->reject();
      return;
    }
    // As a user types a path into the name field and presses Open (accept()
    // is protected).
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name) name->setText(choose);
    QMetaObject::invokeMethod(dialog, "accept");
  });
  poll->start();
}

// The page's own open panel: Qt's widget dialog on the rig's X server.
class TranscribePageWithRealPanel : public TranscribePage {
 protected:
  void SetUp() override {
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    pages.set(SettingsTab::transcribe, [this](const SettingsPageContext&, QWidget* parent) -> QWidget* {
      return new TranscribeSettingsView(state, pasteboard, dialogPanels, copyClock, parent);
    });
    window = std::make_unique<SettingsWindowRig>(SettingsTab::transcribe, pages);
  }
  DialogFilePanels dialogPanels;
};

TEST_F(TranscribePageWithRealPanel, OffersAudioAndVideoFromHomeThenTheFolderLastUsed) {
  const QString home = QDir::homePath();
  QDir(home).removeRecursively();
  QDir().mkpath(home + "/takes");
  for (const char* name : {"clip.wav", "film.mp4", "movie.mov", "voice.m4a", "README.md", "notes.txt"})
    writeFile(home, QString::fromLatin1(name), 16);
  const QString take = writeFile(home + "/takes", "interview.mov", 2'000);
  // The working directory is never where a panel starts.
  const QString elsewhere = freshDir("transcribe_cwd");
  writeFile(elsewhere, "stray.wav", 16);
  const QString cwd = QDir::currentPath();
  QDir::setCurrent(elsewhere);
  const auto restoreCwd = qScopeGuard([&] { QDir::setCurrent(cwd); });

  TranscribeSettingsView* view = page();
  ASSERT_TRUE(view);
  PanelSeen first;
  answerNextPanel(first, take);
  ASSERT_TRUE(clickCentre(view->chooseButton()));
  ASSERT_TRUE(waitUntil([&] { return view->selectedFile().has_value(); }));

  EXPECT_EQ(first.title, "Select an audio or video file to transcribe");
  EXPECT_EQ(first.folder, home);
  ASSERT_EQ(first.filters.size(), 2) << first.filters.join(" | ").toStdString();
  EXPECT_EQ(first.selectedFilter, first.filters[0]);
  EXPECT_TRUE(first.filters[0].startsWith("Supported files (")) << first.filters[0].toStdString();
  for (const char* pattern : {"*.wav", "*.mp3", "*.m4a", "*.aiff", "*.flac", "*.mp4", "*.mov", "*.m4v"})
    EXPECT_TRUE(first.filters[0].contains(QString::fromLatin1(pattern))) << pattern;
  EXPECT_EQ(first.filters[1], "All files (*)");
  EXPECT_EQ(first.listed, (QStringList{"clip.wav", "film.mp4", "movie.mov", "takes", "voice.m4a"}));
  EXPECT_EQ(view->selectedFile()->path, take);
  EXPECT_EQ(view->selectedFile()->name, "interview.mov");

  // The next panel starts where the last file came from.
  PanelSeen second;
  answerNextPanel(second, QString());
  ASSERT_TRUE(clickCentre(view->chooseButton()));
  ASSERT_TRUE(waitUntil([&] { return !second.folder.isEmpty(); }));
  settle(100);
  EXPECT_EQ(second.folder, home + "/takes");
  EXPECT_EQ(view->selectedFile()->path, take) << "a cancelled panel changes nothing";
}

TEST(TranscribableTypes, AudioAndVideoWithTheTypesDerivedFromThem) {
  const QStringList& types = transcribableMimeTypes();
  const QMimeDatabase database;
  for (const char* name : {"clip.wav", "song.mp3", "voice.m4a", "sound.aiff", "lossless.flac", "film.mp4", "movie.mov",
                           "clip.m4v", "ring.m4r", "book.m4b", "phone.3gp"}) {
    const QString type = database.mimeTypeForFile(QString::fromLatin1(name), QMimeDatabase::MatchExtension).name();
    EXPECT_TRUE(types.contains(type)) << name << " " << type.toStdString();
  }
  for (const char* name : {"README.md", "notes.txt", "photo.png", "archive.zip"}) {
    const QString type = database.mimeTypeForFile(QString::fromLatin1(name), QMimeDatabase::MatchExtension).name();
    EXPECT_FALSE(types.contains(type)) << name << " " << type.toStdString();
  }
  // Audio first, then video; no type twice.
  EXPECT_TRUE(types.constFirst().startsWith("audio/"));
  EXPECT_EQ(QSet<QString>(types.begin(), types.end()).size(), types.size());
}

TEST_F(TranscribePage, ALongNameStaysOnOneLineCutInTheMiddle) {
  const QString name = QString(120, QLatin1Char('a')) + "-middle-" + QString(120, QLatin1Char('z')) + ".wav";
  page()->selectFile(writeFile(rig.dir, name, 10));
  settle(100);
  TextLabel* label = page()->fileNameLabel();
  const QFont& font = label->style().font;
  EXPECT_LT(label->width(), TextMetrics::size(name, font, 0).width()) << "the name is cut, not the row widened";
  EXPECT_LE(label->mapTo(page(), QPoint(label->width(), 0)).x(), page()->width());
  EXPECT_EQ(label->height(), label->sizeHint().height()) << "one line";
  EXPECT_TRUE(page()->transcribeButton()->isVisible());
}

// A word wider than the output column (a small model's run-on token) and a
// transcript of 2,000 words wrap inside the window: the page keeps the
// window's width, CHANGE and COPY stay in it, and the text is as tall as its
// lines.
TEST_F(TranscribePage, LongTranscriptsWrapInsideTheWindow) {
  QStringList words;
  for (int i = 0; i < 2'000; ++i) words.append(QStringLiteral("word%1").arg(i));
  const std::pair<const char*, QString> cases[] = {
      {"transcribe-long-word", QString(5'000, QLatin1Char('w'))},
      {"transcribe-long-transcript", words.join(QLatin1Char(' '))},
  };
  const QString wav = writeFile(rig.dir, "long.wav", 1000);
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    page()->selectFile(wav);
    rig.engine.transcript = text;
    page()->startFileTranscription();
    settle(50);
    finishRun();
    ASSERT_EQ(page()->status().kind, TranscribeStatus::Case::completed);
    settle(100);
    EXPECT_EQ(page()->width(), window->view().pageArea()->width());
    EXPECT_EQ(pageExtentFaults(&window->window()).join(u'\n').toStdString(), "");
    SelectableParagraph* output = page()->outputLabel();
    EXPECT_EQ(output->text(), QStringLiteral("\u201C") + text + QStringLiteral("\u201D"));
    EXPECT_EQ(output->height(), output->heightForWidth(output->width()));
    EXPECT_GT(output->height(), 10 * QFontMetrics(output->font()).height()) << "not wrapped";

    auto* scroller = page()->findChild<SettingsPageLayout*>();
    for (const int end : {0, scroller->verticalScrollBar()->maximum()}) {
      scroller->verticalScrollBar()->setValue(end);
      settle(50);
      QWidget* pill = end == 0 ? static_cast<QWidget*>(page()->chooseButton()) : page()->copyButton();
      const QRect area(pill->mapTo(&window->window(), QPoint(0, 0)), pill->size());
      EXPECT_TRUE(window->window().rect().contains(area)) << pill->accessibleName().toStdString();
      for (auto scheme : {Appearance::Scheme::Light, Appearance::Scheme::Dark})
        settingsScreenshot(window->window(), QString::fromLatin1(name) + (end == 0 ? "" : "-end"), scheme);
    }
  }
}

TEST(FormattedFileSize, DecimalUnitsInTheFileStyle) {
  const QString dir = freshDir("sizes");
  struct Row {
    qint64 bytes;
    const char* expected;
  };
  for (const Row& row : {Row{0, "0 bytes"}, Row{999, "999 bytes"}, Row{1000, "1 KB"}, Row{1'500'000, "1.5 MB"}}) {
    const QString path = writeFile(dir, QString::number(row.bytes), row.bytes);
    EXPECT_EQ(formattedFileSize(path), row.expected) << row.bytes;
  }
  for (const Row& row : {Row{1'000'000'000, "1 GB"}, Row{3'659'530'240, "3.66 GB"}}) {
    const QString path = dir + "/sparse" + QString::number(row.bytes);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(row.bytes));
    EXPECT_EQ(formattedFileSize(path), row.expected) << row.bytes;
  }
  EXPECT_EQ(formattedFileSize(dir + "/vanished"), "--");
}

}  // namespace
