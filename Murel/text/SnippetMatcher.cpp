#include "text/SnippetMatcher.h"

#include "runtime/UnicodeText.h"

namespace murel::SnippetMatcher {

QString normalizeTrigger(const QString& text) {
  QString s = text.trimmed();
  while (!s.isEmpty()) {
    const QChar last = s.back();
    if (last != QLatin1Char('.') && last != QLatin1Char('?') && last != QLatin1Char('!') && last != QLatin1Char(','))
      break;
    s.chop(1);
  }
  return unicodeLowercase(s.trimmed());
}

std::optional<QString> matchSnippet(const QString& utterance, const QList<SnippetEntry>& entries) {
  const QString spoken = normalizeTrigger(utterance);
  if (spoken.isEmpty()) return std::nullopt;
  for (const SnippetEntry& e : entries) {
    if (canonicallyEqual(normalizeTrigger(e.trigger), spoken)) return e.expansion;
  }
  return std::nullopt;
}

bool isDuplicateTrigger(const QString& trigger, const QList<SnippetEntry>& entries, std::optional<QUuid> excluding) {
  const QString wanted = normalizeTrigger(trigger);
  for (const SnippetEntry& e : entries) {
    if (excluding && e.id == *excluding) continue;
    if (canonicallyEqual(normalizeTrigger(e.trigger), wanted)) return true;
  }
  return false;
}

}  // namespace murel::SnippetMatcher
