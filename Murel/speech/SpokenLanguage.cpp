#include "speech/SpokenLanguage.h"

#include "runtime/UserDefaults.h"
#include "speech/EngineHost.h"

namespace murel {

QList<SpokenLanguageOption> spokenLanguageOptions(const QStringList& codes, bool autoDetect) {
  QList<SpokenLanguageOption> options;
  const QString automatic = QStringLiteral("auto");
  if (autoDetect) options.append({automatic, languageDisplayName(automatic)});
  for (const QString& code : codes) options.append({code, languageDisplayName(code)});
  return options;
}

QString storedSpokenLanguage(const UserDefaults& defaults) {
  return defaults.stringValue(QString::fromLatin1(kSpokenLanguageKey)).value_or(QStringLiteral("auto"));
}

QString spokenLanguageLabel(const QStringList& codes, bool autoDetect, const QString& selection) {
  const std::optional<QString> language = LanguageSupport::selectable(codes, autoDetect).resolveLanguage(selection);
  return languageDisplayName(language.value_or(QStringLiteral("auto")));
}

}  // namespace murel
