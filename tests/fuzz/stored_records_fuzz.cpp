// The stored records (history, modes, snippets, dictionary, usage): whatever a
// store reads from any stored data it writes back so that a fresh store reads
// the same records, damaged members and out-of-range numbers included.
#include "runtime/UserDefaults.h"
#include "text/DictionaryStore.h"
#include "text/HistoryStore.h"
#include "text/ModeStore.h"
#include "text/SnippetStore.h"
#include "text/UsageStatsStore.h"

#include "FuzzSupport.h"

#include <QFile>
#include <QTimeZone>

using namespace murel;

namespace {

QString idsOf(const auto& list) {
  QStringList ids;
  for (const auto& e : list) ids << e.id.toString();
  return ids.join(u',');
}

void checkHistory(UserDefaults& defaults, const QString& input) {
  const QDateTime now = QDateTime::fromMSecsSinceEpoch(1'800'000'000'000LL, Qt::UTC);
  HistoryStore first(defaults, [now] { return now; });
  first.add(QStringLiteral("fuzz"));  // writes every record read
  HistoryStore second(defaults);
  bool same = first.entries().size() == second.entries().size();
  for (qsizetype i = 0; same && i < first.entries().size(); ++i) {
    const HistoryEntry& a = first.entries()[i];
    const HistoryEntry& b = second.entries()[i];
    same = a.id == b.id && a.text == b.text && a.timestamp == b.timestamp && b.timestamp.isValid();
  }
  fuzz::check(same, "history round trip", input + u'\n' + idsOf(first.entries()) + u'\n' + idsOf(second.entries()));
}

void checkModes(UserDefaults& defaults, const QString& input) {
  ModeStore first(defaults);
  Mode extra = Mode::makeDefault();
  extra.isDefault = false;
  extra.name = QStringLiteral("fuzz");
  first.add(extra);
  ModeStore second(defaults);
  fuzz::check(!second.modes().isEmpty(), "modes are never empty", input);
  fuzz::check(first.modes() == second.modes(), "modes round trip", input);
}

template <class Store, class Entry>
void checkEntries(UserDefaults& defaults, const QString& input, const char* what,
                  bool (*same)(const Entry&, const Entry&)) {
  Store first(defaults);
  first.setEntries(first.entries());  // writes every record read
  Store second(defaults);
  bool equal = first.entries().size() == second.entries().size();
  for (qsizetype i = 0; equal && i < first.entries().size(); ++i) equal = same(first.entries()[i], second.entries()[i]);
  fuzz::check(equal, what, input);
}

void checkUsage(UserDefaults& defaults, const QString& input) {
  const QTimeZone zone = QTimeZone::utc();
  UsageStatsStore first(defaults, zone);
  first.record(QStringLiteral("one two"), QDateTime::fromMSecsSinceEpoch(1'800'000'000'000LL, Qt::UTC), 1.5);
  UsageStatsStore second(defaults, zone);
  fuzz::check(first.totalWords() == second.totalWords() && first.totalCharacters() == second.totalCharacters() &&
                  first.totalDictations() == second.totalDictations() &&
                  first.totalRecordingSeconds() == second.totalRecordingSeconds(),
              "usage totals round trip", input);
  bool same = first.daily().size() == second.daily().size();
  for (qsizetype i = 0; same && i < first.daily().size(); ++i) {
    const DailyUsage& a = first.daily()[i];
    const DailyUsage& b = second.daily()[i];
    same = a.day == b.day && a.words == b.words && a.dictations == b.dictations &&
           a.recordingSeconds == b.recordingSeconds;
  }
  fuzz::check(same, "usage days round trip", input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString path = fuzz::workDir() + QStringLiteral("/records.json");
  const QByteArray input = fuzz::bytes(data, size);
  const QString shown = QString::fromUtf8(input);
  const char* keys[] = {HistoryStore::kEntriesKey, ModeStore::kKey, SnippetStore::kKey, DictionaryStore::kKey,
                        UsageStatsStore::kKey};
  QFile::remove(path);
  UserDefaults defaults(path);
  for (const char* key : keys) defaults.setValue(QLatin1String(key), input);

  checkHistory(defaults, shown);
  checkModes(defaults, shown);
  checkEntries<SnippetStore, SnippetEntry>(
      defaults, shown, "snippets round trip", [](const SnippetEntry& a, const SnippetEntry& b) {
        return a.id == b.id && a.trigger == b.trigger && a.expansion == b.expansion;
      });
  checkEntries<DictionaryStore, DictionaryEntry>(
      defaults, shown, "dictionary round trip", [](const DictionaryEntry& a, const DictionaryEntry& b) {
        return a.id == b.id && a.original == b.original && a.replacement == b.replacement;
      });
  checkUsage(defaults, shown);
  return 0;
}
