#pragma once
// The whole desktop of the composition root as fakes: no X server, sound
// server, file manager or autostart folder is touched.

#include "root/Composition.h"
#include "support/FakeClock.h"
#include "support/FakeDesktop.h"
#include "support/FakeKeyEventTap.h"
#include "support/ScriptedFilePanels.h"

namespace murel::test {

struct FakePlatform {
  FakeClock clock;
  FakeKeyEventTap tap{clock};
  FakeKeySynthesizer keys;
  FakePasteboard pasteboard;
  FakeInputFocus focus;
  ScriptedPanels panels;
  RecordingWorkspace workspace;
  FakeAudioDevices devices;
  FakeAudioCapture capture;
  FakeCuePlayback cues;
  FakeMicrophone microphone;
  FakeLoginItem loginItem;
  int escapeMonitors = 0;

  PlatformParts parts() {
    return PlatformParts{
        .keyTap = tap,
        .keys = keys,
        .pasteboard = pasteboard,
        .directSelection = [] { return std::optional<QString>(); },
        .installEscapeMonitor = [this](const std::function<void(quint32, quint64)>&) { ++escapeMonitors; },
        .inputFocus = focus,
        .filePanels = panels,
        .workspace = workspace,
        .audioDevices = devices,
        .capture = capture,
        .cues = cues,
        .microphone = microphone,
        .loginItem = loginItem,
    };
  }
};

}  // namespace murel::test
