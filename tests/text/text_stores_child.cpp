// Opens the user's stores on a defaults file in a process of its own and prints
// what they hold. Usage: text_stores_child <file>
#include "StoreDump.h"

#include "runtime/UserDefaults.h"
#include "text/DictionaryStore.h"
#include "text/HistoryStore.h"
#include "text/ModeStore.h"
#include "text/SnippetStore.h"
#include "text/UsageStatsStore.h"
#include "text/VoiceEditPreferences.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) return 2;
  using namespace murel;
  UserDefaults defaults(QString::fromLocal8Bit(argv[1]));
  ModeStore modes(defaults);
  DictionaryStore dictionary(defaults);
  SnippetStore snippets(defaults);
  HistoryStore history(defaults);
  UsageStatsStore usage(defaults, QTimeZone("Europe/Berlin"));
  VoiceEditPreferences voiceEdit(defaults);
  QTextStream(stdout) << test::dumpStores({modes, dictionary, snippets, history, usage, voiceEdit, defaults});
  return 0;
}
