#pragma once

#include <QString>

#include <optional>

namespace murel::platform {

// One Murel per user, also without a session bus: a lock file in the user's
// runtime folder ($XDG_RUNTIME_DIR/murel.lock), held for the life of the
// process. The lock is the kernel's (flock), not the file's existence, so a
// lock whose holder has died is stale by construction: the kernel dropped it
// with the process and the next launch takes it over; the file only tells
// which process holds it. Main thread.
class InstanceLock {
 public:
  enum class Claim { taken, heldElsewhere, unavailable };

  explicit InstanceLock(QString path = defaultPath());
  // Lets go of the lock (the file stays: removing it could race a new holder).
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock without waiting. `unavailable` when no lock file can be
  // made (then nothing guards the instance).
  Claim take();
  // The process holding the lock, as its file says; read after `heldElsewhere`.
  std::optional<qint64> holder() const;
  const QString& path() const { return path_; }

  // murel.lock in $XDG_RUNTIME_DIR, else in Qt's runtime folder for the user.
  static QString defaultPath();

 private:
  QString path_;
  int fd_ = -1;
};

}  // namespace murel::platform
