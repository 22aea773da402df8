#pragma once
// The application started as a real process on a session bus of its own, with a
// tray watcher that records the icons registered with it. Shared by the
// application tests and the start-up benchmark.

#include "runtime/AppPaths.h"
#include "speech/SpeechModel.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QThread>
#include <QUuid>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>

namespace murel::apprig {

inline bool pump(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeout.count()) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

// A private dbus-daemon, gone with the object.
class PrivateBus {
 public:
  explicit PrivateBus(const QString& folder) {
    QDir().mkpath(folder);
    address_ = QStringLiteral("unix:path=") + folder + QStringLiteral("/bus");
    daemon_.setProgram(QStringLiteral("dbus-daemon"));
    daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                          QStringLiteral("--address=") + address_});
    daemon_.start();
    daemon_.waitForStarted(5000);
    name_ = QStringLiteral("murel-private-") + QUuid::createUuid().toString(QUuid::Id128);
    pump(
        [&] {
          QDBusConnection::disconnectFromBus(name_);
          return QDBusConnection::connectToBus(address_, name_).isConnected();
        },
        std::chrono::seconds(10));
  }
  ~PrivateBus() {
    QDBusConnection::disconnectFromBus(name_);
    daemon_.terminate();
    daemon_.waitForFinished(3000);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  QDBusConnection connection() const { return QDBusConnection(name_); }
  const QString& address() const { return address_; }

 private:
  QProcess daemon_;
  QString address_;
  QString name_;
};

// org.kde.StatusNotifierWatcher with a host, as a desktop's tray provides it.
class FakeTrayWatcher final : public QDBusVirtualObject {
 public:
  explicit FakeTrayWatcher(QDBusConnection bus) : bus_(std::move(bus)) {
    bus_.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), this);
    bus_.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
  }
  ~FakeTrayWatcher() override {
    bus_.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    bus_.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
  }

  const QStringList& items() const { return items_; }

  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.kde.StatusNotifierWatcher\">"
        "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
        "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
        "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
        "</interface>");
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString member = message.member();
    if (member == QLatin1String("RegisterStatusNotifierItem")) {
      items_.append(message.arguments().value(0).toString());
      connection.send(message.createReply());
      return true;
    }
    if (member == QLatin1String("RegisterStatusNotifierHost")) {
      connection.send(message.createReply());
      return true;
    }
    if (member == QLatin1String("Get") && message.arguments().size() == 2) {
      const QString property = message.arguments().at(1).toString();
      QVariant value;
      if (property == QLatin1String("IsStatusNotifierHostRegistered"))
        value = true;
      else if (property == QLatin1String("ProtocolVersion"))
        value = 0;
      else if (property == QLatin1String("RegisteredStatusNotifierItems"))
        value = items_;
      connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
      return true;
    }
    if (member == QLatin1String("GetAll")) {
      QVariantMap all{{QStringLiteral("IsStatusNotifierHostRegistered"), true},
                      {QStringLiteral("ProtocolVersion"), 0},
                      {QStringLiteral("RegisteredStatusNotifierItems"), items_}};
      connection.send(message.createReply(all));
      return true;
    }
    return false;
  }

 private:
  QDBusConnection bus_;
  QStringList items_;
};

// The folders one launch of the application writes into.
struct Home {
  QString root;
  QString config() const { return root + QStringLiteral("/config"); }
  QString data() const { return root + QStringLiteral("/data"); }
  QString logFile() const { return data() + QStringLiteral("/Murel/Logs/murel.log"); }
  QString defaultsFile() const { return config() + QStringLiteral("/Murel/defaults.json"); }
  QString autostartEntry() const { return config() + QStringLiteral("/autostart/murel.desktop"); }

  QString log() const {
    QFile file(logFile());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }

  // The default speech model's files as sparse files of their exact sizes.
  void installDefaultModel() const { installModel(SpeechModelDescriptor::defaultModel()); }

  // A catalogue model's files as sparse files of their exact sizes.
  void installModel(const SpeechModelDescriptor& model) const {
    const QString support = AppPaths::applicationSupport();
    QString folder = model.storageDirectory;
    if (folder.startsWith(support)) folder = data() + folder.mid(support.size());
    QDir().mkpath(folder);
    for (const ModelArtifact& artifact : model.artifacts) {
      QFile file(folder + QLatin1Char('/') + artifact.filename);
      file.open(QIODevice::WriteOnly);
      file.resize(artifact.sizeBytes);
    }
  }
};

inline QProcessEnvironment environmentFor(const Home& home, const QString& busAddress) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* sub : {"home", "config", "data", "cache", "state", "runtime"})
    QDir().mkpath(home.root + QLatin1Char('/') + QLatin1String(sub));
  env.insert(QStringLiteral("HOME"), home.root + QStringLiteral("/home"));
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.config());
  env.insert(QStringLiteral("XDG_DATA_HOME"), home.data());
  env.insert(QStringLiteral("XDG_CACHE_HOME"), home.root + QStringLiteral("/cache"));
  env.insert(QStringLiteral("XDG_STATE_HOME"), home.root + QStringLiteral("/state"));
  // The single-instance lock lives here: one per test's home, never shared.
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.root + QStringLiteral("/runtime"));
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
  return env;
}

// `adjust` changes the environment further (a PATH with stand-in programs, say).
inline std::unique_ptr<QProcess> startApp(const QString& executable, const Home& home, const QString& busAddress,
                                          const std::function<void(QProcessEnvironment&)>& adjust = {}) {
  auto app = std::make_unique<QProcess>();
  app->setProgram(executable);
  QProcessEnvironment env = environmentFor(home, busAddress);
  if (adjust) adjust(env);
  app->setProcessEnvironment(env);
  app->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  app->start();
  app->waitForStarted(10000);
  return app;
}

// True once the process catches SIGTERM (its handler is installed), read from
// /proc so that a loaded machine cannot make a test kill a half-started process.
inline bool catchesSigterm(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (!line.startsWith("SigCgt:")) continue;
    bool ok = false;
    const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
    return ok && (mask & (1ULL << (SIGTERM - 1)));
  }
  return false;
}

// The mapped windows of the process whose name matches `pattern`. The
// installed xdotool ends on the X error it meets when any window on the display
// is destroyed in the middle of its search (a second instance quitting, a popup
// closing), which would read as "no window": such a search is run again.
inline QStringList searchMappedWindows(qint64 pid, const QString& pattern) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    QProcess search;
    search.start(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                  QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"), pattern});
    if (!search.waitForFinished(5000)) continue;
    if (search.exitCode() == 0)
      return QString::fromLatin1(search.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // Exit code 1 with nothing on stderr is a search that matched nothing.
    if (!search.readAllStandardError().contains("X Error")) return {};
  }
  return {};
}

// The mapped windows of the process whose title starts with `title`.
inline QStringList mappedWindows(qint64 pid, const QString& title) {
  return searchMappedWindows(pid, QLatin1Char('^') + title);
}

// Every mapped window of the process, whatever its title.
inline QStringList mappedWindowsOf(qint64 pid) { return searchMappedWindows(pid, QStringLiteral(".*")); }

// Whether the process shows a mapped window whose title starts with `title`.
inline bool showsWindow(qint64 pid, const QString& title) { return !mappedWindows(pid, title).isEmpty(); }

// A window's absolute geometry as xwininfo reports it.
inline QRect windowGeometry(const QString& windowId) {
  QProcess info;
  info.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), windowId});
  info.waitForFinished(5000);
  int x = 0, y = 0, w = 0, h = 0;
  for (const QString& line : QString::fromLatin1(info.readAllStandardOutput()).split(QLatin1Char('\n'))) {
    const QString t = line.trimmed();
    const int value = t.section(QLatin1Char(':'), 1).trimmed().toInt();
    if (t.startsWith(QLatin1String("Absolute upper-left X"))) x = value;
    if (t.startsWith(QLatin1String("Absolute upper-left Y"))) y = value;
    if (t.startsWith(QLatin1String("Width"))) w = value;
    if (t.startsWith(QLatin1String("Height"))) h = value;
  }
  return QRect(x, y, w, h);
}

// A window's size as xwininfo reports it.
inline QSize windowSize(const QString& windowId) {
  QProcess info;
  info.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), windowId});
  info.waitForFinished(5000);
  int width = -1, height = -1;
  for (const QString& line : QString::fromLatin1(info.readAllStandardOutput()).split(QLatin1Char('\n'))) {
    const QString trimmed = line.trimmed();
    if (trimmed.startsWith(QLatin1String("Width:"))) width = trimmed.mid(6).trimmed().toInt();
    if (trimmed.startsWith(QLatin1String("Height:"))) height = trimmed.mid(7).trimmed().toInt();
  }
  return QSize(width, height);
}

}  // namespace murel::apprig
