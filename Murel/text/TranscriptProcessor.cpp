#include "text/TranscriptProcessor.h"

#include <unicode/uregex.h>

#include <memory>

namespace murel {
namespace {

// Quotes every ASCII character that could mean something in an ICU pattern; a
// backslash before any other non-alphanumeric character is a literal in ICU.
QString escapedPattern(const QString& text) {
  QString out;
  out.reserve(text.size() * 2);
  for (QChar c : text) {
    const char16_t u = c.unicode();
    const bool asciiPunct = (u >= 0x21 && u <= 0x2F) || (u >= 0x3A && u <= 0x40) ||
                            (u >= 0x5B && u <= 0x60 && u != u'_') || (u >= 0x7B && u <= 0x7E);
    if (asciiPunct) out += QLatin1Char('\\');
    out += c;
  }
  return out;
}

// "$" and backslash are special in a replacement template.
QString escapedTemplate(const QString& text) {
  QString out;
  out.reserve(text.size() + 8);
  for (QChar c : text) {
    if (c == QLatin1Char('$') || c == QLatin1Char('\\')) out += QLatin1Char('\\');
    out += c;
  }
  return out;
}

struct RegexCloser {
  void operator()(URegularExpression* re) const { uregex_close(re); }
};
using Regex = std::unique_ptr<URegularExpression, RegexCloser>;

const UChar* u16(const QString& s) { return reinterpret_cast<const UChar*>(s.utf16()); }
int32_t len(const QString& s) { return static_cast<int32_t>(s.size()); }

// One rule over the whole text; the text unchanged when the rule cannot be compiled or does not match.
QString applyRule(const QString& text, const DictionaryEntry& rule) {
  const QString pattern = QStringLiteral("\\b") + escapedPattern(rule.original) + QStringLiteral("\\b");
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError{};
  Regex re(uregex_open(u16(pattern), len(pattern), UREGEX_CASE_INSENSITIVE, &parseError, &status));
  if (U_FAILURE(status)) return text;
  uregex_setText(re.get(), u16(text), len(text), &status);
  // Most rules do not occur in a given transcript: one scan settles that.
  if (U_FAILURE(status) || !uregex_find(re.get(), 0, &status) || U_FAILURE(status)) return text;
  const QString replacement = escapedTemplate(rule.replacement);
  QString out(text.size() + replacement.size() + 16, Qt::Uninitialized);
  int32_t n = uregex_replaceAll(re.get(), u16(replacement), len(replacement), reinterpret_cast<UChar*>(out.data()),
                                len(out), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    status = U_ZERO_ERROR;
    out.resize(n);
    n = uregex_replaceAll(re.get(), u16(replacement), len(replacement), reinterpret_cast<UChar*>(out.data()), n,
                          &status);
  }
  if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) return text;
  out.resize(n);
  return out;
}

QCoro::Task<QString> runProcess(TranscriptProcessor::EnhanceFunction enhance,
                                TranscriptProcessor::DictionaryFunction dictionaryEntries, QString text,
                                Transformation transformation, CancellationToken token) {
  const QString trimmed = text.trimmed();
  const QString corrected = TranscriptProcessor::applyDictionary(trimmed, dictionaryEntries());
  if (transformation.isRaw()) co_return corrected;
  const QString instructions = transformation.kind() == Transformation::Kind::preset
                                   ? transform_preset::instructions(transformation.presetValue())
                                   : transformation.customText();
  if (corrected.isEmpty()) co_return corrected;
  QString rewritten = co_await enhance(corrected, instructions);
  if (token.isCancelled()) throw OperationCancelled();
  co_return rewritten;
}

QCoro::Task<QString> gatedEnhance(std::function<bool()> isModelInstalled, TranscriptProcessor::EnhanceFunction enhance,
                                  QString text, QString instructions) {
  if (!isModelInstalled()) co_return text;
  co_return co_await enhance(std::move(text), std::move(instructions));
}

}  // namespace

QCoro::Task<QString> TranscriptProcessor::process(QString text, Transformation transformation,
                                                  CancellationToken token) const {
  // The functions are copied into the coroutine, so a processor value may go
  // away while the language model runs.
  return runProcess(enhance_, dictionaryEntries_, std::move(text), std::move(transformation), std::move(token));
}

QString TranscriptProcessor::applyDictionary(const QString& text, const QList<DictionaryEntry>& rules) {
  QString current = text;
  for (const DictionaryEntry& rule : rules) {
    if (rule.original.isEmpty()) continue;
    current = applyRule(current, rule);
  }
  return current;
}

TranscriptProcessor::EnhanceFunction TranscriptProcessor::enhanceWhenModelInstalled(
    std::function<bool()> isModelInstalled, EnhanceFunction enhance) {
  return [isModelInstalled = std::move(isModelInstalled), enhance = std::move(enhance)](QString text,
                                                                                        QString instructions) {
    return gatedEnhance(isModelInstalled, enhance, std::move(text), std::move(instructions));
  };
}

}  // namespace murel
