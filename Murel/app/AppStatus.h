#pragma once

#include "runtime/Error.h"

#include <QMetaType>
#include <QString>

namespace murel {

// What the application is doing, as the menu bar and the heads-up display show it.
class AppStatus {
 public:
  enum class Kind { loading, ready, recording, transcribing, error };

  AppStatus() = default;
  static AppStatus loading() { return AppStatus(Kind::loading); }
  static AppStatus ready() { return AppStatus(Kind::ready); }
  static AppStatus recording() { return AppStatus(Kind::recording); }
  static AppStatus transcribing() { return AppStatus(Kind::transcribing); }
  static AppStatus error(QString message) { return AppStatus(Kind::error, std::move(message)); }

  Kind kind() const { return kind_; }
  bool is(Kind kind) const { return kind_ == kind; }
  // Empty for every status but an error.
  const QString& message() const { return message_; }
  // The upper-case label of log lines.
  QString label() const;

  friend bool operator==(const AppStatus&, const AppStatus&) = default;

 private:
  explicit AppStatus(Kind kind, QString message = {}) : kind_(kind), message_(std::move(message)) {}
  Kind kind_ = Kind::loading;
  QString message_;
};

}  // namespace murel

Q_DECLARE_METATYPE(murel::AppStatus)
