// The settings window on the rig's X server: layout, sidebar, page switch by a
// real click and by a navigator write, the window's reopening and fade-in, and
// screenshots of every tab in light and dark.
#include "app/DiagnosticsReport.h"
#include "app/FilePanels.h"
#include "app/MurelApp.h"
#include "app/SettingsNavigator.h"
#include "design/EditorialComponents.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "hotkeys/HotKeyService.h"
#include "platform/pulse/SoundServer.h"
#include "platform/x11/X11KeyEventTap.h"
#include "root/SettingsWiring.h"
#include "runtime/Clock.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "settings/ModesSettingsView.h"
#include "settings/SettingsView.h"
#include "support/FakeDesktop.h"
#include "support/ScriptedFilePanels.h"
#include "support/SettingsWindowRig.h"
#include "support/TestEnv.h"
#include "text/DictionaryStore.h"
#include "text/HistoryStore.h"
#include "text/ModeStore.h"
#include "text/SnippetStore.h"
#include "text/UsageStatsStore.h"
#include "text/VoiceEditPreferences.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace murel;
using Scheme = Appearance::Scheme;

namespace {

class SettingsWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(installTranslations(*QCoreApplication::instance())); }
};

// A page that counts how often it was built, and can be told apart from another build.
SettingsPages countingPages(int* builds) {
  SettingsPages pages;
  for (SettingsTab tab : allSettingsTabs()) {
    pages.set(tab, [builds, tab](const SettingsPageContext&, QWidget* parent) -> QWidget* {
      ++*builds;
      return makePlaceholderSettingsPage(tab, parent);
    });
  }
  return pages;
}

// Equal up to rounding of a blend.
bool closeColors(const QColor& a, const QColor& b) {
  return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 && std::abs(a.blue() - b.blue()) <= 2;
}

SettingsSidebarRow* row(SettingsView& view, SettingsTab tab) {
  return view.sidebarRows().at(int(allSettingsTabs().indexOf(tab)));
}

void expectOnlySelected(SettingsView& view, SettingsTab selected) {
  for (SettingsSidebarRow* row : view.sidebarRows()) {
    SCOPED_TRACE(settingsTabRawValue(row->tab()).toStdString());
    const bool on = row->tab() == selected;
    EXPECT_EQ(row->isSelected(), on);
    if (on) {
      EXPECT_EQ(row->contentColor(), dsColor(DSColor::accent, row));
      EXPECT_EQ(row->barColor(), dsColor(DSColor::accent, row));
    } else {
      EXPECT_EQ(row->barColor().alpha(), 0);
      EXPECT_NE(row->contentColor(), dsColor(DSColor::accent, row));
    }
  }
}

}  // namespace

TEST_F(SettingsWindow, LaysOutSidebarHairlineAndPageAt850By700) {
  test::SettingsWindowRig rig(SettingsTab::dashboard);
  SettingsView& view = rig.view();
  EXPECT_EQ(view.size(), QSize(850, 700));
  EXPECT_EQ(rig.window().size(), QSize(850, 700));
  EXPECT_EQ(view.sidebar()->geometry(), QRect(0, 0, 220, 700));
  EXPECT_EQ(view.hairline()->geometry(), QRect(220, 0, 1, 700));
  EXPECT_EQ(view.pageArea()->geometry(), QRect(221, 0, 629, 700));
  EXPECT_EQ(view.currentPage()->geometry(), QRect(0, 0, 629, 700));

  // Ten rows in table order, each followed by a rule; the footer under a rule at the bottom.
  auto* column = qobject_cast<QBoxLayout*>(view.sidebar()->layout());
  ASSERT_NE(column, nullptr);
  QList<SettingsTab> order;
  for (int i = 0; i < column->count(); ++i) {
    auto* sidebarRow = qobject_cast<SettingsSidebarRow*>(column->itemAt(i)->widget());
    if (!sidebarRow) continue;
    order.append(sidebarRow->tab());
    ASSERT_LT(i + 1, column->count());
    EXPECT_NE(qobject_cast<EditorialRule*>(column->itemAt(i + 1)->widget()), nullptr);
    EXPECT_EQ(sidebarRow->width(), 220);
  }
  EXPECT_EQ(order, allSettingsTabs());
  EXPECT_EQ(view.sidebarRows().size(), 10);
  EXPECT_GT(view.versionLabel()->mapTo(&view, QPoint()).y(), row(view, SettingsTab::about)->geometry().bottom());
  expectOnlySelected(view, SettingsTab::dashboard);
}

TEST_F(SettingsWindow, FooterShowsVersionOrQuestionMark) {
  const QString saved = QCoreApplication::applicationVersion();
  QCoreApplication::setApplicationVersion(QStringLiteral("2.3.1"));
  EXPECT_EQ(SettingsView::versionText(), QStringLiteral("v2.3.1"));
  QCoreApplication::setApplicationVersion(QString());
  {
    test::SettingsWindowRig rig(SettingsTab::dashboard);
    EXPECT_EQ(rig.view().versionLabel()->text(), QStringLiteral("v?"));
  }
  QCoreApplication::setApplicationVersion(saved);
}

TEST_F(SettingsWindow, HoveredUnselectedRowTurnsFromSecondaryInkToInk) {
  test::SettingsWindowRig rig(SettingsTab::dashboard);
  ASSERT_TRUE(test::hoverAt(&rig.view(), QPoint(600, 650)));
  test::settle(150);
  SettingsSidebarRow* models = row(rig.view(), SettingsTab::models);
  EXPECT_EQ(models->contentColor(), dsColor(DSColor::inkSecondary, models));
  ASSERT_TRUE(test::hoverAt(models, models->rect().center()));
  EXPECT_TRUE(test::waitUntil([&] { return models->isHovering(); }, std::chrono::seconds(2)));
  test::settle(200);
  EXPECT_EQ(models->contentColor(), dsColor(DSColor::ink, models));
  // The selected row keeps its accent under the pointer.
  SettingsSidebarRow* dashboard = row(rig.view(), SettingsTab::dashboard);
  ASSERT_TRUE(test::hoverAt(dashboard, dashboard->rect().center()));
  test::settle(200);
  EXPECT_EQ(models->contentColor(), dsColor(DSColor::inkSecondary, models));
  EXPECT_EQ(dashboard->contentColor(), dsColor(DSColor::accent, dashboard));
}

TEST_F(SettingsWindow, ClickOnARowSwitchesPageAndSelection) {
  int builds = 0;
  const SettingsPages pages = countingPages(&builds);
  test::SettingsWindowRig rig(SettingsTab::dashboard, pages);
  SettingsView& view = rig.view();
  EXPECT_EQ(builds, 1);
  QPointer<QWidget> first = view.currentPage();
  QSignalSpy changes(&rig.navigator(), &SettingsNavigator::selectedTabChanged);

  // The whole padded row takes the click, not only its text: its far right edge.
  SettingsSidebarRow* modes = row(view, SettingsTab::modes);
  ASSERT_TRUE(test::clickAt(modes, QPoint(modes->width() - 3, modes->height() / 2)));
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(rig.navigator().selectedTab(), SettingsTab::modes);
  EXPECT_EQ(view.currentTab(), SettingsTab::modes);
  EXPECT_EQ(view.currentPage()->objectName(), QStringLiteral("page-modes"));
  EXPECT_EQ(builds, 2);
  test::settle(150);
  EXPECT_TRUE(first.isNull()) << "the old page is deleted";
  expectOnlySelected(view, SettingsTab::modes);

  // A click on the selected row changes nothing: same page, no notification.
  QWidget* page = view.currentPage();
  page->setProperty("typed", QStringLiteral("half an entry"));
  ASSERT_TRUE(test::clickCentre(modes));
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(view.currentPage(), page);
  EXPECT_EQ(page->property("typed").toString(), QStringLiteral("half an entry"));
  EXPECT_EQ(builds, 2);
}

TEST_F(SettingsWindow, NavigatorWriteSwitchesAtOnceAndSameTabKeepsThePage) {
  test::SettingsWindowRig rig(SettingsTab::dashboard);
  SettingsView& view = rig.view();
  QWidget* dashboard = view.currentPage();
  dashboard->setProperty("typed", 1);
  rig.navigator().setSelectedTab(SettingsTab::dashboard);
  EXPECT_EQ(view.currentPage(), dashboard);
  EXPECT_EQ(dashboard->property("typed").toInt(), 1);

  // As the tray panel does it: the page and the sidebar follow at once.
  rig.navigator().setSelectedTab(SettingsTab::transcribe);
  EXPECT_EQ(view.currentTab(), SettingsTab::transcribe);
  EXPECT_EQ(view.currentPage()->objectName(), QStringLiteral("page-transcribe"));
  EXPECT_TRUE(row(view, SettingsTab::transcribe)->isSelected());
  EXPECT_FALSE(row(view, SettingsTab::dashboard)->isSelected());
  // The new page fades in, then draws without an effect.
  EXPECT_NE(view.pageArea()->graphicsEffect(), nullptr);
  EXPECT_TRUE(test::waitUntil([&] { return view.pageArea()->graphicsEffect() == nullptr; }, std::chrono::seconds(2)));
  test::settle(150);
  expectOnlySelected(view, SettingsTab::transcribe);
}

TEST_F(SettingsWindow, EveryTabWithoutAPageShowsItsTitleAndNoRawKey) {
  test::SettingsWindowRig rig(SettingsTab::dashboard);
  for (SettingsTab tab : allSettingsTabs()) {
    rig.show(tab);
    const QStringList texts = test::visibleTexts(rig.view().currentPage());
    EXPECT_TRUE(texts.contains(settingsTabTitle(tab))) << texts.join(QLatin1Char('|')).toStdString();
  }
  const QStringList texts = test::visibleTexts(&rig.window());
  for (const char* expected : {"MUREL", "settings", "DASHBOARD", "VOICE EDIT", "ABOUT"})
    EXPECT_TRUE(texts.contains(QLatin1String(expected))) << expected;
  EXPECT_EQ(test::rawKeysAmong(texts), QStringList());
}

// Every tab as the application registers its pages, in light and dark, for
// looking at (build/screenshots/settings/).
TEST_F(SettingsWindow, ScreenshotsOfEveryTabInLightAndDark) {
  SettingsPages pages;
  test::RecordingWorkspace workspace;
  test::ScriptedPanels panels;
  test::FakeMicrophone microphone;
  test::FakeAudioDevices devices;
  registerSettingsPages(pages, workspace,
                        DiagnosticsSources{UserDefaults::shared(), microphone, devices, panels, workspace});
  test::SettingsWindowRig rig(SettingsTab::dashboard, pages);
  ASSERT_TRUE(test::hoverAt(&rig.view(), QPoint(600, 690)));
  for (SettingsTab tab : allSettingsTabs()) {
    rig.show(tab);
    EXPECT_EQ(test::rawKeysAmong(test::visibleTexts(&rig.window())), QStringList());
    for (Scheme scheme : {Scheme::Light, Scheme::Dark}) {
      const QString path = test::settingsScreenshot(rig.window(), settingsTabRawValue(tab), scheme);
      const QImage image(path);
      ASSERT_EQ(image.size(), QSize(850, 700) * rig.window().devicePixelRatio()) << path.toStdString();
      // The window background and, over it, the hairline column in the scheme's colours.
      const QColor background = dsColor(DSColor::background, scheme);
      EXPECT_EQ(image.pixelColor(600, 690).rgb(), background.rgb());
      const QColor hairline = dsColor(DSColor::hairline, scheme);
      EXPECT_TRUE(closeColors(image.pixelColor(220, 350), mixColors(background, hairline, hairline.alphaF())))
          << settingsTabRawValue(tab).toStdString();
      EXPECT_EQ(image.pixelColor(219, 350).rgb(), background.rgb());
    }
  }
}

// Every page with long content, as a user's profile fills it (a full
// history, hundreds of rules, a word wider than any column): each scrolls to
// its bottom space past its last view and no further, and none is wider than
// the window.
TEST_F(SettingsWindow, EveryPageWithLongContentScrollsToItsEndInsideTheWindow) {
  const QString dir = test::freshDir(QStringLiteral("long-pages"));
  UserDefaults defaults(dir + QStringLiteral("/d.json"));
  const QString word(5'000, QLatin1Char('w'));
  const QString sentence = QStringLiteral("a long dictation about the weather and the week ahead ").repeated(8);

  UsageStatsStore usage(defaults);
  HistoryStore history(defaults);
  history.add(word);
  for (int i = 0; i < 99; ++i) history.add(sentence + QString::number(i));
  DictionaryStore dictionary(defaults);
  QList<DictionaryEntry> rules{{QUuid::createUuid(), word, word}};
  for (int i = 0; i < 300; ++i) rules.append({QUuid::createUuid(), sentence + QString::number(i), QStringLiteral("x")});
  dictionary.setEntries(rules);
  SnippetStore snippets(defaults);
  QList<SnippetEntry> stored{{QUuid::createUuid(), word, word}};
  for (int i = 0; i < 60; ++i) stored.append({QUuid::createUuid(), sentence + QString::number(i), sentence});
  snippets.setEntries(stored);
  ModeStore modes(defaults);
  const Mode wordy{QUuid::createUuid(), word, Transformation::custom(word + QLatin1Char(' ') + sentence), std::nullopt,
                   false};
  QList<Mode> allModes = modes.modes();
  allModes.append(wordy);
  modes.setModes(allModes);
  VoiceEditPreferences voiceEdit(defaults);
  X11KeyEventTap tap;
  HotKeyService hotKeys(defaults, tap);

  SettingsPages pages;
  test::RecordingWorkspace workspace;
  test::ScriptedPanels panels;
  test::FakeMicrophone microphone;
  test::FakeAudioDevices devices;
  test::FakePasteboard pasteboard;
  registerSettingsPages(pages, workspace, DiagnosticsSources{defaults, microphone, devices, panels, workspace});
  registerUsagePages(pages, usage, history, pasteboard, Clock::continuous());
  registerListPages(pages, dictionary, snippets, panels, workspace);
  registerModesPages(pages, modes, voiceEdit, hotKeys);
  test::SettingsWindowRig rig(SettingsTab::dashboard, pages);
  const SettingsTab tabs[] = {SettingsTab::dashboard, SettingsTab::history, SettingsTab::dictionary,
                              SettingsTab::snippets,  SettingsTab::modes,   SettingsTab::voiceEdit,
                              SettingsTab::about};
  for (SettingsTab tab : tabs) {
    SCOPED_TRACE(settingsTabRawValue(tab).toStdString());
    rig.show(tab);
    // Long lists fill in over a few turns.
    test::settle(500);
    EXPECT_EQ(test::pageExtentFaults(&rig.window()).join(u'\n').toStdString(), "");
  }
  rig.show(SettingsTab::modes);
  auto* modesPage = qobject_cast<ModesSettingsView*>(rig.view().currentPage());
  ASSERT_NE(modesPage, nullptr);
  modesPage->openModeEditor(wordy);
  test::settle(500);
  ASSERT_NE(modesPage->editor(), nullptr);
  EXPECT_EQ(test::pageExtentFaults(&rig.window()).join(u'\n').toStdString(), "") << "mode editor";
}

TEST_F(SettingsWindow, FadesInOverAFifthOfASecond) {
  SettingsNavigator navigator;
  test::SettingsWindowRig rig(SettingsTab::dashboard);
  // A fresh view starts transparent and reaches full opacity in about 0.2 s once shown.
  auto* view = new SettingsView(navigator, rig.audioDeviceManager(), SettingsPages());
  EXPECT_FALSE(view->appeared());
  EXPECT_EQ(view->opacity(), 0);
  QElapsedTimer clock;
  clock.start();
  view->show();
  EXPECT_TRUE(view->appeared());
  EXPECT_LT(view->opacity(), 1);
  ASSERT_NE(view->graphicsEffect(), nullptr);
  // Eased, not a jump: full opacity no sooner than the animation's length.
  EXPECT_TRUE(test::waitUntil([&] { return view->opacity() >= 1; }, std::chrono::seconds(3)));
  EXPECT_GE(clock.elapsed(), 190);
  EXPECT_EQ(view->graphicsEffect(), nullptr) << "at rest it draws without an effect";
  delete view;
}

// The application's own window: built when opened, dropped when closed, and
// the navigator's tab shown again (built fresh) on the next opening.
TEST_F(SettingsWindow, ApplicationWindowReopensOnTheLastTabBuiltAfresh) {
  int builds = 0;
  const SettingsPages pages = countingPages(&builds);
  platform::SoundServer sound;
  MurelApp::Services services;
  services.isReadyAtLaunch = [] { return true; };
  services.bootstrap = [] {};
  services.startHotKeys = [] {};
  services.microphone = &sound.microphone();
  services.audioDevices = &sound.devices();
  services.settingsContent = settingsWindowContent(pages);
  MurelApp app(std::move(services));
  app.launch();
  QWidget* window = app.settingsWindow();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->findChild<SettingsView*>(), nullptr) << "not built before it is opened";
  EXPECT_EQ(builds, 0);

  app.openSettings();
  ASSERT_TRUE(test::waitUntil([&] { return window->isVisible(); }));
  auto* view = window->findChild<SettingsView*>();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(window->size(), QSize(850, 700));
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Settings"));
  EXPECT_EQ(&view->navigator(), &app.settingsNavigator());
  EXPECT_TRUE(test::waitUntil([&] { return view->opacity() >= 1; }));
  SettingsSidebarRow* history = row(*view, SettingsTab::history);
  ASSERT_TRUE(test::clickCentre(history));
  EXPECT_EQ(app.settingsNavigator().selectedTab(), SettingsTab::history);

  QPointer<SettingsView> closed = view;
  window->close();
  test::settle(50);
  EXPECT_TRUE(closed.isNull()) << "closing drops the content";

  // With the window closed a write from outside is shown at the next opening.
  app.settingsNavigator().setSelectedTab(SettingsTab::transcribe);
  const int before = builds;
  app.openSettings();
  ASSERT_TRUE(test::waitUntil([&] { return window->isVisible(); }));
  view = window->findChild<SettingsView*>();
  ASSERT_NE(view, nullptr);
  EXPECT_LT(view->opacity(), 1) << "a reopened window fades in again";
  EXPECT_EQ(view->currentTab(), SettingsTab::transcribe);
  EXPECT_EQ(builds, before + 1);
  EXPECT_TRUE(row(*view, SettingsTab::transcribe)->isSelected());
  window->close();
  test::settle(50);
}

// Many switches leave no page, row or effect behind.
TEST_F(SettingsWindow, ThousandTabSwitchesLeaveNoWidgetBehind) {
  test::SettingsWindowRig rig(SettingsTab::dashboard);
  const auto cycle = [&](int switches) {
    for (int i = 0; i < switches; ++i) {
      rig.navigator().setSelectedTab(allSettingsTabs()[(i + 1) % 10]);
      if (i % 50 == 0) test::settle(0);
    }
    rig.navigator().setSelectedTab(SettingsTab::dashboard);
    test::settle(300);
    return QApplication::allWidgets().size();
  };
  const qsizetype afterTen = cycle(10);
  EXPECT_EQ(cycle(1000), afterTen);
}
