#pragma once
// org.freedesktop.Notifications as a desktop's notification daemon offers it,
// registered on the given bus connection for the object's lifetime. It records
// what it is asked to show and plays the user pressing a button.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>

#include <algorithm>
#include <vector>

namespace murel::test {

class FakeNotificationServer final : public QDBusVirtualObject {
 public:
  struct Notice {
    QString appName;
    uint replacesId = 0;
    QString summary;
    QString body;
    QStringList actions;  // key, label, key, label …
    QVariantMap hints;
    int expireTimeout = -1;
    uint id = 0;  // the id the server gave it
  };

  explicit FakeNotificationServer(QDBusConnection bus) : bus_(std::move(bus)) {
    bus_.registerVirtualObject(kPath, this);
    bus_.registerService(kInterface);
  }
  ~FakeNotificationServer() override {
    bus_.unregisterService(kInterface);
    bus_.unregisterObject(kPath);
  }
  FakeNotificationServer(const FakeNotificationServer&) = delete;
  FakeNotificationServer& operator=(const FakeNotificationServer&) = delete;

  std::vector<Notice> notices;  // every Notify, in order
  std::vector<uint> closed;     // every CloseNotification, in order
  // The ids on screen now.
  std::vector<uint> open;

  // The user presses the button `key` of notice `id`; like common daemons, the
  // notice then goes away.
  void invoke(uint id, const QString& key) {
    emitSignal(QStringLiteral("ActionInvoked"), {id, key});
    dismiss(id, 2);
  }
  // The notice leaves the screen (reason 1 expired, 2 closed by the user).
  void dismiss(uint id, uint reason) {
    std::erase(open, id);
    emitSignal(QStringLiteral("NotificationClosed"), {id, reason});
  }

  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.freedesktop.Notifications\">"
        "<method name=\"Notify\"><arg type=\"s\" direction=\"in\"/><arg type=\"u\" direction=\"in\"/>"
        "<arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
        "<arg type=\"as\" direction=\"in\"/><arg type=\"a{sv}\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/>"
        "<arg type=\"u\" direction=\"out\"/></method>"
        "<method name=\"CloseNotification\"><arg type=\"u\" direction=\"in\"/></method>"
        "<method name=\"GetCapabilities\"><arg type=\"as\" direction=\"out\"/></method>"
        "<signal name=\"ActionInvoked\"><arg type=\"u\"/><arg type=\"s\"/></signal>"
        "<signal name=\"NotificationClosed\"><arg type=\"u\"/><arg type=\"u\"/></signal>"
        "</interface>");
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    if (member == QLatin1String("Notify") && args.size() == 8) {
      Notice notice{args[0].toString(),     args[1].toUInt(),
                    args[3].toString(),     args[4].toString(),
                    args[5].toStringList(), qdbus_cast<QVariantMap>(args[6]),
                    args[7].toInt(),        0};
      // A replaced notice keeps its id.
      const bool replaces =
          notice.replacesId != 0 && std::find(open.begin(), open.end(), notice.replacesId) != open.end();
      notice.id = replaces ? notice.replacesId : ++lastId_;
      if (!replaces) open.push_back(notice.id);
      notices.push_back(notice);
      connection.send(message.createReply(QVariant::fromValue(notice.id)));
      return true;
    }
    if (member == QLatin1String("CloseNotification") && args.size() == 1) {
      const uint id = args[0].toUInt();
      closed.push_back(id);
      connection.send(message.createReply());
      if (std::find(open.begin(), open.end(), id) != open.end()) dismiss(id, 3);
      return true;
    }
    if (member == QLatin1String("GetCapabilities")) {
      connection.send(message.createReply(QStringList{QStringLiteral("actions"), QStringLiteral("body")}));
      return true;
    }
    return false;
  }

 private:
  static inline const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
  static inline const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

  void emitSignal(const QString& name, const QList<QVariant>& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, name);
    signal.setArguments(arguments);
    bus_.send(signal);
  }

  QDBusConnection bus_;
  uint lastId_ = 0;
};

}  // namespace murel::test
