#pragma once

namespace murel {

// Sends what whisper.cpp, its Parakeet library and ggml print about a model
// load (some seventy lines each time) to the diagnostics log instead of
// stderr. Idempotent; call before the first model or VAD load.
void routeWhisperLogs();

}  // namespace murel
