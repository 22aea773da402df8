// A stand-in for the XDG desktop portal's Settings interface on the rig's
// session bus, holding only "org.freedesktop.appearance" "color-scheme".
// Usage: murel_fake_portal [initial value | "absent"]. Each line on stdin is a
// new value (0 no preference, 1 dark, 2 light) announced with SettingChanged.
// Prints "ready" once the service name is owned.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QSocketNotifier>

#include <unistd.h>
#include <cstdio>
#include <optional>

class PortalSettings : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
  Q_PROPERTY(uint version READ version)

 public:
  std::optional<uint> scheme;
  uint version() const { return 2; }

  void change(uint value) {
    scheme = value;
    emit SettingChanged(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"),
                        QDBusVariant(QVariant::fromValue(value)));
  }

 public slots:
  // Read() wraps the value in one more variant than ReadOne(), as the real portal does.
  QDBusVariant Read(const QString& ns, const QString& key) {
    const QDBusVariant inner = ReadOne(ns, key);
    return QDBusVariant(QVariant::fromValue(inner));
  }
  QDBusVariant ReadOne(const QString& ns, const QString& key) {
    if (ns != QLatin1String("org.freedesktop.appearance") || key != QLatin1String("color-scheme") || !scheme) {
      sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                     QStringLiteral("Requested setting not found"));
      return {};
    }
    return QDBusVariant(QVariant::fromValue(*scheme));
  }

 signals:
  void SettingChanged(const QString& ns, const QString& key, const QDBusVariant& value);
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  PortalSettings settings;
  const QString initial = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("0");
  if (initial != QLatin1String("absent")) settings.scheme = initial.toUInt();

  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerObject(
          QStringLiteral("/org/freedesktop/portal/desktop"), &settings,
          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals | QDBusConnection::ExportAllProperties) ||
      !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
    std::fprintf(stderr, "fake portal: cannot register: %s\n", qPrintable(bus.lastError().message()));
    return 1;
  }
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
    char buffer[64];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer - 1);
    if (got <= 0) {
      QCoreApplication::quit();
      return;
    }
    buffer[got] = 0;
    for (const QByteArray& line : QByteArray(buffer).split('\n'))
      if (!line.trimmed().isEmpty()) settings.change(line.trimmed().toUInt());
  });
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}

#include "fake_portal.moc"
