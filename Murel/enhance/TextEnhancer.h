#pragma once

#include "runtime/Async.h"
#include "runtime/Cancellation.h"
#include "runtime/Clock.h"

#include <QCoroTask>
#include <QFuture>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace litertlm {
class Engine;
}

namespace murel {

class DiagLog;
class UserDefaults;

// The one place where the application runs its language model: rewrites a text
// by an instruction in one model turn. It never fails a rewrite for a model
// problem (missing file, missing runtime, load or turn failure): it logs why
// and gives the input back. Only a cancellation is thrown (OperationCancelled).
//
// Lives on the main thread. The engine is loaded on first need and dropped after
// the model-memory delay; every runtime call runs on one serial worker
// ("com.murel.litert.inference"), so at most one model turn runs at a time.
class TextEnhancer {
 public:
  // The model-memory delay as the user set it now; absent means never unload.
  using DelayProvider = std::function<std::optional<std::chrono::seconds>()>;

  // The model-memory delay stored in `defaults`, read afresh at every scheduling.
  static DelayProvider storedDelay(const UserDefaults& defaults);

  // `idleTimeout`, when given, replaces the length of the user's delay (but
  // "never" stays never).
  explicit TextEnhancer(DelayProvider delay, Clock& clock = Clock::continuous(),
                        std::optional<Clock::Duration> idleTimeout = std::nullopt, DiagLog* diagnostics = nullptr);
  ~TextEnhancer();
  TextEnhancer(const TextEnhancer&) = delete;
  TextEnhancer& operator=(const TextEnhancer&) = delete;

  // `instructions` become the system message; `text` is the only user message.
  QCoro::Task<QString> enhance(QString text, QString instructions, CancellationToken token = CancellationToken());
  // Loads the engine if needed and runs one throw-away turn per loaded engine.
  QCoro::Task<void> prewarm();
  // Replaces any pending unload by one after the current delay.
  void scheduleIdleUnload();

  bool isLoaded() const { return engine_ != nullptr; }
  const std::shared_ptr<litertlm::Engine>& engine() const { return engine_; }
  SerialExecutor& worker() { return worker_; }

  static constexpr std::int32_t kMaxNumTokens = 4096;

 private:
  struct TurnResult;

  QCoro::Task<std::shared_ptr<litertlm::Engine>> ensureEngine();
  QCoro::Task<std::shared_ptr<litertlm::Engine>> loadEngine();
  // Opens a conversation and sends one user message, on the worker.
  QFuture<TurnResult> runTurn(std::shared_ptr<litertlm::Engine> engine, QString instructions, QString text,
                              CancellationToken token);
  QCoro::Task<void> warmUp(std::shared_ptr<litertlm::Engine> engine);
  void cancelIdleUnload();
  void unload();
  void releaseOnWorker(std::shared_ptr<litertlm::Engine> engine);
  void diag(const QString& event, const QString& message);

  DelayProvider delay_;
  Clock& clock_;
  std::optional<Clock::Duration> idleTimeout_;
  DiagLog* diagnostics_;

  // Declared first so it is destroyed last: releases queued by the other
  // members still run on it.
  SerialExecutor worker_{QStringLiteral("com.murel.litert.inference")};
  // Asks the runtime to stop a turn while the worker is blocked in it.
  SerialExecutor cancelLane_{QStringLiteral("com.murel.litert.cancel")};

  std::shared_ptr<litertlm::Engine> engine_;
  std::optional<QFuture<void>> loadDone_;
  bool didWarmUp_ = false;
  std::optional<Clock::TimerId> idleUnload_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace murel
