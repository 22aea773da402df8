#pragma once

#include <functional>

struct _XDisplay;  // NOLINT(bugprone-reserved-identifier): Xlib's own name for Display

namespace murel::x11 {

// What happens when the X server goes away. Xlib's default I/O error handling
// calls exit() on whichever thread noticed first, often a worker thread while
// the main thread still paints, which tears the process down under its own
// feet. Every connection we open is watched instead: the loss is noted, the
// connection's thread ends its work, and the handler set below runs on the main
// thread, where the application can quit cleanly.

// Installs our I/O error exit handler on `display`. Call right after XOpenDisplay.
void watchConnection(_XDisplay* display);

// Whether any watched connection has lost the X server. Safe from any thread;
// a thread that sees it must stop calling Xlib on its connection.
bool serverLost();

// Called once, on the main thread, when the X server is lost on one of our
// connections. Qt's own connection is left to Qt: it keeps using it after an
// error, so the only safe end there is Qt's exit() on the main thread, which
// runs the exit handlers (the application removes its recordings there too).
void setServerLostHandler(std::function<void()> handler);

// Whether an X server answers at $DISPLAY (or `displayName`).
bool canOpenDisplay(const char* displayName = nullptr);

}  // namespace murel::x11
