#pragma once

#include <QString>

#include <functional>

namespace murel {

// The system log (syslog, ident "com.murel.app"), one category per component.
// Dictated text never goes here.
class SystemLog {
 public:
  enum class Level { Debug, Info, Notice, Error, Fault };
  using Sink = std::function<void(Level, const QString& category, const QString& message)>;

  static void write(Level level, const QString& category, const QString& message);
  // Tests capture lines instead of sending them to syslog; an empty sink restores syslog.
  static void setSink(Sink sink);
};

// A component's handle on the system log: `static const Logger log{"recorder"};`.
class Logger {
 public:
  explicit Logger(const char* category) : category_(QString::fromLatin1(category)) {}
  void debug(const QString& message) const { SystemLog::write(SystemLog::Level::Debug, category_, message); }
  void info(const QString& message) const { SystemLog::write(SystemLog::Level::Info, category_, message); }
  void notice(const QString& message) const { SystemLog::write(SystemLog::Level::Notice, category_, message); }
  void error(const QString& message) const { SystemLog::write(SystemLog::Level::Error, category_, message); }
  void fault(const QString& message) const { SystemLog::write(SystemLog::Level::Fault, category_, message); }
  const QString& category() const { return category_; }

 private:
  QString category_;
};

}  // namespace murel
