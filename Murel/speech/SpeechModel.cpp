#include "speech/SpeechModel.h"

#include "runtime/AppPaths.h"
#include "runtime/SystemError.h"
#include "runtime/UserDefaults.h"
#include "speech/ParakeetModel.h"
#include "speech/Qwen3ASRModel.h"
#include "speech/WhisperModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace murel {

std::optional<QString> LanguageSupport::resolveLanguage(const QString& selection) const {
  switch (kind) {
    case Kind::Fixed: return fixedCode;
    case Kind::DetectOnly: return std::nullopt;
    case Kind::Selectable:
      if (selection != QLatin1String("auto") && codes.contains(selection)) return selection;
      if (autoDetect || codes.isEmpty()) return std::nullopt;
      return codes.first();
  }
  return std::nullopt;
}

QString modelsDirectory(const QString& family) {
  QString support = AppPaths::applicationSupport();
  if (support.isEmpty()) support = QDir::tempPath();
  return support + QStringLiteral("/Murel/Models/") + family;
}

bool isArtifactPresent(const ModelArtifact& artifact, const QString& directory) {
  if (artifact.sizeBytes < 1) return false;
  const QFileInfo info(directory + QLatin1Char('/') + artifact.filename);
  return info.isFile() && info.size() == artifact.sizeBytes;
}

SystemError modelFileRemovalError(const QString& fileName, const QString& reason) {
  //% "“%1” couldn’t be removed: %2"
  //: Error when a downloaded model file can't be deleted; %1 is the file name, %2 the system's reason.
  const LocalizedText text{QT_TRID_NOOP("error.modelFile.removeFailed"), "“%1” couldn’t be removed: %2"};
  return SystemError(text.text().arg(fileName, reason));
}

bool SpeechModelDescriptor::isModelInstalled() const {
  for (const ModelArtifact& artifact : artifacts) {
    if (!isArtifactPresent(artifact, storageDirectory)) return false;
  }
  return true;
}

void SpeechModelDescriptor::deleteModelFiles(const std::optional<QString>& folder) const {
  const QString dir = folder.value_or(storageDirectory);
  for (const ModelArtifact& artifact : artifacts) {
    const QString file = dir + QLatin1Char('/') + artifact.filename;
    for (const QString& path : {file, file + QStringLiteral(".partial")}) {
      const QFileInfo info(path);
      if (!info.exists() && !info.isSymLink()) continue;
      QFile f(path);
      if (!f.remove()) {
        throw modelFileRemovalError(info.fileName(), f.errorString());
      }
    }
  }
}

const QList<SpeechModelDescriptor>& SpeechModelDescriptor::catalog() {
  static const QList<SpeechModelDescriptor> entries = [] {
    QList<SpeechModelDescriptor> all = Qwen3ASRModel::catalogEntries();
    all += WhisperModel::catalogEntries();
    all += ParakeetModel::catalogEntries();
    return all;
  }();
  return entries;
}

const SpeechModelDescriptor& SpeechModelDescriptor::defaultModel() {
  return WhisperModel::descriptor(WhisperModel::largeV3TurboQ8);
}

const SpeechModelDescriptor* findSpeechModel(const QString& rawValue) {
  for (const SpeechModelDescriptor& entry : SpeechModelDescriptor::catalog()) {
    if (entry.id.rawValue == rawValue) return &entry;
  }
  return nullptr;
}

const SpeechModelDescriptor& selectedSpeechModel(const UserDefaults& defaults) {
  if (const auto stored = defaults.stringValue(QString::fromLatin1(kSelectedSpeechModelKey))) {
    if (const SpeechModelDescriptor* entry = findSpeechModel(*stored)) return *entry;
  }
  return SpeechModelDescriptor::defaultModel();
}

namespace {

// ICU's locale for the current Qt locale; the C locale reads as English.
icu::Locale currentIcuLocale() {
  const QLocale locale;
  if (locale.language() == QLocale::C) return icu::Locale("en", "US");
  return icu::Locale(locale.name().toUtf8().constData());
}

QString fromIcu(const icu::UnicodeString& s) {
  return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

}  // namespace

QString languageDisplayName(const QString& code) {
  if (code == QLatin1String("auto")) {
    //% "AUTO-DETECT"
    //: Automatic language detection option in the Whisper language picker.
    static const LocalizedText autoDetect{QT_TRID_NOOP("engine.whisper.language.autoDetect"), "AUTO-DETECT"};
    return autoDetect.text();
  }
  const icu::Locale display = currentIcuLocale();
  const QString lookup = code == QLatin1String("jw") ? QStringLiteral("jv") : code;
  icu::UnicodeString name;
  // ICU answers an unknown code with the code itself; that counts as no name.
  icu::Locale(lookup.toUtf8().constData()).getDisplayLanguage(display, name);
  QString shown = fromIcu(name);
  if (shown.isEmpty() || shown.compare(lookup, Qt::CaseInsensitive) == 0) shown = code;
  icu::UnicodeString upper(reinterpret_cast<const UChar*>(shown.utf16()), static_cast<int32_t>(shown.size()));
  upper.toUpper(display);
  return fromIcu(upper);
}

}  // namespace murel
