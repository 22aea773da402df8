#pragma once

#include "settings/SettingsView.h"

#include <functional>

class QWidget;

namespace murel {

class Clock;
class HistoryStore;
class MurelApp;
class Pasteboard;
class UsageStatsStore;
class Workspace;

// The settings pages, one builder per tab. A new page is plugged in here.
void registerSettingsPages(SettingsPages& pages, Workspace& workspace);
// The dashboard and history pages, on the root's stores; `clock` times the copied marks.
void registerUsagePages(SettingsPages& pages, UsageStatsStore& usage, HistoryStore& history, Pasteboard& pasteboard,
                        Clock& clock);

// The settings window's content for `MurelApp::Services::settingsContent`:
// a settings view on the application's navigator and audio devices. `pages`
// must outlive the application object.
std::function<QWidget*(MurelApp&)> settingsWindowContent(const SettingsPages& pages);

}  // namespace murel
