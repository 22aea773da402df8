#include "runtime/UserDefaults.h"
#include "support/TestEnv.h"
#include "text/DictionaryStore.h"
#include "text/HistoryStore.h"
#include "text/ModeStore.h"
#include "text/ModelInactivityDelay.h"
#include "text/SnippetMatcher.h"
#include "text/SnippetStore.h"
#include "text/VoiceEditPreferences.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>

using namespace murel;

namespace {

std::unique_ptr<UserDefaults> freshDefaults(const char* name) {
  return std::make_unique<UserDefaults>(murel::test::freshDir(QString::fromLatin1(name)) + QStringLiteral("/d.json"));
}

QJsonArray storedArray(const UserDefaults& d, const char* key) {
  return QJsonDocument::fromJson(d.dataValue(QString::fromLatin1(key)).value_or(QByteArray())).array();
}

const char* kId1 = "11111111-1111-1111-1111-111111111111";
const char* kId2 = "22222222-2222-2222-2222-222222222222";
const char* kId3 = "33333333-3333-3333-3333-333333333333";

}  // namespace

// The three lists read element by element: what survives each kind of stored data.
TEST(StoredLists, DecodeLeniently) {
  struct Case {
    const char* name;
    std::optional<QByteArray> data;  // none: key absent
    QStringList expected;            // the originals that survive
  };
  const QByteArray good1 = R"({"id":"11111111-1111-1111-1111-111111111111","original":"one","replacement":"1"})";
  const QByteArray good3 =
      R"({"id":"33333333-3333-3333-3333-333333333333","original":"three","replacement":"3","note":"x"})";
  const Case cases[] = {
      {"bad second record",
       "[" + good1 + R"(,{"id":"22222222-2222-2222-2222-222222222222","original":"two"},)" + good3 + "]",
       {"one", "three"}},
      {"null and number elements", "[null," + good1 + ",7,\"s\",[]," + good3 + "]", {"one", "three"}},
      {"wrong member type",
       "[" + good1 + R"(,{"id":"22222222-2222-2222-2222-222222222222","original":2,"replacement":"2"}])",
       {"one"}},
      {"empty array", "[]", {}},
      {"top-level object", "{\"a\":" + good1 + "}", {}},
      // The records before the damage can still be read.
      {"syntax error inside an element", "[" + good1 + R"(,{"id":"x",]])", {"one"}},
      {"not JSON", "modes", {}},
      {"no data", std::nullopt, {}},
  };
  for (const Case& c : cases) {
    auto defaults = freshDefaults("lenient");
    if (c.data) defaults->setValue(QStringLiteral("dictionaryEntries"), *c.data);
    DictionaryStore store(*defaults);
    QStringList originals;
    for (const DictionaryEntry& e : store.entries()) originals << e.original;
    EXPECT_EQ(originals, c.expected) << c.name;
  }
}

TEST(Snippets, MatchWholeUtterancesByNormalForm) {
  const QList<SnippetEntry> entries = {
      {QUuid::createUuid(), QStringLiteral("Sign off"), QStringLiteral("\n  Best,\n  Ann  ")},
      {QUuid::createUuid(), QStringLiteral("sign off!"), QStringLiteral("second")},
      {QUuid::createUuid(), QStringLiteral("."), QStringLiteral("dot")},
      {QUuid::createUuid(), QStringLiteral("Caf\u00e9"), QStringLiteral("coffee")},
  };
  const std::pair<const char*, const char*> cases[] = {
      {"Sign off.", "\n  Best,\n  Ann  "},  // the first of two equal triggers, expansion untouched
      {"sign off", "\n  Best,\n  Ann  "},
      {"SIGN OFF!!", "\n  Best,\n  Ann  "},
      {"  sign off ?", "\n  Best,\n  Ann  "},
      {"sign off,\n", "\n  Best,\n  Ann  "},
      {"CAFE\u0301", "coffee"},
      {"sign off . .", nullptr},
      {"Sign-off", nullptr},
      {"...sign off", nullptr},
      {"sign off;", nullptr},
      {"sign off\u2026", nullptr},
      {"please sign off", nullptr},
      {"?!", nullptr},
      {"   ", nullptr},
  };
  for (const auto& [utterance, expansion] : cases) {
    const std::optional<QString> got = SnippetMatcher::matchSnippet(QString::fromUtf8(utterance), entries);
    if (expansion) {
      EXPECT_EQ(got, QString::fromUtf8(expansion)) << utterance;
    } else {
      EXPECT_FALSE(got) << utterance << " gave " << got->toStdString();
    }
  }
  EXPECT_EQ(SnippetMatcher::normalizeTrigger(QStringLiteral("  \u0130STANBUL ! ")), QStringLiteral("i\u0307stanbul"));

  EXPECT_FALSE(SnippetMatcher::isDuplicateTrigger(QStringLiteral("Café"), entries, entries[3].id));
  EXPECT_TRUE(SnippetMatcher::isDuplicateTrigger(QStringLiteral("Café"), entries));
  EXPECT_TRUE(
      SnippetMatcher::isDuplicateTrigger(QStringLiteral("SIGN OFF"), entries, entries[0].id));  // the second one
  EXPECT_FALSE(SnippetMatcher::isDuplicateTrigger(QStringLiteral("sign-off"), entries));
  const QList<SnippetEntry> blank = {{QUuid::createUuid(), QStringLiteral("?"), QStringLiteral("x")}};
  EXPECT_TRUE(SnippetMatcher::isDuplicateTrigger(QStringLiteral("!"), blank));
}

TEST(Snippets, StoreSavesEveryAssignmentAndDropsUnreadableRecords) {
  auto defaults = freshDefaults("snippetEntries");
  defaults->setValue(QStringLiteral("snippetEntries"),
                     QByteArray(R"([{"id":"11111111-1111-1111-1111-111111111111","trigger":"a","expansion":"A"},)"
                                R"({"id":"22222222-2222-2222-2222-222222222222","trigger":"b"},)"
                                R"({"expansion":"C","trigger":"c","id":"33333333-3333-3333-3333-333333333333"}])"));
  SnippetStore store(*defaults);
  ASSERT_EQ(store.entries().size(), 2);
  EXPECT_EQ(store.entries()[1].expansion, QStringLiteral("C"));
  QSignalSpy spy(&store, &SnippetStore::entriesChanged);
  store.setEntries(store.entries());
  EXPECT_EQ(spy.count(), 1);
  EXPECT_EQ(*defaults->dataValue(QStringLiteral("snippetEntries")),
            QByteArray(R"([{"id":"11111111-1111-1111-1111-111111111111","trigger":"a","expansion":"A"},)"
                       R"({"id":"33333333-3333-3333-3333-333333333333","trigger":"c","expansion":"C"}])"));
}

namespace {

Mode mode(const char* id, const char* name, bool isDefault, std::optional<KeyCombo> hotkey = std::nullopt,
          Transformation t = Transformation::raw()) {
  return Mode{QUuid::fromString(QLatin1String(id)), QString::fromUtf8(name), t, hotkey, isDefault};
}

QList<bool> flags(const ModeStore& store) {
  QList<bool> out;
  for (const Mode& m : store.modes()) out << m.isDefault;
  return out;
}

}  // namespace

TEST(Modes, FirstStartSeedsOneRawDefaultAndSavesIt) {
  auto defaults = freshDefaults("modes-seed");
  ModeStore store(*defaults);
  ASSERT_EQ(store.modes().size(), 1);
  const Mode& m = store.modes()[0];
  EXPECT_EQ(m.name, QStringLiteral("Default"));
  EXPECT_TRUE(m.transformation.isRaw());
  EXPECT_FALSE(m.hotkey);
  EXPECT_TRUE(m.isDefault);
  EXPECT_EQ(*defaults->dataValue(QStringLiteral("modes")),
            "[{\"id\":\"" + m.id.toString(QUuid::WithoutBraces).toUpper().toUtf8() +
                "\",\"name\":\"Default\",\"transformation\":{\"kind\":\"raw\"},"
                "\"isDefault\":true}]");
  EXPECT_FALSE(defaults->contains(QLatin1String(ModeStore::kBackupKey)));
}

TEST(Modes, StoredListsLoadAsTheyAreOrFallBackToTheDefault) {
  const QByteArray a =
      R"({"id":"11111111-1111-1111-1111-111111111111","name":"A","transformation":{"kind":"raw"},"isDefault":false})";
  const QByteArray b =
      R"({"id":"22222222-2222-2222-2222-222222222222","name":"B","transformation":{"kind":"preset","value":"email"},"hotkey":null,"isDefault":true})";
  const QByteArray c =
      R"({"id":"33333333-3333-3333-3333-333333333333","name":"C","transformation":{"kind":"custom","value":"x"},"hotkey":{"keyCode":49,"modifiers":10},"isDefault":true})";
  const QByteArray noFlag =
      R"({"id":"44444444-4444-4444-4444-444444444444","name":"D","transformation":{"kind":"raw"}})";
  const QByteArray badHotkey =
      R"({"id":"55555555-5555-5555-5555-555555555555","name":"E","transformation":{"kind":"raw"},"hotkey":{"keyCode":49},"isDefault":true})";
  const QByteArray legacyHotkey =
      R"({"id":"66666666-6666-6666-6666-666666666666","name":"F","transformation":{"kind":"raw"},"hotkey":{"carbonKeyCode":49,"carbonModifiers":2304},"isDefault":false})";
  struct Case {
    const char* name;
    QByteArray data;
    QStringList names;  // empty: the seeded "Default"
    const char* defaultName;
  };
  const Case cases[] = {
      {"none flagged: first is default", "[" + a + "]", {"A"}, "A"},
      {"two flagged: first flagged wins", "[" + a + "," + b + "," + c + "]", {"A", "B", "C"}, "B"},
      {"missing isDefault and bad hotkey drop the mode", "[" + noFlag + "," + badHotkey + "," + a + "]", {"A"}, "A"},
      {"legacy hotkey members", "[" + legacyHotkey + "]", {"F"}, "F"},
      {"only mode unreadable", "[" + noFlag + "]", {}, "Default"},
      {"not an array", "{}", {}, "Default"},
      {"empty array", "[]", {}, "Default"},
  };
  for (const Case& k : cases) {
    auto defaults = freshDefaults("modes-load");
    defaults->setValue(QStringLiteral("modes"), k.data);
    ModeStore store(*defaults);
    QStringList names;
    for (const Mode& m : store.modes()) names << m.name;
    EXPECT_EQ(names, k.names.isEmpty() ? QStringList{QStringLiteral("Default")} : k.names) << k.name;
    EXPECT_EQ(store.defaultMode().name, QString::fromLatin1(k.defaultName)) << k.name;
    if (k.names.isEmpty()) {
      // The seeded mode replaced what was stored: written at once, and whatever could
      // not be read is kept aside rather than destroyed.
      EXPECT_EQ(storedArray(*defaults, "modes").size(), 1) << k.name;
      const bool hadData = k.data != "[]";
      EXPECT_EQ(defaults->dataValue(QLatin1String(ModeStore::kBackupKey)),
                hadData ? std::optional<QByteArray>(k.data) : std::nullopt)
          << k.name;
    }
  }

  auto defaults = freshDefaults("modes-hotkey");
  defaults->setValue(QStringLiteral("modes"), "[" + c + "," + legacyHotkey + "]");
  ModeStore store(*defaults);
  ASSERT_EQ(store.modes().size(), 2);
  EXPECT_EQ(store.modes()[0].hotkey, KeyCombo(Key::space, KeyModifiers::option | KeyModifiers::shift));
  EXPECT_EQ(store.modes()[0].transformation, Transformation::custom(QStringLiteral("x")));
  EXPECT_EQ(store.modes()[1].hotkey, KeyCombo(Key::space, KeyModifiers::command | KeyModifiers::option));
}

TEST(Modes, EditsKeepExactlyOneDefault) {
  auto defaults = freshDefaults("modes-edit");
  ModeStore store(*defaults);
  const QUuid seeded = store.modes()[0].id;
  QSignalSpy spy(&store, &ModeStore::modesChanged);

  store.add(mode(kId1, "A", false));
  EXPECT_EQ(flags(store), (QList<bool>{true, false}));
  store.add(mode(kId2, "B", true));
  EXPECT_EQ(flags(store), (QList<bool>{false, false, true}));
  EXPECT_EQ(store.defaultMode().name, QStringLiteral("B"));

  store.setDefault(QUuid::fromString(QLatin1String(kId1)));
  EXPECT_EQ(flags(store), (QList<bool>{false, true, false}));
  const QByteArray saved = *defaults->dataValue(QStringLiteral("modes"));
  const qsizetype signals_ = spy.count();
  store.setDefault(QUuid::createUuid());  // unknown: nothing changes, nothing saved
  store.update(mode(kId3, "ghost", true));
  EXPECT_EQ(spy.count(), signals_);
  EXPECT_EQ(*defaults->dataValue(QStringLiteral("modes")), saved);

  store.update(mode(kId2, "B2", true, KeyCombo(Key::f5, 0), Transformation::preset(TransformPreset::tidy)));
  EXPECT_EQ(flags(store), (QList<bool>{false, false, true}));
  EXPECT_EQ(store.modes()[2].name, QStringLiteral("B2"));
  // Updated without the flag: the list may have no flagged mode; the first mode stands in.
  store.update(mode(kId2, "B2", false));
  EXPECT_EQ(flags(store), (QList<bool>{false, false, false}));
  EXPECT_EQ(store.defaultMode().id, seeded);

  store.setDefault(QUuid::fromString(QLatin1String(kId2)));
  store.remove(QUuid::fromString(QLatin1String(kId2)));  // the flagged one: the first remaining takes over
  EXPECT_EQ(flags(store), (QList<bool>{true, false}));
  store.remove(QUuid::fromString(QLatin1String(kId1)));  // unflagged: flags stay
  EXPECT_EQ(flags(store), (QList<bool>{true}));
  store.remove(seeded);  // the last mode stays
  EXPECT_EQ(store.modes().size(), 1);

  const QJsonArray stored = storedArray(*defaults, "modes");
  ASSERT_EQ(stored.size(), 1);
  EXPECT_EQ(stored[0].toObject().value(QStringLiteral("id")).toString(),
            seeded.toString(QUuid::WithoutBraces).toUpper());
}

TEST(Modes, EqualityAndStoredForm) {
  const KeyCombo f5(Key::f5, KeyModifiers::command);
  const Mode plain = mode(kId1, "Mail", true, std::nullopt, Transformation::preset(TransformPreset::email));
  Mode withKey = plain;
  withKey.hotkey = f5;
  Mode otherKey = plain;
  otherKey.hotkey = KeyCombo(Key::f6, KeyModifiers::command);
  EXPECT_FALSE(plain == withKey);
  EXPECT_FALSE(withKey == otherKey);
  EXPECT_TRUE(withKey == withKey);
  Mode composed = plain;
  composed.name = QStringLiteral("Cafe\u0301");
  Mode precomposed = plain;
  precomposed.name = QStringLiteral("Caf\u00e9");
  EXPECT_TRUE(composed == precomposed);

  EXPECT_EQ(withKey.toJsonText(), QByteArray(R"({"id":"11111111-1111-1111-1111-111111111111","name":"Mail",)"
                                             R"("transformation":{"kind":"preset","value":"email"},)"
                                             R"("hotkey":{"keyCode":96,"modifiers":1},"isDefault":true})"));
  const auto back = Mode::fromJson(QJsonDocument::fromJson(withKey.toJsonText()).object());
  ASSERT_TRUE(back);
  EXPECT_TRUE(*back == withKey);

  auto defaults = freshDefaults("modes-assign");
  ModeStore store(*defaults);
  QSignalSpy spy(&store, &ModeStore::modesChanged);
  store.setModes(store.modes());
  EXPECT_EQ(spy.count(), 0);
  QList<Mode> changed = store.modes();
  changed[0].hotkey = f5;
  store.setModes(changed);
  EXPECT_EQ(spy.count(), 1);
}

TEST(History, KeepsTheHundredNewestFirst) {
  auto defaults = freshDefaults("history");
  qint64 tick = 0;
  HistoryStore store(*defaults, [&tick] { return QDateTime::fromSecsSinceEpoch(1'800'000'000 + tick++, Qt::UTC); });
  EXPECT_TRUE(store.isEnabled());
  for (int i = 1; i <= 101; ++i) store.add(QStringLiteral("text %1").arg(i));
  ASSERT_EQ(store.entries().size(), 100);
  EXPECT_EQ(store.entries().first().text, QStringLiteral("text 101"));
  EXPECT_EQ(store.entries().last().text, QStringLiteral("text 2"));
  const QJsonArray stored = storedArray(*defaults, "historyEntries");
  ASSERT_EQ(stored.size(), 100);
  const QJsonObject newest = stored[0].toObject();
  EXPECT_EQ(newest.value(QStringLiteral("text")).toString(), QStringLiteral("text 101"));
  // Seconds since 2001-01-01 UTC.
  EXPECT_DOUBLE_EQ(newest.value(QStringLiteral("timestamp")).toDouble(), 1'800'000'100.0 - 978'307'200.0);
  const QByteArray data = *defaults->dataValue(QStringLiteral("historyEntries"));
  EXPECT_TRUE(data.startsWith("[{\"id\":\"" + store.entries()[0].id.toString(QUuid::WithoutBraces).toUpper().toUtf8() +
                              "\",\"text\":\"text 101\",\"timestamp\":821692900}"))
      << data.left(120).toStdString();

  store.add(QString());
  store.add(QStringLiteral("  "));  // not trimmed: recorded
  EXPECT_EQ(store.entries().first().text, QStringLiteral("  "));

  const QUuid gone = store.entries()[1].id;
  store.remove(gone);
  EXPECT_EQ(store.entries().size(), 99);
  EXPECT_EQ(storedArray(*defaults, "historyEntries").size(), 99);
  store.clear();
  EXPECT_EQ(*defaults->dataValue(QStringLiteral("historyEntries")), QByteArray("[]"));
}

TEST(History, DisabledRecordsNothingAndDamagedRecordsCostOnlyThemselves) {
  auto defaults = freshDefaults("history-off");
  defaults->setValue(QStringLiteral("historyEnabled"), QStringLiteral("no"));
  defaults->setValue(
      QStringLiteral("historyEntries"),
      QByteArray(R"([{"id":"11111111-1111-1111-1111-111111111111","text":"kept","timestamp":700000000.25},)"
                 R"({"id":"22222222-2222-2222-2222-222222222222","text":"no time"},)"
                 R"({"id":"33333333-3333-3333-3333-333333333333","text":"also kept","timestamp":600000000}])"));
  {
    HistoryStore store(*defaults);
    EXPECT_TRUE(store.isEnabled());  // a stored text is no flag
    ASSERT_EQ(store.entries().size(), 2);
    EXPECT_EQ(store.entries()[1].text, QStringLiteral("also kept"));
    EXPECT_EQ(store.entries()[0].timestamp,
              QDateTime::fromMSecsSinceEpoch(978'307'200'000LL + 700'000'000'250LL, Qt::UTC));

    QSignalSpy spy(&store, &HistoryStore::isEnabledChanged);
    store.setEnabled(false);
    store.setEnabled(false);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(defaults->boolValue(QStringLiteral("historyEnabled")), false);
  }
  const QByteArray before = *defaults->dataValue(QStringLiteral("historyEntries"));
  HistoryStore store(*defaults);
  EXPECT_FALSE(store.isEnabled());
  store.add(QStringLiteral("secret"));
  EXPECT_EQ(store.entries().size(), 2);
  EXPECT_EQ(*defaults->dataValue(QStringLiteral("historyEntries")), before);
}

// A damaged list keeps every record that can still be read; the stored value
// is kept aside before the next save drops what could not be read, and an
// earlier backup is never overwritten by a later one.
TEST(StoredLists, DamagedListsKeepTheReadableRecordsAndTheValueAside) {
  const QByteArray one = R"({"id":"11111111-1111-1111-1111-111111111111","text":"one","timestamp":700000000})";
  const QByteArray two =
      R"({"id":"22222222-2222-2222-2222-222222222222","text":"two, [still] \"two\"","timestamp":600000000})";
  struct Case {
    const char* name;
    QByteArray data;
    QStringList texts;
    bool keptAside;
  };
  const Case cases[] = {
      {"sound list", "[" + one + "," + two + "]", {"one", "two, [still] \"two\""}, false},
      {"empty list", "[]", {}, false},
      {"truncated inside the last record",
       "[" + one + "," + two + "," + one.left(30),
       {"one", "two, [still] \"two\""},
       true},
      {"truncated after a comma", "[" + one + ",", {"one"}, true},
      {"garbled record in the middle", "[" + one + ",{\"id\":}," + two + "]", {"one", "two, [still] \"two\""}, true},
      {"record of the wrong shape", "[" + one + ",42]", {"one"}, true},
      {"not a list", "{\"a\":1}", {}, true},
      {"nothing but garbage", "\xff\xfe", {}, true},
  };
  for (const Case& k : cases) {
    auto defaults = freshDefaults("history-damaged");
    defaults->setValue(QStringLiteral("historyEntries"), k.data);
    HistoryStore store(*defaults);
    QStringList texts;
    for (const HistoryEntry& e : store.entries()) texts << e.text;
    EXPECT_EQ(texts, k.texts) << k.name;
    store.add(QStringLiteral("new"));
    EXPECT_EQ(storedArray(*defaults, "historyEntries").size(), k.texts.size() + 1) << k.name;
    EXPECT_EQ(defaults->dataValue(QStringLiteral("historyEntries.unreadableBackup")),
              k.keptAside ? std::optional<QByteArray>(k.data) : std::nullopt)
        << k.name;
  }

  // A second damage later on: the first backup stays as it was.
  auto defaults = freshDefaults("snippets-damaged-twice");
  defaults->setValue(QStringLiteral("snippetEntries"), QByteArray("[{"));
  { SnippetStore first(*defaults); }
  defaults->setValue(QStringLiteral("snippetEntries"), QByteArray("[{\"x"));
  { SnippetStore second(*defaults); }
  EXPECT_EQ(defaults->dataValue(QStringLiteral("snippetEntries.unreadableBackup")), QByteArray("[{"));
  EXPECT_EQ(defaults->dataValue(QStringLiteral("snippetEntries.unreadableBackup2")), QByteArray("[{\"x"));
}

// A damaged or hand-edited file can hold any JSON number as a time: the record
// stays, its date is clamped to the years 1..9999 and saving it back is stable.
TEST(History, UnrepresentableTimestampsAreClampedAndTheRecordKept) {
  struct Case {
    const char* stored;
    int year;
  };
  const Case cases[] = {
      {"9.2e15", 9999},    {"9223372036854775.807", 9999}, {"1e308", 9999}, {"-9.2e15", 1}, {"-1e308", 1},
      {"700000000", 2023},
  };
  for (const Case& c : cases) {
    auto defaults = freshDefaults("history-time");
    defaults->setValue(
        QStringLiteral("historyEntries"),
        QByteArray(R"([{"id":"11111111-1111-1111-1111-111111111111","text":"kept","timestamp":)") + c.stored + "}]");
    QDateTime read;
    {
      HistoryStore store(*defaults);
      ASSERT_EQ(store.entries().size(), 1) << c.stored;
      read = store.entries()[0].timestamp;
      EXPECT_TRUE(read.isValid()) << c.stored;
      EXPECT_EQ(read.date().year(), c.year) << c.stored;
      store.add(QStringLiteral("new"));  // writes the old record back
    }
    HistoryStore reread(*defaults);
    ASSERT_EQ(reread.entries().size(), 2) << c.stored;
    EXPECT_EQ(reread.entries()[1].timestamp, read) << c.stored;
  }
}

TEST(Preferences, VoiceEditSwitch) {
  auto defaults = freshDefaults("voice-edit");
  {
    VoiceEditPreferences prefs(*defaults);
    EXPECT_FALSE(prefs.isEnabled());
    EXPECT_FALSE(defaults->contains(QStringLiteral("voiceEditEnabled")));
    QSignalSpy spy(&prefs, &VoiceEditPreferences::isEnabledChanged);
    prefs.setEnabled(true);
    prefs.setEnabled(true);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(defaults->boolValue(QStringLiteral("voiceEditEnabled")), true);
  }
  EXPECT_TRUE(VoiceEditPreferences(*defaults).isEnabled());
  defaults->setValue(QStringLiteral("voiceEditEnabled"), 1);
  EXPECT_FALSE(VoiceEditPreferences(*defaults).isEnabled());
}

TEST(Preferences, ModelInactivityDelay) {
  namespace delay = murel::model_inactivity_delay;
  auto defaults = freshDefaults("delay");
  struct Case {
    QVariant stored;
    ModelInactivityDelay expected;
  };
  const Case cases[] = {
      {QVariant(), ModelInactivityDelay::thirtyMinutes},
      {QVariant(qint64(0)), ModelInactivityDelay::never},
      {QVariant(qint64(120)), ModelInactivityDelay::twoHours},
      {QVariant(45.0), ModelInactivityDelay::fortyFiveMinutes},
      {QVariant(qint64(90)), ModelInactivityDelay::thirtyMinutes},
      {QVariant(qint64(-1)), ModelInactivityDelay::thirtyMinutes},
      {QVariant(15.5), ModelInactivityDelay::thirtyMinutes},
      {QVariant(QStringLiteral("15")), ModelInactivityDelay::thirtyMinutes},
  };
  for (const Case& c : cases) {
    defaults->setValue(QLatin1String(delay::kKey), c.stored);
    EXPECT_EQ(delay::current(*defaults), c.expected) << c.stored.toString().toStdString();
  }
  EXPECT_EQ(delay::duration(ModelInactivityDelay::thirtyMinutes), std::chrono::seconds(1800));
  EXPECT_EQ(delay::duration(ModelInactivityDelay::twoHours), std::chrono::seconds(7200));
  EXPECT_FALSE(delay::duration(ModelInactivityDelay::never));
  QList<int> minutes;
  for (ModelInactivityDelay d : delay::allCases()) minutes << delay::rawValue(d);
  EXPECT_EQ(minutes, (QList<int>{0, 15, 30, 45, 60, 120}));
  EXPECT_EQ(delay::fromRawValue(60), ModelInactivityDelay::oneHour);
  EXPECT_FALSE(delay::fromRawValue(20));
}
