#include "platform/xdg/LoginItem.h"

#include "runtime/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace murel::platform {

namespace {

// Desktop entry values escape spaces and the reserved characters of Exec.
QString quotedExec(const QString& path) {
  QString escaped = path;
  for (const QChar c : {QChar('\\'), QChar('"'), QChar('`'), QChar('$')}) escaped.replace(c, QStringLiteral("\\") + c);
  return QStringLiteral("\"") + escaped + QStringLiteral("\"");
}

}  // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(QString autostartFolder, QString executable)
    : folder_(std::move(autostartFolder)), executable_(std::move(executable)) {}

QString XdgAutostartLoginItem::defaultFolder() {
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (config.isEmpty()) config = QDir::homePath() + QStringLiteral("/.config");
  return config + QStringLiteral("/autostart");
}

QString XdgAutostartLoginItem::entryPath() const { return folder_ + QStringLiteral("/murel.desktop"); }

LoginItem::Status XdgAutostartLoginItem::status() {
  QFile entry(entryPath());
  if (!entry.open(QIODevice::ReadOnly | QIODevice::Text)) return Status::notRegistered;
  while (!entry.atEnd()) {
    const QString line = QString::fromUtf8(entry.readLine()).trimmed();
    if (line.compare(QStringLiteral("Hidden=true"), Qt::CaseInsensitive) == 0) return Status::notRegistered;
  }
  return Status::enabled;
}

bool XdgAutostartLoginItem::registerItem(QString* error) {
  const auto fail = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  if (!QDir().mkpath(folder_) || !QFileInfo(folder_).isDir())
    return fail(QStringLiteral("cannot create the folder %1").arg(folder_));
  const QString text = QStringLiteral(
                           "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Murel\n"
                           "Exec=%1\n"
                           "Icon=murel\n"
                           "Terminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n")
                           .arg(quotedExec(executable_));
  // The desktop reads it: the umask's permissions, not ours alone.
  if (const std::optional<QString> why = PrivateFiles::writeAtomically(entryPath(), text.toUtf8(), std::nullopt))
    return fail(*why);
  return true;
}

bool XdgAutostartLoginItem::unregisterItem(QString* error) {
  QFile entry(entryPath());
  if (!entry.exists()) return true;
  if (entry.remove()) return true;
  if (error) *error = entry.errorString();
  return false;
}

}  // namespace murel::platform
