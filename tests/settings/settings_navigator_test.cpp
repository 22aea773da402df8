// The tab table and the navigator's one rule: only a change is stored and told.
#include "app/SettingsNavigator.h"
#include "runtime/Localization.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace murel;

namespace {

struct TabRow {
  SettingsTab tab;
  const char* raw;
  const char* title;
  const char* icon;
};

const TabRow kTable[] = {
    {SettingsTab::dashboard, "dashboard", "DASHBOARD", "Icons/activity"},
    {SettingsTab::configuration, "configuration", "CONFIGURATION", "Icons/setting"},
    {SettingsTab::voiceEdit, "voiceEdit", "VOICE EDIT", "Icons/editSquare"},
    {SettingsTab::modes, "modes", "MODES", "Icons/category"},
    {SettingsTab::models, "models", "MODELS", "Icons/chip"},
    {SettingsTab::dictionary, "dictionary", "DICTIONARY", "Icons/book"},
    {SettingsTab::snippets, "snippets", "SNIPPETS", "Icons/quote"},
    {SettingsTab::transcribe, "transcribe", "TRANSCRIBE", "Icons/document"},
    {SettingsTab::history, "history", "HISTORY", "Icons/time"},
    {SettingsTab::about, "about", "ABOUT", "Icons/info"},
};

}  // namespace

TEST(SettingsTab, TenTabsInSidebarOrderRoundTripWithTitlesAndIcons) {
  ASSERT_TRUE(installTranslations(*QCoreApplication::instance()));
  ASSERT_EQ(allSettingsTabs().size(), 10);
  for (int i = 0; i < 10; ++i) {
    const TabRow& row = kTable[i];
    SCOPED_TRACE(row.raw);
    EXPECT_EQ(allSettingsTabs()[i], row.tab);
    EXPECT_EQ(settingsTabRawValue(row.tab), QLatin1String(row.raw));
    EXPECT_EQ(settingsTabFromRawValue(QLatin1String(row.raw)), row.tab);
    EXPECT_EQ(settingsTabTitle(row.tab), QLatin1String(row.title));
    EXPECT_EQ(settingsTabIcon(row.tab), QLatin1String(row.icon));
  }
}

TEST(SettingsTab, OnlyTheExactRawValuesNameATab) {
  for (const char* raw : {"VoiceEdit", "", "settings", "about ", "ABOUT", "voice_edit"})
    EXPECT_EQ(settingsTabFromRawValue(QString::fromLatin1(raw)), std::nullopt) << raw;
}

TEST(SettingsNavigator, StartsOnTheDashboardAndTellsOnlyChanges) {
  SettingsNavigator navigator;
  EXPECT_EQ(navigator.selectedTab(), SettingsTab::dashboard);
  QSignalSpy changes(&navigator, &SettingsNavigator::selectedTabChanged);
  navigator.setSelectedTab(SettingsTab::dashboard);
  EXPECT_EQ(changes.count(), 0);
  navigator.setSelectedTab(SettingsTab::transcribe);
  navigator.setSelectedTab(SettingsTab::transcribe);
  ASSERT_EQ(changes.count(), 1);
  EXPECT_EQ(changes.at(0).at(0).value<SettingsTab>(), SettingsTab::transcribe);
  EXPECT_EQ(navigator.selectedTab(), SettingsTab::transcribe);
}
