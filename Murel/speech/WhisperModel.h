#pragma once

#include "speech/SpeechModel.h"

#include <optional>

namespace murel {

// The Whisper models offered, each with its catalogue identifier as raw value.
struct WhisperModel {
  enum Case { smallEnglishQ8, largeV3TurboQ8 };

  static QList<Case> allCases() { return {smallEnglishQ8, largeV3TurboQ8}; }
  static QString rawValue(Case model);
  static std::optional<Case> fromRawValue(const QString& raw);

  // The two catalogue rows in case order, built once.
  static const QList<SpeechModelDescriptor>& catalogEntries();
  static const SpeechModelDescriptor& descriptor(Case model);
};

// The 100 language codes of the multilingual model, in the order offered
// ("jw" is whisper.cpp's code for Javanese).
const QStringList& whisperLanguageCodes();

}  // namespace murel
