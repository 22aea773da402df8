#pragma once

#include "speech/SpeechModel.h"

#include <optional>

namespace murel {

// The Parakeet model offered: NVIDIA Parakeet TDT 0.6B v3.
struct ParakeetModel {
  enum Case { tdt06bV3Q8 };

  static QList<Case> allCases() { return {tdt06bV3Q8}; }
  static QString rawValue(Case) { return QStringLiteral("parakeetTDT0_6BV3Q8"); }
  static std::optional<Case> fromRawValue(const QString& raw);

  static const QList<SpeechModelDescriptor>& catalogEntries();
  static const SpeechModelDescriptor& descriptor(Case model);
};

}  // namespace murel
