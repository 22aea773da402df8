#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>

class QDBusServiceWatcher;

namespace murel::platform {

// The application's icon as an org.kde.StatusNotifierItem on the session bus,
// registered with the desktop's org.kde.StatusNotifierWatcher. Unlike Qt's own
// tray item it hands on where the host was clicked (Activate and ContextMenu
// carry screen coordinates), so a popup can open beside the icon. No menu is
// exported: a host asks for the context menu through ContextMenu.
// Main thread.
class StatusNotifierItem : public QObject {
  Q_OBJECT

 public:
  // Whether a watcher with a host is on the session bus now (a short blocking call).
  static bool isHostRegistered();

  explicit StatusNotifierItem(QString title, QObject* parent = nullptr);
  ~StatusNotifierItem() override;

  // Takes the service name and registers with the watcher; again whenever a
  // watcher appears later. False when the bus refuses the name or the object.
  bool registerItem();
  // Whether the watcher took the item.
  bool isRegistered() const { return registered_; }
  QString serviceName() const { return serviceName_; }

  // The icon in every size the hosts pick from; hosts are told it changed.
  void setPixmaps(const QList<QImage>& images);
  const QList<QImage>& pixmaps() const { return images_; }

 Q_SIGNALS:
  // The host's primary click (or keyboard activation) at a screen position.
  void activated(QPoint at);
  void contextMenuRequested(QPoint at);

 private:
  friend class StatusNotifierItemAdaptor;
  void registerWithWatcher();

  QString title_;
  QString serviceName_;
  QList<QImage> images_;
  bool registered_ = false;
  QDBusServiceWatcher* watcher_ = nullptr;
};

}  // namespace murel::platform
