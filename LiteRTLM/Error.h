#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <variant>

namespace litertlm {

// The one error type of the module: one case per area, each carrying a nested
// kind with the detail. what() is the user-facing description.
class LiteRTLMError : public std::exception {
 public:
  enum class EngineError {
    alreadyInitialized,
    failedToCreateSettings,
    failedToCreateEngine,
    notInitialized,
    failedToCreateSessionConfig,
    failedToCreateConversationConfig,
    failedToCreateConversation,
    failedToSetLoraPath,
    failedToSetAudioLoraPath,
    failedToSetSupportedLoraRanks,
    failedToSetSupportedAudioLoraRanks,
    notOptedIntoExperimentalAPIs,
    failedToUpdateGPUEnableMetalResidencySet,
  };

  enum class EmbeddingEngineError {
    alreadyInitialized,
    failedToCreateSettings,
    failedToCreateEngine,
    notInitialized,
    failedToCreateInputData,
    failedToComputeEmbedding,
    failedToComputeEmbeddingBatch,
  };

  struct ConversationError {
    enum class Kind {
      invalidResponse,                 // text
      recurringToolCallLimitExceeded,  // number (limit)
      failedToStartStream,             // number (status)
      invalidJson,                     // text
      toolExecutionError,              // name, text (the tool's error)
      notAlive,
      failedToSerializeMessage,
      benchmarkNotEnabled,
      benchmarkInfoUnavailable,
      responseFormatNotEnabled,
    };
    Kind kind;
    std::string text;
    std::int64_t number = 0;
    std::string name;

    static ConversationError invalidResponse(std::string t) { return {Kind::invalidResponse, std::move(t), 0, {}}; }
    static ConversationError recurringToolCallLimitExceeded(std::int64_t limit) {
      return {Kind::recurringToolCallLimitExceeded, {}, limit, {}};
    }
    static ConversationError failedToStartStream(std::int64_t status) {
      return {Kind::failedToStartStream, {}, status, {}};
    }
    static ConversationError invalidJson(std::string t) { return {Kind::invalidJson, std::move(t), 0, {}}; }
    static ConversationError toolExecutionError(std::string toolName, std::string error) {
      return {Kind::toolExecutionError, std::move(error), 0, std::move(toolName)};
    }
    static ConversationError of(Kind k) { return {k, {}, 0, {}}; }
    bool operator==(const ConversationError&) const = default;
    std::string description() const;
  };

  struct ConfigError {
    enum class Kind {
      invalidMaxNumImages,  // number (count, not shown)
      invalidJsonSchema,    // text
      invalidMaxNumTokens,
      invalidTopK,
      invalidTopP,
      invalidTemperature,
      multipleSystemMessages,
    };
    Kind kind;
    std::string text;
    std::int64_t number = 0;

    static ConfigError invalidMaxNumImages(std::int64_t count) { return {Kind::invalidMaxNumImages, {}, count}; }
    static ConfigError invalidJsonSchema(std::string t) { return {Kind::invalidJsonSchema, std::move(t), 0}; }
    static ConfigError of(Kind k) { return {k, {}, 0}; }
    bool operator==(const ConfigError&) const = default;
    std::string description() const;
  };

  struct ToolError {
    std::string name;  // the one case: notFound(name)
    static ToolError notFound(std::string n) { return {std::move(n)}; }
    bool operator==(const ToolError&) const = default;
    std::string description() const;
  };

  enum class MessageError { failedToConvertToJson, invalidContent };

  using Payload =
      std::variant<EngineError, EmbeddingEngineError, ConversationError, ConfigError, ToolError, MessageError>;
  // The cases, in the order of Payload's alternatives.
  enum class Case { engine, embeddingEngine, conversation, config, tool, message };

  LiteRTLMError(EngineError e) : payload_(e) { init(); }
  LiteRTLMError(EmbeddingEngineError e) : payload_(e) { init(); }
  LiteRTLMError(ConversationError e) : payload_(std::move(e)) { init(); }
  LiteRTLMError(ConversationError::Kind k) : payload_(ConversationError::of(k)) { init(); }
  LiteRTLMError(ConfigError e) : payload_(std::move(e)) { init(); }
  LiteRTLMError(ConfigError::Kind k) : payload_(ConfigError::of(k)) { init(); }
  LiteRTLMError(ToolError e) : payload_(std::move(e)) { init(); }
  LiteRTLMError(MessageError e) : payload_(e) { init(); }

  Case errorCase() const { return static_cast<Case>(payload_.index()); }
  const Payload& payload() const { return payload_; }
  const std::string& description() const { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

  bool operator==(const LiteRTLMError& other) const { return payload_ == other.payload_; }

 private:
  void init();
  Payload payload_;
  std::string description_;
};

std::string description(LiteRTLMError::EngineError e);
std::string description(LiteRTLMError::EmbeddingEngineError e);
std::string description(LiteRTLMError::MessageError e);

}  // namespace litertlm
