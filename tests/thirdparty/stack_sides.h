#pragma once

// Entry points into the two inference stacks. Each side is compiled against
// one stack only: whisper.h and llama.h pull in different headers named
// ggml.h and must never meet in one translation unit.

#include <string>
#include <vector>

namespace murel::thirdparty_test {

namespace whisper_side {

// Routes whisper's, parakeet's and their ggml's log lines to a counter
// instead of stderr.
void captureLogs();
int capturedLogLines();

// Each returns whether a context came back (and frees it if so).
bool whisperLoads(const std::string& modelPath);
bool parakeetLoads(const std::string& modelPath);
bool vadLoads(const std::string& modelPath);

}  // namespace whisper_side

namespace llama_side {

// Routes llama's, mtmd's and their ggml's log lines to a counter.
void captureLogs();
int capturedLogLines();

bool modelLoads(const std::string& modelPath);
bool projectorLoads(const std::string& projectorPath);

bool hasCpuDevice();

struct GgufContents {
  bool readable = false;
  std::string architecture;
  std::vector<long long> tensorShape;
  std::vector<float> tensorValues;
};

// Writes a GGUF file with one string key and one F32 tensor through the
// exported lm_gguf_*/lm_ggml_* API, as the test-model generators do.
bool writeGguf(const std::string& path, const std::string& architecture, const std::string& tensorName, int columns,
               int rows, const std::vector<float>& values);
GgufContents readGguf(const std::string& path, const std::string& tensorName);

}  // namespace llama_side

}  // namespace murel::thirdparty_test
