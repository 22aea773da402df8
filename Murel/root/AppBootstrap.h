#pragma once

namespace murel {

// Starts the shared application state's bootstrap on the main thread; the task
// runs on by itself. Main thread.
void runAppStateBootstrap();

// Lets the diagnostics report read the status, automatic paste and last error
// from the shared application state.
void reportAppStateInDiagnostics();

}  // namespace murel
