#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QString>
#include <QVariant>

#include <chrono>

namespace murel::test {

// A media player on the rig's session bus, on a connection of its own (so it
// has its own unique name), under "org.mpris.MediaPlayer2.murelTest…". It
// answers `PlaybackStatus` with `status` (any value, a number too), or with an
// error, after `replyDelay`, or never; it counts `Pause` and `Play` calls,
// which set the status to "Paused" and "Playing".
class FakeMprisPlayer : public QDBusVirtualObject {
  Q_OBJECT

 public:
  explicit FakeMprisPlayer(QVariant status = QStringLiteral("Playing"));
  ~FakeMprisPlayer() override;
  FakeMprisPlayer(const FakeMprisPlayer&) = delete;
  FakeMprisPlayer& operator=(const FakeMprisPlayer&) = delete;

  bool isOnBus() const { return onBus_; }
  const QString& busName() const { return busName_; }
  QString uniqueName() const;
  // Drops the connection: the player's names vanish from the bus.
  void leaveBus();

  QVariant status;
  bool errorReply = false;
  bool neverReply = false;
  std::chrono::milliseconds replyDelay{0};

  int statusReads = 0;
  int pauses = 0;
  int plays = 0;

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

 private:
  QString connectionName_;
  QString busName_;
  QDBusConnection bus_;
  bool onBus_ = false;
};

}  // namespace murel::test
