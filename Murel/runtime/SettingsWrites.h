#pragma once

#include <QObject>
#include <QString>

#include <optional>

namespace murel {

class UserDefaults;

// Whether a user-defaults store reaches its file. A failed write keeps the
// values in memory and the file on disk as last saved; the next write that
// succeeds saves them all. Made on first use and owned by its store. Main thread.
class SettingsWrites : public QObject {
  Q_OBJECT

 public:
  static SettingsWrites& of(UserDefaults& defaults);

  // Why the writes fail, from the first failed write until one succeeds again
  // (the system's words, "No space left on device"); none while they succeed.
  const std::optional<QString>& failure() const { return failure_; }

  // The store's: each write's outcome.
  void noteFailed(const QString& reason);
  void noteSaved();

 Q_SIGNALS:
  // A run of failing writes began or ended: once each, not at every write.
  void failureChanged();

 private:
  using QObject::QObject;
  std::optional<QString> failure_;
};

}  // namespace murel
