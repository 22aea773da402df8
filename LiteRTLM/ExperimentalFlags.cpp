#include "LiteRTLM/ExperimentalFlags.h"

#include "LiteRTLM/Log.h"

#include <mutex>

namespace litertlm {
namespace {

struct Values {
  bool optedIn = false;
  bool enableBenchmark = false;
  std::optional<std::int32_t> maxVisionTokensPerImage;
  std::optional<bool> enableSpeculativeDecoding;
  std::optional<bool> gpuEnableMetalResidencySet;
  bool enableConstrainedDecoding = false;
  bool streamToolCalls = false;
  std::string toolCallStreamKey = "tool_call";
  std::optional<bool> filterChannelContentFromKvCache;
  bool snakeCaseToolParameterNames = true;
};

// A lock instead of bare globals: engines read the flags on worker threads.
std::mutex& mutex() {
  static std::mutex m;
  return m;
}

Values& values() {
  static Values v;
  return v;
}

template <class T>
T get(T Values::*member) {
  std::lock_guard lock(mutex());
  return values().*member;
}

template <class T>
void set(T Values::*member, T value) {
  {
    std::lock_guard lock(mutex());
    if (values().optedIn) {
      values().*member = std::move(value);
      return;
    }
  }
  Log::error(Log::kMainSubsystem, "ExperimentalFlags",
             "LiteRTLM: Must opt into experimental APIs before setting this flag.");
}

}  // namespace

void ExperimentalFlags::optIntoExperimentalAPIs() {
  {
    std::lock_guard lock(mutex());
    if (values().optedIn) return;
    values().optedIn = true;
  }
  Log::info(Log::kMainSubsystem, "ExperimentalFlags", "EXPERIMENTAL: LiteRTLM: Opting into experimental APIs....");
}

bool ExperimentalFlags::isOptedIn() { return get(&Values::optedIn); }
void ExperimentalFlags::setOptedIn(bool value) {
  std::lock_guard lock(mutex());
  values().optedIn = value;
}

bool ExperimentalFlags::enableBenchmark() { return get(&Values::enableBenchmark); }
void ExperimentalFlags::setEnableBenchmark(bool value) { set(&Values::enableBenchmark, value); }
std::optional<std::int32_t> ExperimentalFlags::maxVisionTokensPerImage() {
  return get(&Values::maxVisionTokensPerImage);
}
void ExperimentalFlags::setMaxVisionTokensPerImage(std::optional<std::int32_t> value) {
  set(&Values::maxVisionTokensPerImage, value);
}
std::optional<bool> ExperimentalFlags::enableSpeculativeDecoding() { return get(&Values::enableSpeculativeDecoding); }
void ExperimentalFlags::setEnableSpeculativeDecoding(std::optional<bool> value) {
  set(&Values::enableSpeculativeDecoding, value);
}
std::optional<bool> ExperimentalFlags::gpuEnableMetalResidencySet() { return get(&Values::gpuEnableMetalResidencySet); }
void ExperimentalFlags::setGpuEnableMetalResidencySet(std::optional<bool> value) {
  set(&Values::gpuEnableMetalResidencySet, value);
}
bool ExperimentalFlags::enableConstrainedDecoding() { return get(&Values::enableConstrainedDecoding); }
void ExperimentalFlags::setEnableConstrainedDecoding(bool value) { set(&Values::enableConstrainedDecoding, value); }
bool ExperimentalFlags::streamToolCalls() { return get(&Values::streamToolCalls); }
void ExperimentalFlags::setStreamToolCalls(bool value) { set(&Values::streamToolCalls, value); }
std::string ExperimentalFlags::toolCallStreamKey() { return get(&Values::toolCallStreamKey); }
void ExperimentalFlags::setToolCallStreamKey(std::string value) { set(&Values::toolCallStreamKey, std::move(value)); }
std::optional<bool> ExperimentalFlags::filterChannelContentFromKvCache() {
  return get(&Values::filterChannelContentFromKvCache);
}
void ExperimentalFlags::setFilterChannelContentFromKvCache(std::optional<bool> value) {
  set(&Values::filterChannelContentFromKvCache, value);
}
bool ExperimentalFlags::snakeCaseToolParameterNames() { return get(&Values::snakeCaseToolParameterNames); }
void ExperimentalFlags::setSnakeCaseToolParameterNames(bool value) { set(&Values::snakeCaseToolParameterNames, value); }

void ExperimentalFlags::resetForTesting() {
  std::lock_guard lock(mutex());
  values() = Values{};
}

}  // namespace litertlm
