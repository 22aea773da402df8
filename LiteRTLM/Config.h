#pragma once

#include "LiteRTLM/Message.h"
#include "LiteRTLM/Tool.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct LiteRtLmLoadedFile;

namespace litertlm {

struct Api;

// Where a model part runs. The engine hands only the name to the runtime.
struct Backend {
  enum class Kind { cpu, gpu };
  Kind kind = Kind::cpu;
  std::optional<std::int32_t> threadCount;  // cpu only

  static Backend cpu(std::optional<std::int32_t> threads = std::nullopt) { return {Kind::cpu, threads}; }
  static Backend gpu() { return {Kind::gpu, std::nullopt}; }
  static std::optional<Backend> fromName(const std::string& name);
  std::string name() const { return kind == Kind::gpu ? "gpu" : "cpu"; }
  bool operator==(const Backend& o) const {
    return kind == o.kind && (kind == Kind::gpu || threadCount == o.threadCount);
  }
};

struct EngineConfig {
  std::string modelPath;
  Backend backend;
  std::optional<Backend> visionBackend;
  std::optional<Backend> audioBackend;
  std::optional<std::int32_t> maxNumTokens;
  std::optional<std::string> cacheDir;
  std::optional<std::int32_t> loraRank;
  std::optional<std::int32_t> audioLoraRank;

  // The config error invalidMaxNumTokens when maxNumTokens is present and below 1.
  EngineConfig(std::string modelPath, Backend backend, std::optional<Backend> visionBackend = std::nullopt,
               std::optional<Backend> audioBackend = std::nullopt,
               std::optional<std::int32_t> maxNumTokens = std::nullopt,
               std::optional<std::string> cacheDir = std::nullopt, std::optional<std::int32_t> loraRank = std::nullopt,
               std::optional<std::int32_t> audioLoraRank = std::nullopt);
  bool operator==(const EngineConfig&) const = default;
};

struct BenchmarkInfo {
  double initTimeInSecond = 0;
  double timeToFirstTokenInSecond = 0;
  std::int64_t lastPrefillTokenCount = 0;
  std::int64_t lastDecodeTokenCount = 0;
  double lastPrefillTokensPerSecond = 0;
  double lastDecodeTokensPerSecond = 0;
  bool operator==(const BenchmarkInfo&) const = default;
};

struct SupportedModalities {
  bool text = false;
  bool vision = false;
  bool audio = false;
  bool video = false;
  bool operator==(const SupportedModalities&) const = default;
};

struct SamplerParameters {
  std::int32_t type = 0;
  float temperature = 0;
  std::int64_t topK = 0;
  float topP = 0;
  bool operator==(const SamplerParameters&) const = default;
};

// What a model file supports, read without creating an engine.
class Capabilities {
 public:
  // Absent when the runtime cannot load the file (or is not installed).
  static std::unique_ptr<Capabilities> create(const std::string& modelPath);
  ~Capabilities();
  Capabilities(const Capabilities&) = delete;
  Capabilities& operator=(const Capabilities&) = delete;

  bool hasSpeculativeDecodingSupport() const;
  bool supportsThinking() const;
  bool supportsFunctionCalling() const;
  SupportedModalities supportedModalities() const;
  SamplerParameters samplerParameters() const;
  std::int64_t maxVisionTokenBudget() const;

 private:
  Capabilities(const Api* api, LiteRtLmLoadedFile* handle) : api_(api), handle_(handle) {}
  const Api* api_;
  LiteRtLmLoadedFile* handle_;
};

struct SamplerConfig {
  std::int32_t topK;
  float topP;
  float temperature;
  std::int32_t seed;

  // Refuses, in this order: topK < 1, topP outside [0, 1], temperature < 0 (NaN
  // counts as outside the range), as config errors.
  SamplerConfig(std::int32_t topK, float topP, float temperature, std::int32_t seed = 0);
  bool operator==(const SamplerConfig&) const = default;
};

struct ThinkingConfig {
  bool enableThinking = false;
  std::int32_t thinkingTokenBudget = -1;
  bool operator==(const ThinkingConfig&) const = default;
};

struct RepetitionPenaltyConfig {
  std::optional<float> repetitionPenalty;
  std::optional<float> presencePenalty;
  std::optional<float> frequencyPenalty;
  std::optional<std::int32_t> windowSize;
};

struct NoRepeatNgramConfig {
  std::optional<std::int32_t> noRepeatNgramSize;
  std::optional<std::int32_t> windowSize;
};

struct SuppressTokensConfig {
  std::vector<std::int32_t> suppressTokens;
};

struct ConversationConfig {
  std::optional<Message> systemMessage;  // always of role system once stored
  std::vector<Message> initialMessages;
  ToolList tools;
  std::optional<SamplerConfig> samplerConfig;
  std::optional<std::string> loraPath;
  std::optional<std::string> audioLoraPath;
  bool enableToolCallStreaming = false;
  std::optional<ThinkingConfig> thinkingConfig;
  bool automaticToolCalling = true;
  bool enableResponseFormat = false;
  std::optional<std::int32_t> visualTokenBudget;

  // The defaults a conversation gets when none is given.
  ConversationConfig() = default;
  // Stores every field; a system message with no text is dropped, and one of
  // another role becomes a system message with the same parts and channels.
  ConversationConfig(std::optional<Message> systemMessage, std::vector<Message> initialMessages, ToolList tools,
                     std::optional<SamplerConfig> samplerConfig, std::optional<std::string> loraPath,
                     std::optional<std::string> audioLoraPath, bool enableToolCallStreaming,
                     std::optional<ThinkingConfig> thinkingConfig, bool automaticToolCalling, bool enableResponseFormat,
                     std::optional<std::int32_t> visualTokenBudget);
};

}  // namespace litertlm
