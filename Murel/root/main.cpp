#include "app/DictationSession.h"
#include "design/Tokens.h"
#include "platform/dbus/SingleInstance.h"
#include "platform/x11/X11Lifeline.h"
#include "platform/xdg/InstanceLock.h"
#include "root/Composition.h"
#include "runtime/AppPaths.h"
#include "runtime/DiagLog.h"
#include "runtime/Localization.h"
#include "runtime/SystemLog.h"
#include "runtime/UserDefaults.h"

#include <QApplication>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

int gSignalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(gSignalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop normally, so every store and log is
// flushed. The handlers go in before anything else: a signal that arrives while
// the application is still starting waits in the socket instead of killing it.
void catchTerminationSignals() {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

void quitOnTerminationSignals(QApplication& app) {
  if (gSignalPipe[0] < 0) return;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
    char byte = 0;
    [[maybe_unused]] const auto got = ::read(gSignalPipe[0], &byte, 1);
    notifier->setEnabled(false);
    QCoreApplication::quit();
  });
}

// Qt and Xlib end the process with exit(1) when the X server goes away, from
// wherever the main thread is. The static destructors exit() runs would pull
// Qt's data from under the threads still at work (the diagnostics log writing
// a line among them) and crash the process. Such an exit takes the recording
// in flight with it, lets the log write what it holds and ends at once. A
// normal return from main still tears down in full.
std::atomic<bool> gInsideMain{false};

void onExit() {
  murel::DictationSession::removeRecordingsInFlight();
  murel::DiagLog::shared().flush();
  if (gInsideMain.load()) std::_Exit(1);
}

// Marks main's frame: destroyed after every other local of main, so that an
// exit() from their destructors still counts as one from inside.
struct InsideMain {
  InsideMain() { gInsideMain = true; }
  ~InsideMain() { gInsideMain = false; }
  InsideMain(const InsideMain&) = delete;
  InsideMain& operator=(const InsideMain&) = delete;
};

}  // namespace

int main(int argc, char* argv[]) {
  catchTerminationSignals();
  const InsideMain insideMain;
  // Without an X server Qt would abort with advice to reinstall.
  if (!murel::x11::canOpenDisplay()) {
    std::fputs("Murel needs an X11 session: no X server answers at $DISPLAY.\n", stderr);
    return 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Murel"));
  QApplication::setOrganizationDomain(QStringLiteral("murel.com"));
  QApplication::setApplicationVersion(QStringLiteral(MUREL_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("murel"));
  // A tray application: closing a window never ends it.
  QApplication::setQuitOnLastWindowClosed(false);
  quitOnTerminationSignals(app);

  // A second launch hands over to the running instance and ends before it
  // touches the keyboard, the windows, the tray or the recordings. The lock
  // file guards also where there is no session bus (then two processes would
  // both answer the hotkey); the bus, where there is one, brings the first forward.
  murel::platform::InstanceLock lock;
  const murel::platform::InstanceLock::Claim locked = lock.take();
  murel::SingleInstance instance;
  const murel::SingleInstance::Claim claimed = instance.claim();
  if (locked == murel::platform::InstanceLock::Claim::heldElsewhere ||
      claimed == murel::SingleInstance::Claim::alreadyRunning) {
    const bool reopened = claimed == murel::SingleInstance::Claim::alreadyRunning && instance.reopenRunningInstance();
    const std::optional<qint64> holder = lock.holder();
    const QString message = QStringLiteral("Murel is already running%1; %2.")
                                .arg(holder ? QStringLiteral(" (process %1)").arg(*holder) : QString(),
                                     reopened ? QStringLiteral("it was asked to come forward")
                                              : QStringLiteral("this launch ends without starting a second one"));
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    murel::Logger("app").notice(message);
    return 0;
  }

  // Losing the X server ends the process from here, with the recording in
  // flight removed on the way out (the session discards it on quit).
  murel::x11::setServerLostHandler([] {
    murel::DiagLog::shared().log(QStringLiteral("app"), QStringLiteral("X server lost"));
    QCoreApplication::exit(1);
  });
  murel::DictationSession::removeLeftoverRecordings(murel::DiagLog::shared());

  murel::installTranslations(app);
  murel::Fonts::registerBundled();
  // Ask the desktop for light or dark now, so the first window opens in it.
  murel::Appearance::shared();

  //% "Murel"
  //: The application's name as shown to the user.
  const QString appName = qtTrId("app.name");
  QApplication::setApplicationDisplayName(appName);
  murel::Logger("app").info(QStringLiteral("started"));

  // The application's parts live on this stack frame until the event loop ends.
  murel::SystemPlatform platform;
  murel::Composition composition(murel::UserDefaults::shared(), murel::DiagLog::shared(), platform.parts());
  QObject::connect(&instance, &murel::SingleInstance::reopenRequested, &composition.app(), &murel::MurelApp::reopen);
  composition.launch();

  // Registered after Qt's own exit handlers, so it runs before them.
  std::atexit(onExit);
  const int code = QApplication::exec();
  murel::DiagLog::shared().log(QStringLiteral("app"), QStringLiteral("quit"));
  return code;
}
