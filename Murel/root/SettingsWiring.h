#pragma once

#include "settings/SettingsView.h"

#include <functional>

class QWidget;

namespace murel {

class Clock;
class DictionaryStore;
class FilePanels;
struct DiagnosticsSources;
class SnippetStore;
class HistoryStore;
class AppState;
class HotKeyService;
class ModeStore;
class MurelApp;
class Pasteboard;
class UsageStatsStore;
class UserDefaults;
class VoiceEditPreferences;
class Workspace;
namespace platform {
class LoginItem;
}

// The settings pages, one builder per tab. A new page is plugged in here.
// The about page opens web pages through `workspace` and exports the
// diagnostics report from `diagnostics`.
void registerSettingsPages(SettingsPages& pages, Workspace& workspace, const DiagnosticsSources& diagnostics);
// The dashboard and history pages, on the root's stores; `clock` times the copied marks.
void registerUsagePages(SettingsPages& pages, UsageStatsStore& usage, HistoryStore& history, Pasteboard& pasteboard,
                        Clock& clock);

// The transcribe page, on the application's state, clipboard and open panel.
void registerTranscribePage(SettingsPages& pages, AppState& appState, Pasteboard& pasteboard, FilePanels& panels);

// The models page, on the application's state and user defaults.
void registerModelsPage(SettingsPages& pages, AppState& appState, UserDefaults& defaults);

// The configuration page: hotkeys, activation mode, microphone, behaviour, login item.
void registerConfigurationPage(SettingsPages& pages, HotKeyService& hotKeys, AppState& appState,
                               platform::LoginItem& loginItem);

// The dictionary and snippets pages, each on its store; the dictionary's
// import and export go through `panels`, and `workspace` shows the exported file.
void registerListPages(SettingsPages& pages, DictionaryStore& dictionary, SnippetStore& snippets, FilePanels& panels,
                       Workspace& workspace);
// The modes page (with its mode editor) and the voice-edit page; both
// register the hotkeys anew after every change they store.
void registerModesPages(SettingsPages& pages, ModeStore& modes, VoiceEditPreferences& voiceEdit,
                        HotKeyService& hotKeys);

// The settings window's content for `MurelApp::Services::settingsContent`:
// a settings view on the application's navigator and audio devices. `pages`
// must outlive the application object.
std::function<QWidget*(MurelApp&)> settingsWindowContent(const SettingsPages& pages);

}  // namespace murel
