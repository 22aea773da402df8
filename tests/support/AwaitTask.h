#pragma once

#include "support/TestEnv.h"

#include <QCoroTask>

#include <chrono>
#include <exception>
#include <optional>
#include <stdexcept>

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

}  // namespace murel::test
