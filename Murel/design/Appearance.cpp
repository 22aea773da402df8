#include "design/Appearance.h"

#include "runtime/SystemLog.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QWidget>

namespace murel {
namespace {

const Logger kLog("appearance");

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");
const char* const kOverrideProperty = "murelAppearance";

// Read() answers with the value wrapped in one more variant than ReadOne();
// unwrap whatever nesting there is.
QVariant unwrap(QVariant value) {
  for (int depth = 0; depth < 4 && value.metaType() == QMetaType::fromType<QDBusVariant>(); ++depth)
    value = value.value<QDBusVariant>().variant();
  return value;
}

void notifySubtree(QWidget* root) {
  const QEvent::Type type = Appearance::changeEventType();
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets.prepend(root);
  for (QWidget* w : widgets) {
    QEvent event(type);
    QCoreApplication::sendEvent(w, &event);
  }
  root->update();
}

}  // namespace

Appearance& Appearance::shared() {
  static Appearance* instance = new Appearance(QDBusConnection::sessionBus(), QCoreApplication::instance());
  return *instance;
}

Appearance::Appearance(const QDBusConnection& bus, QObject* parent) : QObject(parent), bus_(bus) {
  if (!bus_.isConnected()) return;
  bus_.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
               SLOT(onSettingChanged(QString, QString, QDBusVariant)));
  // A portal that starts (or restarts) after us is read again.
  auto* watcher = new QDBusServiceWatcher(kService, bus_, QDBusServiceWatcher::WatchForRegistration, this);
  connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { readFromPortal(); });
  readFromPortal();
}

Appearance::~Appearance() = default;

QEvent::Type Appearance::changeEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

Appearance::Scheme Appearance::schemeFromPortalValue(const QVariant& value) {
  const QVariant plain = unwrap(value);
  bool ok = false;
  const uint code = plain.toUInt(&ok);
  return ok && code == 1 ? Scheme::Dark : Scheme::Light;
}

Appearance::Scheme Appearance::schemeFor(const QWidget* widget) {
  for (const QWidget* w = widget; w; w = w->parentWidget()) {
    const QVariant forced = w->property(kOverrideProperty);
    if (forced.isValid()) return forced.toInt() == int(Scheme::Dark) ? Scheme::Dark : Scheme::Light;
  }
  return shared().scheme();
}

void Appearance::setOverride(QWidget* widget, std::optional<Scheme> scheme) {
  widget->setProperty(kOverrideProperty, scheme ? QVariant(int(*scheme)) : QVariant());
  notifySubtree(widget);
}

void Appearance::readFromPortal() {
  // Asynchronous: a slow or hung portal never blocks the first paint, which
  // simply starts light.
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
      // No portal, or one without the setting: that is the light appearance.
      if (reply.error().type() != QDBusError::ServiceUnknown)
        kLog.info(QStringLiteral("colour scheme unavailable: %1").arg(reply.error().message()));
      apply(Scheme::Light);
      return;
    }
    apply(schemeFromPortalValue(QVariant::fromValue(reply.value())));
  });
}

void Appearance::onSettingChanged(const QString& ns, const QString& key, const QDBusVariant& value) {
  if (ns != kNamespace || key != kKey) return;
  apply(schemeFromPortalValue(QVariant::fromValue(value)));
}

void Appearance::apply(Scheme scheme) {
  if (scheme == scheme_) return;
  scheme_ = scheme;
  // One repaint of every window: widgets look their colours up while painting.
  if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
    for (QWidget* window : QApplication::topLevelWidgets()) notifySubtree(window);
  }
  emit schemeChanged(scheme_);
}

}  // namespace murel
