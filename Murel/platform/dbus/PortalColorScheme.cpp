#include "platform/DesktopColorScheme.h"

#include "runtime/SystemLog.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace murel::platform {
namespace {

const Logger kLog("appearance");

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

// Read() answers with the value wrapped in one more variant than ReadOne();
// unwrap whatever nesting there is.
QVariant unwrap(QVariant value) {
  for (int depth = 0; depth < 4 && value.metaType() == QMetaType::fromType<QDBusVariant>(); ++depth)
    value = value.value<QDBusVariant>().variant();
  return value;
}

class PortalColorScheme final : public DesktopColorScheme {
  Q_OBJECT

 public:
  explicit PortalColorScheme(const QDBusConnection& bus) : bus_(bus) {
    if (!bus_.isConnected()) return;
    bus_.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                 SLOT(onSettingChanged(QString, QString, QDBusVariant)));
    // A portal that starts (or restarts) after us is read again.
    auto* watcher = new QDBusServiceWatcher(kService, bus_, QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { read(); });
    read();
  }

 private Q_SLOTS:
  void onSettingChanged(const QString& ns, const QString& key, const QDBusVariant& value) {
    if (ns != kNamespace || key != kKey) return;
    Q_EMIT preferenceChanged(fromPortalValue(QVariant::fromValue(value)));
  }

 private:
  void read() {
    // Asynchronous: a slow or hung portal never blocks the first paint.
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
    call << kNamespace << kKey;
    delete pending_;
    pending_ = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), this);
    connect(pending_, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* watcher) {
      if (watcher != pending_) return;
      pending_ = nullptr;
      watcher->deleteLater();
      const QDBusPendingReply<QDBusVariant> reply = *watcher;
      if (reply.isError()) {
        // No portal, or one without the setting: no preference.
        if (reply.error().type() != QDBusError::ServiceUnknown)
          kLog.info(QStringLiteral("colour scheme unavailable: %1").arg(reply.error().message()));
        Q_EMIT preferenceChanged(Preference::NoPreference);
        return;
      }
      Q_EMIT preferenceChanged(fromPortalValue(QVariant::fromValue(reply.value())));
    });
  }

  QDBusConnection bus_;
  QDBusPendingCallWatcher* pending_ = nullptr;
};

}  // namespace

std::unique_ptr<DesktopColorScheme> DesktopColorScheme::onSessionBus() {
  return std::make_unique<PortalColorScheme>(QDBusConnection::sessionBus());
}

DesktopColorScheme::Preference DesktopColorScheme::fromPortalValue(const QVariant& value) {
  bool ok = false;
  const uint code = unwrap(value).toUInt(&ok);
  if (!ok) return Preference::NoPreference;
  if (code == 1) return Preference::Dark;
  if (code == 2) return Preference::Light;
  return Preference::NoPreference;
}

}  // namespace murel::platform

#include "PortalColorScheme.moc"
