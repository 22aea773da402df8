#include "speech/EngineError.h"

#include "runtime/LocalizedText.h"

namespace murel {

EngineError::EngineError(Kind kind, QString detail, qint32 code)
    : kind_(kind), detail_(std::move(detail)), code_(code), utf8_(description().toUtf8()) {}

EngineError EngineError::audioConversionFailed(const QString& message) {
  return EngineError(Kind::AudioConversionFailed, message, 0);
}
EngineError EngineError::initFailed(const QString& engine) { return EngineError(Kind::InitFailed, engine, 0); }
EngineError EngineError::runFailed(const QString& engine, qint32 code) {
  return EngineError(Kind::RunFailed, engine, code);
}
EngineError EngineError::modelMissing() { return EngineError(Kind::ModelMissing, {}, 0); }
EngineError EngineError::vadModelMissing() { return EngineError(Kind::VadModelMissing, {}, 0); }
EngineError EngineError::notLoaded() { return EngineError(Kind::NotLoaded, {}, 0); }

QString EngineError::description() const {
  switch (kind_) {
    case Kind::AudioConversionFailed: return QStringLiteral("Audio conversion failed: ") + detail_;
    case Kind::InitFailed: return QStringLiteral("Failed to initialize ") + detail_ + QStringLiteral(" context");
    case Kind::RunFailed:
      return detail_ + QStringLiteral(" inference failed (code ") + QString::number(code_) + QLatin1Char(')');
    case Kind::ModelMissing: {
      //% "Speech model has not been downloaded"
      //: Error shown when the chosen speech model's files are not on disk.
      static const LocalizedText text{QT_TRID_NOOP("error.engine.model_missing"),
                                      "Speech model has not been downloaded"};
      return text.text();
    }
    case Kind::VadModelMissing: return QStringLiteral("Bundled voice activity detection model is missing");
    case Kind::NotLoaded: return QStringLiteral("Transcription engine is not loaded");
  }
  return {};
}

}  // namespace murel
