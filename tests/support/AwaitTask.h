#pragma once

#include "runtime/Error.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QCoroTask>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace murel::test {

// How a task that a test started ended: `done`, then its value or its error.
template <class T>
struct TaskOutcome {
  bool done = false;
  std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
  std::exception_ptr error;

  // The error's description ("" when none), as the status line would show it.
  QString errorText() const { return error ? ErrorDescription::of(error).description : QString(); }
  template <class E>
  bool threw() const {
    try {
      if (error) std::rethrow_exception(error);
    } catch (const E&) {
      return true;
    } catch (...) {
    }
    return false;
  }
};

// Starts `task` at once and returns its outcome, which fills in when it ends;
// the test drives the event loop meanwhile.
template <class T>
std::shared_ptr<TaskOutcome<T>> follow(QCoro::Task<T> task) {
  auto outcome = std::make_shared<TaskOutcome<T>>();
  // The runner shares the outcome, so it may end after the test let go of it.
  auto run = [](QCoro::Task<T> t, std::shared_ptr<TaskOutcome<T>> out) -> QCoro::Task<void> {
    try {
      if constexpr (std::is_void_v<T>) {
        co_await std::move(t);
        out->value = true;
      } else {
        out->value = co_await std::move(t);
      }
    } catch (...) {
      out->error = std::current_exception();
    }
    out->done = true;
  };
  run(std::move(task), outcome);
  return outcome;
}

// Runs the event loop until `task` ends and returns what it ended with.
template <class T>
std::shared_ptr<TaskOutcome<T>> settle(QCoro::Task<T> task,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(120)) {
  auto outcome = follow(std::move(task));
  if (!waitUntil([&] { return outcome->done; }, timeout)) throw std::runtime_error("task did not finish in time");
  return outcome;
}

// Runs the event loop until `task` finishes and returns its value or rethrows
// its exception. (QCoro::waitFor never returns when the task throws.)
template <class T>
T awaitTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(120)) {
  auto outcome = settle(std::move(task), timeout);
  if (outcome->error) std::rethrow_exception(outcome->error);
  if constexpr (!std::is_void_v<T>) return std::move(*outcome->value);
}

// The same, blocking between events without a time limit: for benchmarks,
// where a polling wait would compete with the inference threads.
template <class T>
T awaitTaskBlocking(QCoro::Task<T> task) {
  auto outcome = follow(std::move(task));
  while (!outcome->done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (outcome->error) std::rethrow_exception(outcome->error);
  if constexpr (!std::is_void_v<T>) return std::move(*outcome->value);
}

}  // namespace murel::test
