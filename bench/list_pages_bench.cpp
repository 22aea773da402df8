// The dictionary and snippets pages. Targets: a 5,000-rule import file read,
// parsed and merged < 100 ms and its list applied on screen < 250 ms (10,000
// rules applied and first painted < 500 ms); the
// dictionary page with 5,000 rules and the snippets page with 1,000 snippets
// built and painted < 250 ms, and scrolled from top to bottom without a frame
// over 16 ms.
#include "PageRepaint.h"
#include "ScrollFrames.h"
#include "app/FilePanels.h"
#include "design/SettingsComponents.h"
#include "platform/dbus/FileManagerWorkspace.h"
#include "runtime/Clock.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "settings/DictionarySettingsView.h"
#include "settings/SnippetSettingsView.h"
#include "text/DictionaryFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>

using namespace murel;

namespace {

QList<DictionaryEntry> rules(int count, const QString& prefix) {
  QList<DictionaryEntry> out;
  out.reserve(count);
  for (int i = 0; i < count; ++i)
    out.append({QUuid::createUuid(), prefix + QString::number(i),
                QStringLiteral("replacement number %1 with a few words").arg(i)});
  return out;
}

QList<SnippetEntry> snippets(int count) {
  QList<SnippetEntry> out;
  out.reserve(count);
  for (int i = 0; i < count; ++i)
    out.append({QUuid::createUuid(), QStringLiteral("trigger phrase %1").arg(i),
                QStringLiteral("Dear team,\r\nthe expansion of snippet %1 runs over\nseveral lines.").arg(i)});
  return out;
}

void drain() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QApplication::processEvents();
}

}  // namespace

static void BM_DictionaryImportReadParseMerge(benchmark::State& state) {
  installTranslations(*QCoreApplication::instance());
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("rules.txt"));
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  // Half the file overrides existing rules, half is new.
  file.write(DictionaryFile::exportText(rules(5000, QStringLiteral("word"))).toUtf8());
  file.close();
  const QList<DictionaryEntry> existing = rules(2500, QStringLiteral("WORD"));
  for (auto _ : state) {
    const std::optional<QString> text = readDictionaryText(path, DictionarySettingsView::kMaxImportBytes);
    benchmark::DoNotOptimize(DictionaryFile::merge(DictionaryFile::parse(*text), existing));
  }
}
BENCHMARK(BM_DictionaryImportReadParseMerge)->Unit(benchmark::kMillisecond);

static void BM_DictionaryImportApplied(benchmark::State& state) {
  QTemporaryDir dir;
  UserDefaults defaults(dir.filePath(QStringLiteral("d.json")));
  DictionaryStore store(defaults);
  DialogFilePanels panels;  // never asked here
  FileManagerWorkspace workspace;
  DictionarySettingsView page(store, panels, workspace, Clock::continuous(), rules(100, QStringLiteral("old")));
  page.resize(630, 700);
  page.show();
  drain();
  const QList<DictionaryEntry> imported = rules(int(state.range(0)), QStringLiteral("new"));
  for (auto _ : state) {
    page.applyImport(imported);
    // Laid out and painted: what the user sees first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    murel::bench::repaintWhole(&page);
    state.PauseTiming();
    drain();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DictionaryImportApplied)->Arg(5000)->Arg(10'000)->ArgName("rules")->Unit(benchmark::kMillisecond);

static void BM_DictionaryPageBuild(benchmark::State& state) {
  QTemporaryDir dir;
  UserDefaults defaults(dir.filePath(QStringLiteral("d.json")));
  DictionaryStore store(defaults);
  store.setEntries(rules(5000, QStringLiteral("word")));
  for (auto _ : state) {
    DialogFilePanels panels;  // never asked here
    FileManagerWorkspace workspace;
    DictionarySettingsView page(store, panels, workspace, Clock::continuous());
    page.resize(630, 700);
    page.show();
    murel::bench::repaintWhole(&page);
    state.PauseTiming();
    page.hide();
    drain();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DictionaryPageBuild)->Unit(benchmark::kMillisecond);

static void BM_SnippetsPageBuild(benchmark::State& state) {
  QTemporaryDir dir;
  UserDefaults defaults(dir.filePath(QStringLiteral("d.json")));
  SnippetStore store(defaults);
  store.setEntries(snippets(1000));
  for (auto _ : state) {
    SnippetSettingsView page(store, Clock::continuous());
    page.resize(630, 700);
    page.show();
    murel::bench::repaintWhole(&page);
    state.PauseTiming();
    page.hide();
    drain();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SnippetsPageBuild)->Unit(benchmark::kMillisecond);

// Scrolled from top to bottom (see ScrollFrames.h) with every row built and
// the page at rest; rows_built_ms is how long the page took to make them all,
// worst_turn_ms and worst_turn_cpu_ms the longest the main thread spent in
// one event-loop turn (wall and thread CPU) while it did.
template <typename Page>
void scrollThrough(benchmark::State& state, Page& page) {
  page.resize(630, 700);
  page.show();
  auto* scroller = page.template findChild<SettingsPageLayout*>();
  QElapsedTimer building;
  building.start();
  qint64 worstTurnNs = 0;
  double worstTurnCpuMs = 0;
  while (page.rows().size() < page.entries().size() || scroller->entranceProgress() < 1) {
    QElapsedTimer turn;
    turn.start();
    const double cpuBefore = bench::threadCpuMs();
    // One pass over what is pending: the next part of the rows, layout, paint.
    QApplication::processEvents(QEventLoop::AllEvents);
    worstTurnCpuMs = std::max(worstTurnCpuMs, bench::threadCpuMs() - cpuBefore);
    worstTurnNs = std::max(worstTurnNs, turn.nsecsElapsed());
  }
  state.counters["rows_built_ms"] = double(building.elapsed());
  state.counters["worst_turn_ms"] = double(worstTurnNs) / 1e6;
  state.counters["worst_turn_cpu_ms"] = worstTurnCpuMs;
  drain();
  bench::scrollFrames(state, scroller);
}

static void BM_DictionaryPageScroll(benchmark::State& state) {
  QTemporaryDir dir;
  UserDefaults defaults(dir.filePath(QStringLiteral("d.json")));
  DictionaryStore store(defaults);
  store.setEntries(rules(5000, QStringLiteral("word")));
  DialogFilePanels panels;  // never asked here
  FileManagerWorkspace workspace;
  DictionarySettingsView page(store, panels, workspace, Clock::continuous());
  scrollThrough(state, page);
}
// One pass is some thousands of frames.
BENCHMARK(BM_DictionaryPageScroll)->Unit(benchmark::kMillisecond)->Iterations(1);

static void BM_SnippetsPageScroll(benchmark::State& state) {
  QTemporaryDir dir;
  UserDefaults defaults(dir.filePath(QStringLiteral("d.json")));
  SnippetStore store(defaults);
  store.setEntries(snippets(1000));
  SnippetSettingsView page(store, Clock::continuous());
  scrollThrough(state, page);
}
BENCHMARK(BM_SnippetsPageScroll)->Unit(benchmark::kMillisecond)->Iterations(1);
