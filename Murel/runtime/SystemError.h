#pragma once

#include <QString>
#include "runtime/Error.h"

#include <exception>

namespace murel {

// A failure reported by the system (file, media or network), with the user-facing description as what().
class SystemError : public Error {
 public:
  explicit SystemError(QString description) : description_(std::move(description)), utf8_(description_.toUtf8()) {}

  QString description() const override { return description_; }
  QString typeName() const override { return QStringLiteral("SystemError"); }
  const char* what() const noexcept override { return utf8_.constData(); }

 private:
  QString description_;
  QByteArray utf8_;
};

}  // namespace murel
