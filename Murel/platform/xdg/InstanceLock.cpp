#include "platform/xdg/InstanceLock.h"

#include "runtime/PrivateFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace murel::platform {

InstanceLock::InstanceLock(QString path) : path_(std::move(path)) {}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

QString InstanceLock::defaultPath() {
  QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.isEmpty()) folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) return {};
  return folder + QStringLiteral("/murel.lock");
}

InstanceLock::Claim InstanceLock::take() {
  if (fd_ >= 0) return Claim::taken;
  if (path_.isEmpty() || !PrivateFiles::makeFolder(QFileInfo(path_).absolutePath())) return Claim::unavailable;
  const QByteArray native = QFile::encodeName(path_);
  // Never through a link someone else put there.
  const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Claim::unavailable;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? Claim::heldElsewhere : Claim::unavailable;
  }
  // Ours now, also when a holder that died left its number in the file.
  const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] const auto written = ::pwrite(fd, pid.constData(), size_t(pid.size()), 0);
  }
  fd_ = fd;
  return Claim::taken;
}

std::optional<qint64> InstanceLock::holder() const {
  QFile file(path_);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  bool ok = false;
  const qint64 pid = file.readLine(32).trimmed().toLongLong(&ok);
  return ok && pid > 0 ? std::optional<qint64>(pid) : std::nullopt;
}

}  // namespace murel::platform
