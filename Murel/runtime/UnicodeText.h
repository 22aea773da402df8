#pragma once

#include <QString>

namespace murel {

// Text equality under Unicode canonical equivalence ("é" precomposed equals "e" + combining acute).
bool canonicallyEqual(const QString& a, const QString& b);
// Lower case by the Unicode default mapping, independent of the user's locale.
QString unicodeLowercase(const QString& text);
// User-perceived characters (extended grapheme clusters): "é" as e + accent counts 1.
qsizetype graphemeCount(const QString& text);
// A line break: U+000A to U+000D, U+0085, U+2028 or U+2029.
bool isLineBreak(char16_t c);
// `text` without the tabs and Unicode space separators at its ends; line breaks stay.
QString trimBlanks(QStringView text);

}  // namespace murel
