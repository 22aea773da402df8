#include "platform/dbus/StatusNotifierItem.h"

#include "runtime/SystemLog.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QtEndian>

namespace murel::platform {

// One image of the icon as the protocol carries it: ARGB32 in network byte order.
struct SniPixmap {
  qint32 width = 0;
  qint32 height = 0;
  QByteArray argb;
};
using SniPixmaps = QList<SniPixmap>;

// The tooltip: icon name, icon images, title, text.
struct SniToolTip {
  QString iconName;
  SniPixmaps pixmaps;
  QString title;
  QString text;
};

}  // namespace murel::platform

Q_DECLARE_METATYPE(murel::platform::SniPixmap)
Q_DECLARE_METATYPE(murel::platform::SniToolTip)

namespace murel::platform {

namespace {

const Logger kLog("app");
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");

SniPixmap toSniPixmap(const QImage& image) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  SniPixmap pixmap{argb.width(), argb.height(), QByteArray(argb.width() * argb.height() * 4, Qt::Uninitialized)};
  auto* out = reinterpret_cast<quint32*>(pixmap.argb.data());
  for (int y = 0; y < argb.height(); ++y) {
    const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
    for (int x = 0; x < argb.width(); ++x) *out++ = qToBigEndian(line[x]);
  }
  return pixmap;
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap) {
  argument.beginStructure();
  argument << pixmap.width << pixmap.height << pixmap.argb;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap) {
  argument.beginStructure();
  argument >> pixmap.width >> pixmap.height >> pixmap.argb;
  argument.endStructure();
  return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip) {
  argument.beginStructure();
  argument << tip.iconName << tip.pixmaps << tip.title << tip.text;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip) {
  argument.beginStructure();
  argument >> tip.iconName >> tip.pixmaps >> tip.title >> tip.text;
  argument.endStructure();
  return argument;
}

namespace {

void registerTypes() {
  static const bool done = [] {
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
    return true;
  }();
  (void)done;
}

}  // namespace

// The org.kde.StatusNotifierItem interface of the item's object.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
  Q_PROPERTY(QString Category READ category)
  Q_PROPERTY(QString Id READ id)
  Q_PROPERTY(QString Title READ title)
  Q_PROPERTY(QString Status READ status)
  Q_PROPERTY(int WindowId READ windowId)
  Q_PROPERTY(QString IconName READ emptyName)
  Q_PROPERTY(QList<murel::platform::SniPixmap> IconPixmap READ iconPixmap)
  Q_PROPERTY(QString OverlayIconName READ emptyName)
  Q_PROPERTY(QList<murel::platform::SniPixmap> OverlayIconPixmap READ noPixmaps)
  Q_PROPERTY(QString AttentionIconName READ emptyName)
  Q_PROPERTY(QList<murel::platform::SniPixmap> AttentionIconPixmap READ noPixmaps)
  Q_PROPERTY(QString AttentionMovieName READ emptyName)
  Q_PROPERTY(murel::platform::SniToolTip ToolTip READ toolTip)
  Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
  Q_PROPERTY(QDBusObjectPath Menu READ menu)

 public:
  explicit StatusNotifierItemAdaptor(StatusNotifierItem* item) : QDBusAbstractAdaptor(item), item_(item) {}

  QString category() const { return QStringLiteral("ApplicationStatus"); }
  QString id() const { return QCoreApplication::applicationName(); }
  QString title() const { return item_->title_; }
  QString status() const { return QStringLiteral("Active"); }
  int windowId() const { return 0; }
  QString emptyName() const { return {}; }
  SniPixmaps iconPixmap() const {
    SniPixmaps list;
    for (const QImage& image : item_->images_) list.append(toSniPixmap(image));
    return list;
  }
  SniPixmaps noPixmaps() const { return {}; }
  SniToolTip toolTip() const { return SniToolTip{QString(), {}, item_->title_, QString()}; }
  // The primary click opens the panel; the host must not show a menu instead.
  bool itemIsMenu() const { return false; }
  QDBusObjectPath menu() const { return QDBusObjectPath(QStringLiteral("/NO_DBUSMENU")); }

 public Q_SLOTS:
  void Activate(int x, int y) { Q_EMIT item_->activated(QPoint(x, y)); }
  void SecondaryActivate(int x, int y) { Q_EMIT item_->activated(QPoint(x, y)); }
  void ContextMenu(int x, int y) { Q_EMIT item_->contextMenuRequested(QPoint(x, y)); }
  void Scroll(int, const QString&) {}

 Q_SIGNALS:
  void NewTitle();
  void NewIcon();
  void NewAttentionIcon();
  void NewOverlayIcon();
  void NewToolTip();
  void NewStatus(const QString& status);

 private:
  StatusNotifierItem* item_;
};

bool StatusNotifierItem::isHostRegistered() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kWatcher)) return false;
  QDBusMessage get = QDBusMessage::createMethodCall(
      kWatcher, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
  const QDBusMessage reply = bus.call(get, QDBus::Block, 1000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

StatusNotifierItem::StatusNotifierItem(QString title, QObject* parent) : QObject(parent), title_(std::move(title)) {
  registerTypes();
  new StatusNotifierItemAdaptor(this);
}

StatusNotifierItem::~StatusNotifierItem() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (serviceName_.isEmpty()) return;
  bus.unregisterObject(kItemPath);
  bus.unregisterService(serviceName_);
}

bool StatusNotifierItem::registerItem() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  if (serviceName_.isEmpty()) {
    const QString name = QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid());
    if (!bus.registerObject(kItemPath, this, QDBusConnection::ExportAdaptors)) {
      kLog.notice(QStringLiteral("tray item: the object path is taken"));
      return false;
    }
    if (!bus.registerService(name)) {
      kLog.notice(QStringLiteral("tray item: the bus refused the name ") + name);
      bus.unregisterObject(kItemPath);
      return false;
    }
    serviceName_ = name;
    // A desktop whose tray starts (or restarts) later finds the item too.
    // A tray that goes away no longer shows the icon.
    watcher_ = new QDBusServiceWatcher(
        kWatcher, bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] { registerWithWatcher(); });
    connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] { registered_ = false; });
  }
  registerWithWatcher();
  return true;
}

void StatusNotifierItem::registerWithWatcher() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  QDBusMessage call =
      QDBusMessage::createMethodCall(kWatcher, kWatcherPath, kWatcher, QStringLiteral("RegisterStatusNotifierItem"));
  call << serviceName_;
  auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusPendingReply<> reply = *w;
    registered_ = !reply.isError();
    if (reply.isError()) kLog.notice(QStringLiteral("tray watcher refused the item: ") + reply.error().message());
  });
}

void StatusNotifierItem::setPixmaps(const QList<QImage>& images) {
  images_ = images;
  if (auto* adaptor = findChild<StatusNotifierItemAdaptor*>()) Q_EMIT adaptor->NewIcon();
}

}  // namespace murel::platform

#include "StatusNotifierItem.moc"
