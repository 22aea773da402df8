#include "speech/Qwen3ASRModel.h"

#include "speech/EngineFactories.h"
#include "speech/ModelHosting.h"

#include <utility>

namespace murel {

namespace {

const QList<std::pair<QString, QString>>& languageTable() {
  static const QList<std::pair<QString, QString>> table = [] {
    const char* rows[][2] = {
        {"en", "English"}, {"zh", "Chinese"}, {"yue", "Cantonese"}, {"ar", "Arabic"},     {"de", "German"},
        {"fr", "French"},  {"es", "Spanish"}, {"pt", "Portuguese"}, {"id", "Indonesian"}, {"it", "Italian"},
        {"ko", "Korean"},  {"ru", "Russian"}, {"th", "Thai"},       {"vi", "Vietnamese"}, {"ja", "Japanese"},
        {"tr", "Turkish"}, {"hi", "Hindi"},   {"ms", "Malay"},      {"nl", "Dutch"},      {"sv", "Swedish"},
        {"da", "Danish"},  {"fi", "Finnish"}, {"pl", "Polish"},     {"cs", "Czech"},      {"tl", "Filipino"},
        {"fa", "Persian"}, {"el", "Greek"},   {"ro", "Romanian"},   {"hu", "Hungarian"},  {"mk", "Macedonian"}};
    QList<std::pair<QString, QString>> out;
    for (const auto& row : rows) out.append({QString::fromLatin1(row[0]), QString::fromLatin1(row[1])});
    return out;
  }();
  return table;
}

}  // namespace

const QStringList& qwen3LanguageCodes() {
  static const QStringList codes = [] {
    QStringList out;
    for (const auto& [code, name] : languageTable()) out.append(code);
    return out;
  }();
  return codes;
}

const QHash<QString, QString>& qwen3LanguageNames() {
  static const QHash<QString, QString> names = [] {
    QHash<QString, QString> out;
    for (const auto& [code, name] : languageTable()) out.insert(code, name);
    return out;
  }();
  return names;
}

const QHash<QString, QString>& qwen3LanguageCodesByName() {
  static const QHash<QString, QString> codes = [] {
    QHash<QString, QString> out;
    for (const auto& [code, name] : languageTable()) out.insert(name.toLower(), code);
    return out;
  }();
  return codes;
}

QString Qwen3ASRModel::rawValue(Case model) {
  return model == small06BQ5 ? QStringLiteral("qwen3ASR0_6BQ5") : QStringLiteral("qwen3ASR1_7BQ5");
}

std::optional<Qwen3ASRModel::Case> Qwen3ASRModel::fromRawValue(const QString& raw) {
  for (Case model : allCases()) {
    if (rawValue(model) == raw) return model;
  }
  return std::nullopt;
}

ModelArtifact Qwen3ASRModel::artifact(Case model, const QString& filename, qint64 sizeBytes) {
  const QLatin1String repository(model == small06BQ5 ? kQwen3ASRSmallRepository : kQwen3ASRLargeRepository);
  return {filename, modelFileURL(repository, filename), sizeBytes};
}

QList<ModelArtifact> Qwen3ASRModel::artifacts(Case model) {
  if (model == small06BQ5) {
    return {artifact(model, QStringLiteral("Qwen3-ASR-0.6B.Q5_K_M.gguf"), 551'374'304),
            artifact(model, QStringLiteral("Qwen3-ASR-0.6B.mmproj-Q8_0.gguf"), 214'392'608)};
  }
  return {artifact(model, QStringLiteral("Qwen3-ASR-1.7B.Q5_K_M.gguf"), 1'471'801'824),
          artifact(model, QStringLiteral("Qwen3-ASR-1.7B.mmproj-Q8_0.gguf"), 355'709'472)};
}

namespace {

const ModelAttribution& qwenAttribution() {
  static const ModelAttribution attribution{QStringLiteral("Qwen3-ASR"),
                                            //% "Speech recognition model by Alibaba Cloud's Qwen team."
                                            //: Description of the Qwen3-ASR model in the acknowledgements list.
                                            LocalizedText{QT_TRID_NOOP("settings.acknowledgements.qwen3asr.detail"),
                                                          "Speech recognition model by Alibaba Cloud's Qwen team."},
                                            QStringLiteral("Apache 2.0"),
                                            modelHostingPage(QStringLiteral("Qwen/Qwen3-ASR-0.6B"))};
  return attribution;
}

SpeechModelDescriptor buildRow(Qwen3ASRModel::Case model) {
  SpeechModelDescriptor d;
  d.id = SpeechModelID(Qwen3ASRModel::rawValue(model));
  d.engineName = QStringLiteral("Qwen3-ASR");
  if (model == Qwen3ASRModel::small06BQ5) {
    //% "QWEN3-ASR 0.6B"
    //: Display name of the small Qwen3-ASR speech model.
    d.displayName = {QT_TRID_NOOP("settings.models.qwen3asr.small.name"), "QWEN3-ASR 0.6B"};
    //% "Alibaba · 30 languages · smaller model"
    //: Short description of the small Qwen3-ASR speech model.
    d.detail = {QT_TRID_NOOP("settings.models.qwen3asr.small.description"), "Alibaba · 30 languages · smaller model"};
  } else {
    //% "QWEN3-ASR 1.7B"
    //: Display name of the large Qwen3-ASR speech model.
    d.displayName = {QT_TRID_NOOP("settings.models.qwen3asr.large.name"), "QWEN3-ASR 1.7B"};
    //% "Alibaba · 30 languages · most accurate"
    //: Short description of the large Qwen3-ASR speech model.
    d.detail = {QT_TRID_NOOP("settings.models.qwen3asr.large.description"), "Alibaba · 30 languages · most accurate"};
  }
  d.attribution = qwenAttribution();
  d.artifacts = Qwen3ASRModel::artifacts(model);
  d.storageDirectory = modelsDirectory(QStringLiteral("qwen3-asr"));
  d.capabilities.languages = LanguageSupport::selectable(qwen3LanguageCodes(), true);
  d.capabilities.vocabularyBiasing = VocabularyBiasing::prompt(1500);
  d.capabilities.voiceActivityDetection = VoiceActivityDetection::pipelineSegmentation(30.0);
  d.capabilities.streaming = false;
  d.makeEngine = [model] { return makeQwen3ASREngine(model); };
  return d;
}

}  // namespace

const QList<SpeechModelDescriptor>& Qwen3ASRModel::catalogEntries() {
  static const QList<SpeechModelDescriptor> rows = [] {
    QList<SpeechModelDescriptor> all;
    for (Case model : allCases()) all.append(buildRow(model));
    return all;
  }();
  return rows;
}

const SpeechModelDescriptor& Qwen3ASRModel::descriptor(Case model) {
  return catalogEntries().at(allCases().indexOf(model));
}

}  // namespace murel
