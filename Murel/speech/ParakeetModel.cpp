#include "speech/ParakeetModel.h"

#include "speech/EngineFactories.h"
#include "speech/ModelHosting.h"

namespace murel {

std::optional<ParakeetModel::Case> ParakeetModel::fromRawValue(const QString& raw) {
  if (raw == rawValue(tdt06bV3Q8)) return tdt06bV3Q8;
  return std::nullopt;
}

const QList<SpeechModelDescriptor>& ParakeetModel::catalogEntries() {
  static const QList<SpeechModelDescriptor> rows = [] {
    SpeechModelDescriptor d;
    d.id = SpeechModelID(rawValue(tdt06bV3Q8));
    d.engineName = QStringLiteral("Parakeet");
    //% "PARAKEET TDT 0.6B V3"
    //: Display name of the NVIDIA Parakeet speech model.
    d.displayName = {QT_TRID_NOOP("settings.models.parakeet.name"), "PARAKEET TDT 0.6B V3"};
    //% "NVIDIA · 25 European languages · automatic detection"
    //: Short description of the NVIDIA Parakeet speech model.
    d.detail = {QT_TRID_NOOP("settings.models.parakeet.description"),
                "NVIDIA · 25 European languages · automatic detection"};
    d.attribution = ModelAttribution{
        QStringLiteral("Parakeet"),
        //% "Speech recognition model by NVIDIA."
        //: Description of the NVIDIA Parakeet model in the acknowledgements list.
        LocalizedText{QT_TRID_NOOP("settings.acknowledgements.parakeet.detail"), "Speech recognition model by NVIDIA."},
        QStringLiteral("CC BY 4.0"), modelHostingPage(QStringLiteral("nvidia/parakeet-tdt-0.6b-v3"))};
    const QString file = QStringLiteral("ggml-parakeet-tdt-0.6b-v3-q8_0.bin");
    d.artifacts = {ModelArtifact{file, modelFileURL(QLatin1String(kParakeetModelRepository), file), 668'757'119}};
    d.storageDirectory = modelsDirectory(QStringLiteral("parakeet"));
    d.capabilities.languages = LanguageSupport::detectOnly();
    d.capabilities.vocabularyBiasing = VocabularyBiasing::none();
    d.capabilities.voiceActivityDetection = VoiceActivityDetection::none();
    d.capabilities.streaming = false;
    d.makeEngine = [] { return makeParakeetEngine(); };
    return QList<SpeechModelDescriptor>{d};
  }();
  return rows;
}

const SpeechModelDescriptor& ParakeetModel::descriptor(Case) { return catalogEntries().first(); }

}  // namespace murel
