#include "LiteRTLM/Config.h"

#include "LiteRTLM/Error.h"
#include "LiteRTLM/Runtime.h"

#include <cmath>

namespace litertlm {

std::optional<Backend> Backend::fromName(const std::string& name) {
  if (name == "cpu") return Backend::cpu();
  if (name == "gpu") return Backend::gpu();
  return std::nullopt;
}

EngineConfig::EngineConfig(std::string modelPath_, Backend backend_, std::optional<Backend> visionBackend_,
                           std::optional<Backend> audioBackend_, std::optional<std::int32_t> maxNumTokens_,
                           std::optional<std::string> cacheDir_, std::optional<std::int32_t> loraRank_,
                           std::optional<std::int32_t> audioLoraRank_)
    : modelPath(std::move(modelPath_)),
      backend(backend_),
      visionBackend(visionBackend_),
      audioBackend(audioBackend_),
      maxNumTokens(maxNumTokens_),
      cacheDir(std::move(cacheDir_)),
      loraRank(loraRank_),
      audioLoraRank(audioLoraRank_) {
  if (maxNumTokens && *maxNumTokens <= 0) {
    throw LiteRTLMError(LiteRTLMError::ConfigError::Kind::invalidMaxNumTokens);
  }
}

std::unique_ptr<Capabilities> Capabilities::create(const std::string& modelPath) {
  const Api* api = Runtime::api();
  if (!api) return nullptr;
  LiteRtLmLoadedFile* handle = api->loaded_file_create(modelPath.c_str());
  if (!handle) return nullptr;
  return std::unique_ptr<Capabilities>(new Capabilities(api, handle));
}

Capabilities::~Capabilities() { api_->loaded_file_delete(handle_); }

bool Capabilities::hasSpeculativeDecodingSupport() const {
  return api_->loaded_file_has_speculative_decoding_support(handle_);
}
bool Capabilities::supportsThinking() const { return api_->loaded_file_supports_thinking(handle_); }
bool Capabilities::supportsFunctionCalling() const { return api_->loaded_file_supports_function_calling(handle_); }

SupportedModalities Capabilities::supportedModalities() const {
  SupportedModalities m;
  m.text = api_->loaded_file_supports_input_modality(handle_, 0);
  m.vision = api_->loaded_file_supports_input_modality(handle_, 1);
  m.audio = api_->loaded_file_supports_input_modality(handle_, 2);
  m.video = api_->loaded_file_supports_input_modality(handle_, 3);
  return m;
}

SamplerParameters Capabilities::samplerParameters() const {
  SamplerParameters p;
  p.type = api_->loaded_file_get_sampler_type(handle_);
  p.temperature = api_->loaded_file_get_sampler_temperature(handle_);
  p.topK = api_->loaded_file_get_sampler_top_k(handle_);
  p.topP = api_->loaded_file_get_sampler_top_p(handle_);
  return p;
}

std::int64_t Capabilities::maxVisionTokenBudget() const {
  return api_->loaded_file_get_max_vision_token_budget(handle_);
}

SamplerConfig::SamplerConfig(std::int32_t topK_, float topP_, float temperature_, std::int32_t seed_)
    : topK(topK_), topP(topP_), temperature(temperature_), seed(seed_) {
  using K = LiteRTLMError::ConfigError::Kind;
  if (topK < 1) throw LiteRTLMError(K::invalidTopK);
  // Written so that NaN fails too: it compares false with everything.
  if (!(topP >= 0.0f && topP <= 1.0f)) throw LiteRTLMError(K::invalidTopP);
  if (!(temperature >= 0.0f)) throw LiteRTLMError(K::invalidTemperature);
}

ConversationConfig::ConversationConfig(std::optional<Message> systemMessage_, std::vector<Message> initialMessages_,
                                       ToolList tools_, std::optional<SamplerConfig> samplerConfig_,
                                       std::optional<std::string> loraPath_, std::optional<std::string> audioLoraPath_,
                                       bool enableToolCallStreaming_, std::optional<ThinkingConfig> thinkingConfig_,
                                       bool automaticToolCalling_, bool enableResponseFormat_,
                                       std::optional<std::int32_t> visualTokenBudget_)
    : initialMessages(std::move(initialMessages_)),
      tools(std::move(tools_)),
      samplerConfig(samplerConfig_),
      loraPath(std::move(loraPath_)),
      audioLoraPath(std::move(audioLoraPath_)),
      enableToolCallStreaming(enableToolCallStreaming_),
      thinkingConfig(thinkingConfig_),
      automaticToolCalling(automaticToolCalling_),
      enableResponseFormat(enableResponseFormat_),
      visualTokenBudget(visualTokenBudget_) {
  if (!systemMessage_ || systemMessage_->text().empty()) return;
  if (systemMessage_->role() == Role::system) {
    systemMessage = std::move(systemMessage_);
  } else {
    systemMessage = Message(Role::system, systemMessage_->contents(), systemMessage_->channels(), {});
  }
}

}  // namespace litertlm
