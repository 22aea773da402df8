#pragma once
// The tray panel's world for the menubar tests: a real application state over
// the session rig's fake engine, the rig's PulseAudio behind the device
// manager, a settings navigator, a workspace that records what it is asked to
// open, and actions that record their calls. Speech models are "installed" as
// sparse files of their exact catalogue sizes in the test's data folder.
#include "../app/SessionRig.h"

#include "app/AppState.h"
#include "app/SettingsNavigator.h"
#include "audio/AudioDeviceManager.h"
#include "hotkeys/HotKeyService.h"
#include "menubar/MenuBarView.h"
#include "platform/Workspace.h"
#include "platform/pulse/PulseAudio.h"
#include "speech/SpeechModel.h"
#include "support/FakeKeyEventTap.h"
#include "support/PulseRig.h"
#include "support/ScriptedFilePanels.h"
#include "support/SettingsWindowRig.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>

#include <memory>

namespace murel::test {

class AuthorizedMicrophone final : public platform::MicrophonePermission {
 public:
  platform::MicrophonePermissionStatus status() override { return platform::MicrophonePermissionStatus::Authorized; }
  QCoro::Task<bool> request() override { co_return true; }
};

// The catalogue entry with this id; the test fails loudly on a typo.
inline const SpeechModelDescriptor& model(const char* id) {
  const SpeechModelDescriptor* entry = findSpeechModel(QString::fromLatin1(id));
  if (!entry) qFatal("no catalogue entry %s", id);
  return *entry;
}

// Every model's files removed, then `ids` written at their exact sizes (one byte
// short for the ids in `shortByOne`).
inline void installOnly(const QList<const char*>& ids, const QList<const char*>& shortByOne = {}) {
  for (const SpeechModelDescriptor& entry : SpeechModelDescriptor::catalog())
    QDir(entry.storageDirectory).removeRecursively();
  auto write = [](const char* id, qint64 less) {
    const SpeechModelDescriptor& entry = model(id);
    QDir().mkpath(entry.storageDirectory);
    for (const ModelArtifact& artifact : entry.artifacts) {
      QFile file(entry.storageDirectory + QLatin1Char('/') + artifact.filename);
      file.open(QIODevice::WriteOnly);
      file.resize(artifact.sizeBytes - less);
    }
  };
  for (const char* id : ids) write(id, 0);
  for (const char* id : shortByOne) write(id, 1);
}

// Titles and ticks of a built menu.
inline QStringList titles(const QMenu& menu) {
  QStringList list;
  for (const QAction* item : menu.actions()) list.append(choiceTitle(item));
  return list;
}
inline QStringList ticked(const QMenu& menu) {
  QStringList list;
  for (const QAction* item : menu.actions())
    if (item->isChecked()) list.append(choiceTitle(item));
  return list;
}
inline QAction* itemTitled(const QMenu& menu, const QString& title) {
  for (QAction* item : menu.actions())
    if (choiceTitle(item) == title) return item;
  return nullptr;
}

struct MenuBarRig {
  SessionRig session;
  FakeClock keyClock;
  FakeKeyEventTap tap{keyClock};
  HotKeyService hotKeys{session.defaults, tap};
  TranscriptProcessor processor{[](QString text, QString) -> QCoro::Task<QString> { co_return text; },
                                [this] { return session.dictionary.entries(); }};
  AppState state{AppState::Parts{session.defaults,
                                 session.modes,
                                 session.dictionary,
                                 session.engine,
                                 processor,
                                 session.session,
                                 hotKeys,
                                 session.diag,
                                 {},
                                 {},
                                 {}}};
  AuthorizedMicrophone permission;
  platform::PulseAudio pulse;
  AudioDeviceManager devices{session.defaults, permission, pulse};
  SettingsNavigator navigator;
  RecordingWorkspace workspace;
  QStringList calls;

  UserDefaults& defaults() { return session.defaults; }
  ModeStore& modes() { return session.modes; }

  MenuBarView::Parts parts() {
    return MenuBarView::Parts{state, session.modes, session.defaults, devices, navigator, workspace};
  }
  // Actions that record their names (and the tab selected when settings open).
  MenuBarView::Actions actions() {
    MenuBarView::Actions a;
    a.openSettings = [this] {
      calls.append(QStringLiteral("openSettings:") + settingsTabRawValue(navigator.selectedTab()));
    };
    a.checkForUpdates = [this] { calls.append(QStringLiteral("checkForUpdates")); };
    a.openSetupGuide = [this] { calls.append(QStringLiteral("openSetupGuide")); };
    a.quit = [this] { calls.append(QStringLiteral("quit")); };
    return a;
  }
  std::unique_ptr<MenuBarView> makeView(bool onboardingComplete = true) {
    return std::make_unique<MenuBarView>(parts(), actions(), onboardingComplete);
  }
};

// Modes with the given names; the default flag on `flagged` (-1: none).
inline QList<Mode> namedModes(const QStringList& names, int flagged) {
  QList<Mode> list;
  for (int i = 0; i < names.size(); ++i)
    list.append(Mode{QUuid::createUuid(), names[i], Transformation::raw(), std::nullopt, i == flagged});
  return list;
}

}  // namespace murel::test
