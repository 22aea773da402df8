#pragma once

#include <QString>

namespace murel {

// Text equality under Unicode canonical equivalence ("é" precomposed equals "e" + combining acute).
bool canonicallyEqual(const QString& a, const QString& b);
// Lower case by the Unicode default mapping, independent of the user's locale.
QString unicodeLowercase(const QString& text);
// User-perceived characters (extended grapheme clusters): "é" as e + accent counts 1.
qsizetype graphemeCount(const QString& text);

}  // namespace murel
