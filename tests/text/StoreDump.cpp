#include "StoreDump.h"

#include "runtime/UserDefaults.h"
#include "text/DictionaryStore.h"
#include "text/HistoryStore.h"
#include "text/ModeStore.h"
#include "text/ModelInactivityDelay.h"
#include "text/SnippetStore.h"
#include "text/UsageStatsStore.h"
#include "text/VoiceEditPreferences.h"

#include <QTextStream>

namespace murel::test {

QString dumpStores(const TextStores& s) {
  QString out;
  QTextStream t(&out);
  for (const Mode& m : s.modes.modes()) {
    t << "mode " << m.id.toString() << ' ' << m.name << ' ' << m.transformation.toJsonText() << ' '
      << (m.hotkey ? m.hotkey->rawValue() : QStringLiteral("-")) << ' ' << m.isDefault << '\n';
  }
  for (const DictionaryEntry& e : s.dictionary.entries())
    t << "rule " << e.id.toString() << ' ' << e.original << " => " << e.replacement << '\n';
  for (const SnippetEntry& e : s.snippets.entries())
    t << "snippet " << e.id.toString() << ' ' << e.trigger << " => " << e.expansion << '\n';
  t << "history " << s.history.isEnabled() << '\n';
  for (const HistoryEntry& e : s.history.entries())
    t << "entry " << e.id.toString() << ' ' << e.text << ' ' << e.timestamp.toMSecsSinceEpoch() << '\n';
  t << "usage " << s.usage.totalWords() << ' ' << s.usage.totalCharacters() << ' ' << s.usage.totalDictations() << ' '
    << QString::number(s.usage.totalRecordingSeconds(), 'g', 17) << '\n';
  for (const DailyUsage& d : s.usage.daily()) {
    t << "day " << d.day.toMSecsSinceEpoch() << ' ' << d.words << ' ' << d.dictations << ' '
      << QString::number(d.recordingSeconds, 'g', 17) << '\n';
  }
  t << "voiceEdit " << s.voiceEdit.isEnabled() << '\n';
  t << "delay " << model_inactivity_delay::rawValue(model_inactivity_delay::current(s.defaults)) << '\n';
  return out;
}

}  // namespace murel::test
