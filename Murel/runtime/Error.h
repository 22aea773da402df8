#pragma once

#include <QString>

#include <exception>

namespace murel {

// The base of the application's own errors: the text the user reads, and the
// name the diagnostics log gives the error ("EngineError").
class Error : public std::exception {
 public:
  virtual QString description() const = 0;
  virtual QString typeName() const = 0;
};

// What the status line and the diagnostics log show of a caught error. Ours
// name themselves; a library's error is named by its type without namespaces
// ("parse_error") and described by what().
struct ErrorDescription {
  QString typeName;
  QString description;

  static ErrorDescription of(std::exception_ptr error);
  static ErrorDescription of(const std::exception& error);
};

}  // namespace murel
