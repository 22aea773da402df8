#pragma once

#include <QString>
#include "runtime/Error.h"

#include <exception>

namespace murel {

// The error of every speech engine and of the engine host. what() is the
// user-facing description (UTF-8); callers put it after their own prefix.
class EngineError : public Error {
 public:
  enum class Kind { AudioConversionFailed, InitFailed, RunFailed, ModelMissing, VadModelMissing, NotLoaded };

  static EngineError audioConversionFailed(const QString& message);
  static EngineError initFailed(const QString& engine);
  static EngineError runFailed(const QString& engine, qint32 code);
  static EngineError modelMissing();
  static EngineError vadModelMissing();
  static EngineError notLoaded();

  Kind kind() const { return kind_; }
  // The message of audioConversionFailed, the engine word of initFailed and runFailed.
  const QString& detail() const { return detail_; }
  qint32 code() const { return code_; }

  QString description() const override;
  QString typeName() const override { return QStringLiteral("EngineError"); }
  const char* what() const noexcept override { return utf8_.constData(); }

  bool operator==(const EngineError& other) const {
    return kind_ == other.kind_ && detail_ == other.detail_ && code_ == other.code_;
  }

 private:
  EngineError(Kind kind, QString detail, qint32 code);

  Kind kind_;
  QString detail_;
  qint32 code_ = 0;
  QByteArray utf8_;
};

}  // namespace murel
