// The about page and its two sheets in a real settings window: rows, the
// support sheet's diagnostics export (fake panels, the fake file manager on the
// rig's session bus), the acknowledgements list and the web pages it opens.
#include "app/FilePanels.h"
#include "design/AboutDetailSheet.h"
#include "design/EditorialComponents.h"
#include "design/SettingsComponents.h"
#include "design/Sheets.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "platform/dbus/FileManagerWorkspace.h"
#include "runtime/DiagLog.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "settings/AboutSettingsView.h"
#include "settings/AcknowledgementsList.h"
#include "settings/SettingsView.h"
#include "support/Alerts.h"
#include "support/FakeDesktop.h"
#include "support/FakeFileManager.h"
#include "support/PasteTarget.h"
#include "support/ScriptedFilePanels.h"
#include "support/SettingsWindowRig.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace murel;
using Scheme = Appearance::Scheme;

namespace {

QStringList rowTitles(const QList<SettingsChapterRow*>& rows) {
  QStringList titles;
  for (SettingsChapterRow* row : rows) titles.append(row->titleLabel()->text());
  return titles;
}

QList<SettingsChapterRow*> chapterRows(QWidget* root) {
  QList<SettingsChapterRow*> rows = root->findChildren<SettingsChapterRow*>();
  std::sort(rows.begin(), rows.end(), [](SettingsChapterRow* a, SettingsChapterRow* b) {
    return a->mapToGlobal(QPoint()).y() < b->mapToGlobal(QPoint()).y();
  });
  return rows;
}

QStringList pillLabels(QWidget* root) {
  QStringList labels;
  for (auto* pill : root->findChildren<EditorialStatusPill*>()) labels.append(pill->label());
  return labels;
}

// The about tab in a settings window, with a workspace that records the pages it opens.
class AboutPage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(installTranslations(*QCoreApplication::instance())); }

  void SetUp() override {
    pages_.set(SettingsTab::about, [this](const SettingsPageContext&, QWidget* parent) -> QWidget* {
      return new AboutSettingsView(
          workspace_, DiagnosticsSources{UserDefaults::shared(), microphone_, devices_, panels_, fileManagerWorkspace_},
          parent);
    });
    rig_ = std::make_unique<test::SettingsWindowRig>(SettingsTab::about, pages_);
    page_ = qobject_cast<AboutSettingsView*>(rig_->view().currentPage());
    ASSERT_NE(page_, nullptr);
  }
  void TearDown() override { rig_.reset(); }

  // Opens a sheet with a real click on its row.
  QDialog* open(AboutSection section) {
    SettingsChapterRow* row = page_->sectionRows().at(int(section));
    EXPECT_TRUE(test::clickCentre(row));
    EXPECT_TRUE(test::waitUntil([&] { return page_->sheetWindow() && page_->sheetWindow()->isVisible(); }));
    test::settle(100);
    return page_->sheetWindow();
  }
  void closeSheet() {
    ASSERT_NE(page_->sheet(), nullptr);
    ASSERT_TRUE(test::clickCentre(page_->sheet()->closeButton()));
    EXPECT_TRUE(test::waitUntil([&] { return !page_->sheetWindow(); }));
  }
  SupportSheetContent* support() const { return qobject_cast<SupportSheetContent*>(page_->sheet()->body()); }
  bool confirmationShown() const { return support()->confirmationLabel()->isVisibleTo(page_->sheet()); }

  test::RecordingWorkspace workspace_;
  test::ScriptedPanels panels_;
  // The report goes to the file manager on the session bus, as in the application.
  FileManagerWorkspace fileManagerWorkspace_;
  test::FakeMicrophone microphone_;
  test::FakeAudioDevices devices_;
  SettingsPages pages_;
  std::unique_ptr<test::SettingsWindowRig> rig_;
  AboutSettingsView* page_ = nullptr;
};

}  // namespace

TEST_F(AboutPage, EssentialsThenTwoSheetRowsAndEssentialsIgnoreClicks) {
  EXPECT_EQ(rowTitles(page_->essentialsRows()),
            (QStringList{QStringLiteral("Speak, get text"), QStringLiteral("Stay in your flow"),
                         QStringLiteral("Yours alone"), QStringLiteral("Always ready")}));
  EXPECT_EQ(rowTitles(page_->sectionRows()),
            (QStringList{QStringLiteral("SUPPORT"), QStringLiteral("ACKNOWLEDGEMENTS")}));
  const QList<SettingsChapterRow*> rows = chapterRows(page_);
  ASSERT_EQ(rows.size(), 6);
  for (int i = 0; i < 6; ++i) {
    const int number = i < 4 ? i + 1 : i - 3;
    EXPECT_EQ(rows[i]->numeral()->text(), QString::asprintf("%02d", number));
    EXPECT_EQ(pillLabels(rows[i]), i < 4 ? QStringList() : QStringList{QStringLiteral("OPEN")});
  }
  const QStringList texts = test::visibleTexts(page_);
  for (const char* text :
       {"About", "ESSENTIALS", "reach us or export a diagnostics log.", "the open-source projects Murel is built on.",
        "Your voice is transcribed on your computer and never leaves it."})
    EXPECT_TRUE(texts.contains(QString::fromUtf8(text))) << text;
  EXPECT_EQ(test::rawKeysAmong(texts), QStringList());

  for (SettingsChapterRow* row : page_->essentialsRows()) ASSERT_TRUE(test::clickCentre(row));
  EXPECT_EQ(page_->presentedSection(), std::nullopt);
  EXPECT_EQ(page_->sheetWindow(), nullptr);
  EXPECT_TRUE(workspace_.opened.isEmpty());
}

TEST_F(AboutPage, SupportSheetExportsTheReportAndConfirmsPerPresentation) {
  test::FakeFileManager fileManager(
      QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("about-fake-fm")));
  const QString folder = test::freshDir(QStringLiteral("export"));
  const QString target = folder + QStringLiteral("/report.txt");

  QDialog* sheet = open(AboutSection::support);
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
  EXPECT_EQ(page_->sheet()->width(), 480);
  EXPECT_EQ(page_->sheet()->titleLabel()->text(), QStringLiteral("SUPPORT"));
  EXPECT_EQ(page_->presentedSection(), AboutSection::support);
  EXPECT_FALSE(confirmationShown());

  // Cancelled: nothing written, nothing shown.
  ASSERT_TRUE(test::clickCentre(support()->diagnosticsRow()));
  EXPECT_EQ(panels_.asks, 1);
  EXPECT_EQ(panels_.askedTitle, QStringLiteral("Save diagnostics log"));
  EXPECT_FALSE(confirmationShown());
  EXPECT_FALSE(support()->diagnosticsSaved());

  // Saved: the report in the file, the file manager asked once, the line shown.
  panels_.answer = target;
  ASSERT_TRUE(test::clickCentre(support()->diagnosticsRow()));
  QFile written(target);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_TRUE(written.readAll().startsWith("=== Murel Diagnostics ==="));
  EXPECT_TRUE(test::waitUntil([&] { return fileManager.calls == 1; }));
  EXPECT_EQ(fileManager.shown, QStringList{QUrl::fromLocalFile(target).toString()});
  EXPECT_TRUE(confirmationShown());
  EXPECT_EQ(support()->confirmationLabel()->text(),
            QStringLiteral("saved \u2014 attach it to an email to support@murel.com"));

  // A later cancel keeps the line, as does a failed write.
  panels_.answer.reset();
  ASSERT_TRUE(test::clickCentre(support()->diagnosticsRow()));
  EXPECT_TRUE(confirmationShown());
  closeSheet();
  EXPECT_EQ(page_->presentedSection(), std::nullopt);

  // Reopened: the line starts hidden again; a failed write leaves it so and is logged.
  open(AboutSection::support);
  EXPECT_FALSE(confirmationShown());
  panels_.answer = target + QStringLiteral("/inside-a-file.txt");
  ASSERT_TRUE(test::clickCentre(support()->diagnosticsRow()));
  EXPECT_FALSE(confirmationShown());
  EXPECT_TRUE(DiagLog::shared().readAll().contains(QStringLiteral("export failed")));
  EXPECT_EQ(test::shownAlerts().size(), 1) << "the failure says why";
  test::closeAlerts();
  EXPECT_EQ(fileManager.calls, 1);
  closeSheet();
}

// Without a compositor nothing draws a shadow: the page darkens behind the
// sheet and the sheet draws its own rounded hairline edge.
TEST_F(AboutPage, SheetStandsOutOverADimmedPage) {
  QWidget& window = rig_->window();
  const QPoint inPage = page_->mapTo(&window, QPoint(page_->width() / 2, page_->height() - 20));
  for (Scheme scheme : {Scheme::Light, Scheme::Dark}) {
    SCOPED_TRACE(int(scheme));
    Appearance::setOverride(&window, scheme);
    test::settle(50);
    const QColor before = window.grab().toImage().pixelColor(inPage);
    QDialog* sheet = open(AboutSection::acknowledgements);
    ASSERT_NE(sheet, nullptr);
    Appearance::setOverride(&window, scheme);
    test::settle(50);

    // The page behind is darker, all of it.
    auto* backdrop = window.findChild<SheetBackdrop*>();
    ASSERT_NE(backdrop, nullptr);
    EXPECT_TRUE(backdrop->isVisible());
    EXPECT_EQ(backdrop->geometry(), window.rect());
    const QColor dimmed = window.grab().toImage().pixelColor(inPage);
    EXPECT_NEAR(dimmed.lightness(), before.lightness() * 0.65, 3) << dimmed.name().toStdString();

    // The edge: a hairline just inside the sheet, the background inside it, and
    // corners cut round.
    const QImage face = sheet->grab().toImage();
    const QColor background = dsColor(DSColor::background, scheme);
    const QColor edge = face.pixelColor(face.width() / 2, 0);
    EXPECT_NE(edge.rgb(), background.rgb()) << "no edge drawn";
    EXPECT_EQ(face.pixelColor(face.width() / 2, 3).rgb(), background.rgb());
    EXPECT_EQ(face.pixelColor(0, face.height() / 2).rgb(), edge.rgb()) << "the edge runs round";
    EXPECT_FALSE(sheet->mask().isEmpty());
    EXPECT_FALSE(sheet->mask().contains(QPoint(0, 0))) << "square corner left";
    EXPECT_TRUE(sheet->mask().contains(QPoint(sheet->width() / 2, sheet->height() / 2)));

    test::settingsScreenshot(window, QStringLiteral("about-sheet-over-page"), scheme);
    closeSheet();
    Appearance::setOverride(&window, scheme);
    test::settle(50);
    EXPECT_EQ(window.findChild<SheetBackdrop*>(), nullptr) << "the page comes back when the sheet goes";
    EXPECT_EQ(window.grab().toImage().pixelColor(inPage), before);
    Appearance::setOverride(&window, std::nullopt);
  }
}

// Ctrl+W closes what is in front: the sheet first (as Escape does), then the window.
TEST_F(AboutPage, CloseKeyClosesTheSheetFirstThenTheWindow) {
  QDialog* sheet = open(AboutSection::support);
  ASSERT_NE(sheet, nullptr);
  sheet->activateWindow();
  ASSERT_TRUE(test::waitUntil([&] { return sheet->isActiveWindow(); }));
  ASSERT_TRUE(test::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+w")}));
  ASSERT_TRUE(test::waitUntil([&] { return !page_->sheetWindow(); }));
  EXPECT_EQ(page_->presentedSection(), std::nullopt);
  test::settle(100);
  EXPECT_TRUE(rig_->window().isVisible()) << "one press closes one thing";

  rig_->window().activateWindow();
  ASSERT_TRUE(test::waitUntil([&] { return rig_->window().isActiveWindow(); }));
  ASSERT_TRUE(test::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+w")}));
  EXPECT_TRUE(test::waitUntil([&] { return !rig_->window().isVisible(); }));
}

TEST_F(AboutPage, EmailIsSelectableTextAndPrivacyRowOpensThePolicy) {
  open(AboutSection::support);
  auto* email = qobject_cast<QLabel*>(support()->emailText());
  ASSERT_NE(email, nullptr);
  EXPECT_EQ(email->text(), QStringLiteral("support@murel.com"));
  EXPECT_TRUE(email->textInteractionFlags() & Qt::TextSelectableByMouse);
  ASSERT_TRUE(test::clickCentre(email));
  EXPECT_TRUE(workspace_.opened.isEmpty()) << "a click on the address starts no mail";
  const QStringList texts = test::visibleTexts(page_->sheetWindow());
  for (const char* text :
       {"Email", "Privacy policy", "how Murel handles your data", "Diagnostics", "share a log with us", "OPEN",
        "EXPORT", "CLOSE", "questions, feedback, or a bug \u2014 get in touch."})
    EXPECT_TRUE(texts.contains(QString::fromUtf8(text))) << text;
  EXPECT_EQ(test::rawKeysAmong(texts), QStringList());

  ASSERT_TRUE(test::clickCentre(support()->privacyRow()));
  EXPECT_EQ(workspace_.opened, QList<QUrl>{privacyPolicyURL()});
  for (Scheme scheme : {Scheme::Light, Scheme::Dark})
    test::settingsScreenshot(rig_->window(), QStringLiteral("about-support"), scheme);
  closeSheet();
}

TEST_F(AboutPage, AcknowledgementsListSevenRowsAndOpensTheTermsPage) {
  open(AboutSection::acknowledgements);
  QWidget* body = page_->sheet()->body();
  ASSERT_NE(qobject_cast<AcknowledgementsList*>(body), nullptr);
  const QList<SettingsChapterRow*> rows = chapterRows(body);
  EXPECT_EQ(rowTitles(rows),
            (QStringList{QStringLiteral("LiteRT-LM"), QStringLiteral("whisper.cpp"), QStringLiteral("llama.cpp"),
                         QStringLiteral("Qwen3-ASR"), QStringLiteral("Whisper"), QStringLiteral("Parakeet"),
                         QStringLiteral("Gemma")}));
  for (int i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i]->numeral()->text(), QString::asprintf("%02d", i + 1));
  EXPECT_EQ(pillLabels(rows[0]), QStringList{QStringLiteral("Apache 2.0")});
  EXPECT_EQ(pillLabels(rows[6]), QStringList{QStringLiteral("Gemma Terms")});
  const QStringList texts = test::visibleTexts(page_->sheetWindow());
  EXPECT_TRUE(texts.contains(QStringLiteral("Speech recognition model by NVIDIA.")));
  EXPECT_TRUE(texts.contains(QStringLiteral("Runs Qwen3-ASR on the CPU via ggml.")));
  EXPECT_EQ(test::rawKeysAmong(texts), QStringList());
  for (Scheme scheme : {Scheme::Light, Scheme::Dark})
    test::settingsScreenshot(rig_->window(), QStringLiteral("about-acknowledgements"), scheme);

  // The list is taller than the sheet: scroll to Gemma and press it.
  auto* scroll = page_->sheet()->scrollArea();
  scroll->ensureWidgetVisible(rows[6]);
  test::settle(50);
  ASSERT_TRUE(test::clickCentre(rows[6]));
  ASSERT_EQ(workspace_.opened.size(), 1);
  EXPECT_EQ(workspace_.opened[0].host(), QStringLiteral("ai.google.dev"));
  EXPECT_TRUE(page_->sheetWindow() && page_->sheetWindow()->isVisible()) << "the window is left as it was";
  EXPECT_EQ(rig_->view().currentTab(), SettingsTab::about);
  closeSheet();
}

TEST(AcknowledgementEntries, FirstAttributionOfEachNameOnceBetweenRuntimeAndGemma) {
  const auto attribution = [](const char* name, const char* license, const char* url) {
    ModelAttribution a;
    a.name = QString::fromLatin1(name);
    a.license = QString::fromLatin1(license);
    if (url) a.url = QUrl(QString::fromLatin1(url));
    return a;
  };
  const QList<Acknowledgement> entries = acknowledgementEntriesFrom(
      {attribution("Alpha", "MIT", "https://a.example/1"), attribution("Beta", "BSD", nullptr),
       attribution("Alpha", "GPL", "https://a.example/2"), attribution("alpha", "MIT", nullptr)});
  QStringList names;
  for (const Acknowledgement& entry : entries) names.append(entry.name);
  EXPECT_EQ(names, (QStringList{QStringLiteral("LiteRT-LM"), QStringLiteral("whisper.cpp"), QStringLiteral("llama.cpp"),
                                QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("alpha"),
                                QStringLiteral("Gemma")}));
  EXPECT_EQ(entries[3].url, QUrl(QStringLiteral("https://a.example/1")));
  EXPECT_EQ(entries[3].license, QStringLiteral("MIT"));
  EXPECT_EQ(entries[4].url, std::nullopt);
  // Built once for the process.
  EXPECT_EQ(&acknowledgementEntries(), &acknowledgementEntries());
  EXPECT_EQ(acknowledgementEntries().size(), 7);
}

TEST(AcknowledgementsListView, RowWithoutAddressTakesNoClick) {
  test::RecordingWorkspace workspace;
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* list = new AcknowledgementsList(
      workspace, {{QStringLiteral("NoPage"), QStringLiteral("no address"), QStringLiteral("MIT"), std::nullopt},
                  {QStringLiteral("Page"), QStringLiteral("an address"), QStringLiteral("MIT"),
                   QUrl(QStringLiteral("https://example.org/page"))}});
  layout->addWidget(list);
  window.resize(480, 300);
  window.show();
  ASSERT_TRUE(test::waitUntil([&] { return window.isVisible(); }));
  test::settle(100);
  const QList<SettingsChapterRow*> rows = chapterRows(list);
  ASSERT_EQ(rows.size(), 2);
  ASSERT_TRUE(test::clickCentre(rows[0]));
  EXPECT_TRUE(workspace.opened.isEmpty());
  ASSERT_TRUE(test::clickCentre(rows[1]));
  EXPECT_EQ(workspace.opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/page"))});
}

// The desktop's own opener: an xdg-open stand-in on PATH logs what it was given.
TEST(AcknowledgementsListView, DesktopWorkspaceHandsTheAddressToXdgOpen) {
  const QString bin = test::freshDir(QStringLiteral("xdg-open-bin"));
  const QString log = bin + QStringLiteral("/opened.log");
  QFile script(bin + QStringLiteral("/xdg-open"));
  ASSERT_TRUE(script.open(QIODevice::WriteOnly));
  script.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '%1'\n").arg(log).toUtf8());
  script.close();
  script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", bin.toUtf8() + ':' + path);
  const QUrl terms = acknowledgementEntries().constLast().url.value();
  FileManagerWorkspace workspace;
  EXPECT_TRUE(workspace.openURL(terms));
  EXPECT_TRUE(test::waitUntil([&] {
    QFile file(log);
    return file.open(QIODevice::ReadOnly) && file.readAll() == terms.toString().toUtf8() + '\n';
  }));
  qputenv("PATH", path);
}

TEST(AboutDetailSheetFrame, TallBodyScrollsWithoutBarsInA480WideSheet) {
  for (int bodyHeight : {120, 1000}) {
    SCOPED_TRACE(bodyHeight);
    auto* body = new QWidget;
    body->setFixedHeight(bodyHeight);
    AboutDetailSheet sheet(QStringLiteral("settings.looks.like.a.key but shown verbatim"), body);
    sheet.show();
    ASSERT_TRUE(test::waitUntil([&] { return sheet.isVisible(); }));
    test::settle(50);
    EXPECT_EQ(sheet.width(), 480);
    EXPECT_EQ(sheet.titleLabel()->text(), QStringLiteral("settings.looks.like.a.key but shown verbatim"));
    CappedScrollArea* scroll = sheet.scrollArea();
    EXPECT_EQ(scroll->height(), std::min(bodyHeight + 40, 420));
    EXPECT_EQ(scroll->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
    EXPECT_EQ(scroll->verticalScrollBar()->maximum(), std::max(0, bodyHeight + 40 - 420));
    EXPECT_EQ(body->width(), 480 - 48);
    // The body lies on the sheet's own background, in either scheme.
    for (Scheme scheme : {Scheme::Light, Scheme::Dark}) {
      Appearance::setOverride(&sheet, scheme);
      const QImage image = sheet.grab().toImage();
      const QPoint inBody = scroll->mapTo(&sheet, QPoint(4, 4)) * image.devicePixelRatio();
      EXPECT_EQ(image.pixelColor(inBody).rgb(), dsColor(DSColor::background, scheme).rgb());
    }
  }
}
