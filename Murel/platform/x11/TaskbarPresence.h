#pragma once

class QWidget;

namespace murel::platform {

// Keeps a top-level window out of the task bar and pager (or lets it back in)
// through _NET_WM_STATE_SKIP_TASKBAR: how an application without a main window
// stays in the tray alone. Does nothing off X11.
void setSkipTaskbar(QWidget* window, bool skip);
// Whether the window's state says so.
bool skipsTaskbar(QWidget* window);

}  // namespace murel::platform
