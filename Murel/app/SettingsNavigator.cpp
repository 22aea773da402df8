#include "app/SettingsNavigator.h"

#include <array>

namespace murel {

namespace {

struct TabInfo {
  SettingsTab tab;
  const char* raw;
  const char* icon;
};

constexpr std::array<TabInfo, 10> kTabs{{
    {SettingsTab::dashboard, "dashboard", "Icons/activity"},
    {SettingsTab::configuration, "configuration", "Icons/setting"},
    {SettingsTab::voiceEdit, "voiceEdit", "Icons/editSquare"},
    {SettingsTab::modes, "modes", "Icons/category"},
    {SettingsTab::models, "models", "Icons/chip"},
    {SettingsTab::dictionary, "dictionary", "Icons/book"},
    {SettingsTab::snippets, "snippets", "Icons/quote"},
    {SettingsTab::transcribe, "transcribe", "Icons/document"},
    {SettingsTab::history, "history", "Icons/time"},
    {SettingsTab::about, "about", "Icons/info"},
}};

const TabInfo& info(SettingsTab tab) { return kTabs[static_cast<std::size_t>(tab)]; }

}  // namespace

const QList<SettingsTab>& allSettingsTabs() {
  static const QList<SettingsTab> tabs = [] {
    QList<SettingsTab> list;
    for (const TabInfo& entry : kTabs) list.append(entry.tab);
    return list;
  }();
  return tabs;
}

QString settingsTabRawValue(SettingsTab tab) { return QString::fromLatin1(info(tab).raw); }

std::optional<SettingsTab> settingsTabFromRawValue(const QString& raw) {
  for (const TabInfo& entry : kTabs)
    if (raw == QLatin1String(entry.raw)) return entry.tab;
  return std::nullopt;
}

QString settingsTabTitle(SettingsTab tab) {
  switch (tab) {
    case SettingsTab::dashboard:
      //% "DASHBOARD"
      //: Sidebar tab label for the Dashboard settings pane.
      return qtTrId("settings.nav.tab.dashboard");
    case SettingsTab::configuration:
      //% "CONFIGURATION"
      //: Sidebar tab label for the Configuration settings pane.
      return qtTrId("settings.nav.tab.configuration");
    case SettingsTab::voiceEdit:
      //% "VOICE EDIT"
      //: Sidebar tab label for the Voice Edit settings pane.
      return qtTrId("settings.nav.tab.voiceEdit");
    case SettingsTab::modes:
      //% "MODES"
      //: Sidebar tab label for the Modes settings pane.
      return qtTrId("settings.nav.tab.modes");
    case SettingsTab::models:
      //% "MODELS"
      //: Sidebar tab label for the Models settings pane.
      return qtTrId("settings.nav.tab.models");
    case SettingsTab::dictionary:
      //% "DICTIONARY"
      //: Sidebar tab label for the Dictionary settings pane.
      return qtTrId("settings.nav.tab.dictionary");
    case SettingsTab::snippets:
      //% "SNIPPETS"
      //: Sidebar tab label for the Snippets settings pane.
      return qtTrId("settings.nav.tab.snippets");
    case SettingsTab::transcribe:
      //% "TRANSCRIBE"
      //: Sidebar tab label for the Transcribe settings pane.
      return qtTrId("settings.nav.tab.transcribe");
    case SettingsTab::history:
      //% "HISTORY"
      //: Sidebar tab label for the History settings pane.
      return qtTrId("settings.nav.tab.history");
    case SettingsTab::about:
      //% "ABOUT"
      //: Sidebar tab label for the About settings pane.
      return qtTrId("settings.nav.tab.about");
  }
  return {};
}

QString settingsTabIcon(SettingsTab tab) { return QString::fromLatin1(info(tab).icon); }

SettingsNavigator::SettingsNavigator(QObject* parent) : QObject(parent) {}

void SettingsNavigator::setSelectedTab(SettingsTab tab) {
  if (tab == selectedTab_) return;
  selectedTab_ = tab;
  Q_EMIT selectedTabChanged(tab);
}

}  // namespace murel
