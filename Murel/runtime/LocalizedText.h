#pragma once

#include <QString>

#include <cstring>

namespace murel {

// A text that is shown on screen in the user's language: its dotted id (for
// qtTrId) and its English default, used when no translation is loaded so that a
// raw id never reaches the screen. The id is marked where the text is defined:
//   //% "English default"
//   //: translator comment
//   LocalizedText{QT_TRID_NOOP("dotted.id"), "English default"}
struct LocalizedText {
  const char* key = "";
  const char* defaultText = "";

  QString text() const {
    QString translated = qtTrId(key);
    if (translated.isEmpty() || translated == QLatin1String(key)) return QString::fromUtf8(defaultText);
    return translated;
  }

  // Texts are the same resource when their ids are.
  bool operator==(const LocalizedText& other) const { return std::strcmp(key, other.key) == 0; }
};

}  // namespace murel
