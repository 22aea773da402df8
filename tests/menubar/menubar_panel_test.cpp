// The tray panel in a real popup window on the rig's X server: its rows and
// rules, the model row appearing after the first paint, the error card and its
// buttons, the five actions before and after onboarding, menus opened and
// chosen with the real pointer, the rig's microphones coming and going, and
// pictures in light and dark (build/screenshots/menubar/).
#include "MenuBarRig.h"

#include "app/StatusItem.h"
#include "design/Appearance.h"
#include "design/CoreComponents.h"
#include "design/OnboardingButtonStyle.h"
#include "runtime/Localization.h"
#include "support/PasteTarget.h"

#include <QApplication>
#include <QImage>
#include <QPointer>
#include <QScreen>
#include <QSet>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;
using Scheme = Appearance::Scheme;

namespace {

QString schemeName(Scheme scheme) { return scheme == Scheme::Dark ? QStringLiteral("dark") : QStringLiteral("light"); }

// Runs `then` with the first menu that opens (from inside the menu's own loop,
// which the row's click is waiting in).
void whenMenuOpens(std::function<void(QMenu*)> then) {
  auto* poll = new QTimer();
  QObject::connect(poll, &QTimer::timeout, poll, [poll, then = std::move(then)] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu || !menu->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    then(menu);
  });
  poll->start(20);
}

bool clickItem(QMenu* menu, const QString& title) {
  QAction* item = itemTitled(*menu, title);
  if (!item) return false;
  const QPoint at = menu->mapToGlobal(menu->actionGeometry(item).center());
  return xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                  QStringLiteral("click"), QStringLiteral("1")});
}

class MenuBarPanel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installTranslations(*QCoreApplication::instance());
    Fonts::registerBundled();
  }
  void SetUp() override {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "runs under the rig";
    installOnly({"largeV3TurboQ8"});
    xdotool({QStringLiteral("mousemove"), QStringLiteral("900"), QStringLiteral("700")});
  }
  void TearDown() override {
    closeMenuBarExtraWindows();
    settle(50);
    installOnly({});
  }

  // Opens the panel as the tray does, and waits for the scan after its first paint.
  void open(bool onboardingComplete = true) {
    auto* panel = new MenuBarView(rig.parts(), rig.actions(), onboardingComplete);
    EXPECT_FALSE(panel->hasModelChoice());
    window = new MenuBarExtraWindow(panel);
    window->adjustSize();
    EXPECT_FALSE(panel->hasModelChoice()) << "laying the panel out reads no model files";
    EXPECT_TRUE(panel->modelRow()->isHidden());
    view = panel;
    QSignalSpy scanned(panel, &MenuBarView::modelChoiceScanned);
    window->move(60, 60);
    window->show();
    ASSERT_TRUE(waitUntil([&] { return scanned.count() == 1; }));
    settle(100);
  }
  bool isOpen() const { return window && window->isVisible(); }
  QString screenshot(const QString& name, Scheme scheme) {
    const QString folder = buildDir() + QStringLiteral("/screenshots/menubar");
    QDir().mkpath(folder);
    Appearance::setOverride(window, scheme);
    settle(50);
    const QString path = folder + QLatin1Char('/') + name + QLatin1Char('-') + schemeName(scheme) + ".png";
    EXPECT_TRUE(window->grab().save(path)) << path.toStdString();
    Appearance::setOverride(window, std::nullopt);
    return path;
  }
  QStringList allTexts() {
    QStringList texts = visibleTexts(view);
    for (MenuBarPickerRow* row :
         {static_cast<MenuBarPickerRow*>(view->modeRow()), static_cast<MenuBarPickerRow*>(view->modelRow()),
          static_cast<MenuBarPickerRow*>(view->languageRow()), static_cast<MenuBarPickerRow*>(view->micRow())}) {
      texts << row->pillText() << row->accessibleDescription();
      if (const auto menu = row->buildMenu()) texts << titles(*menu);
    }
    return texts;
  }

  MenuBarRig rig;
  QPointer<QWidget> window;
  QPointer<MenuBarView> view;
};

TEST_F(MenuBarPanel, RowsAndRulesInOrderAndTheModelRowOnlyForAChoice) {
  open();
  EXPECT_EQ(window->width(), 360);
  EXPECT_FALSE(view->hasModelChoice()) << "one installed model is no choice";
  const auto kinds = [&] {
    QStringList list;
    for (QWidget* item : view->visibleItems()) {
      if (qobject_cast<ThinDivider*>(item))
        list << "rule";
      else if (auto* row = qobject_cast<QAbstractButton*>(item))
        list << row->text();
      else
        list << "card";
    }
    return list;
  };
  const QStringList rows{"MODE",
                         "rule",
                         "LANGUAGE",
                         "rule",
                         "MICROPHONE",
                         "rule",
                         "TRANSCRIBE FILE",
                         "rule",
                         "SETTINGS",
                         "rule",
                         "CHECK FOR UPDATES\u2026",
                         "rule",
                         "SETUP GUIDE",
                         "rule",
                         "QUIT MUREL"};
  EXPECT_EQ(kinds(), rows);
  EXPECT_TRUE(rawKeysAmong(allTexts()).isEmpty()) << allTexts().join(" | ").toStdString();
  for (Scheme scheme : {Scheme::Light, Scheme::Dark}) screenshot(QStringLiteral("plain"), scheme);
  const int oneModelHeight = window->height();

  // A model downloaded meanwhile shows only at the next opening.
  installOnly({"largeV3TurboQ8", "parakeetTDT0_6BV3Q8"});
  settle(50);
  EXPECT_FALSE(view->hasModelChoice());
  closeMenuBarExtraWindows();
  ASSERT_TRUE(waitUntil([&] { return !window; }));
  open();
  EXPECT_TRUE(view->hasModelChoice());
  QStringList withModel = rows;
  withModel.insert(2, "MODEL");
  withModel.insert(3, "rule");
  EXPECT_EQ(kinds(), withModel);
  EXPECT_EQ(window->height(), oneModelHeight + view->modelRow()->height() + 1) << "the popup grew with its content";
  EXPECT_EQ(view->modelRow()->pillText(), model("largeV3TurboQ8").displayName.text());
  for (Scheme scheme : {Scheme::Light, Scheme::Dark}) screenshot(QStringLiteral("two-models"), scheme);
}

TEST_F(MenuBarPanel, HairlineOutlineKeepsTheEdgeApartWithoutACompositor) {
  open();
  // A rule between two rows is drawn in the hairline colour: the outline matches it.
  QWidget* rule = nullptr;
  for (QWidget* item : view->visibleItems())
    if (qobject_cast<ThinDivider*>(item)) rule = item;
  ASSERT_NE(rule, nullptr);
  for (Scheme scheme : {Scheme::Light, Scheme::Dark}) {
    SCOPED_TRACE(schemeName(scheme).toStdString());
    const QImage shot(screenshot(QStringLiteral("outline"), scheme));
    const qreal scale = qreal(shot.width()) / window->width();
    const QColor hairline = shot.pixelColor(rule->mapTo(window, QPoint(rule->width() / 2, 0)) * scale);
    const QColor background = dsColor(DSColor::background, scheme);
    ASSERT_NE(hairline.rgb(), background.rgb());
    const int w = window->width(), h = window->height();
    const int actionY = view->quitRow()->mapTo(window, QPoint(0, view->quitRow()->height() / 2)).y();
    for (const QPoint edge : {QPoint(0, actionY), QPoint(w - 1, actionY), QPoint(w / 2, 0), QPoint(w / 2, h - 1)})
      EXPECT_EQ(shot.pixelColor(edge * scale), hairline) << edge.x() << "," << edge.y();
    EXPECT_EQ(shot.pixelColor(QPoint(w - 8, actionY) * scale).rgb(), background.rgb()) << "one pixel wide";
  }
}

struct ErrorRow {
  const char* name;
  AppStatus status;
  std::optional<QString> lastError;
  std::optional<QUrl> link;
  std::optional<QString> shown;  // the card's message; none: no card
  QStringList buttons;
  AppStatus afterDismiss;
};

class ErrorCard : public MenuBarPanel, public ::testing::WithParamInterface<ErrorRow> {};

TEST_P(ErrorCard, ShowsTheRightErrorAndDismissClearsIt) {
  const ErrorRow& row = GetParam();
  rig.state.setStatus(row.status);
  rig.state.setLastError(row.lastError);
  rig.state.setSettingsDeepLink(row.link);
  open();
  MenuBarErrorCard* card = view->errorCard();
  EXPECT_EQ(!card->isHidden(), row.shown.has_value());
  if (!row.shown) {
    EXPECT_EQ(qobject_cast<MenuBarModeRow*>(view->visibleItems().first()), view->modeRow());
    return;
  }
  EXPECT_EQ(card->message(), *row.shown);
  QStringList labels;
  for (QAbstractButton* button : card->visibleButtons()) labels << button->text();
  EXPECT_EQ(labels, row.buttons);
  // Left to right as listed.
  for (int i = 1; i < card->visibleButtons().size(); ++i)
    EXPECT_LT(card->visibleButtons()[i - 1]->x(), card->visibleButtons()[i]->x());
  EXPECT_TRUE(qobject_cast<ThinDivider*>(view->visibleItems().at(1))) << "a rule between the card and the mode row";

  ASSERT_TRUE(clickCentre(card->dismissButton()));
  EXPECT_TRUE(waitUntil([&] { return card->isHidden(); }));
  EXPECT_EQ(rig.state.status(), row.afterDismiss);
  EXPECT_FALSE(rig.state.lastError());
  EXPECT_FALSE(rig.state.settingsDeepLink());
  EXPECT_TRUE(isOpen()) << "dismissing keeps the panel open";
}

const QUrl kLink(QStringLiteral("https://example.invalid/microphone-help"));

INSTANTIATE_TEST_SUITE_P(Rows, ErrorCard,
                         ::testing::Values(ErrorRow{"statusMessageOverLastError",
                                                    AppStatus::error("Model load failed: gone"),
                                                    QString("older problem"),
                                                    std::nullopt,
                                                    QString("Model load failed: gone"),
                                                    {"RETRY", "DISMISS"},
                                                    AppStatus::ready()},
                                           ErrorRow{"lastErrorAloneKeepsReady",
                                                    AppStatus::ready(),
                                                    QString("Paste failed"),
                                                    std::nullopt,
                                                    QString("Paste failed"),
                                                    {"RETRY", "DISMISS"},
                                                    AppStatus::ready()},
                                           ErrorRow{"lastErrorWhileRecordingLeavesRecording",
                                                    AppStatus::recording(),
                                                    QString("Paste failed"),
                                                    std::nullopt,
                                                    QString("Paste failed"),
                                                    {"RETRY", "DISMISS"},
                                                    AppStatus::recording()},
                                           ErrorRow{"emptyErrorMessageStillShowsTheCard",
                                                    AppStatus::error(QString()),
                                                    std::nullopt,
                                                    std::nullopt,
                                                    QString(),
                                                    {"RETRY", "DISMISS"},
                                                    AppStatus::ready()},
                                           ErrorRow{"linkWithoutErrorShowsNoCard",
                                                    AppStatus::ready(),
                                                    std::nullopt,
                                                    kLink,
                                                    std::nullopt,
                                                    {},
                                                    AppStatus::ready()},
                                           ErrorRow{"linkAddsOpenSettingsFirst",
                                                    AppStatus::error("Microphone unavailable"),
                                                    std::nullopt,
                                                    kLink,
                                                    QString("Microphone unavailable"),
                                                    {"OPEN SETTINGS", "RETRY", "DISMISS"},
                                                    AppStatus::ready()}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MenuBarPanel, OpenSettingsReachesTheWorkspaceAndRetryClearsTheError) {
  const QString longMessage =
      QStringLiteral("Model load failed: the file could not be read because the disk is full and nothing more fits");
  rig.state.setStatus(AppStatus::error(longMessage));
  rig.state.setLastError(longMessage);
  rig.state.setSettingsDeepLink(kLink);
  open();
  MenuBarErrorCard* card = view->errorCard();
  ASSERT_FALSE(card->isHidden());
  EXPECT_GT(card->height(), 120) << "a long message wraps onto more lines";
  for (QAbstractButton* button : card->visibleButtons())
    EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString() << " is squeezed";
  EXPECT_LE(card->dismissButton()->geometry().right(), card->width() - MenuBarErrorCard::kPaddingX);
  EXPECT_TRUE(rawKeysAmong(allTexts()).isEmpty()) << allTexts().join(" | ").toStdString();
  for (Scheme scheme : {Scheme::Light, Scheme::Dark}) screenshot(QStringLiteral("error-with-link"), scheme);

  ASSERT_TRUE(clickCentre(card->openSettingsButton()));
  ASSERT_TRUE(waitUntil([&] { return !rig.workspace.opened.isEmpty(); }));
  EXPECT_EQ(rig.workspace.opened, QList<QUrl>{kLink});
  EXPECT_FALSE(card->isHidden()) << "opening the link leaves the card";
  EXPECT_EQ(rig.state.status(), AppStatus::error(longMessage));

  // RETRY loads the model through the state; the card goes with the error.
  ASSERT_TRUE(clickCentre(card->retryButton()));
  ASSERT_TRUE(waitUntil([&] { return card->isHidden(); }));
  EXPECT_EQ(rig.state.status(), AppStatus::ready());
  EXPECT_EQ(rig.session.engine.loads, 1);
  EXPECT_FALSE(rig.state.settingsDeepLink());

  // A new error while the panel is open shows at once.
  rig.state.setLastError(QStringLiteral("Paste failed"));
  EXPECT_FALSE(card->isHidden());
  EXPECT_EQ(card->message(), QStringLiteral("Paste failed"));
}

TEST_F(MenuBarPanel, BeforeOnboardingTranscribeAndSettingsAreDimmedAndInert) {
  open(false);
  for (MenuBarActionRow* row : {view->transcribeFileRow(), view->settingsRow()}) {
    EXPECT_TRUE(row->isDisabled());
    EXPECT_EQ(row->labelColor(), std::make_pair(DSColor::inkSecondary, 0.5));
    ASSERT_TRUE(hoverAt(row, row->rect().center()));
    settle(150);
    EXPECT_FALSE(row->isHovering()) << "no tint while disabled";
    ASSERT_TRUE(clickCentre(row));
  }
  EXPECT_TRUE(rig.calls.isEmpty()) << rig.calls.join(", ").toStdString();
  EXPECT_TRUE(isOpen());
  EXPECT_EQ(rig.navigator.selectedTab(), SettingsTab::dashboard);

  // SETUP GUIDE works before onboarding and leaves the panel open.
  ASSERT_TRUE(clickCentre(view->setupGuideRow()));
  EXPECT_EQ(rig.calls, QStringList{"openSetupGuide"});
  EXPECT_TRUE(isOpen());

  // Completed while the panel is open: the rows follow.
  view->setOnboardingComplete(true);
  EXPECT_FALSE(view->transcribeFileRow()->isDisabled());
  EXPECT_EQ(view->settingsRow()->labelColor(), std::make_pair(DSColor::ink, 1.0));
}

struct ActionRow {
  const char* name;
  MenuBarActionRow* (MenuBarView::*row)() const;
  QStringList calls;  // with whether the panel was still open when called
  SettingsTab tabAfter;
};

class Actions : public MenuBarPanel, public ::testing::WithParamInterface<ActionRow> {};

TEST_P(Actions, EachRowDoesItsWorkInOrder) {
  const ActionRow& row = GetParam();
  MenuBarView::Actions actions = rig.actions();
  auto record = [this](QString name) {
    return [this, name] {
      rig.calls << name + (isOpen() ? "(panel open)" : "") +
                       (name == "openSettings" ? ":" + settingsTabRawValue(rig.navigator.selectedTab()) : "");
    };
  };
  actions.openSettings = record("openSettings");
  actions.checkForUpdates = record("checkForUpdates");
  actions.openSetupGuide = record("openSetupGuide");
  actions.quit = record("quit");
  auto* panel = new MenuBarView(rig.parts(), actions, true);
  window = new MenuBarExtraWindow(panel);
  view = panel;
  window->move(60, 60);
  window->show();
  ASSERT_TRUE(waitUntil([&] { return window->isVisible(); }));
  settle(100);
  ASSERT_TRUE(clickCentre((view->*row.row)()));
  settle(50);
  EXPECT_EQ(rig.calls, row.calls);
  EXPECT_EQ(rig.navigator.selectedTab(), row.tabAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Actions,
    ::testing::Values(ActionRow{"transcribeFileSelectsItsTabClosesThenOpens",
                                &MenuBarView::transcribeFileRow,
                                {"openSettings:transcribe"},
                                SettingsTab::transcribe},
                      ActionRow{"settingsClosesThenOpensOnTheLastTab",
                                &MenuBarView::settingsRow,
                                {"openSettings:dashboard"},
                                SettingsTab::dashboard},
                      ActionRow{"checkForUpdatesClosesFirst",
                                &MenuBarView::checkForUpdatesRow,
                                {"checkForUpdates"},
                                SettingsTab::dashboard},
                      ActionRow{"setupGuideKeepsThePanel",
                                &MenuBarView::setupGuideRow,
                                {"openSetupGuide(panel open)"},
                                SettingsTab::dashboard},
                      ActionRow{"quitAtOnce", &MenuBarView::quitRow, {"quit(panel open)"}, SettingsTab::dashboard}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MenuBarPanel, TranscribeFileOnItsTabAlreadySignalsNoChange) {
  rig.navigator.setSelectedTab(SettingsTab::transcribe);
  open();
  QSignalSpy changes(&rig.navigator, &SettingsNavigator::selectedTabChanged);
  ASSERT_TRUE(clickCentre(view->transcribeFileRow()));
  EXPECT_EQ(rig.calls, QStringList{"openSettings:transcribe"});
  EXPECT_EQ(changes.count(), 0);
  EXPECT_TRUE(waitUntil([&] { return !window; })) << "the panel is gone";
}

TEST_F(MenuBarPanel, ModeMenuOpensUnderThePointerAndTheChoiceLandsAfterItCloses) {
  const QList<Mode> modes = namedModes({"Plain", "Email", "Tidy"}, 0);
  rig.modes().setModes(modes);
  open();
  MenuBarModeRow* row = view->modeRow();
  EXPECT_EQ(row->pillText(), QStringLiteral("PLAIN"));
  const QPoint clickPoint(row->width() / 3, row->height() / 2);
  const QPoint globalClick = row->mapToGlobal(clickPoint);
  QPoint menuAt;
  QStringList shownTicks;
  QUuid defaultWhenClosed;
  whenMenuOpens([&](QMenu* menu) {
    menuAt = menu->pos();
    shownTicks = ticked(*menu);
    QObject::connect(menu, &QMenu::aboutToHide, menu, [&] { defaultWhenClosed = rig.modes().defaultMode().id; });
    clickItem(menu, QStringLiteral("Email"));
  });
  ASSERT_TRUE(clickAt(row, clickPoint));
  ASSERT_TRUE(waitUntil([&] { return rig.modes().defaultMode().id == modes[1].id; }));
  EXPECT_LE((menuAt - globalClick).manhattanLength(), 2) << "the menu opened where the row was clicked";
  EXPECT_EQ(shownTicks, QStringList{"Plain"});
  EXPECT_EQ(defaultWhenClosed, modes[0].id) << "the choice applies after the menu has closed";
  EXPECT_EQ(row->pillText(), QStringLiteral("EMAIL"));
  const auto stored = rig.defaults().dataValue(QStringLiteral("modes"));
  ASSERT_TRUE(stored);
  ModeStore reread(rig.defaults());
  EXPECT_EQ(reread.defaultMode().id, modes[1].id) << "the stored modes carry the new default";
  EXPECT_TRUE(isOpen()) << "a choice keeps the panel open";
}

TEST_F(MenuBarPanel, MicrophonesComeAndGoWhileThePanelIsOpen) {
  if (!pulseAvailable()) GTEST_SKIP() << "needs the rig's PulseAudio";
  open();
  MenuBarMicRow* row = view->micRow();
  EXPECT_TRUE(titles(*row->buildMenu()).contains(QStringLiteral("Murel-Test-Microphone")));
  EXPECT_EQ(row->pillText(), QStringLiteral("SYSTEM DEFAULT"));

  auto source =
      std::make_unique<PipeSource>(QStringLiteral("menubar_pipe_mic"), 16000, 1, QStringLiteral("Menubar-Pipe-Mic"));
  ASSERT_TRUE(source->loaded());
  ASSERT_TRUE(waitUntil([&] { return titles(*row->buildMenu()).contains(QStringLiteral("Menubar-Pipe-Mic")); }));

  bool clicked = false;
  whenMenuOpens([&](QMenu* menu) { clicked = clickItem(menu, QStringLiteral("Menubar-Pipe-Mic")); });
  ASSERT_TRUE(clickCentre(row));
  ASSERT_TRUE(waitUntil([&] {
    return rig.defaults().stringValue(QStringLiteral("selectedAudioDeviceUID")) == QStringLiteral("menubar_pipe_mic");
  }));
  EXPECT_TRUE(clicked);
  EXPECT_EQ(row->pillText(), QStringLiteral("MENUBAR-PIPE-MIC"));

  QSignalSpy writes(&rig.defaults(), &UserDefaults::valueChanged);
  source->unload();
  ASSERT_TRUE(waitUntil([&] { return row->pillText() == QStringLiteral("SYSTEM DEFAULT"); }));
  EXPECT_EQ(ticked(*row->buildMenu()), QStringList{"System Default"});
  for (const QList<QVariant>& write : writes)
    EXPECT_NE(write.at(0).toString(), QStringLiteral("selectedAudioDeviceUID")) << "unplugging writes nothing";
  EXPECT_EQ(rig.defaults().stringValue(QStringLiteral("selectedAudioDeviceUID")), QStringLiteral("menubar_pipe_mic"));
}

TEST_F(MenuBarPanel, HoveredQuitTurnsRedOverTheTint) {
  open();
  MenuBarActionRow* quit = view->quitRow();
  ASSERT_TRUE(hoverAt(quit, quit->rect().center()));
  ASSERT_TRUE(waitUntil([&] { return quit->isHovering(); }));
  settle(200);
  EXPECT_EQ(quit->labelColor(), std::make_pair(DSColor::danger, 1.0));
  EXPECT_EQ(view->settingsRow()->labelColor(), std::make_pair(DSColor::ink, 1.0));
  for (Scheme scheme : {Scheme::Light, Scheme::Dark}) {
    const QImage shot(screenshot(QStringLiteral("hover-quit"), scheme));
    const QRect label = QRect(quit->mapTo(window, QPoint(0, 0)), quit->size());
    const QColor danger = dsColor(DSColor::danger, scheme);
    bool reddish = false;
    for (int y = label.top(); y <= label.bottom() && !reddish; ++y)
      for (int x = label.left(); x < label.left() + 140 && !reddish; ++x) {
        const QColor pixel = shot.pixelColor(x * shot.width() / window->width(), y * shot.height() / window->height());
        reddish = std::abs(pixel.red() - danger.red()) < 40 && std::abs(pixel.green() - danger.green()) < 40 &&
                  std::abs(pixel.blue() - danger.blue()) < 40;
      }
    EXPECT_TRUE(reddish) << "the quit label is drawn in the danger colour (" << schemeName(scheme).toStdString() << ")";
    // The tint: the row's empty right end is a shade off the panel background.
    const QColor background = dsColor(DSColor::background, scheme);
    const QPoint empty = quit->mapTo(window, QPoint(quit->width() - 10, quit->height() / 2));
    EXPECT_NE(shot.pixelColor(empty * shot.width() / window->width()), background);
  }
  ASSERT_TRUE(hoverAt(view->settingsRow(), QPoint(10, 10)));
  ASSERT_TRUE(waitUntil([&] { return !quit->isHovering(); }));
}

TEST_F(MenuBarPanel, LanguageRowOfAFixedModelIsDisabledButStillTinted) {
  rig.defaults().setValue(QStringLiteral("selectedWhisperModel"), QStringLiteral("smallEnglishQ8"));
  open();
  MenuBarLanguageRow* row = view->languageRow();
  EXPECT_FALSE(row->isEnabled());
  EXPECT_EQ(row->pillText(), QStringLiteral("ENGLISH"));
  ASSERT_TRUE(hoverAt(row, row->rect().center()));
  EXPECT_TRUE(waitUntil([&] { return row->isHovering(); })) << "the tint follows the pointer while disabled";
  ASSERT_TRUE(clickCentre(row));
  EXPECT_EQ(QApplication::activePopupWidget(), window.data()) << "no menu opened";
}

// The items whose check column carries a mark: pixels well off the item's own
// ground (read at its empty right end) in the column left of the title.
QStringList markedItems(QMenu* menu) {
  const QImage shot = menu->grab().toImage();
  const qreal scale = qreal(shot.width()) / menu->width();
  QStringList marked;
  for (QAction* item : menu->actions()) {
    const QRect rect = menu->actionGeometry(item);
    if (!menu->rect().contains(rect)) continue;  // scrolled out of view
    const QColor ground = shot.pixelColor(QPointF(rect.right() - 3, rect.center().y()).toPoint() * scale);
    int ink = 0;
    for (int y = rect.top() + 2; y < rect.bottom() - 1; ++y)
      for (int x = rect.left() + 2; x < rect.left() + rect.height(); ++x) {
        const QColor pixel = shot.pixelColor(QPoint(x, y) * scale);
        if (std::abs(pixel.red() - ground.red()) + std::abs(pixel.green() - ground.green()) +
                std::abs(pixel.blue() - ground.blue()) >
            120)
          ++ink;
      }
    if (ink > 0) marked << choiceTitle(item);
  }
  return marked;
}

struct ChoiceMenu {
  const char* name;
  std::function<MenuBarPickerRow*(const MenuBarView&)> row;
};

class ChoiceMenus : public MenuBarPanel, public ::testing::WithParamInterface<ChoiceMenu> {};

TEST_P(ChoiceMenus, OnlyTheCurrentItemCarriesACheckmark) {
  if (std::string(GetParam().name) == "microphone" && !pulseAvailable()) GTEST_SKIP() << "needs the rig's PulseAudio";
  rig.modes().setModes(namedModes({"Plain", "Email", "Tidy"}, 1));
  installOnly({"largeV3TurboQ8", "smallEnglishQ8"});
  rig.defaults().setValue(QStringLiteral("selectedWhisperModel"), QStringLiteral("largeV3TurboQ8"));
  // Near the top of the hundred languages, so the ticked item is in view.
  rig.defaults().setValue(QStringLiteral("whisperLanguage"), QStringLiteral("af"));
  open();
  MenuBarPickerRow* row = GetParam().row(*view);
  ASSERT_NE(row, nullptr);
  QStringList shownTicks, marked, titles;
  whenMenuOpens([&](QMenu* menu) {
    settle(100);
    shownTicks = ticked(*menu);
    marked = markedItems(menu);
    titles = test::titles(*menu);
    menu->close();
  });
  ASSERT_TRUE(clickAt(row, QPoint(row->width() / 3, row->height() / 2)));
  ASSERT_TRUE(waitUntil([&] { return !titles.isEmpty(); }));
  EXPECT_GE(titles.size(), 2);
  ASSERT_EQ(shownTicks.size(), 1) << titles.join(", ").toStdString();
  EXPECT_EQ(marked, shownTicks) << "one checkmark, on the current item, and no box on the others";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChoiceMenus,
    ::testing::Values(ChoiceMenu{"mode", [](const MenuBarView& v) -> MenuBarPickerRow* { return v.modeRow(); }},
                      ChoiceMenu{"model", [](const MenuBarView& v) -> MenuBarPickerRow* { return v.modelRow(); }},
                      ChoiceMenu{"language", [](const MenuBarView& v) -> MenuBarPickerRow* { return v.languageRow(); }},
                      ChoiceMenu{"microphone", [](const MenuBarView& v) -> MenuBarPickerRow* { return v.micRow(); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MenuBarPanel, HundredLanguagesScrollInOneColumnBesideThePanel) {
  rig.defaults().setValue(QStringLiteral("selectedWhisperModel"), QStringLiteral("largeV3TurboQ8"));
  open();
  MenuBarLanguageRow* row = view->languageRow();
  const QStringList codes = row->choices().codes;
  ASSERT_GE(codes.size(), 100);
  const QPoint click = row->mapToGlobal(QPoint(row->width() / 3, row->height() / 2));
  QRect menuAt;
  int columns = 0;
  whenMenuOpens([&](QMenu* menu) {
    settle(100);
    menuAt = menu->frameGeometry();
    // One column: every item starts at the same x, however far down it lies.
    QSet<int> lefts;
    for (QAction* item : menu->actions()) lefts.insert(menu->actionGeometry(item).left());
    columns = int(lefts.size());
    // The whole screen: the panel and the menu beside it.
    const QString folder = buildDir() + QStringLiteral("/screenshots/menubar");
    QDir().mkpath(folder);
    const QRect both = menuAt.united(window->frameGeometry()).adjusted(-8, -8, 8, 8);
    QGuiApplication::primaryScreen()
        ->grabWindow(0, both.x(), both.y(), both.width(), both.height())
        .save(folder + QStringLiteral("/language-menu-light.png"));
    // The last item is reached and chosen from the keyboard.
    xdotool({QStringLiteral("key"), QStringLiteral("End"), QStringLiteral("Return")});
  });
  ASSERT_TRUE(clickAt(row, row->mapFromGlobal(click)));
  ASSERT_TRUE(waitUntil([&] {
    return rig.defaults().stringValue(QStringLiteral("whisperLanguage")) == std::optional<QString>(codes.constLast());
  }));
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(columns, 1);
  EXPECT_TRUE(screen.contains(menuAt)) << menuAt.y() << " " << menuAt.height();
  EXPECT_LE(menuAt.height(), kLongMenuMaxHeight);
  EXPECT_FALSE(menuAt.intersects(window->frameGeometry())) << "the menu leaves the panel in sight";
  EXPECT_LE(std::abs(menuAt.top() - click.y()), 2) << "the menu opens at the click's height";
  EXPECT_EQ(row->pillText(), languageDisplayName(codes.constLast()).toUpper());
}

TEST_F(MenuBarPanel, HundredOpeningsAndClosingsLeaveNoWidgetBehind) {
  StatusItem item([this] { return new MenuBarView(rig.parts(), rig.actions(), true); }, [] {}, [] {});
  const auto extraWindows = [] {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (qobject_cast<MenuBarExtraWindow*>(widget)) ++count;
    return count;
  };
  // Once first, so that what Qt makes on first use exists before counting.
  item.togglePanel();
  ASSERT_TRUE(waitUntil([&] { return item.panel() && item.panel()->isVisible(); }));
  item.togglePanel();
  settle(50);
  const qsizetype before = QApplication::allWidgets().size();
  for (int i = 0; i < 100; ++i) {
    item.togglePanel();
    ASSERT_TRUE(waitUntil([&] { return item.panel() && item.panel()->isVisible(); }));
    settle(0);
    item.togglePanel();
    settle(0);
  }
  settle(100);
  EXPECT_EQ(extraWindows(), 0);
  EXPECT_EQ(QApplication::allWidgets().size(), before);
}

}  // namespace
