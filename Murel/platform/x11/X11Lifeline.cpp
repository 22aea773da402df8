#include "platform/x11/X11Lifeline.h"

#include "runtime/SystemLog.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <X11/Xlib.h>

#include <atomic>
#include <mutex>

namespace murel::x11 {
namespace {

std::atomic<bool> gLost{false};
std::mutex gHandlerMutex;
std::function<void()> gHandler;

void runHandlerOnMainThread() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(
      app,
      [] {
        std::function<void()> handler;
        {
          std::lock_guard lock(gHandlerMutex);
          handler = std::move(gHandler);
          gHandler = nullptr;
        }
        if (handler) handler();
      },
      Qt::QueuedConnection);
}

// Returning from here leaves the connection marked broken: Xlib's calls on it
// then fail at once instead of exiting the process.
void onIoErrorExit(Display*, void*) {
  if (gLost.exchange(true)) return;
  Logger("platform").error(QStringLiteral("the X server connection was lost"));
  runHandlerOnMainThread();
}

// Xlib's default I/O error handler (and Qt's, which ends in it) exits on the
// spot; returning lets the connection's exit handler above have its say.
int onIoError(Display*) { return 0; }

}  // namespace

void watchConnection(_XDisplay* display) {
  if (!display) return;
  XSetIOErrorHandler(onIoError);
  XSetIOErrorExitHandler(display, onIoErrorExit, nullptr);
}

bool serverLost() { return gLost.load(); }

void setServerLostHandler(std::function<void()> handler) {
  {
    std::lock_guard lock(gHandlerMutex);
    gHandler = std::move(handler);
  }
  if (gLost.load()) runHandlerOnMainThread();
}

bool canOpenDisplay(const char* displayName) {
  Display* display = XOpenDisplay(displayName);
  if (!display) return false;
  XCloseDisplay(display);
  return true;
}

}  // namespace murel::x11
