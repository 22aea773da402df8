#pragma once

#include "runtime/Error.h"
#include "support/TestEnv.h"

#include <QCoroTask>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace murel::test {

// Runs the event loop until `task` finishes and returns its value or rethrows
// its exception. (QCoro::waitFor never returns when the task throws.)
template <class T>
T awaitTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(120)) {
  std::exception_ptr error;
  bool done = false;
  if constexpr (std::is_void_v<T>) {
    auto run = [](QCoro::Task<T> t, std::exception_ptr& e, bool& d) -> QCoro::Task<void> {
      try {
        co_await std::move(t);
      } catch (...) {
        e = std::current_exception();
      }
      d = true;
    };
    auto runner = run(std::move(task), error, done);
    if (!waitUntil([&] { return done; }, timeout)) throw std::runtime_error("task did not finish in time");
    if (error) std::rethrow_exception(error);
  } else {
    std::optional<T> value;
    auto run = [](QCoro::Task<T> t, std::optional<T>& v, std::exception_ptr& e, bool& d) -> QCoro::Task<void> {
      try {
        v = co_await std::move(t);
      } catch (...) {
        e = std::current_exception();
      }
      d = true;
    };
    auto runner = run(std::move(task), value, error, done);
    if (!waitUntil([&] { return done; }, timeout)) throw std::runtime_error("task did not finish in time");
    if (error) std::rethrow_exception(error);
    return std::move(*value);
  }
}

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
std::shared_ptr<TaskOutcome<T>> settle(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(120)) {
  auto outcome = follow(std::move(task));
  if (!waitUntil([&] { return outcome->done; }, timeout)) throw std::runtime_error("task did not finish in time");
  return outcome;
}

}  // namespace murel::test
