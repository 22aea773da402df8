#include "support/FakeMprisPlayer.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QTimer>

namespace murel::test {
namespace {

int nextPlayer() {
  static int count = 0;
  return ++count;
}

}  // namespace

FakeMprisPlayer::FakeMprisPlayer(QVariant initialStatus)
    : status(std::move(initialStatus)),
      connectionName_(QStringLiteral("murel-fake-mpris-%1").arg(nextPlayer())),
      busName_(QStringLiteral("org.mpris.MediaPlayer2.murelTest.p%1.n%2")
                   .arg(QCoreApplication::applicationPid())
                   .arg(connectionName_.section(QLatin1Char('-'), -1))),
      bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_)) {
  onBus_ = bus_.isConnected() &&
           bus_.registerVirtualObject(QStringLiteral("/org/mpris/MediaPlayer2"), this, QDBusConnection::SingleNode) &&
           bus_.registerService(busName_);
}

FakeMprisPlayer::~FakeMprisPlayer() { leaveBus(); }

QString FakeMprisPlayer::uniqueName() const { return bus_.baseService(); }

void FakeMprisPlayer::leaveBus() {
  if (!onBus_) return;
  onBus_ = false;
  bus_.unregisterObject(QStringLiteral("/org/mpris/MediaPlayer2"));
  QDBusConnection::disconnectFromBus(connectionName_);
  // The connection closes when its last handle goes.
  bus_ = QDBusConnection(QString());
}

QString FakeMprisPlayer::introspect(const QString&) const { return {}; }

bool FakeMprisPlayer::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
  const QString member = message.member();
  if (message.interface() == QStringLiteral("org.mpris.MediaPlayer2.Player") &&
      (member == QStringLiteral("Pause") || member == QStringLiteral("Play"))) {
    if (member == QStringLiteral("Pause")) {
      ++pauses;
      status = QStringLiteral("Paused");
    } else {
      ++plays;
      status = QStringLiteral("Playing");
    }
    connection.send(message.createReply());
    return true;
  }
  if (message.interface() != QStringLiteral("org.freedesktop.DBus.Properties") || member != QStringLiteral("Get"))
    return false;
  ++statusReads;
  if (neverReply) return true;
  const QDBusMessage reply = errorReply
                                 ? message.createErrorReply(QStringLiteral("org.mpris.MediaPlayer2.Error.Failed"),
                                                            QStringLiteral("the test player refuses"))
                                 : message.createReply(QVariant::fromValue(QDBusVariant(status)));
  if (replyDelay.count() == 0) {
    connection.send(reply);
  } else {
    // Not sent once the player has gone: the timer dies with it.
    QTimer::singleShot(replyDelay, this, [this, reply] {
      if (onBus_) bus_.send(reply);
    });
  }
  return true;
}

}  // namespace murel::test
