#pragma once

#include <QtGlobal>
#include "runtime/Error.h"

#include <exception>
#include <functional>
#include <memory>

namespace murel {

// A shared cancellation flag. Copies refer to the same flag; cancelling any
// copy runs the registered callbacks once, on the cancelling thread.
class CancellationToken {
 public:
  CancellationToken();

  void cancel() const;
  bool isCancelled() const;

  // Runs `callback` when the token is cancelled; at once (and returns 0) when it
  // already is. The returned id removes the callback again.
  quint64 onCancel(std::function<void()> callback) const;
  void removeCallback(quint64 id) const;

 private:
  struct State;
  std::shared_ptr<State> d_;
};

// Thrown by an asynchronous operation whose caller cancelled it.
class OperationCancelled : public Error {
 public:
  const char* what() const noexcept override { return "The operation was cancelled."; }
  QString description() const override { return QString::fromUtf8(what()); }
  QString typeName() const override { return QStringLiteral("CancellationError"); }
};

}  // namespace murel
