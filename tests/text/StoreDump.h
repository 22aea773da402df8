#pragma once

#include <QString>

namespace murel {
class UserDefaults;
class ModeStore;
class DictionaryStore;
class SnippetStore;
class HistoryStore;
class UsageStatsStore;
class VoiceEditPreferences;
}  // namespace murel

namespace murel::test {

struct TextStores {
  ModeStore& modes;
  DictionaryStore& dictionary;
  SnippetStore& snippets;
  HistoryStore& history;
  UsageStatsStore& usage;
  VoiceEditPreferences& voiceEdit;
  UserDefaults& defaults;
};

// Every value the stores hold, one line each, so two processes can compare them.
QString dumpStores(const TextStores& stores);

}  // namespace murel::test
