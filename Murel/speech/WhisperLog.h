#pragma once

namespace murel {

// Sends what whisper.cpp, its Parakeet library and ggml print about a model
// load (some seventy lines each time) to the diagnostics log instead of
// stderr. Idempotent; call before the first model or VAD load.
void routeWhisperLogs();

// Keeps what the inference libraries print on this thread out of the
// diagnostics log while it lives: a cancelled warm-up makes them report a
// failed step that is no failure of the user's.
class QuietWhisperLogs {
 public:
  QuietWhisperLogs();
  ~QuietWhisperLogs();
  QuietWhisperLogs(const QuietWhisperLogs&) = delete;
  QuietWhisperLogs& operator=(const QuietWhisperLogs&) = delete;

 private:
  bool wasQuiet_;
};

}  // namespace murel
