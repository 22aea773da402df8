// The dictionary exchange file: the rules read from any text export to a text
// that reads as the same rules.
#include "text/DictionaryFile.h"

#include "FuzzSupport.h"

using namespace murel;

namespace {

QList<QPair<QString, QString>> rules(const QList<DictionaryEntry>& entries) {
  QList<QPair<QString, QString>> out;
  for (const DictionaryEntry& e : entries) out.append({e.original, e.replacement});
  return out;
}

QString describe(const QList<DictionaryEntry>& entries) {
  QString out;
  for (const DictionaryEntry& e : entries) out += e.original + QStringLiteral(" => ") + e.replacement + u'\n';
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::workDir();
  const QString text = QString::fromUtf8(fuzz::bytes(data, size));
  const QList<DictionaryEntry> parsed = DictionaryFile::parse(text);
  const QString exported = DictionaryFile::exportText(parsed);
  const QList<DictionaryEntry> reparsed = DictionaryFile::parse(exported);
  fuzz::check(rules(reparsed) == rules(parsed), "export round trip",
              describe(parsed) + QStringLiteral("---\n") + exported + QStringLiteral("---\n") + describe(reparsed));
  fuzz::check(DictionaryFile::exportText(reparsed) == exported, "export is stable", exported);

  // Importing a file into the rules it was read from loses none of them.
  const DictionaryFile::MergeResult merged = DictionaryFile::merge(parsed, reparsed);
  fuzz::check(merged.entries.size() >= reparsed.size(), "merge keeps the existing rules", exported);
  return 0;
}
