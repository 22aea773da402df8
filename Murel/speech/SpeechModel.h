#pragma once

#include "runtime/LocalizedText.h"
#include "runtime/SystemError.h"
#include "speech/TranscriptionEngine.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace murel {

class UserDefaults;

// The identifier of a catalogue entry; the value stored as the user's choice
// under "selectedWhisperModel".
struct SpeechModelID {
  QString rawValue;

  SpeechModelID() = default;
  explicit SpeechModelID(QString raw) : rawValue(std::move(raw)) {}
  bool operator==(const SpeechModelID&) const = default;
};
inline size_t qHash(const SpeechModelID& id, size_t seed = 0) { return qHash(id.rawValue, seed); }

// One downloadable file of a model. A file is accepted only at exactly
// sizeBytes; a size below 1 is never satisfied.
struct ModelArtifact {
  QString filename;
  QUrl remoteURL;
  qint64 sizeBytes = 0;

  bool operator==(const ModelArtifact&) const = default;
};
inline size_t qHash(const ModelArtifact& a, size_t seed = 0) {
  return qHashMulti(seed, a.filename, a.remoteURL, a.sizeBytes);
}

// Credit shown for a model in the acknowledgements and the model rows.
struct ModelAttribution {
  QString name;
  LocalizedText detail;
  QString license;
  std::optional<QUrl> url;

  bool operator==(const ModelAttribution& o) const {
    return name == o.name && detail == o.detail && license == o.license && url == o.url;
  }
};
inline size_t qHash(const ModelAttribution& a, size_t seed = 0) {
  return qHashMulti(seed, a.name, QByteArray(a.detail.key), a.license, a.url.value_or(QUrl()));
}

// Which spoken language a model runs in.
struct LanguageSupport {
  enum class Kind { Fixed, DetectOnly, Selectable };
  Kind kind = Kind::DetectOnly;
  QString fixedCode;        // Fixed
  QStringList codes;        // Selectable, in the order offered
  bool autoDetect = false;  // Selectable: "auto" may be chosen

  static LanguageSupport fixed(QString code) { return {Kind::Fixed, std::move(code), {}, false}; }
  static LanguageSupport detectOnly() { return {Kind::DetectOnly, {}, {}, false}; }
  static LanguageSupport selectable(QStringList codes, bool autoDetect) {
    return {Kind::Selectable, {}, std::move(codes), autoDetect};
  }

  // The code handed to the engine for the user's stored selection ("auto" or a
  // code), or nothing when the engine is to detect the language.
  std::optional<QString> resolveLanguage(const QString& selection) const;

  bool operator==(const LanguageSupport&) const = default;
};

struct VocabularyBiasing {
  enum class Kind { None, Prompt };
  Kind kind = Kind::None;
  int maxCharacters = 0;  // Prompt: the hint budget

  static VocabularyBiasing none() { return {}; }
  static VocabularyBiasing prompt(int maxCharacters) { return {Kind::Prompt, maxCharacters}; }
  bool operator==(const VocabularyBiasing&) const = default;
};

struct VoiceActivityDetection {
  enum class Kind { BuiltIn, None, PipelineSegmentation };
  Kind kind = Kind::None;
  double maxSegmentSeconds = 0;  // PipelineSegmentation

  static VoiceActivityDetection builtIn() { return {Kind::BuiltIn, 0}; }
  static VoiceActivityDetection none() { return {Kind::None, 0}; }
  static VoiceActivityDetection pipelineSegmentation(double maxSegmentSeconds) {
    return {Kind::PipelineSegmentation, maxSegmentSeconds};
  }
  bool operator==(const VoiceActivityDetection&) const = default;
};

struct SpeechModelCapabilities {
  LanguageSupport languages;
  VocabularyBiasing vocabularyBiasing;
  VoiceActivityDetection voiceActivityDetection;
  bool streaming = false;

  bool operator==(const SpeechModelCapabilities&) const = default;
};

// One entry of the speech-model catalogue. Entries are equal exactly when their
// identifiers are.
struct SpeechModelDescriptor {
  using EngineFactory = std::function<std::shared_ptr<TranscriptionEngine>()>;

  SpeechModelID id;
  QString engineName;  // "Whisper", "Parakeet" or "Qwen3-ASR"
  LocalizedText displayName;
  LocalizedText detail;
  ModelAttribution attribution;
  QList<ModelArtifact> artifacts;  // in download order
  QString storageDirectory;
  SpeechModelCapabilities capabilities;
  // A new, not yet loaded engine for this model; callable from any thread.
  EngineFactory makeEngine;

  // Every file present at exactly its size (an entry without files is installed).
  // ".partial" files and other files in the folder play no part.
  bool isModelInstalled() const;
  // Removes each file and its ".partial" from `folder` (default: storageDirectory).
  // Missing files are skipped; the first removal that fails throws SystemError and
  // leaves the later files alone. The folder itself stays.
  void deleteModelFiles(const std::optional<QString>& folder = std::nullopt) const;

  bool operator==(const SpeechModelDescriptor& other) const { return id == other.id; }

  // The five entries: Qwen3-ASR 0.6B and 1.7B, Whisper small English and large
  // v3 turbo, Parakeet TDT 0.6B v3. Built once, constant afterwards.
  static const QList<SpeechModelDescriptor>& catalog();
  // Whisper large v3 turbo: the model when nothing (or nothing known) is chosen.
  static const SpeechModelDescriptor& defaultModel();
};
inline size_t qHash(const SpeechModelDescriptor& d, size_t seed = 0) { return qHash(d.id, seed); }

// The user defaults key of the chosen model.
inline constexpr char kSelectedSpeechModelKey[] = "selectedWhisperModel";

// <Application Support>/Murel/Models/<family>; creates nothing.
QString modelsDirectory(const QString& family);

// The entry stored under "selectedWhisperModel" (exact, case-sensitive match),
// else the default model. Writes nothing back.
const SpeechModelDescriptor& selectedSpeechModel(const UserDefaults& defaults);

// The entry with this identifier, if the catalogue has one.
const SpeechModelDescriptor* findSpeechModel(const QString& rawValue);

// The install test of one file: sizeBytes ≥ 1 and `directory`/filename is a file
// of exactly that size. Shared with the downloader's present-file test.
bool isArtifactPresent(const ModelArtifact& artifact, const QString& directory);

// The error of a model file that could not be removed, in the user's language;
// the speech models and the language model word it alike.
SystemError modelFileRemovalError(const QString& fileName, const QString& reason);

// The name shown for a language code: "AUTO-DETECT" for "auto", otherwise the
// language's name in the current locale, upper-cased ("de" → "GERMAN"); "jw" is
// looked up as "jv"; a code without a known name is shown as itself, upper-cased.
QString languageDisplayName(const QString& code);

}  // namespace murel
