#include "text/DictionaryFile.h"

#include "runtime/UnicodeText.h"

#include <QHash>

#include <algorithm>

namespace murel {
namespace {

// The key under which merged rules meet: lower case, canonically composed.
QString mergeKey(const QString& original) {
  return unicodeLowercase(original).normalized(QString::NormalizationForm_C);
}

}  // namespace

namespace DictionaryFile {

QList<DictionaryEntry> parse(const QString& text) {
  QList<DictionaryEntry> rules;
  const QStringView all(text);
  qsizetype lineStart = 0;
  for (qsizetype i = 0; i <= all.size(); ++i) {
    if (i < all.size() && !isLineBreak(all[i].unicode())) continue;
    const QString line = trimBlanks(all.mid(lineStart, i - lineStart));
    lineStart = i + 1;
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    qsizetype sep = line.indexOf(QLatin1String("->"));
    qsizetype sepLength = 2;
    if (sep < 0) {
      sep = line.indexOf(QChar(0x2192));
      sepLength = 1;
    }
    if (sep < 0) continue;
    const QString original = trimBlanks(QStringView(line).left(sep));
    const QString replacement = trimBlanks(QStringView(line).mid(sep + sepLength));
    if (original.isEmpty() || replacement.isEmpty()) continue;
    rules.append(DictionaryEntry{QUuid::createUuid(), original, replacement});
  }
  return rules;
}

QString exportText(const QList<DictionaryEntry>& entries) {
  //% "one rule per line: original -> replacement. lines starting with # are ignored."
  //: Comment line written at the top of an exported dictionary text file.
  QString out = QStringLiteral("# ") + qtTrId("settings.dictionary.file.header") + QStringLiteral("\n\n");
  for (const DictionaryEntry& e : entries)
    out += e.original + QStringLiteral(" -> ") + e.replacement + QLatin1Char('\n');
  return out;
}

bool canCarry(const QString& original, const QString& replacement) {
  const auto hasLineBreak = [](const QString& text) {
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return isLineBreak(c.unicode()); });
  };
  if (hasLineBreak(original) || hasLineBreak(replacement)) return false;
  return !original.contains(QLatin1String("->")) && !original.startsWith(QLatin1Char('#'));
}

MergeResult merge(const QList<DictionaryEntry>& imported, const QList<DictionaryEntry>& existing) {
  QHash<QString, DictionaryEntry> pending;
  QList<QString> importedKeys;
  importedKeys.reserve(imported.size());
  for (const DictionaryEntry& e : imported) {
    importedKeys.append(mergeKey(e.original));
    pending.insert(importedKeys.last(), e);  // a later occurrence replaces an earlier one
  }

  MergeResult result;
  QList<DictionaryEntry> updated = existing;
  for (DictionaryEntry& e : updated) {
    const auto it = pending.find(mergeKey(e.original));
    if (it == pending.end()) continue;
    e.original = it->original;
    e.replacement = it->replacement;
    pending.erase(it);
    ++result.overriddenCount;
  }
  for (const QString& key : importedKeys) {
    const auto it = pending.find(key);
    if (it == pending.end()) continue;
    result.entries.append(*it);
    pending.erase(it);
  }
  result.entries.append(updated);
  return result;
}

}  // namespace DictionaryFile
}  // namespace murel
