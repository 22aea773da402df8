#include "LiteRTLM/Engine.h"

#include "LiteRTLM/Conversation.h"
#include "LiteRTLM/Error.h"
#include "LiteRTLM/ExperimentalFlags.h"
#include "LiteRTLM/Log.h"
#include "LiteRTLM/Native.h"
#include "LiteRTLM/Runtime.h"

#include <climits>

namespace litertlm {

using EE = LiteRTLMError::EngineError;

std::shared_ptr<Engine> Engine::create(EngineConfig config) {
  return std::shared_ptr<Engine>(new Engine(std::move(config)));
}

Engine::~Engine() {
  if (handle_) {
    LiteRtLmEngine* handle = handle_;
    handle_ = nullptr;
    api_->engine_delete(handle);
  }
}

EngineConfig Engine::engineConfig() const {
  std::lock_guard lock(mutex_);
  return config_;
}

void Engine::setEngineConfig(EngineConfig config) {
  std::lock_guard lock(mutex_);
  config_ = std::move(config);
}

bool Engine::isInitialized() const {
  std::lock_guard lock(mutex_);
  return handle_ != nullptr;
}

void Engine::initialize(std::optional<std::int32_t> prefillTokens, std::optional<std::int32_t> decodeTokens) {
  std::lock_guard lock(mutex_);
  if (handle_) throw LiteRTLMError(EE::alreadyInitialized);
  const Api* api = Runtime::api();
  if (!api) throw LiteRTLMError(EE::failedToCreateEngine);

  const std::string main = config_.backend.name();
  const std::optional<std::string> vision =
      config_.visionBackend ? std::optional(config_.visionBackend->name()) : std::nullopt;
  const std::optional<std::string> audio =
      config_.audioBackend ? std::optional(config_.audioBackend->name()) : std::nullopt;
  auto settings = own(api->engine_settings_create(config_.modelPath.c_str(), main.c_str(),
                                                  vision ? vision->c_str() : nullptr, audio ? audio->c_str() : nullptr),
                      api->engine_settings_delete);
  if (!settings) throw LiteRTLMError(EE::failedToCreateSettings);

  if (config_.maxNumTokens) api->engine_settings_set_max_num_tokens(settings.get(), *config_.maxNumTokens);
  if (config_.cacheDir) api->engine_settings_set_cache_dir(settings.get(), config_.cacheDir->c_str());
  if (config_.loraRank) {
    const std::int32_t rank = *config_.loraRank;
    api->engine_settings_set_lora_rank(settings.get(), rank);
    if (rank >= 1 && api->engine_settings_set_supported_lora_ranks(settings.get(), &rank, 1) != 0) {
      throw LiteRTLMError(EE::failedToSetSupportedLoraRanks);
    }
  }
  if (config_.audioLoraRank) {
    const std::int32_t rank = *config_.audioLoraRank;
    api->engine_settings_set_audio_lora_rank(settings.get(), rank);
    if (rank >= 1 && api->engine_settings_set_supported_audio_lora_ranks(settings.get(), &rank, 1) != 0) {
      throw LiteRTLMError(EE::failedToSetSupportedAudioLoraRanks);
    }
  }
  if (prefillTokens && decodeTokens) {
    api->engine_settings_enable_benchmark(settings.get());
    api->engine_settings_set_num_prefill_tokens(settings.get(), *prefillTokens);
    api->engine_settings_set_num_decode_tokens(settings.get(), *decodeTokens);
  } else if (ExperimentalFlags::enableBenchmark()) {
    api->engine_settings_enable_benchmark(settings.get());
  }
  if (auto v = ExperimentalFlags::enableSpeculativeDecoding()) {
    api->engine_settings_set_enable_speculative_decoding(settings.get(), *v);
  }
  if (auto v = ExperimentalFlags::maxVisionTokensPerImage()) {
    api->engine_settings_set_max_vision_tokens_per_image(settings.get(), *v);
  }
  if (auto v = ExperimentalFlags::gpuEnableMetalResidencySet()) {
    api->engine_settings_set_gpu_enable_metal_residency_set(settings.get(), *v);
  }

  LiteRtLmEngine* engine = api->engine_create(settings.get());
  if (!engine) throw LiteRTLMError(EE::failedToCreateEngine);
  api_ = api;
  handle_ = engine;
}

std::shared_ptr<Conversation> Engine::createConversation(std::optional<ConversationConfig> configuration) {
  std::lock_guard lock(mutex_);
  if (!handle_) throw LiteRTLMError(EE::notInitialized);
  const Api* api = api_;
  const ConversationConfig config = configuration ? std::move(*configuration) : ConversationConfig();

  int systemCount = 0;
  for (const Message& m : config.initialMessages) systemCount += m.role() == Role::system ? 1 : 0;
  if ((config.systemMessage && systemCount >= 1) || systemCount >= 2) {
    throw LiteRTLMError(LiteRTLMError::ConfigError::Kind::multipleSystemMessages);
  }

  auto toolManager = std::make_unique<ToolManager>(config.tools);
  const std::string toolsText = toolManager->toolsJsonDescription();

  // The system message goes over as the list of its parts, not the whole object.
  std::string systemText;
  if (config.systemMessage) {
    Json parts = Json::array();
    for (const Content& c : config.systemMessage->contents()) parts.push_back(c.toJson());
    try {
      systemText = dumpJson(parts).value_or(std::string());
    } catch (const std::exception&) {
      systemText.clear();
    }
  }
  std::string messagesText;
  if (!config.initialMessages.empty()) {
    Json list = Json::array();
    for (const Message& m : config.initialMessages) list.push_back(m.toJson());
    try {
      messagesText = dumpJson(list).value_or(std::string());
    } catch (const std::exception&) {
      messagesText.clear();
    }
  }

  auto session = own(api->session_config_create(), api->session_config_delete);
  if (!session) throw LiteRTLMError(EE::failedToCreateSessionConfig);
  if (config.samplerConfig) {
    auto sampler = own(api->sampler_params_create(2), api->sampler_params_delete);
    if (!sampler) throw LiteRTLMError(EE::failedToCreateSessionConfig);
    api->sampler_params_set_top_k(sampler.get(), config.samplerConfig->topK);
    api->sampler_params_set_top_p(sampler.get(), config.samplerConfig->topP);
    api->sampler_params_set_temperature(sampler.get(), config.samplerConfig->temperature);
    api->sampler_params_set_seed(sampler.get(), config.samplerConfig->seed);
    api->session_config_set_sampler_params(session.get(), sampler.get());
  }
  if (config.loraPath && api->session_config_set_lora_path(session.get(), config.loraPath->c_str()) != 0) {
    throw LiteRTLMError(EE::failedToSetLoraPath);
  }
  if (config.audioLoraPath &&
      api->session_config_set_audio_lora_path(session.get(), config.audioLoraPath->c_str()) != 0) {
    throw LiteRTLMError(EE::failedToSetAudioLoraPath);
  }

  // Declared after the session configuration, so it is deleted before it.
  auto conversationConfig = own(api->conversation_config_create(), api->conversation_config_delete);
  if (!conversationConfig) throw LiteRTLMError(EE::failedToCreateConversationConfig);
  LiteRtLmConversationConfig* cc = conversationConfig.get();
  api->conversation_config_set_session_config(cc, session.get());
  if (!systemText.empty()) api->conversation_config_set_system_message(cc, systemText.c_str());
  if (!toolsText.empty()) api->conversation_config_set_tools(cc, toolsText.c_str());
  if (!messagesText.empty()) api->conversation_config_set_messages(cc, messagesText.c_str());
  if (config.enableResponseFormat) {
    api->conversation_config_set_constraint_provider(cc, 1);
    api->conversation_config_set_enable_constrained_decoding(cc, true);
  } else {
    api->conversation_config_set_enable_constrained_decoding(cc, ExperimentalFlags::enableConstrainedDecoding());
  }
  const std::string streamKey = ExperimentalFlags::toolCallStreamKey();
  api->conversation_config_set_stream_tool_calls(
      cc, ExperimentalFlags::streamToolCalls() && config.enableToolCallStreaming, streamKey.c_str());
  if (auto filter = ExperimentalFlags::filterChannelContentFromKvCache()) {
    api->conversation_config_set_filter_channel_content_from_kv_cache(cc, *filter);
  }
  if (config.thinkingConfig) {
    auto thinking = own(api->thinking_config_create(), api->thinking_config_delete);
    if (!thinking) throw LiteRTLMError(EE::failedToCreateConversationConfig);
    api->thinking_config_set_enable_thinking(thinking.get(), config.thinkingConfig->enableThinking);
    api->thinking_config_set_thinking_token_budget(thinking.get(), config.thinkingConfig->thinkingTokenBudget);
    api->conversation_config_set_thinking_config(cc, thinking.get());
  }

  LiteRtLmConversation* handle = api->conversation_create(handle_, cc);
  if (!handle) throw LiteRTLMError(EE::failedToCreateConversation);
  return std::shared_ptr<Conversation>(new Conversation(api, handle, std::move(toolManager),
                                                        config.automaticToolCalling, shared_from_this(),
                                                        config.enableResponseFormat, config.visualTokenBudget));
}

void Engine::updateGPUEnableMetalResidencySet(bool enable) {
  if (!ExperimentalFlags::isOptedIn()) {
    Log::error(Log::kMainSubsystem, "Engine", "LiteRTLM: Must opt into experimental APIs before calling this method.");
    throw LiteRTLMError(EE::notOptedIntoExperimentalAPIs);
  }
  std::lock_guard lock(mutex_);
  if (!handle_) throw LiteRTLMError(EE::notInitialized);
  if (api_->experimental_engine_update_gpu_enable_metal_residency_set(handle_, enable) != 0) {
    throw LiteRTLMError(EE::failedToUpdateGPUEnableMetalResidencySet);
  }
}

BenchmarkInfo Engine::benchmark(const std::string& modelPath, Backend backend, std::optional<Backend> visionBackend,
                                std::optional<Backend> audioBackend, std::int32_t prefillTokens,
                                std::int32_t decodeTokens, std::optional<std::string> cacheDir,
                                const std::string& inputText) {
  ExperimentalFlags::optIntoExperimentalAPIs();
  const bool remembered = ExperimentalFlags::enableBenchmark();
  ExperimentalFlags::setEnableBenchmark(true);
  struct Restore {
    bool value;
    ~Restore() { ExperimentalFlags::setEnableBenchmark(value); }
  } restore{remembered};

  const std::int64_t total = std::int64_t(prefillTokens) + std::int64_t(decodeTokens) + 32;
  // A sum beyond 32 bits cannot reach the runtime either.
  if (total <= 0 || total > INT32_MAX) {
    throw LiteRTLMError(LiteRTLMError::ConfigError::Kind::invalidMaxNumTokens);
  }
  auto engine = Engine::create(EngineConfig(modelPath, backend, visionBackend, audioBackend,
                                            static_cast<std::int32_t>(total), std::move(cacheDir)));
  engine->initialize(prefillTokens, decodeTokens);
  auto conversation = engine->createConversation();
  conversation->sendMessage(Message(Role::user, inputText));
  return conversation->getBenchmarkInfo();
}

}  // namespace litertlm
