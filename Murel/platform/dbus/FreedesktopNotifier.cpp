#include "platform/dbus/FreedesktopNotifier.h"

#include "runtime/SystemLog.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

namespace murel {
namespace {

const Logger kLog("app");
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QDBusConnection busFor(const QString& name) {
  return name.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(name);
}

}  // namespace

FreedesktopNotifier::FreedesktopNotifier(QString busName, QObject* parent)
    : DesktopNotifier(parent), busName_(std::move(busName)) {
  QDBusConnection bus = busFor(busName_);
  // Any sender: the server answers from its unique name.
  bus.connect(QString(), kPath, kService, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
  bus.connect(QString(), kPath, kService, QStringLiteral("NotificationClosed"), this, SLOT(onClosed(uint, uint)));
}

FreedesktopNotifier::~FreedesktopNotifier() { withdraw(); }

void FreedesktopNotifier::show(const Notice& notice) {
  QDBusConnection bus = busFor(busName_);
  if (!bus.isConnected()) {
    kLog.notice(QStringLiteral("no session bus: notice not shown: ") + notice.body);
    return;
  }
  QStringList actions;
  for (const Action& action : notice.actions) actions << action.key << action.label;
  const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)},
                          {QStringLiteral("desktop-entry"), QStringLiteral("murel")}};
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
  // Expiry 0 keeps it on screen until answered: the notice stands for an error
  // that waits for the user, and must not time out unseen.
  call << QStringLiteral("Murel") << shownId_ << QString() << notice.summary << notice.body << actions << hints
       << qint32(0);
  const quint64 request = ++request_;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, request](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusPendingReply<uint> reply = *w;
    if (reply.isError()) {
      kLog.notice(QStringLiteral("notification server did not take the notice: ") + reply.error().message());
      return;
    }
    if (request != request_) {
      // Withdrawn or replaced while the server was answering.
      if (reply.value() != shownId_) close(reply.value());
      return;
    }
    shownId_ = reply.value();
  });
}

void FreedesktopNotifier::withdraw() {
  ++request_;
  if (shownId_ == 0) return;
  close(shownId_);
  shownId_ = 0;
}

void FreedesktopNotifier::close(uint id) {
  QDBusConnection bus = busFor(busName_);
  if (!bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("CloseNotification"));
  call << id;
  bus.call(call, QDBus::NoBlock);
}

void FreedesktopNotifier::onActionInvoked(uint id, const QString& key) {
  if (id == 0 || id != shownId_) return;
  Q_EMIT actionInvoked(key);
}

void FreedesktopNotifier::onClosed(uint id, uint) {
  if (id != 0 && id == shownId_) shownId_ = 0;
}

}  // namespace murel
