#include "speech/WhisperModel.h"

#include "speech/EngineFactories.h"
#include "speech/ModelHosting.h"

namespace murel {

QString WhisperModel::rawValue(Case model) {
  return model == smallEnglishQ8 ? QStringLiteral("smallEnglishQ8") : QStringLiteral("largeV3TurboQ8");
}

std::optional<WhisperModel::Case> WhisperModel::fromRawValue(const QString& raw) {
  for (Case model : allCases()) {
    if (rawValue(model) == raw) return model;
  }
  return std::nullopt;
}

const QStringList& whisperLanguageCodes() {
  static const QStringList codes =
      QStringLiteral(
          "af sq am ar hy as az ba eu be bn bs br bg my yue ca zh hr cs da nl en et fo fi fr gl ka de el gu ht ha haw "
          "he "
          "hi hu is id it ja jw kn kk km ko lo la lv ln lt lb mk mg ms ml mt mi mr mn ne no nn oc ps fa pl pt pa ro ru "
          "sa sr sn sd si sk sl so es su sw sv tl tg ta tt te th bo tr tk uk ur uz vi cy yi yo")
          .split(QLatin1Char(' '));
  return codes;
}

namespace {

const ModelAttribution& whisperAttribution() {
  static const ModelAttribution attribution{QStringLiteral("Whisper"),
                                            //% "Speech recognition model by OpenAI."
                                            //: Description of the Whisper model in the acknowledgements list.
                                            LocalizedText{QT_TRID_NOOP("settings.acknowledgements.whisperModel.detail"),
                                                          "Speech recognition model by OpenAI."},
                                            QStringLiteral("MIT"),
                                            modelHostingPage(QLatin1String(kWhisperModelRepository))};
  return attribution;
}

ModelArtifact whisperArtifact(const QString& filename, qint64 size) {
  return {filename, modelFileURL(QLatin1String(kWhisperModelRepository), filename), size};
}

SpeechModelDescriptor buildRow(WhisperModel::Case model) {
  SpeechModelDescriptor d;
  d.id = SpeechModelID(WhisperModel::rawValue(model));
  d.engineName = QStringLiteral("Whisper");
  d.attribution = whisperAttribution();
  d.storageDirectory = modelsDirectory(QStringLiteral("whisper"));
  d.capabilities.vocabularyBiasing = VocabularyBiasing::prompt(700);
  d.capabilities.voiceActivityDetection = VoiceActivityDetection::builtIn();
  d.capabilities.streaming = false;
  d.makeEngine = [model] { return makeWhisperEngine(model); };
  if (model == WhisperModel::smallEnglishQ8) {
    //% "WHISPER SMALL ENGLISH"
    //: Display name of the English-only Whisper speech model.
    d.displayName = {QT_TRID_NOOP("settings.models.whisper.small.name"), "WHISPER SMALL ENGLISH"};
    //% "OpenAI · English only · smaller model"
    //: Short description of the English-only Whisper speech model.
    d.detail = {QT_TRID_NOOP("settings.models.whisper.small.description"), "OpenAI · English only · smaller model"};
    d.artifacts = {whisperArtifact(QStringLiteral("ggml-small.en-q8_0.bin"), 264'477'561)};
    d.capabilities.languages = LanguageSupport::fixed(QStringLiteral("en"));
  } else {
    //% "WHISPER LARGE V3 TURBO"
    //: Display name of the multilingual Whisper speech model.
    d.displayName = {QT_TRID_NOOP("settings.models.whisper.large.name"), "WHISPER LARGE V3 TURBO"};
    //% "OpenAI · 99 languages"
    //: Short description of the multilingual Whisper speech model.
    d.detail = {QT_TRID_NOOP("settings.models.whisper.large.description"), "OpenAI · 99 languages"};
    d.artifacts = {whisperArtifact(QStringLiteral("ggml-large-v3-turbo-q8_0.bin"), 874'188'075)};
    d.capabilities.languages = LanguageSupport::selectable(whisperLanguageCodes(), true);
  }
  return d;
}

}  // namespace

const QList<SpeechModelDescriptor>& WhisperModel::catalogEntries() {
  static const QList<SpeechModelDescriptor> rows = [] {
    QList<SpeechModelDescriptor> all;
    for (Case model : allCases()) all.append(buildRow(model));
    return all;
  }();
  return rows;
}

const SpeechModelDescriptor& WhisperModel::descriptor(Case model) {
  return catalogEntries().at(allCases().indexOf(model));
}

}  // namespace murel
