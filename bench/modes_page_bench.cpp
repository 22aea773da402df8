// The mode editor: opening it from the modes page (target under 50 ms) and
// from SAVE to the mode's hotkey grabbed on the X server (target under 20 ms).
// Needs the rig's X server (scripts/bench runs it there).
#include "app/SettingsNavigator.h"
#include "hotkeys/HotKeyService.h"
#include "root/Composition.h"
#include "runtime/Clock.h"
#include "runtime/DiagLog.h"
#include "runtime/UserDefaults.h"
#include "settings/ModeEditorView.h"
#include "settings/ModesSettingsView.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <memory>

using namespace murel;

namespace {

// The application's own parts on the rig's desktop, built once.
Composition& composition() {
  static SystemPlatform platform;
  static Composition parts(UserDefaults::shared(), DiagLog::shared(), platform.parts());
  return parts;
}

ModesSettingsView::Services services(SettingsNavigator& navigator) {
  return {composition().modes(), composition().hotKeys(), navigator, Clock::suspending()};
}

}  // namespace

// From the row's click to the editor shown.
static void BM_EditorOpen(benchmark::State& state) {
  SettingsNavigator navigator;
  ModesSettingsView page(services(navigator));
  page.resize(629, 700);
  page.show();
  QApplication::processEvents();
  const Mode mode = composition().modes().modes().first();
  for (auto _ : state) {
    page.openModeEditor(mode);
    QApplication::processEvents();
    state.PauseTiming();
    page.closeModeEditor();
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_EditorOpen)->Iterations(20)->Unit(benchmark::kMillisecond);

// From SAVE to the registrations rebuilt with the mode's new hotkey grabbed.
static void BM_SaveToGrab(benchmark::State& state) {
  SettingsNavigator navigator;
  HotKeyService& hotKeys = composition().hotKeys();
  ModeStore& store = composition().modes();
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const Mode mode = store.modes().first();
    // A new combination each round (Ctrl+F5 or Ctrl+F6), as if just captured.
    Mode changed = mode;
    changed.hotkey = KeyCombo(round++ % 2 ? Key::f5 : Key::f6, KeyModifiers::leftControl);
    ModeEditorView editor(ModeEditorView::Services{store, hotKeys, navigator, Clock::suspending()}, changed);
    state.ResumeTiming();
    editor.save();
    state.PauseTiming();
    if (hotKeys.currentBindings().value(HotKeyBinding::mode(mode.id)) != changed.hotkey) {
      state.SkipWithError("the mode's hotkey was not registered");
      return;
    }
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SaveToGrab)->Iterations(20)->Unit(benchmark::kMillisecond);
