#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace litertlm {

// Process-wide switches of runtime features that are not stable yet. Writing a
// member needs the opt-in; without it the write is dropped and an error line is
// logged. Engines and conversations read the members when they are made.
class ExperimentalFlags {
 public:
  ExperimentalFlags() = delete;

  static void optIntoExperimentalAPIs();
  static bool isOptedIn();
  static void setOptedIn(bool value);

  static bool enableBenchmark();
  static void setEnableBenchmark(bool value);
  static std::optional<std::int32_t> maxVisionTokensPerImage();
  static void setMaxVisionTokensPerImage(std::optional<std::int32_t> value);
  static std::optional<bool> enableSpeculativeDecoding();
  static void setEnableSpeculativeDecoding(std::optional<bool> value);
  static std::optional<bool> gpuEnableMetalResidencySet();
  static void setGpuEnableMetalResidencySet(std::optional<bool> value);
  static bool enableConstrainedDecoding();
  static void setEnableConstrainedDecoding(bool value);
  static bool streamToolCalls();
  static void setStreamToolCalls(bool value);
  static std::string toolCallStreamKey();
  static void setToolCallStreamKey(std::string value);
  static std::optional<bool> filterChannelContentFromKvCache();
  static void setFilterChannelContentFromKvCache(std::optional<bool> value);
  static bool snakeCaseToolParameterNames();
  static void setSnakeCaseToolParameterNames(bool value);

  // Every member back to its initial value, opt-in included (tests).
  static void resetForTesting();
};

}  // namespace litertlm
