#include "platform/dbus/FileManagerWorkspace.h"

#include "runtime/SystemLog.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QStringList>
#include <QUrl>

namespace murel {
namespace {

const Logger kLog("app");

}  // namespace

void FileManagerWorkspace::revealFile(const QString& path) {
  static const QString service = QStringLiteral("org.freedesktop.FileManager1");
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface()) return;
  // Only a running file manager, or one the bus can start, is asked.
  const bool owned = bus.interface()->isServiceRegistered(service).value();
  const bool activatable = bus.interface()->activatableServiceNames().value().contains(service);
  if (!owned && !activatable) return;
  QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"), service,
                                                     QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [](QDBusPendingCallWatcher* w) {
    if (w->isError()) kLog.notice(QStringLiteral("file manager did not show the file: ") + w->error().message());
    w->deleteLater();
  });
}

bool Workspace::openURL(const QUrl& url) {
  const bool opened = QDesktopServices::openUrl(url);
  if (!opened) kLog.notice(QStringLiteral("no opener took ") + url.toString());
  return opened;
}

}  // namespace murel
