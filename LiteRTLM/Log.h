#pragma once

#include <functional>
#include <string>

namespace litertlm {

// The module's own lines in the system log, under two subsystem names of its
// own (one for the conversation, one for everything else), apart from the
// application's. Qt-free on purpose: it writes with syslog(3).
namespace Log {

inline constexpr const char* kMainSubsystem = "com.murel.litertlm";
inline constexpr const char* kConversationSubsystem = "com.murel.litertlm.conversation";

enum class Level { Info, Error };
using Sink =
    std::function<void(Level, const std::string& subsystem, const std::string& category, const std::string& message)>;

void info(const char* subsystem, const char* category, const std::string& message);
void error(const char* subsystem, const char* category, const std::string& message);
// Tests capture the lines; an empty sink sends them to syslog again.
void setSink(Sink sink);

}  // namespace Log
}  // namespace litertlm
