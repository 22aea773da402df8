#include "runtime/UnicodeText.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <memory>

namespace murel {

bool canonicallyEqual(const QString& a, const QString& b) {
  if (a == b) return true;
  return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

QString unicodeLowercase(const QString& text) {
  if (text.isEmpty()) return text;
  QString out(text.size(), Qt::Uninitialized);
  UErrorCode status = U_ZERO_ERROR;
  int32_t n =
      u_strToLower(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                   reinterpret_cast<const UChar*>(text.utf16()), static_cast<int32_t>(text.size()), "", &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(n);
    status = U_ZERO_ERROR;
    n = u_strToLower(reinterpret_cast<UChar*>(out.data()), n, reinterpret_cast<const UChar*>(text.utf16()),
                     static_cast<int32_t>(text.size()), "", &status);
  }
  if (U_FAILURE(status)) return text.toLower();
  out.resize(n);
  return out;
}

qsizetype graphemeCount(const QString& text) {
  if (text.isEmpty()) return 0;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status) || !it) return text.size();
  const icu::UnicodeString u(false, reinterpret_cast<const char16_t*>(text.utf16()), static_cast<int32_t>(text.size()));
  it->setText(u);
  qsizetype count = 0;
  for (int32_t pos = it->next(); pos != icu::BreakIterator::DONE; pos = it->next()) ++count;
  return count;
}

bool isLineBreak(char16_t c) { return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029; }

QString trimBlanks(QStringView text) {
  const auto isBlank = [](QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; };
  qsizetype start = 0, end = text.size();
  while (start < end && isBlank(text[start])) ++start;
  while (end > start && isBlank(text[end - 1])) --end;
  return text.mid(start, end - start).toString();
}

}  // namespace murel
