#pragma once
// org.freedesktop.FileManager1 answering ShowItems, as a file manager does,
// registered on the given bus connection for the object's lifetime.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>

namespace murel::test {

class FakeFileManager final : public QDBusVirtualObject {
 public:
  explicit FakeFileManager(QDBusConnection bus) : bus_(std::move(bus)) {
    bus_.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), this);
    bus_.registerService(QStringLiteral("org.freedesktop.FileManager1"));
  }
  ~FakeFileManager() override {
    bus_.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    bus_.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
  }
  FakeFileManager(const FakeFileManager&) = delete;
  FakeFileManager& operator=(const FakeFileManager&) = delete;

  // The file URLs of every ShowItems call, in order.
  QStringList shown;
  int calls = 0;

  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.freedesktop.FileManager1\"><method name=\"ShowItems\">"
        "<arg type=\"as\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/></method></interface>");
  }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QLatin1String("ShowItems")) return false;
    ++calls;
    shown += message.arguments().value(0).toStringList();
    connection.send(message.createReply());
    return true;
  }

 private:
  QDBusConnection bus_;
};

}  // namespace murel::test
