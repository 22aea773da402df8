// The tray panel's choice menus, built and not shown: what each lists, which
// item is ticked and what choosing an item (or handing a target bad data)
// changes, for the mode, speech-model, language and microphone rows.
#include "MenuBarRig.h"

#include "runtime/Localization.h"
#include "speech/EngineHost.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;

namespace {

class MenuBarMenus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { installTranslations(*QCoreApplication::instance()); }
  void SetUp() override { installOnly({}); }
  void TearDown() override { installOnly({}); }

  MenuBarRig rig;
  ModeMenuTarget modeTarget{rig.modes()};
  ClosureMenuTarget closureTarget;
  LanguageMenuTarget languageTarget{rig.defaults()};
};

// ---- Mode menu

struct ModeRow {
  const char* name;
  QStringList modes;
  int flagged;  // -1: no mode carries the flag
  QString pill;
  QStringList ticked;
};

class ModeMenu : public MenuBarMenus, public ::testing::WithParamInterface<ModeRow> {};

TEST_P(ModeMenu, ListsModesAsStoredAndTicksTheDefaultMode) {
  const ModeRow& row = GetParam();
  const QList<Mode> modes = namedModes(row.modes, row.flagged);
  rig.modes().setModes(modes);
  MenuBarModeRow modeRow(rig.modes(), modeTarget);
  EXPECT_EQ(modeRow.pillText(), row.pill);
  EXPECT_EQ(modeRow.accessibleDescription(), rig.modes().defaultMode().name) << "read out as stored";
  const auto menu = modeRow.buildMenu();
  EXPECT_EQ(titles(*menu), row.modes);
  EXPECT_EQ(ticked(*menu), row.ticked);
  for (int i = 0; i < modes.size(); ++i) {
    const QString data = menu->actions()[i]->data().toString();
    EXPECT_EQ(data, modes[i].id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(data.size(), 36);
    // An "&" in a name is shown, not taken as a keyboard mnemonic.
    EXPECT_EQ(menu->actions()[i]->text(), QString(modes[i].name).replace("&", "&&"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ModeMenu,
    ::testing::Values(
        ModeRow{"flaggedSecond", {"Plain", "Email & Notes", "tidy"}, 1, "EMAIL & NOTES", {"Email & Notes"}},
        ModeRow{"noFlagTakesTheFirst", {"Plain", "Email"}, -1, "PLAIN", {"Plain"}},
        ModeRow{"singleMode", {"Solo"}, 0, "SOLO", {"Solo"}},
        ModeRow{"noModesShowsTheFallback", {}, -1, "DEFAULT", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MenuBarMenus, ChosenModeBecomesDefaultOneTurnLaterAndMalformedDataIsIgnored) {
  const QList<Mode> modes = namedModes({"One", "Two", "Three"}, 0);
  rig.modes().setModes(modes);
  MenuBarModeRow modeRow(rig.modes(), modeTarget);
  const auto menu = modeRow.buildMenu();
  menu->actions()[2]->trigger();
  EXPECT_EQ(rig.modes().defaultMode().id, modes[0].id) << "not before the menu's turn has ended";
  settle(0);
  EXPECT_EQ(rig.modes().defaultMode().id, modes[2].id);
  EXPECT_EQ(modeRow.pillText(), QStringLiteral("THREE"));
  EXPECT_TRUE(rig.defaults().contains(QStringLiteral("modes"))) << "the store saved the change";

  // Items with data that names no mode in the form the menu writes.
  const QList<QVariant> malformed{QVariant(),
                                  QVariant(42),
                                  QVariant(modes[0].id),
                                  QVariant(modes[0].id.toString(QUuid::WithBraces)),
                                  QVariant(QStringLiteral("One")),
                                  QVariant(QStringLiteral("ZZZZZZZZ-0000-0000-0000-000000000000"))};
  for (const QVariant& data : malformed) {
    QAction item;
    item.setData(data);
    modeTarget.select(&item);
  }
  modeTarget.select(nullptr);
  settle(0);
  EXPECT_EQ(rig.modes().defaultMode().id, modes[2].id);

  // An id that no longer names a mode changes nothing.
  QAction gone;
  gone.setData(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
  modeTarget.select(&gone);
  settle(0);
  EXPECT_EQ(rig.modes().defaultMode().id, modes[2].id);
}

// ---- Speech-model menu

struct ModelRow {
  const char* name;
  QList<const char*> installed;
  QList<const char*> shortByOne;
  std::optional<QString> stored;  // "selectedWhisperModel"
  QStringList items;              // display names, catalogue order
  QStringList ticked;
  QString pill;
};

class ModelMenu : public MenuBarMenus, public ::testing::WithParamInterface<ModelRow> {};

QString nameOf(const char* id) { return model(id).displayName.text(); }

TEST_P(ModelMenu, ListsInstalledModelsInCatalogueOrder) {
  const ModelRow& row = GetParam();
  installOnly(row.installed, row.shortByOne);
  if (row.stored) rig.defaults().setValue(QStringLiteral("selectedWhisperModel"), *row.stored);
  MenuBarModelRow modelRow(rig.defaults(), rig.state, closureTarget);
  const auto menu = modelRow.buildMenu();
  EXPECT_EQ(titles(*menu), row.items);
  EXPECT_EQ(ticked(*menu), row.ticked);
  EXPECT_EQ(modelRow.pillText(), row.pill) << "the display name, not upper-cased";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ModelMenu,
    ::testing::Values(ModelRow{"twoInstalledInCatalogueOrder",
                               {"largeV3TurboQ8", "smallEnglishQ8"},
                               {},
                               QStringLiteral("smallEnglishQ8"),
                               {nameOf("smallEnglishQ8"), nameOf("largeV3TurboQ8")},
                               {nameOf("smallEnglishQ8")},
                               nameOf("smallEnglishQ8")},
                      ModelRow{"oneByteShortIsNotInstalled",
                               {"largeV3TurboQ8"},
                               {"smallEnglishQ8"},
                               std::nullopt,
                               {nameOf("largeV3TurboQ8")},
                               {nameOf("largeV3TurboQ8")},
                               nameOf("largeV3TurboQ8")},
                      ModelRow{"selectionNotInstalledTicksNothing",
                               {"largeV3TurboQ8", "parakeetTDT0_6BV3Q8"},
                               {},
                               QStringLiteral("smallEnglishQ8"),
                               {nameOf("largeV3TurboQ8"), nameOf("parakeetTDT0_6BV3Q8")},
                               {},
                               nameOf("smallEnglishQ8")},
                      ModelRow{"unknownStoredIdIsTheDefaultModel",
                               {"largeV3TurboQ8", "smallEnglishQ8"},
                               {},
                               QStringLiteral("noSuchModel"),
                               {nameOf("smallEnglishQ8"), nameOf("largeV3TurboQ8")},
                               {nameOf("largeV3TurboQ8")},
                               nameOf("largeV3TurboQ8")},
                      ModelRow{"nothingInstalled", {}, {}, std::nullopt, {}, {}, nameOf("largeV3TurboQ8")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MenuBarMenus, ChoosingAModelSelectsItThroughTheStateAndFailuresChangeNothing) {
  installOnly({"largeV3TurboQ8", "smallEnglishQ8"});
  MenuBarModelRow modelRow(rig.defaults(), rig.state, closureTarget);
  QSignalSpy pill(&rig.defaults(), &UserDefaults::valueChanged);
  auto menu = modelRow.buildMenu();
  itemTitled(*menu, nameOf("smallEnglishQ8"))->trigger();
  ASSERT_TRUE(waitUntil([&] {
    return rig.defaults().stringValue(QStringLiteral("selectedWhisperModel")) == QStringLiteral("smallEnglishQ8");
  }));
  EXPECT_EQ(modelRow.pillText(), nameOf("smallEnglishQ8")) << "the pill follows the stored choice";

  // Deleted while the menu was open: the choice fails quietly and stores nothing.
  menu = modelRow.buildMenu();
  installOnly({"smallEnglishQ8"});
  itemTitled(*menu, nameOf("largeV3TurboQ8"))->trigger();
  settle(50);
  EXPECT_EQ(rig.defaults().stringValue(QStringLiteral("selectedWhisperModel")), QStringLiteral("smallEnglishQ8"));
  EXPECT_FALSE(rig.state.lastError()) << "nothing is shown for a failed choice";
}

TEST_F(MenuBarMenus, ClosureTargetRunsOnlyItsOwnClosures) {
  int runs = 0;
  QMenu menu;
  auto* closure = new MenuActionClosure([&runs] { ++runs; }, &menu);
  QAction good;
  good.setData(QVariant::fromValue<QObject*>(closure));
  closureTarget.invoke(&good);
  EXPECT_EQ(runs, 1);
  QObject stranger;
  for (const QVariant& data : {QVariant(), QVariant(QStringLiteral("run")), QVariant(7),
                               QVariant::fromValue<QObject*>(&stranger), QVariant::fromValue<QObject*>(nullptr)}) {
    QAction item;
    item.setData(data);
    closureTarget.invoke(&item);
  }
  closureTarget.invoke(nullptr);
  EXPECT_EQ(runs, 1);
}

// ---- Language menu

struct LanguageRow {
  const char* name;
  LanguageSupport support;
  QString selection;
  bool selectable;
  QString effective;
  QStringList codes;
};

class LanguageTable : public ::testing::TestWithParam<LanguageRow> {};

TEST_P(LanguageTable, OffersTheModelsLanguagesAndTicksTheEffectiveOne) {
  const LanguageRow& row = GetParam();
  const LanguageChoices choices = languageChoices(row.support, row.selection);
  EXPECT_EQ(choices.isSelectable, row.selectable);
  EXPECT_EQ(choices.effective, row.effective);
  EXPECT_EQ(choices.codes, row.codes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LanguageTable,
    ::testing::Values(LanguageRow{"fixedIgnoresTheStoredCode", LanguageSupport::fixed("en"), "de", false, "en", {}},
                      LanguageRow{"detectOnly", LanguageSupport::detectOnly(), "de", false, "auto", {}},
                      LanguageRow{"autoDetectOffersAutoFirst",
                                  LanguageSupport::selectable({"en", "de"}, true),
                                  "auto",
                                  true,
                                  "auto",
                                  {"auto", "en", "de"}},
                      LanguageRow{"storedCodeOffered",
                                  LanguageSupport::selectable({"en", "de"}, true),
                                  "de",
                                  true,
                                  "de",
                                  {"auto", "en", "de"}},
                      LanguageRow{"unofferedCodeFallsBackToAuto",
                                  LanguageSupport::selectable({"en", "de"}, true),
                                  "xx",
                                  true,
                                  "auto",
                                  {"auto", "en", "de"}},
                      LanguageRow{"withoutAutoDetectFallsBackToFirst",
                                  LanguageSupport::selectable({"fr", "de"}, false),
                                  "xx",
                                  true,
                                  "fr",
                                  {"fr", "de"}},
                      LanguageRow{"withoutAutoDetectAutoIsNotOffered",
                                  LanguageSupport::selectable({"fr", "de"}, false),
                                  "auto",
                                  true,
                                  "fr",
                                  {"fr", "de"}},
                      LanguageRow{
                          "emptyListOpensEmpty", LanguageSupport::selectable({}, false), "auto", true, "auto", {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct LanguageRowCase {
  const char* name;
  const char* modelId;
  std::optional<QString> stored;
  bool enabled;
  QString pill;
  QStringList firstItems;
  QStringList ticked;
};

class LanguageRowOnCatalogue : public MenuBarMenus, public ::testing::WithParamInterface<LanguageRowCase> {};

TEST_P(LanguageRowOnCatalogue, ShowsTheEffectiveLanguageAndOffersAMenuOnlyWhenSelectable) {
  const LanguageRowCase& row = GetParam();
  rig.defaults().setValue(QStringLiteral("selectedWhisperModel"), QString::fromLatin1(row.modelId));
  if (row.stored) rig.defaults().setValue(QStringLiteral("whisperLanguage"), *row.stored);
  MenuBarLanguageRow languageRow(rig.defaults(), languageTarget);
  EXPECT_EQ(languageRow.isEnabled(), row.enabled);
  EXPECT_EQ(languageRow.pillText(), row.pill);
  const auto menu = languageRow.buildMenu();
  if (!row.enabled) {
    EXPECT_EQ(menu, nullptr);
    return;
  }
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(titles(*menu).mid(0, row.firstItems.size()), row.firstItems);
  EXPECT_EQ(ticked(*menu), row.ticked);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LanguageRowOnCatalogue,
    ::testing::Values(
        LanguageRowCase{"fixedEnglish", "smallEnglishQ8", QStringLiteral("de"), false, "ENGLISH", {}, {}},
        LanguageRowCase{
            "detectOnlyParakeet", "parakeetTDT0_6BV3Q8", QStringLiteral("de"), false, "AUTO-DETECT", {}, {}},
        LanguageRowCase{
            "missingIsAuto", "largeV3TurboQ8", std::nullopt, true, "AUTO-DETECT", {"AUTO-DETECT"}, {"AUTO-DETECT"}},
        LanguageRowCase{
            "storedGerman", "largeV3TurboQ8", QStringLiteral("de"), true, "GERMAN", {"AUTO-DETECT"}, {"GERMAN"}},
        LanguageRowCase{"unknownCodeTicksAuto",
                        "largeV3TurboQ8",
                        QStringLiteral("xx"),
                        true,
                        "AUTO-DETECT",
                        {"AUTO-DETECT"},
                        {"AUTO-DETECT"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MenuBarMenus, LanguageChoiceIsStoredAtOnceAndThePillFollows) {
  rig.defaults().setValue(QStringLiteral("selectedWhisperModel"), QStringLiteral("largeV3TurboQ8"));
  MenuBarLanguageRow languageRow(rig.defaults(), languageTarget);
  const auto menu = languageRow.buildMenu();
  QAction* german = itemTitled(*menu, QStringLiteral("GERMAN"));
  ASSERT_NE(german, nullptr);
  EXPECT_EQ(german->data().toString(), QStringLiteral("de"));
  german->trigger();
  EXPECT_EQ(rig.defaults().stringValue(QStringLiteral("whisperLanguage")), QStringLiteral("de")) << "no turn later";
  EXPECT_EQ(languageRow.pillText(), QStringLiteral("GERMAN"));

  // Another model, fixed to English: the row follows the model setting too.
  rig.defaults().setValue(QStringLiteral("selectedWhisperModel"), QStringLiteral("smallEnglishQ8"));
  EXPECT_EQ(languageRow.pillText(), QStringLiteral("ENGLISH"));
  EXPECT_FALSE(languageRow.isEnabled());

  for (const QVariant& data : {QVariant(), QVariant(3), QVariant(QStringList{"fr"})}) {
    QAction item;
    item.setData(data);
    languageTarget.select(&item);
  }
  languageTarget.select(nullptr);
  EXPECT_EQ(rig.defaults().stringValue(QStringLiteral("whisperLanguage")), QStringLiteral("de"));
}

// ---- Microphone menu

TEST_F(MenuBarMenus, MicrophoneMenuListsDevicesAndTicksSystemDefaultForAnAbsentDevice) {
  if (!pulseAvailable()) GTEST_SKIP() << "needs the rig's PulseAudio";
  rig.defaults().setValue(QStringLiteral("selectedAudioDeviceUID"), QStringLiteral("not_connected_mic"));
  MenuBarMicRow micRow(rig.devices, closureTarget);
  EXPECT_EQ(micRow.pillText(), QStringLiteral("SYSTEM DEFAULT"));
  EXPECT_EQ(micRow.accessibleDescription(), QStringLiteral("System Default"));
  const auto menu = micRow.buildMenu();
  ASSERT_FALSE(titles(*menu).isEmpty());
  EXPECT_EQ(titles(*menu).first(), QStringLiteral("System Default"));
  EXPECT_TRUE(titles(*menu).contains(QStringLiteral("Murel-Test-Microphone")));
  EXPECT_EQ(ticked(*menu), QStringList{QStringLiteral("System Default")});

  itemTitled(*menu, QStringLiteral("Murel-Test-Microphone"))->trigger();
  EXPECT_EQ(rig.defaults().stringValue(QStringLiteral("selectedAudioDeviceUID")), QStringLiteral("murel_test_mic"))
      << "applied at once";
  EXPECT_EQ(micRow.pillText(), QStringLiteral("MUREL-TEST-MICROPHONE"));
  EXPECT_EQ(ticked(*micRow.buildMenu()), QStringList{QStringLiteral("Murel-Test-Microphone")});

  // Back to the default.
  itemTitled(*micRow.buildMenu(), QStringLiteral("System Default"))->trigger();
  EXPECT_EQ(rig.defaults().stringValue(QStringLiteral("selectedAudioDeviceUID")), QString());
  EXPECT_EQ(micRow.pillText(), QStringLiteral("SYSTEM DEFAULT"));
}

}  // namespace
