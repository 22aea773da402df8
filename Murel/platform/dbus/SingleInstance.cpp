#include "platform/dbus/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace murel {

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::Claim SingleInstance::claim() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface()) return Claim::unguarded;
  const auto reply =
      bus.interface()->registerService(QString::fromLatin1(kServiceName), QDBusConnectionInterface::DontQueueService,
                                       QDBusConnectionInterface::DontAllowReplacement);
  if (!reply.isValid()) return Claim::unguarded;
  if (reply.value() != QDBusConnectionInterface::ServiceRegistered) return Claim::alreadyRunning;
  bus.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportScriptableSlots);
  return Claim::first;
}

bool SingleInstance::reopenRunningInstance() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  QDBusMessage call =
      QDBusMessage::createMethodCall(QString::fromLatin1(kServiceName), QString::fromLatin1(kObjectPath),
                                     QStringLiteral("com.murel.app.Instance"), QStringLiteral("Reopen"));
  const QDBusMessage reply = bus.call(call, QDBus::Block, 1500);
  return reply.type() == QDBusMessage::ReplyMessage;
}

void SingleInstance::Reopen() { Q_EMIT reopenRequested(); }

}  // namespace murel
