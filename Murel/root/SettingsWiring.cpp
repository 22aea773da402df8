#include "root/SettingsWiring.h"

#include "app/FilePanels.h"
#include "app/MurelApp.h"
#include "settings/AboutSettingsView.h"

namespace murel {

void registerSettingsPages(SettingsPages& pages, Workspace& workspace) {
  pages.set(SettingsTab::about, [&workspace](const SettingsPageContext&, QWidget* parent) -> QWidget* {
    return new AboutSettingsView(workspace, parent);
  });
}

std::function<QWidget*(MurelApp&)> settingsWindowContent(const SettingsPages& pages) {
  return [&pages](MurelApp& app) -> QWidget* {
    return new SettingsView(app.settingsNavigator(), app.audioDeviceManager(), pages);
  };
}

}  // namespace murel
