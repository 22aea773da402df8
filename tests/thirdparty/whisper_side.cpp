#include "stack_sides.h"

#include <parakeet.h>
#include <whisper.h>

#include <atomic>

namespace murel::thirdparty_test::whisper_side {

namespace {

std::atomic<int> logLines{0};

void countLine(ggml_log_level, const char*, void*) { ++logLines; }

}  // namespace

void captureLogs() {
  whisper_log_set(countLine, nullptr);
  parakeet_log_set(countLine, nullptr);
}

int capturedLogLines() { return logLines.load(); }

bool whisperLoads(const std::string& modelPath) {
  whisper_context* ctx = whisper_init_from_file_with_params(modelPath.c_str(), whisper_context_default_params());
  if (ctx == nullptr) return false;
  whisper_free(ctx);
  return true;
}

bool parakeetLoads(const std::string& modelPath) {
  parakeet_context* ctx = parakeet_init_from_file_with_params(modelPath.c_str(), parakeet_context_default_params());
  if (ctx == nullptr) return false;
  parakeet_free(ctx);
  return true;
}

bool vadLoads(const std::string& modelPath) {
  whisper_vad_context* ctx =
      whisper_vad_init_from_file_with_params(modelPath.c_str(), whisper_vad_default_context_params());
  if (ctx == nullptr) return false;
  whisper_vad_free(ctx);
  return true;
}

}  // namespace murel::thirdparty_test::whisper_side
