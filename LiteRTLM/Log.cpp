#include "LiteRTLM/Log.h"

#include <syslog.h>

#include <mutex>

namespace litertlm::Log {
namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

Sink& sink() {
  static Sink s;
  return s;
}

void write(Level level, const char* subsystem, const char* category, const std::string& message) {
  {
    std::lock_guard lock(sinkMutex());
    if (sink()) {
      sink()(level, subsystem, category, message);
      return;
    }
  }
  ::syslog(level == Level::Error ? LOG_ERR : LOG_INFO, "[%s:%s] %s", subsystem, category, message.c_str());
}

}  // namespace

void info(const char* subsystem, const char* category, const std::string& message) {
  write(Level::Info, subsystem, category, message);
}

void error(const char* subsystem, const char* category, const std::string& message) {
  write(Level::Error, subsystem, category, message);
}

void setSink(Sink s) {
  std::lock_guard lock(sinkMutex());
  sink() = std::move(s);
}

}  // namespace litertlm::Log
