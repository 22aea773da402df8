#include "runtime/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>

namespace murel::PrivateFiles {

bool makeFolder(const QString& path) {
  if (path.isEmpty()) return false;
  const QString clean = QDir::cleanPath(QDir(path).absolutePath());
  if (QFileInfo(clean).isDir()) return true;
  // The missing folders, outermost first.
  QStringList missing;
  for (QString at = clean; !at.isEmpty() && !QFileInfo::exists(at); at = QFileInfo(at).path()) {
    missing.prepend(at);
    if (at == QFileInfo(at).path()) break;
  }
  for (const QString& folder : missing) {
    const QByteArray native = QFile::encodeName(folder);
    // mkdir's mode is masked by the umask; chmod sets it exactly. A folder
    // made meanwhile by someone else is left as it is.
    if (::mkdir(native.constData(), 0700) == 0) {
      ::chmod(native.constData(), 0700);
    } else if (!QFileInfo(folder).isDir()) {
      return false;
    }
  }
  return QFileInfo(clean).isDir();
}

std::optional<QString> writeAtomically(const QString& path, const QByteArray& bytes,
                                       std::optional<QFileDevice::Permissions> permissions) {
  QSaveFile file(path);
  const auto failed = [&file]() -> std::optional<QString> {
    QString why = file.errorString();
    if (why.isEmpty() || why == QLatin1String("Unknown error")) why = QStringLiteral("The file could not be written");
    file.cancelWriting();
    return why;
  };
  // Unbuffered: each write reaches the file at once and reports its own failure.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return failed();
  if (permissions && !file.setPermissions(*permissions)) return failed();
  qint64 done = 0;
  while (done < bytes.size()) {
    const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
    if (n <= 0) return failed();
    done += n;
  }
  if (!file.flush() || file.error() != QFileDevice::NoError) return failed();
  // Belt and braces: never put a file of another length in place of a good one.
  if (file.size() != bytes.size()) return failed();
  if (!file.commit()) return failed();
  return std::nullopt;
}

QString inSentence(const QString& reason) {
  if (reason.size() < 2 || !reason.at(0).isUpper() || reason.at(1).isUpper()) return reason;
  return reason.at(0).toLower() + reason.mid(1);
}

}  // namespace murel::PrivateFiles
