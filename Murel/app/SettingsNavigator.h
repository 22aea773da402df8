#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace murel {

// The pages of the settings window, in sidebar order. The raw values are the
// case names; they are what other windows and tests name a page by.
enum class SettingsTab {
  dashboard,
  configuration,
  voiceEdit,
  modes,
  models,
  dictionary,
  snippets,
  transcribe,
  history,
  about
};

// Every tab in sidebar order.
const QList<SettingsTab>& allSettingsTabs();
QString settingsTabRawValue(SettingsTab tab);
// Exactly the ten raw values name a tab (case matters); anything else names none.
std::optional<SettingsTab> settingsTabFromRawValue(const QString& raw);
// The sidebar label, upper case, in the user's language.
QString settingsTabTitle(SettingsTab tab);
// The asset name of the tab's icon ("Icons/info"), as `AppIcon` takes it.
QString settingsTabIcon(SettingsTab tab);

// Which page the settings window shows. One instance, owned by the application
// object (`MurelApp::settingsNavigator()`), lives for the process and is never
// persisted: each launch starts on the dashboard, a closed and reopened window
// shows the page last selected.
//
// Opening the window on a page from elsewhere (the tray panel, the mode
// editor): write `setSelectedTab`, then `MurelApp::openSettings()`. The
// navigator itself opens nothing. Main thread only.
class SettingsNavigator : public QObject {
  Q_OBJECT

 public:
  explicit SettingsNavigator(QObject* parent = nullptr);

  SettingsTab selectedTab() const { return selectedTab_; }
  // Writing the tab already selected stores nothing and notifies nobody, so an
  // open page keeps its state.
  void setSelectedTab(SettingsTab tab);

 Q_SIGNALS:
  void selectedTabChanged(murel::SettingsTab tab);

 private:
  SettingsTab selectedTab_ = SettingsTab::dashboard;
};

}  // namespace murel
