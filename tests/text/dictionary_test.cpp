#include "runtime/UserDefaults.h"
#include "support/TestEnv.h"
#include "text/DictionaryFile.h"
#include "text/DictionaryStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>

#include "runtime/Localization.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

using murel::DictionaryEntry;
using murel::DictionaryStore;
using murel::UserDefaults;
namespace DictionaryFile = murel::DictionaryFile;

namespace {

using Pairs = QList<std::pair<QString, QString>>;

Pairs pairsOf(const QList<DictionaryEntry>& entries) {
  Pairs out;
  for (const DictionaryEntry& e : entries) out.append({e.original, e.replacement});
  return out;
}

DictionaryEntry rule(const char* original, const char* replacement) {
  return DictionaryEntry{QUuid::createUuid(), QString::fromUtf8(original), QString::fromUtf8(replacement)};
}

std::string show(const Pairs& pairs) {
  std::string out;
  for (const auto& [o, r] : pairs) out += "(" + o.toStdString() + " | " + r.toStdString() + ") ";
  return out;
}

const QString kHeader =
    QStringLiteral("# one rule per line: original -> replacement. lines starting with # are ignored.\n");

}  // namespace

TEST(DictionaryFile, ParsesEachKindOfLine) {
  struct Case {
    QString text;
    Pairs expected;
  };
  const Case cases[] = {
      {QStringLiteral("  Foo  ->  Bar  "), {{"Foo", "Bar"}}},
      {QStringLiteral("\t\u00a0Foo\u3000->\u2003Bar\t"), {{"Foo", "Bar"}}},  // tab and space separators trimmed
      {QStringLiteral("#foo -> bar"), {}},
      {QStringLiteral("   # foo -> bar"), {}},
      {QStringLiteral("foo # bar -> baz"), {{"foo # bar", "baz"}}},
      {QStringLiteral("foo ->"), {}},
      {QStringLiteral("-> bar"), {}},
      {QStringLiteral("->"), {}},
      {QStringLiteral("foo bar"), {}},
      {QStringLiteral("a -> b -> c"), {{"a", "b -> c"}}},
      {QStringLiteral("a \u2192 b"), {{"a", "b"}}},
      {QStringLiteral("a \u2192 b -> c"), {{"a \u2192 b", "c"}}},
      {QStringLiteral("A => b"), {}},
      {QStringLiteral("a -> b\r\nc -> d"), {{"a", "b"}, {"c", "d"}}},
      {QStringLiteral("a -> b\u2028c -> d\u0085e -> f\u000bg -> h\u000ci -> j\u2029k -> l\r"),
       {{"a", "b"}, {"c", "d"}, {"e", "f"}, {"g", "h"}, {"i", "j"}, {"k", "l"}}},
      {QStringLiteral("x -> 1\nx -> 2\n\n"), {{"x", "1"}, {"x", "2"}}},  // duplicates stay for the merge
      {QString(), {}},
  };
  for (const Case& c : cases) {
    const QList<DictionaryEntry> parsed = DictionaryFile::parse(c.text);
    EXPECT_EQ(pairsOf(parsed), c.expected) << c.text.toStdString() << " gave " << show(pairsOf(parsed));
    for (const DictionaryEntry& e : parsed) EXPECT_FALSE(e.id.isNull());
  }
}

TEST(DictionaryFile, ExportsByteForByteAndParsesBack) {
  ASSERT_TRUE(murel::installTranslations(*QCoreApplication::instance()));
  EXPECT_EQ(DictionaryFile::exportText({}).toUtf8(), (kHeader + QStringLiteral("\n")).toUtf8());
  const QList<DictionaryEntry> two = {rule("teh", "the"), rule("gonna", "going to")};
  EXPECT_EQ(DictionaryFile::exportText(two).toUtf8(),
            (kHeader + QStringLiteral("\nteh -> the\ngonna -> going to\n")).toUtf8());

  const QList<DictionaryEntry> roundTrip = {rule("Dr.", "Doctor"), rule("$x", "\\y"),
                                            rule("caf\u00e9", "caf\u00e9 \u2192 bar"), rule("a", "b -> c")};
  const QList<DictionaryEntry> back = DictionaryFile::parse(DictionaryFile::exportText(roundTrip));
  EXPECT_EQ(pairsOf(back), pairsOf(roundTrip));
  EXPECT_NE(back[0].id, roundTrip[0].id);

  // What the format cannot carry: "->" in an original splits there, "#" in front makes a comment.
  EXPECT_EQ(pairsOf(DictionaryFile::parse(DictionaryFile::exportText({rule("a->b", "c"), rule("#tag", "x")}))),
            (Pairs{{"a", "b -> c"}}));
}

// canCarry says yes exactly for the rules that come back unchanged from their exported line.
TEST(DictionaryFile, CanCarryMatchesTheRoundTrip) {
  const std::pair<const char*, const char*> rules[] = {
      {"a\u2192b", "c"},   {"a", "x->y"},        {"x-", ">y"},        {"#tag", "x"},       {"a->b", "c"},
      {"a # b", "c"},      {"line\nbreak", "x"}, {"a", "two\rlines"}, {"a", "sep\u2028x"}, {"a", "nel\u0085x"},
      {"a", "par\u2029x"}, {"tab\tin", "x"},     {"vt\vx", "y"},      {"a", "ff\fx"},      {"-", ">"},
  };
  for (const auto& [original, replacement] : rules) {
    const DictionaryEntry entry = rule(original, replacement);
    const Pairs back = pairsOf(DictionaryFile::parse(DictionaryFile::exportText({entry})));
    const bool unchanged = back == Pairs{{entry.original, entry.replacement}};
    EXPECT_EQ(DictionaryFile::canCarry(entry.original, entry.replacement), unchanged)
        << original << " | " << replacement;
  }
  EXPECT_TRUE(DictionaryFile::canCarry(QStringLiteral("a\u2192b"), QStringLiteral("x->y")));
  EXPECT_FALSE(DictionaryFile::canCarry(QStringLiteral("#tag"), QStringLiteral("x")));
}

TEST(DictionaryFile, Merges) {
  struct Case {
    const char* name;
    QList<DictionaryEntry> imported, existing;
    Pairs expected;
    qsizetype overridden;
  };
  const Case cases[] = {
      {"later import of a key wins", {rule("Foo", "x"), rule("foo", "y")}, {}, {{"foo", "y"}}, 0},
      {"import overrides existing ignoring case", {rule("foo", "new")}, {rule("FOO", "old")}, {{"foo", "new"}}, 1},
      {"only the first existing match is overridden",
       {rule("x", "3")},
       {rule("x", "1"), rule("X", "2")},
       {{"x", "3"}, {"X", "2"}},
       1},
      {"new rules come first",
       {rule("a", "1"), rule("b", "2")},
       {rule("c", "3")},
       {{"a", "1"}, {"b", "2"}, {"c", "3"}},
       0},
      {"same texts still count", {rule("c", "3")}, {rule("c", "3")}, {{"c", "3"}}, 1},
      {"new key keeps its first place with its last content",
       {rule("n", "1"), rule("m", "2"), rule("N", "3")},
       {rule("z", "0")},
       {{"N", "3"}, {"m", "2"}, {"z", "0"}},
       0},
      {"canonically equal originals meet",
       {rule("CAFE\u0301", "x")},
       {rule("caf\u00e9", "y")},
       {{"CAFE\u0301", "x"}},
       1},
      {"locale-independent lower case",
       {rule("I", "x")},
       {rule("i", "y"), rule("\u0131", "z")},
       {{"I", "x"}, {"\u0131", "z"}},
       1},
  };
  for (const Case& c : cases) {
    const DictionaryFile::MergeResult r = DictionaryFile::merge(c.imported, c.existing);
    EXPECT_EQ(pairsOf(r.entries), c.expected) << c.name << ": " << show(pairsOf(r.entries));
    EXPECT_EQ(r.overriddenCount, c.overridden) << c.name;
  }

  // Identifiers: an override keeps the existing one, a repeated import key brings its last one.
  const QList<DictionaryEntry> imported = {rule("Foo", "x"), rule("foo", "y"), rule("bar", "z")};
  const QList<DictionaryEntry> existing = {rule("BAR", "old")};
  const DictionaryFile::MergeResult r = DictionaryFile::merge(imported, existing);
  ASSERT_EQ(r.entries.size(), 2);
  EXPECT_EQ(r.entries[0].id, imported[1].id);
  EXPECT_EQ(r.entries[1].id, existing[0].id);
}

TEST(DictionaryStore, StoresAssignedListsAsJsonAndReadsThemLeniently) {
  UserDefaults defaults(murel::test::freshDir(QStringLiteral("dict")) + QStringLiteral("/d.json"));
  const QUuid a = QUuid::fromString(QStringLiteral("{e621e1f8-c36c-495a-93fc-0c247a3e6e5f}"));
  {
    DictionaryStore store(defaults);
    EXPECT_TRUE(store.entries().isEmpty());
    EXPECT_FALSE(defaults.contains(QStringLiteral("dictionaryEntries")));  // loading writes nothing

    QSignalSpy spy(&store, &DictionaryStore::entriesChanged);
    store.setEntries({DictionaryEntry{a, QStringLiteral("teh"), QStringLiteral("the \"x\"")}});
    store.setEntries(store.entries());  // the same list still notifies
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(
        *defaults.dataValue(QStringLiteral("dictionaryEntries")),
        QByteArray(R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","original":"teh","replacement":"the \"x\""}])"));
    store.setEntries({});
    EXPECT_EQ(*defaults.dataValue(QStringLiteral("dictionaryEntries")), QByteArray("[]"));
  }
  defaults.setValue(
      QStringLiteral("dictionaryEntries"),
      QByteArray(R"([{"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","original":"a","replacement":"b","extra":1},)"
                 R"({"id":"not-a-uuid","original":"c","replacement":"d"},)"
                 R"({"replacement":"f","original":"e","id":"00000000-0000-0000-0000-000000000001"}])"));
  DictionaryStore store(defaults);
  EXPECT_EQ(pairsOf(store.entries()), (Pairs{{"a", "b"}, {"e", "f"}}));
  EXPECT_EQ(store.entries()[0].id, a);
}
