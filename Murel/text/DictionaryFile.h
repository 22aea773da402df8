#pragma once

#include "text/DictionaryStore.h"

#include <QList>
#include <QString>

namespace murel {

// The plain-text dictionary exchange format: one "original -> replacement" rule
// per line, "#" starts a comment line.
namespace DictionaryFile {

struct MergeResult {
  QList<DictionaryEntry> entries;
  // How many existing rules took an imported original and replacement.
  qsizetype overriddenCount = 0;
};

// The rules of a file's text, in file order, each with a new identifier.
// Unusable lines are skipped.
QList<DictionaryEntry> parse(const QString& text);
// Header comment, empty line, then one line per rule; every line ends with "\n".
QString exportText(const QList<DictionaryEntry>& entries);
// Whether a rule, trimmed, comes back unchanged from its exported line: no
// line break in either text, and an original that neither holds "->" nor
// starts with "#" (a "->" in the replacement is fine: the first one separates).
bool canCarry(const QString& original, const QString& replacement);
// Imported rules override existing rules with the same original (ignoring case);
// the others are put in front of the existing list.
MergeResult merge(const QList<DictionaryEntry>& imported, const QList<DictionaryEntry>& existing);

}  // namespace DictionaryFile

}  // namespace murel
