#pragma once

namespace murel {

// Starts the application state once setup is complete: the status becomes
// ready and the diagnostics log records the start. Main thread.
void runAppStateBootstrap();

}  // namespace murel
