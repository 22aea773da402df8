#pragma once

namespace murel::platform {

// True while a compositing manager runs on the application's screen, so that
// windows with an alpha channel show what lies beneath them. Asks the display
// server each time (one round trip): a compositor may come or go at any time.
// Main thread (it uses the GUI's display connection).
bool compositorRunning();

}  // namespace murel::platform
