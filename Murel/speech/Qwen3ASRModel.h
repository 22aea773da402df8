#pragma once

#include "speech/SpeechModel.h"

#include <QHash>

#include <optional>

namespace murel {

// The Qwen3-ASR models offered; each has a model file and an audio-projector file.
struct Qwen3ASRModel {
  enum Case { small06BQ5, large17BQ5 };

  static QList<Case> allCases() { return {small06BQ5, large17BQ5}; }
  static QString rawValue(Case model);
  static std::optional<Case> fromRawValue(const QString& raw);

  static const QList<SpeechModelDescriptor>& catalogEntries();
  static const SpeechModelDescriptor& descriptor(Case model);
  // An artifact of the model's repository.
  static ModelArtifact artifact(Case model, const QString& filename, qint64 sizeBytes);
  // The model file, then the projector file, as in the catalogue row.
  static QList<ModelArtifact> artifacts(Case model);
};

// The 30 languages of Qwen3-ASR: codes in table order, code → English name, and
// lower-cased English name → code.
const QStringList& qwen3LanguageCodes();
const QHash<QString, QString>& qwen3LanguageNames();
const QHash<QString, QString>& qwen3LanguageCodesByName();

}  // namespace murel
