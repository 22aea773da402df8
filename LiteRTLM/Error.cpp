#include "LiteRTLM/Error.h"

namespace litertlm {

using E = LiteRTLMError;

std::string description(E::EngineError e) {
  switch (e) {
    case E::EngineError::alreadyInitialized: return "Engine is already initialized.";
    case E::EngineError::failedToCreateSettings: return "Failed to create engine settings.";
    case E::EngineError::failedToCreateEngine: return "Failed to create engine.";
    case E::EngineError::notInitialized: return "Engine is not initialized.";
    case E::EngineError::failedToCreateSessionConfig: return "Failed to create session config.";
    case E::EngineError::failedToCreateConversationConfig: return "Failed to create conversation config.";
    case E::EngineError::failedToCreateConversation: return "Failed to create conversation.";
    case E::EngineError::failedToSetLoraPath: return "Failed to set LoRA path.";
    case E::EngineError::failedToSetAudioLoraPath: return "Failed to set Audio LoRA path.";
    case E::EngineError::failedToSetSupportedLoraRanks: return "Failed to set supported LoRA ranks.";
    case E::EngineError::failedToSetSupportedAudioLoraRanks: return "Failed to set supported Audio LoRA ranks.";
    case E::EngineError::notOptedIntoExperimentalAPIs:
      return "Must opt into experimental APIs by calling `ExperimentalFlags.optIntoExperimentalAPIs()` before "
             "calling this method.";
    case E::EngineError::failedToUpdateGPUEnableMetalResidencySet:
      return "Failed to update GPU enable Metal residency set.";
  }
  return {};
}

std::string description(E::EmbeddingEngineError e) {
  switch (e) {
    case E::EmbeddingEngineError::alreadyInitialized: return "EmbeddingEngine is already initialized.";
    case E::EmbeddingEngineError::failedToCreateSettings: return "Failed to create embedding engine settings.";
    case E::EmbeddingEngineError::failedToCreateEngine: return "Failed to create embedding engine.";
    case E::EmbeddingEngineError::notInitialized: return "EmbeddingEngine is not initialized.";
    case E::EmbeddingEngineError::failedToCreateInputData: return "Failed to create input data for embedding.";
    case E::EmbeddingEngineError::failedToComputeEmbedding: return "Failed to compute embedding.";
    case E::EmbeddingEngineError::failedToComputeEmbeddingBatch: return "Failed to compute embedding batch.";
  }
  return {};
}

std::string description(E::MessageError e) {
  switch (e) {
    case E::MessageError::failedToConvertToJson: return "Failed to convert Message to JSON string.";
    case E::MessageError::invalidContent: return "No content found in JSON string. Cannot create Message.";
  }
  return {};
}

std::string E::ConversationError::description() const {
  switch (kind) {
    case Kind::invalidResponse: return "Invalid response from native layer: " + text;
    case Kind::recurringToolCallLimitExceeded: return "Exceeded recurring tool call limit of " + std::to_string(number);
    case Kind::failedToStartStream: return "Failed to start stream. Status: " + std::to_string(number);
    case Kind::invalidJson: return "Invalid JSON: " + text;
    case Kind::toolExecutionError: return "Error processing tool call " + name + ": " + text;
    case Kind::notAlive: return "Conversation is not alive.";
    case Kind::failedToSerializeMessage: return "Failed to serialize message to JSON string.";
    case Kind::benchmarkNotEnabled:
      return "Benchmark flag is not enabled. Please enable the flag by setting setting "
             "ExperimentalFlags.enableBenchmark to true before initializing the Engine.";
    case Kind::benchmarkInfoUnavailable: return "Failed to get benchmark info.";
    case Kind::responseFormatNotEnabled:
      return "responseFormat cannot be used unless enableResponseFormat=true was passed to ConversationConfig.";
  }
  return {};
}

std::string E::ConfigError::description() const {
  switch (kind) {
    case Kind::invalidMaxNumImages:
      return "maxNumImages must be non-negative or nil (use the default from model or engine).";
    case Kind::invalidJsonSchema: return "Invalid JSON schema: " + text;
    case Kind::invalidMaxNumTokens:
      return "maxNumTokens must be positive or nil (use the default from model or engine).";
    case Kind::invalidTopK: return "topK should be positive.";
    case Kind::invalidTopP: return "topP not between 0 and 1";
    case Kind::invalidTemperature: return "temperature should be non-negative";
    case Kind::multipleSystemMessages:
      return "Cannot set both systemMessage and have system messages in initialMessages.";
  }
  return {};
}

std::string E::ToolError::description() const { return "Tool '" + name + "' not found."; }

void LiteRTLMError::init() {
  description_ = std::visit(
      [](const auto& p) -> std::string {
        using P = std::decay_t<decltype(p)>;
        if constexpr (std::is_enum_v<P>) {
          return litertlm::description(p);
        } else {
          return p.description();
        }
      },
      payload_);
}

}  // namespace litertlm
