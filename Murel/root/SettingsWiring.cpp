#include "root/SettingsWiring.h"

#include "app/FilePanels.h"
#include "app/MurelApp.h"
#include "runtime/Clock.h"
#include "settings/AboutSettingsView.h"
#include "settings/ConfigurationPage.h"
#include "settings/DashboardSettingsView.h"
#include "settings/DictionarySettingsView.h"
#include "settings/HistorySettingsView.h"
#include "settings/ModelsSettingsView.h"
#include "settings/ModesSettingsView.h"
#include "settings/SnippetSettingsView.h"
#include "settings/TranscribeSettingsView.h"
#include "settings/VoiceEditSettingsView.h"

namespace murel {

void registerSettingsPages(SettingsPages& pages, Workspace& workspace, const DiagnosticsSources& diagnostics) {
  pages.set(SettingsTab::about, [&workspace, diagnostics](const SettingsPageContext&, QWidget* parent) -> QWidget* {
    return new AboutSettingsView(workspace, diagnostics, parent);
  });
}

void registerUsagePages(SettingsPages& pages, UsageStatsStore& usage, HistoryStore& history, Pasteboard& pasteboard,
                        Clock& clock) {
  pages.set(SettingsTab::dashboard, [&usage](const SettingsPageContext&, QWidget* parent) -> QWidget* {
    return new DashboardSettingsView(usage, {}, parent);
  });
  pages.set(SettingsTab::history,
            [&history, &pasteboard, &clock](const SettingsPageContext&, QWidget* parent) -> QWidget* {
              return new HistorySettingsView(history, pasteboard, clock, {}, std::nullopt, parent);
            });
}

void registerConfigurationPage(SettingsPages& pages, HotKeyService& hotKeys, AppState& appState,
                               platform::LoginItem& loginItem) {
  pages.set(SettingsTab::configuration,
            [&hotKeys, &appState, &loginItem](const SettingsPageContext& context, QWidget* parent) -> QWidget* {
              return new ConfigurationPage(ConfigurationPage::Services{hotKeys, appState, context.audioDeviceManager,
                                                                       loginItem, Clock::continuous()},
                                           parent);
            });
}

void registerTranscribePage(SettingsPages& pages, AppState& appState, Pasteboard& pasteboard, FilePanels& panels) {
  pages.set(SettingsTab::transcribe,
            [&appState, &pasteboard, &panels](const SettingsPageContext&, QWidget* parent) -> QWidget* {
              return new TranscribeSettingsView(appState, pasteboard, panels, Clock::continuous(), parent);
            });
}

void registerModelsPage(SettingsPages& pages, AppState& appState, UserDefaults& defaults) {
  pages.set(SettingsTab::models, [&appState, &defaults](const SettingsPageContext&, QWidget* parent) -> QWidget* {
    return new ModelsSettingsView(ModelsPageProvider::application(appState, defaults), parent);
  });
}

void registerListPages(SettingsPages& pages, DictionaryStore& dictionary, SnippetStore& snippets, FilePanels& panels,
                       Workspace& workspace) {
  pages.set(SettingsTab::dictionary,
            [&dictionary, &panels, &workspace](const SettingsPageContext&, QWidget* parent) -> QWidget* {
              return new DictionarySettingsView(dictionary, panels, workspace, Clock::continuous(), std::nullopt,
                                                parent);
            });
  pages.set(SettingsTab::snippets, [&snippets](const SettingsPageContext&, QWidget* parent) -> QWidget* {
    return new SnippetSettingsView(snippets, Clock::continuous(), std::nullopt, parent);
  });
}

void registerModesPages(SettingsPages& pages, ModeStore& modes, VoiceEditPreferences& voiceEdit,
                        HotKeyService& hotKeys) {
  pages.set(SettingsTab::modes, [&modes, &hotKeys](const SettingsPageContext& context, QWidget* parent) -> QWidget* {
    return new ModesSettingsView(ModesSettingsView::Services{modes, hotKeys, context.navigator, Clock::continuous()},
                                 parent);
  });
  pages.set(SettingsTab::voiceEdit,
            [&voiceEdit, &hotKeys](const SettingsPageContext& context, QWidget* parent) -> QWidget* {
              return new VoiceEditSettingsView(
                  VoiceEditSettingsView::Services{voiceEdit, hotKeys, context.navigator, Clock::continuous()}, parent);
            });
}

std::function<QWidget*(MurelApp&)> settingsWindowContent(const SettingsPages& pages) {
  return [&pages](MurelApp& app) -> QWidget* {
    return new SettingsView(app.settingsNavigator(), app.audioDeviceManager(), pages);
  };
}

}  // namespace murel
