#include "platform/dbus/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace murel {

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {}

SingleInstance::Claim SingleInstance::claim() {
  if (!bus_.isConnected() || !bus_.interface()) return Claim::unguarded;
  const auto reply = bus_.interface()->registerService(QString::fromLatin1(kServiceName),
                                                       QDBusConnectionInterface::DontQueueService,
                                                       QDBusConnectionInterface::DontAllowReplacement);
  if (!reply.isValid()) return Claim::unguarded;
  if (reply.value() != QDBusConnectionInterface::ServiceRegistered) return Claim::alreadyRunning;
  bus_.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportScriptableSlots);
  return Claim::first;
}

bool SingleInstance::reopenRunningInstance() {
  QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kServiceName), QString::fromLatin1(kObjectPath),
                                                     QStringLiteral("com.murel.app.Instance"), QStringLiteral("Reopen"));
  const QDBusMessage reply = bus_.call(call, QDBus::Block, 1500);
  return reply.type() == QDBusMessage::ReplyMessage;
}

void SingleInstance::Reopen() { Q_EMIT reopenRequested(); }

}  // namespace murel
