#pragma once

#include "speech/SpeechModel.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace murel {

class UserDefaults;

// One entry of a spoken-language menu: the code stored under "whisperLanguage"
// ("auto" for automatic detection) and the name shown for it.
struct SpokenLanguageOption {
  QString code;
  QString label;

  bool operator==(const SpokenLanguageOption&) const = default;
};

// The menu of a model that lets the user choose: "auto" first when it detects
// the language itself, then its codes in their order, each named by
// languageDisplayName in the current locale.
QList<SpokenLanguageOption> spokenLanguageOptions(const QStringList& codes, bool autoDetect);

// The stored spoken language: "auto" when nothing (or no text) is stored.
QString storedSpokenLanguage(const UserDefaults& defaults);

// The name of the language such a model will run in for `selection`: the
// selection's when it is one of the codes, else "AUTO-DETECT" when the model
// detects, else its first language ("AUTO-DETECT" for a model with neither).
QString spokenLanguageLabel(const QStringList& codes, bool autoDetect, const QString& selection);

}  // namespace murel
