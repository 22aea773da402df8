// The language-model runtime wrapper against the scripted runtime library.
#include "FakeLiteRtLm.h"

#include "LiteRTLM/Config.h"
#include "LiteRTLM/Conversation.h"
#include "LiteRTLM/EmbeddingEngine.h"
#include "LiteRTLM/Engine.h"
#include "LiteRTLM/Error.h"
#include "LiteRTLM/ExperimentalFlags.h"
#include "LiteRTLM/Log.h"
#include "LiteRTLM/Message.h"
#include "LiteRTLM/Runtime.h"
#include "LiteRTLM/Tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <mutex>
#include <thread>

using namespace litertlm;
namespace fake = fake_litert_lm;
using E = LiteRTLMError;
using CE = LiteRTLMError::ConversationError;
using CK = LiteRTLMError::ConversationError::Kind;

namespace {

std::string writeImage() {
  const std::string path = std::string(std::getenv("MUREL_TEST_ROOT")) + "/image.png";
  std::ofstream(path, std::ios::binary) << "PNG";
  return path;
}

template <class F>
std::optional<LiteRTLMError> errorOf(F&& f) {
  try {
    f();
  } catch (const LiteRTLMError& e) {
    return e;
  }
  return std::nullopt;
}

std::string toolCallReply(const std::string& name, const std::string& args = "{}") {
  return R"({"role":"assistant","tool_calls":[{"id":"c1","type":"function","function":{"name":")" + name +
         R"(","arguments":)" + args + "}}]}";
}

class LiteRtLm : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    litertlm::Runtime::setLibraryPath(FAKE_LITERT_LM_PATH);
    ExperimentalFlags::resetForTesting();
    Log::setSink([this](Log::Level level, const std::string& subsystem, const std::string& category,
                        const std::string& message) {
      std::lock_guard lock(logMutex);
      logLines.push_back((level == Log::Level::Error ? "E " : "I ") + subsystem + " " + category + " " + message);
    });
  }
  void TearDown() override {
    // A follow-up thread of a finished stream may still be letting go of its context.
    for (int i = 0; i < 400 && Conversation::liveStreamContexts() > 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    fake::joinStreams();
    Log::setSink({});
    ExperimentalFlags::resetForTesting();
    EXPECT_EQ(fake::liveHandles(), 0) << "a runtime handle outlived its owner";
    EXPECT_EQ(Conversation::liveStreamContexts(), 0);
  }

  std::vector<std::string> logged() {
    std::lock_guard lock(logMutex);
    return logLines;
  }

  static std::shared_ptr<Engine> readyEngine() {
    auto engine = Engine::create(EngineConfig("/models/m.litertlm", Backend::gpu()));
    engine->initialize();
    return engine;
  }

  std::mutex logMutex;
  std::vector<std::string> logLines;
};

// A tool with a defaulted, an optional and a required parameter.
class CountTool : public ToolBase<CountTool> {
 public:
  ToolParam<std::int64_t> maxCount{"_maxCount", 3, "How many"};
  ToolParam<std::optional<std::string>> label{"label", "A label"};
  ToolParam<std::string> ABCValue{"ABCValue", ""};
  std::string name() const override { return "countThings"; }
  std::string description() const override { return "Counts things."; }
  std::vector<ToolParamProtocol*> parameters() override { return {&maxCount, &label, &ABCValue}; }
  Json run() override { return {{"count", *maxCount}, {"label", label.get().value_or("none")}, {"code", *ABCValue}}; }
};

class SilentTool : public ToolBase<SilentTool> {
 public:
  std::string name() const override { return "ping"; }
  std::string description() const override { return "Pings."; }
  std::vector<ToolParamProtocol*> parameters() override { return {}; }
  Json run() override { return nullptr; }
};

}  // namespace

namespace litertlm {
void PrintTo(const LiteRTLMError& e, std::ostream* os) { *os << e.description(); }
}  // namespace litertlm

// ---- errors -----------------------------------------------------------------

TEST(LiteRTLMErrorTexts, EveryCaseReadsItsText) {
  using EE = E::EngineError;
  using BE = E::EmbeddingEngineError;
  using FK = E::ConfigError::Kind;
  const std::vector<std::pair<E, std::string>> table = {
      {EE::alreadyInitialized, "Engine is already initialized."},
      {EE::failedToCreateSettings, "Failed to create engine settings."},
      {EE::failedToCreateEngine, "Failed to create engine."},
      {EE::notInitialized, "Engine is not initialized."},
      {EE::failedToCreateSessionConfig, "Failed to create session config."},
      {EE::failedToCreateConversationConfig, "Failed to create conversation config."},
      {EE::failedToCreateConversation, "Failed to create conversation."},
      {EE::failedToSetLoraPath, "Failed to set LoRA path."},
      {EE::failedToSetAudioLoraPath, "Failed to set Audio LoRA path."},
      {EE::failedToSetSupportedLoraRanks, "Failed to set supported LoRA ranks."},
      {EE::failedToSetSupportedAudioLoraRanks, "Failed to set supported Audio LoRA ranks."},
      {EE::notOptedIntoExperimentalAPIs,
       "Must opt into experimental APIs by calling `ExperimentalFlags.optIntoExperimentalAPIs()` before calling "
       "this method."},
      {EE::failedToUpdateGPUEnableMetalResidencySet, "Failed to update GPU enable Metal residency set."},
      {BE::alreadyInitialized, "EmbeddingEngine is already initialized."},
      {BE::failedToCreateSettings, "Failed to create embedding engine settings."},
      {BE::failedToCreateEngine, "Failed to create embedding engine."},
      {BE::notInitialized, "EmbeddingEngine is not initialized."},
      {BE::failedToCreateInputData, "Failed to create input data for embedding."},
      {BE::failedToComputeEmbedding, "Failed to compute embedding."},
      {BE::failedToComputeEmbeddingBatch, "Failed to compute embedding batch."},
      {CE::invalidResponse("boom"), "Invalid response from native layer: boom"},
      {CE::recurringToolCallLimitExceeded(25), "Exceeded recurring tool call limit of 25"},
      {CE::failedToStartStream(-3), "Failed to start stream. Status: -3"},
      {CE::invalidJson("x"), "Invalid JSON: x"},
      {CE::toolExecutionError("lookup", "bad input"), "Error processing tool call lookup: bad input"},
      {CK::notAlive, "Conversation is not alive."},
      {CK::failedToSerializeMessage, "Failed to serialize message to JSON string."},
      {CK::benchmarkNotEnabled,
       "Benchmark flag is not enabled. Please enable the flag by setting setting ExperimentalFlags.enableBenchmark "
       "to true before initializing the Engine."},
      {CK::benchmarkInfoUnavailable, "Failed to get benchmark info."},
      {CK::responseFormatNotEnabled,
       "responseFormat cannot be used unless enableResponseFormat=true was passed to ConversationConfig."},
      {E::ConfigError::invalidMaxNumImages(-2),
       "maxNumImages must be non-negative or nil (use the default from model or engine)."},
      {E::ConfigError::invalidJsonSchema("{oops"), "Invalid JSON schema: {oops"},
      {FK::invalidMaxNumTokens, "maxNumTokens must be positive or nil (use the default from model or engine)."},
      {FK::invalidTopK, "topK should be positive."},
      {FK::invalidTopP, "topP not between 0 and 1"},
      {FK::invalidTemperature, "temperature should be non-negative"},
      {FK::multipleSystemMessages, "Cannot set both systemMessage and have system messages in initialMessages."},
      {E::ToolError::notFound("search"), "Tool 'search' not found."},
      {E::MessageError::failedToConvertToJson, "Failed to convert Message to JSON string."},
      {E::MessageError::invalidContent, "No content found in JSON string. Cannot create Message."},
  };
  for (const auto& [error, text] : table) {
    EXPECT_EQ(error.description(), text);
    EXPECT_STREQ(error.what(), text.c_str());
  }
  EXPECT_EQ(E(E::ToolError::notFound("a")), E(E::ToolError::notFound("a")));
  EXPECT_FALSE(E(E::ToolError::notFound("a")) == E(E::ToolError::notFound("b")));
  EXPECT_FALSE(E(EE::notInitialized) == E(BE::notInitialized));  // same name, different areas
  EXPECT_EQ(E(CK::notAlive).errorCase(), E::Case::conversation);
}

// ---- messages ---------------------------------------------------------------

TEST(MessageJson, WritesOnlyWhatTheMessageHas) {
  EXPECT_EQ(Message(Role::model, "ok").toJson(),
            Json::parse(R"({"role":"model","content":[{"type":"text","text":"ok"}]})"));

  const Message tool(Role::tool, Contents{Content::toolResponse("f", {{"a", 1}})});
  EXPECT_FALSE(tool.toJson()["content"][0].contains("id"));
  const Message withId(Role::tool, Contents{Content::toolResponse("f", 1, "call-1")});
  EXPECT_EQ(withId.toJson()["content"][0]["id"], "call-1");

  const Message calls(Role::model, {}, {}, {ToolCall{"f", "", {{"x", 2}}}});
  EXPECT_EQ(calls.toJson(), Json::parse(R"({"role":"model","tool_calls":[{"id":"","type":"function",
                                           "function":{"name":"f","arguments":{"x":2}}}]})"));
  EXPECT_FALSE(calls.toJson().contains("content"));  // left out when empty

  const Message media(Role::user, Contents{Content::imageBytes({0xff, 0x00, 0x41}), Content::audioFile("/a.wav")},
                      {{"thought", "hm"}}, {});
  EXPECT_EQ(media.toJson(), Json::parse(R"({"role":"user","channels":{"thought":"hm"},"content":[
      {"type":"image","blob":"/wBB"},{"type":"audio","path":"/a.wav"}]})"));
}

TEST(MessageJson, ReadsRepliesLeniently) {
  const Message hi = Message::fromJson(R"({"role":"assistant","content":[{"type":"text","text":"hi"}]})");
  EXPECT_EQ(hi, Message(Role::model, "hi"));

  struct Case {
    const char* json;
    std::optional<Message> expected;  // absent: invalidContent
  };
  const std::vector<Case> cases = {
      {R"({"role":"assistant","content":"plain string"})", std::nullopt},
      {R"({"role":"model","content":[]})", std::nullopt},
      {R"({"content":[{"type":"image","path":"/p.png","blob":"AAAA"}]})",
       Message(Role::user, Contents{Content::imageFile("/p.png")})},
      {R"({"role":"tool","content":[{"type":"image","blob":"not base64!"},{"type":"audio","blob":"AQI="}]})",
       Message(Role::tool, Contents{Content::audioBytes({1, 2})})},
      {R"({"role":"wizard","content":[{"type":"text"},{"type":"video","text":"x"},{"type":"text","text":"t"}]})",
       Message(Role::user, "t")},
      {R"({"role":7,"channels":{"a":"b","n":3},"tool_calls":[{"function":{"name":"f","arguments":{}}},
          {"function":{"name":"g"}}]})",
       Message(Role::user, {}, {{"a", "b"}}, {ToolCall{"f", "", Json::object()}})},
      {R"({"role":"system","content":[{"type":"tool_response","name":"f","response":[1],"id":5}]})",
       Message(Role::system, Contents{Content::toolResponse("f", Json::array({1}), "")})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    if (c.expected) {
      EXPECT_EQ(Message::fromJson(c.json), *c.expected);
    } else {
      EXPECT_EQ(errorOf([&] { Message::fromJson(c.json); }), E(E::MessageError::invalidContent));
    }
  }
  EXPECT_EQ(errorOf([] { Message::fromJson("[1]"); }), E(E::MessageError::failedToConvertToJson));
  EXPECT_THROW(Message::fromJson("{nope"), Json::parse_error);  // the parser's own error passes through
}

TEST(MessageJson, RoundTripsEveryPartKind) {
  const Message original(Role::model,
                         Contents{Content::makeText("a"), Content::imageBytes({1, 2, 3, 4}), Content::imageFile("/i"),
                                  Content::audioBytes({}), Content::audioFile("/s"),
                                  Content::toolResponse("f", {{"k", "v"}}, "id7"), Content::makeText("b")},
                         {{"c", "d"}}, {ToolCall{"g", "x", {{"n", 1}}}});
  EXPECT_EQ(Message::fromJson(original.toJsonString()), original);
  EXPECT_EQ(original.text(), "a b");
  EXPECT_THROW(Message(Role::user, Contents{}), std::invalid_argument);
}

// ---- configuration ----------------------------------------------------------

TEST(Configuration, ValidatesInItsOrder) {
  for (std::optional<std::int32_t> tokens : {std::optional<std::int32_t>(0), std::optional<std::int32_t>(-1)}) {
    EXPECT_EQ(errorOf([&] { EngineConfig("m", Backend::cpu(), {}, {}, tokens); }),
              E(E::ConfigError::Kind::invalidMaxNumTokens));
  }
  EXPECT_NO_THROW(EngineConfig("m", Backend::cpu(), {}, {}, 1));
  EXPECT_NO_THROW(EngineConfig("m", Backend::cpu()));

  using K = E::ConfigError::Kind;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    int topK;
    float topP;
    float temperature;
    std::optional<K> error;
  };
  const std::vector<Case> cases = {
      {0, 2.0f, -1.0f, K::invalidTopK}, {1, -0.1f, -1.0f, K::invalidTopP},        {1, 1.01f, 0.0f, K::invalidTopP},
      {1, nan, 0.0f, K::invalidTopP},   {1, 0.5f, -0.01f, K::invalidTemperature}, {1, 0.5f, nan, K::invalidTemperature},
      {1, 1.0f, 0.0f, std::nullopt},    {40, 0.0f, 2.0f, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.topK);
    const auto error = errorOf([&] { SamplerConfig(c.topK, c.topP, c.temperature, 0); });
    if (c.error) {
      EXPECT_EQ(error, E(*c.error));
    } else {
      EXPECT_FALSE(error);
    }
  }

  EXPECT_FALSE(Backend::cpu(4) == Backend::cpu());
  EXPECT_EQ(Backend::cpu(4).name(), Backend::cpu().name());
  EXPECT_EQ(Backend::fromName("gpu"), Backend::gpu());
  EXPECT_FALSE(Backend::fromName("npu"));
}

TEST(Configuration, NormalisesTheSystemMessage) {
  auto make = [](std::optional<Message> system) {
    return ConversationConfig(std::move(system), {}, {}, std::nullopt, std::nullopt, std::nullopt, false, std::nullopt,
                              true, false, std::nullopt);
  };
  const Message user(Role::user, Contents{Content::makeText("Be brief."), Content::imageFile("/x")}, {{"k", "v"}},
                     {ToolCall{"f", "", Json::object()}});
  const auto stored = make(user).systemMessage;
  ASSERT_TRUE(stored);
  EXPECT_EQ(*stored, Message(Role::system, user.contents(), user.channels(), {}));
  EXPECT_FALSE(make(Message(Role::system, "")).systemMessage);
  EXPECT_FALSE(make(Message(Role::user, Contents{Content::imageFile("/only-image")})).systemMessage);
  EXPECT_FALSE(make(std::nullopt).systemMessage);
}

TEST_F(LiteRtLm, ExperimentalFlagsNeedTheOptIn) {
  ExperimentalFlags::setEnableSpeculativeDecoding(true);
  EXPECT_FALSE(ExperimentalFlags::enableSpeculativeDecoding());
  EXPECT_EQ(ExperimentalFlags::toolCallStreamKey(), "tool_call");
  ExperimentalFlags::optIntoExperimentalAPIs();
  ExperimentalFlags::optIntoExperimentalAPIs();
  ExperimentalFlags::setEnableSpeculativeDecoding(true);
  EXPECT_EQ(ExperimentalFlags::enableSpeculativeDecoding(), true);
  EXPECT_EQ(logged(), (std::vector<std::string>{
                          "E com.murel.litertlm ExperimentalFlags LiteRTLM: Must opt into experimental APIs before "
                          "setting this flag.",
                          "I com.murel.litertlm ExperimentalFlags EXPERIMENTAL: LiteRTLM: Opting into experimental "
                          "APIs...."}));

  // Back to absent: the engine no longer touches the setting.
  ExperimentalFlags::setEnableSpeculativeDecoding(std::nullopt);
  readyEngine();
  EXPECT_EQ(fake::countOf("engine_settings_set_enable_speculative_decoding"), 0);
}

// ---- engine -----------------------------------------------------------------

TEST_F(LiteRtLm, InitializeHandsTheConfigurationToTheRuntime) {
  ExperimentalFlags::optIntoExperimentalAPIs();
  ExperimentalFlags::setEnableSpeculativeDecoding(true);
  auto engine =
      Engine::create(EngineConfig("/m.litertlm", Backend::gpu(), Backend::cpu(2), std::nullopt, 4096, "/cache", 0, 1));
  engine->initialize(128);  // one token count alone: no benchmark settings
  EXPECT_TRUE(engine->isInitialized());
  EXPECT_EQ(fake::callNames(),
            (std::vector<std::string>{
                "engine_settings_create", "engine_settings_set_max_num_tokens", "engine_settings_set_cache_dir",
                "engine_settings_set_lora_rank", "engine_settings_set_audio_lora_rank",
                "engine_settings_set_supported_audio_lora_ranks", "engine_settings_set_enable_speculative_decoding",
                "engine_create", "engine_settings_delete"}));
  EXPECT_EQ(fake::argsOf("engine_settings_create"), (std::vector<std::string>{"/m.litertlm,gpu,cpu,null"}));
  EXPECT_EQ(fake::argsOf("engine_settings_set_supported_audio_lora_ranks"), (std::vector<std::string>{"1,1"}));
  EXPECT_EQ(errorOf([&] { engine->initialize(); }), E(E::EngineError::alreadyInitialized));

  fake::reset();
  auto bench = Engine::create(EngineConfig("/m", Backend::cpu()));
  bench->initialize(10, 20);
  EXPECT_EQ(fake::callNames(),
            (std::vector<std::string>{"engine_settings_create", "engine_settings_enable_benchmark",
                                      "engine_settings_set_num_prefill_tokens", "engine_settings_set_num_decode_tokens",
                                      "engine_settings_set_enable_speculative_decoding", "engine_create",
                                      "engine_settings_delete"}));
}

TEST_F(LiteRtLm, WithoutTheRuntimeLibraryEngineCreationFails) {
  for (const char* path : {"/nonexistent/liblitert_lm.so", FAKE_LITERT_LM_INCOMPLETE_PATH}) {
    SCOPED_TRACE(path);
    litertlm::Runtime::setLibraryPath(path);
    auto engine = Engine::create(EngineConfig("/m", Backend::gpu()));
    EXPECT_EQ(errorOf([&] { engine->initialize(); }), E(E::EngineError::failedToCreateEngine));
    EXPECT_FALSE(engine->isInitialized());
    EXPECT_NE(litertlm::Runtime::unavailableReason().find(path), std::string::npos);
    EXPECT_FALSE(Capabilities::create("/m"));
  }
  EXPECT_NE(litertlm::Runtime::unavailableReason().find("litert_lm_conversation_cancel_process"), std::string::npos);
  litertlm::Runtime::setLibraryPath(FAKE_LITERT_LM_PATH);
  EXPECT_NO_THROW(readyEngine());
}

TEST_F(LiteRtLm, EveryFailedCreateReleasesWhatWasMade) {
  auto tool = std::make_shared<CountTool>();
  ConversationConfig full(Message(Role::system, "sys"), {Message(Role::user, "earlier")}, {tool},
                          SamplerConfig(1, 1.0f, 0.0f, 0), "/lora", "/audio-lora", true, ThinkingConfig{true, 64}, true,
                          true, 12);
  SendOptions options;
  options.extraContext = Json{{"k", "v"}};
  options.repetitionPenaltyConfig = RepetitionPenaltyConfig{1.1f, 0.1f, 0.2f, 64};
  options.noRepeatNgramConfig = NoRepeatNgramConfig{3, 32};
  options.suppressTokensConfig = SuppressTokensConfig{{1, 2}};
  options.maxOutputTokens = 100;
  options.thinkingConfig = ThinkingConfig{false, 0};
  options.responseFormat = ResponseFormat::regex("[a-z]+");

  auto run = [&] {
    auto engine = Engine::create(EngineConfig("/m", Backend::gpu(), Backend::cpu(), Backend::cpu(), 64, "/c", 2, 2));
    engine->initialize(1, 2);
    auto conversation = engine->createConversation(full);
    conversation->sendMessage(Message(Role::user, "hello"), options);
  };
  ASSERT_NO_THROW(run());
  EXPECT_EQ(fake::liveHandles(), 0);

  const std::vector<std::pair<std::string, E>> steps = {
      {"engine_settings_create", E::EngineError::failedToCreateSettings},
      {"engine_settings_set_supported_lora_ranks", E::EngineError::failedToSetSupportedLoraRanks},
      {"engine_settings_set_supported_audio_lora_ranks", E::EngineError::failedToSetSupportedAudioLoraRanks},
      {"engine_create", E::EngineError::failedToCreateEngine},
      {"session_config_create", E::EngineError::failedToCreateSessionConfig},
      {"sampler_params_create", E::EngineError::failedToCreateSessionConfig},
      {"session_config_set_lora_path", E::EngineError::failedToSetLoraPath},
      {"session_config_set_audio_lora_path", E::EngineError::failedToSetAudioLoraPath},
      {"conversation_config_create", E::EngineError::failedToCreateConversationConfig},
      {"thinking_config_create", E::EngineError::failedToCreateConversationConfig},
      {"conversation_create", E::EngineError::failedToCreateConversation},
      {"conversation_optional_args_create", CE::invalidResponse("Failed to create native optional arguments.")},
      {"repetition_penalty_config_create", CE::invalidResponse("Failed to create native repetition penalty config.")},
      {"no_repeat_ngram_config_create", CE::invalidResponse("Failed to create native no repeat ngram config.")},
      {"suppress_tokens_config_create", CE::invalidResponse("Failed to create native suppress tokens config.")},
      {"conversation_send_message", CE::invalidResponse("Native sendMessage returned null.")},
      {"json_response_get_string", CE::invalidResponse("Native get string for response returned null.")},
  };
  for (const auto& [step, error] : steps) {
    SCOPED_TRACE(step);
    fake::reset();
    fake::failCall(step, 1);
    EXPECT_EQ(errorOf(run), error);
    EXPECT_EQ(fake::liveHandles(), 0);
  }
}

TEST_F(LiteRtLm, ConversationConfigurationReachesTheRuntime) {
  auto engine = readyEngine();
  fake::reset();
  const Message system(Role::system, "Rewrite.");
  EXPECT_EQ(errorOf([&] {
              engine->createConversation(
                  ConversationConfig(system, {Message(Role::system, "x")}, {}, {}, {}, {}, false, {}, true, false, {}));
            }),
            E(E::ConfigError::Kind::multipleSystemMessages));
  EXPECT_EQ(errorOf([&] {
              engine->createConversation(ConversationConfig(std::nullopt,
                                                            {Message(Role::system, "x"), Message(Role::system, "y")},
                                                            {}, {}, {}, {}, false, {}, true, false, {}));
            }),
            E(E::ConfigError::Kind::multipleSystemMessages));
  EXPECT_EQ(fake::countOf("session_config_create"), 0);

  auto one = engine->createConversation(
      ConversationConfig(std::nullopt, {Message(Role::system, "x")}, {}, {}, {}, {}, false, {}, true, false, {}));
  EXPECT_EQ(fake::argsOf("conversation_config_set_messages"),
            (std::vector<std::string>{R"([{"content":[{"text":"x","type":"text"}],"role":"system"}])"}));

  fake::reset();
  auto conversation = engine->createConversation(ConversationConfig(
      system, {}, {}, SamplerConfig(1, 1.0f, 0.0f, 0), {}, {}, false, ThinkingConfig{false, -1}, true, true, {}));
  EXPECT_EQ(fake::argsOf("conversation_config_set_system_message"),
            (std::vector<std::string>{R"([{"text":"Rewrite.","type":"text"}])"}));
  EXPECT_EQ(fake::argsOf("sampler_params_create"), (std::vector<std::string>{"2"}));
  EXPECT_EQ(fake::argsOf("conversation_config_set_constraint_provider"), (std::vector<std::string>{"1"}));
  EXPECT_EQ(fake::argsOf("conversation_config_set_enable_constrained_decoding"), (std::vector<std::string>{"true"}));
  EXPECT_EQ(fake::argsOf("conversation_config_set_stream_tool_calls"), (std::vector<std::string>{"false,tool_call"}));
  EXPECT_EQ(fake::argsOf("conversation_config_set_tools"), (std::vector<std::string>{"[]"}));
  EXPECT_EQ(fake::argsOf("thinking_config_set_thinking_token_budget"), (std::vector<std::string>{"-1"}));
  // Deleted in this order once the conversation exists.
  const auto names = fake::callNames();
  EXPECT_EQ(std::vector<std::string>(names.end() - 2, names.end()),
            (std::vector<std::string>{"conversation_config_delete", "session_config_delete"}));

  auto defaults = engine->createConversation();
  EXPECT_TRUE(defaults->automaticToolCalling());
}

TEST_F(LiteRtLm, GpuResidencyUpdateNeedsTheOptInFirst) {
  auto engine = Engine::create(EngineConfig("/m", Backend::gpu()));
  EXPECT_EQ(errorOf([&] { engine->updateGPUEnableMetalResidencySet(true); }),
            E(E::EngineError::notOptedIntoExperimentalAPIs));
  ExperimentalFlags::optIntoExperimentalAPIs();
  EXPECT_EQ(errorOf([&] { engine->updateGPUEnableMetalResidencySet(true); }), E(E::EngineError::notInitialized));
  engine->initialize();
  fake::failCall("experimental_engine_update_gpu_enable_metal_residency_set", 1);
  EXPECT_EQ(errorOf([&] { engine->updateGPUEnableMetalResidencySet(true); }),
            E(E::EngineError::failedToUpdateGPUEnableMetalResidencySet));
  EXPECT_NO_THROW(engine->updateGPUEnableMetalResidencySet(false));
}

// ---- conversation -----------------------------------------------------------

TEST_F(LiteRtLm, SendDecodesTheReplyOrSaysWhyNot) {
  auto conversation = readyEngine()->createConversation();
  fake::pushReply(R"({"role":"assistant","content":[{"type":"text","text":"Hello"},{"type":"text","text":"there"}]})");
  EXPECT_EQ(conversation->sendMessage(Message(Role::user, "hi")).text(), "Hello there");
  EXPECT_EQ(fake::argsOf("conversation_send_message").back(),
            R"({"content":[{"text":"hi","type":"text"}],"role":"user"},null)");

  fake::pushReply(R"({"role":"assistant"})");
  EXPECT_EQ(errorOf([&] { conversation->sendMessage(Message(Role::user, "hi")); }),
            E(CE::invalidResponse(R"({"role":"assistant"})")));
  fake::pushReply(R"({"role":"assistant","content":[]})");
  EXPECT_EQ(errorOf([&] { conversation->sendMessage(Message(Role::user, "hi")); }), E(E::MessageError::invalidContent));
  fake::pushReply("[1,2]");
  EXPECT_EQ(errorOf([&] { conversation->sendMessage(Message(Role::user, "hi")); }),
            E(CE::invalidJson("Failed to parse native response JSON.")));
  // A reply with text and an empty tool list is an answer, not a request for tools.
  fake::pushReply(R"({"role":"assistant","content":[{"type":"text","text":"done"}],"tool_calls":[]})");
  EXPECT_EQ(conversation->sendMessage(Message(Role::user, "hi")).text(), "done");

  EXPECT_EQ(conversation->getTokenCount(), 42);
  EXPECT_EQ(conversation->renderPrefaceToString(), "<preface>");
  fake::failCall("conversation_render_message_to_string", 1);
  EXPECT_EQ(errorOf([&] { conversation->renderMessageToString(Message(Role::user, "x")); }),
            E(CE::invalidResponse("Failed to render message into string.")));
}

TEST_F(LiteRtLm, SendOptionsAreBuiltAndTheResponseFormatIsGated) {
  auto engine = readyEngine();
  auto plain = engine->createConversation();
  fake::reset();
  SendOptions withFormat;
  withFormat.responseFormat = ResponseFormat::regex("a+");
  EXPECT_EQ(errorOf([&] { plain->sendMessage(Message(Role::user, "x"), withFormat); }),
            E(CK::responseFormatNotEnabled));
  EXPECT_TRUE(fake::calls().empty());  // refused before anything native

  auto formatted = engine->createConversation(
      ConversationConfig(std::nullopt, {}, {}, {}, {}, {}, false, {}, true, true, std::nullopt));
  fake::reset();
  SendOptions all = withFormat;
  all.repetitionPenaltyConfig = RepetitionPenaltyConfig{std::nullopt, 0.5f, std::nullopt, 8};
  all.suppressTokensConfig = SuppressTokensConfig{};  // empty: not sent
  all.maxOutputTokens = 9;
  formatted->sendMessage(Message(Role::user, "x"), all);
  EXPECT_EQ(fake::callNames(),
            (std::vector<std::string>{
                "conversation_optional_args_create", "repetition_penalty_config_create",
                "repetition_penalty_config_set_presence_penalty", "repetition_penalty_config_set_window_size",
                "conversation_optional_args_set_repetition_penalty_config", "repetition_penalty_config_delete",
                "conversation_optional_args_set_max_output_tokens", "conversation_optional_args_set_constraint",
                "conversation_send_message", "json_response_get_string", "json_response_delete",
                "conversation_optional_args_delete"}));
  EXPECT_EQ(fake::argsOf("conversation_optional_args_set_constraint"), (std::vector<std::string>{"1,a+"}));

  // With tools on offer the constraint waits for the tool results.
  auto withTools = engine->createConversation(ConversationConfig(std::nullopt, {}, {std::make_shared<SilentTool>()}, {},
                                                                 {}, {}, false, {}, true, true, std::nullopt));
  fake::reset();
  fake::pushReply(toolCallReply("ping"));
  withTools->sendMessage(Message(Role::user, "x"), withFormat);
  EXPECT_EQ(fake::countOf("conversation_send_message"), 2);
  EXPECT_EQ(fake::countOf("conversation_optional_args_set_constraint"), 1);  // only on the tool message
}

TEST_F(LiteRtLm, ToolLoopStopsAtItsLimit) {
  auto engine = readyEngine();
  auto conversation = engine->createConversation(
      ConversationConfig(std::nullopt, {}, {std::make_shared<SilentTool>()}, {}, {}, {}, false, {}, true, false, {}));
  fake::reset();
  fake::setDefaultReply(toolCallReply("ping"));
  SendOptions thinking;
  thinking.thinkingConfig = ThinkingConfig{true, 5};
  EXPECT_EQ(errorOf([&] { conversation->sendMessage(Message(Role::user, "loop"), thinking); }),
            E(CE::recurringToolCallLimitExceeded(25)));
  const auto sends = fake::argsOf("conversation_send_message");
  ASSERT_EQ(sends.size(), 25u);  // the user message and 24 tool messages
  EXPECT_EQ(sends[1], R"({"content":[{"name":"ping","response":"","type":"tool_response"}],"role":"tool"},null)");
  EXPECT_EQ(fake::countOf("conversation_optional_args_set_thinking_config"), 1);  // not on tool messages

  fake::reset();
  fake::pushReply(toolCallReply("nosuch"));
  EXPECT_EQ(errorOf([&] { conversation->sendMessage(Message(Role::user, "x")); }),
            E(CE::toolExecutionError("nosuch", "Tool 'nosuch' not found.")));
  EXPECT_EQ(fake::countOf("conversation_send_message"), 1);

  // Without automatic tool calling the caller gets the calls.
  auto manual = engine->createConversation(
      ConversationConfig(std::nullopt, {}, {std::make_shared<SilentTool>()}, {}, {}, {}, false, {}, false, false, {}));
  fake::pushReply(toolCallReply("ping", R"({"n":1})"));
  const Message reply = manual->sendMessage(Message(Role::user, "x"));
  ASSERT_EQ(reply.toolCalls().size(), 1u);
  EXPECT_EQ(reply.toolCalls()[0], (ToolCall{"ping", "c1", {{"n", 1}}}));
}

TEST_F(LiteRtLm, BenchmarkFigures) {
  auto conversation = readyEngine()->createConversation();
  EXPECT_EQ(errorOf([&] { conversation->getBenchmarkInfo(); }), E(CK::benchmarkNotEnabled));
  ExperimentalFlags::optIntoExperimentalAPIs();
  ExperimentalFlags::setEnableBenchmark(true);
  fake::setBenchmark(0, 3);
  const BenchmarkInfo info = conversation->getBenchmarkInfo();
  EXPECT_EQ(info, (BenchmarkInfo{1.5, 0.25, 0, 202, 0, 22.0}));
  fake::failCall("conversation_get_benchmark_info", 1);
  EXPECT_EQ(errorOf([&] { conversation->getBenchmarkInfo(); }), E(CK::benchmarkInfoUnavailable));

  ExperimentalFlags::setEnableBenchmark(false);
  fake::setBenchmark(2, 1);
  const BenchmarkInfo run = Engine::benchmark("/m", Backend::cpu(), {}, {}, 8, 4, std::nullopt, "hello");
  EXPECT_EQ(run.lastPrefillTokenCount, 101);
  EXPECT_FALSE(ExperimentalFlags::enableBenchmark());  // put back
  EXPECT_EQ(errorOf([] { Engine::benchmark("/m", Backend::cpu(), {}, {}, -40, 0, std::nullopt, "x"); }),
            E(E::ConfigError::Kind::invalidMaxNumTokens));
  EXPECT_FALSE(ExperimentalFlags::enableBenchmark());
}

TEST_F(LiteRtLm, CapabilitiesReadTheModelFile) {
  auto capabilities = Capabilities::create("/m.litertlm");
  ASSERT_TRUE(capabilities);
  EXPECT_EQ(capabilities->supportedModalities(), (SupportedModalities{true, false, true, false}));
  EXPECT_EQ(fake::argsOf("loaded_file_supports_input_modality"), (std::vector<std::string>{"0", "1", "2", "3"}));
  EXPECT_EQ(capabilities->samplerParameters(), (SamplerParameters{2, 0.75f, 64, 0.95f}));
  EXPECT_EQ(capabilities->maxVisionTokenBudget(), 280);
  EXPECT_TRUE(capabilities->supportsFunctionCalling());
  capabilities.reset();
  fake::failCall("loaded_file_create", 1);
  EXPECT_FALSE(Capabilities::create("/unreadable"));
}

// ---- tools ------------------------------------------------------------------

TEST_F(LiteRtLm, ToolsAreDescribedAndRunByTheirDescribedNames) {
  ToolManager manager({std::make_shared<CountTool>(), std::make_shared<SilentTool>()});
  EXPECT_EQ(Json::parse(manager.toolsJsonDescription()), Json::parse(R"([
    {"type":"function","function":{"name":"count_things","description":"Counts things.","parameters":{
      "type":"object","properties":{
        "max_count":{"type":"integer","description":"How many"},
        "label":{"type":"string","nullable":true,"description":"A label"},
        "abcvalue":{"type":"string"}},
      "required":["abcvalue"]}}},
    {"type":"function","function":{"name":"ping","description":"Pings."}}])"));

  // "ABCValue" is described as "abcvalue" and decoded from that very name.
  EXPECT_EQ(manager.execute("count_things", {{"abcvalue", "Z9"}}),
            Json::parse(R"({"count":3,"label":"none","code":"Z9"})"));
  EXPECT_EQ(manager.execute("count_things", {{"abcvalue", "Q"}, {"max_count", 7}, {"label", "L"}}),
            Json::parse(R"({"count":7,"label":"L","code":"Q"})"));
  EXPECT_EQ(manager.execute("ping", Json::object()), "");
  EXPECT_THROW(manager.execute("count_things", Json::object()), DecodingError);  // required one missing
  try {
    manager.execute("count_things", {{"abcvalue", "Q"}, {"max_count", nullptr}});
    ADD_FAILURE();
  } catch (const DecodingError& e) {
    EXPECT_NE(std::string(e.what()).find("Received null for non-optional parameter"), std::string::npos);
  }
  EXPECT_EQ(errorOf([&] { manager.execute("countThings", Json::object()); }), E(E::ToolError::notFound("countThings")));
  EXPECT_EQ(ToolManager().toolsJsonDescription(), "[]");

  ExperimentalFlags::optIntoExperimentalAPIs();
  ExperimentalFlags::setSnakeCaseToolParameterNames(false);
  ToolManager camel({std::make_shared<CountTool>()});
  EXPECT_TRUE(
      Json::parse(camel.toolsJsonDescription())[0]["function"]["parameters"]["properties"].contains("maxCount"));
  EXPECT_EQ(camel.execute("countThings", {{"ABCValue", "c"}, {"maxCount", 1}})["count"], 1);

  ToolParam<std::int64_t> unset{"x", "no default"};
  EXPECT_THROW(unset.get(), std::logic_error);
}

TEST(ResponseFormats, ParseTheirSchema) {
  EXPECT_EQ(ResponseFormat::regex("[0-9]+"), (ResponseFormat{ResponseFormat::FormatType::regex, "[0-9]+"}));
  EXPECT_EQ(ResponseFormat::jsonSchema(std::string(R"({"type":"object"})")).type,
            ResponseFormat::FormatType::jsonObject);
  EXPECT_EQ(errorOf([] { ResponseFormat::jsonSchema(std::string("{not json")); }),
            E(E::ConfigError::invalidJsonSchema("{not json")));
  EXPECT_EQ(errorOf([] { ResponseFormat::jsonSchema(std::string("42")); }), E(E::ConfigError::invalidJsonSchema("42")));
  EXPECT_EQ(ResponseFormat::jsonSchema(Json{{"type", "string"}}).schemaOrPattern, R"({"type":"string"})");
  EXPECT_EQ(errorOf([] { ResponseFormat::jsonSchema(Json::array()); }),
            E(E::ConfigError::invalidJsonSchema("Not a valid JSON object")));
  EXPECT_EQ(errorOf([] {
              ResponseFormat::jsonSchema(Json{{"bad", "\xff"}});
            }),
            E(E::ConfigError::invalidJsonSchema("Failed to convert data to string")));
  EXPECT_EQ(ResponseFormat::formatType(2), ResponseFormat::FormatType::jsonObject);
  EXPECT_FALSE(ResponseFormat::formatType(3));
}

// ---- streaming --------------------------------------------------------------

namespace {

std::vector<std::string> drain(MessageStream& stream, std::optional<LiteRTLMError>* error = nullptr) {
  std::vector<std::string> texts;
  try {
    while (auto m = stream.next()) texts.push_back(m->text());
  } catch (const LiteRTLMError& e) {
    if (error) *error = e;
  }
  return texts;
}

fake::Chunk text(const std::string& t, bool final = false) {
  return {R"({"role":"assistant","content":[{"type":"text","text":")" + t + R"("}]})", std::nullopt, final};
}

}  // namespace

TEST_F(LiteRtLm, StreamYieldsChunksAndRunsToolsBetweenTurns) {
  auto engine = readyEngine();
  auto conversation = engine->createConversation(
      ConversationConfig(std::nullopt, {}, {std::make_shared<SilentTool>()}, {}, {}, {}, false, {}, false, false, {}));
  fake::pushStream(
      {text("Hel"), {toolCallReply("ping"), std::nullopt, false}, text("lo"), {std::nullopt, std::nullopt, true}});
  fake::pushStream({text("after tool", true)});
  std::optional<LiteRTLMError> error;
  auto stream = conversation->sendMessageStream(Message(Role::user, "hi"));
  // Tool calls wait for the final chunk, and run even with automatic calling off.
  EXPECT_EQ(drain(*stream, &error), (std::vector<std::string>{"Hel", "lo", "after tool"}));
  EXPECT_FALSE(error);
  fake::joinStreams();
  const auto sends = fake::argsOf("conversation_send_message_stream");
  ASSERT_EQ(sends.size(), 2u);
  EXPECT_EQ(sends[1], R"({"content":[{"name":"ping","response":"","type":"tool_response"}],"role":"tool"},null)");

  // A model that asks for tools on every turn.
  fake::setDefaultStream({{toolCallReply("ping"), std::nullopt, true}});
  auto looping = conversation->sendMessageStream(Message(Role::user, "again"));
  drain(*looping, &error);
  EXPECT_EQ(error, E(CE::recurringToolCallLimitExceeded(25)));
  fake::joinStreams();
  EXPECT_EQ(fake::countOf("conversation_send_message_stream"), 2 + 26);  // the message and 25 tool messages
}

TEST_F(LiteRtLm, StreamErrorChunkReleasesItsContextOnceAtTheFinalChunk) {
  auto conversation = readyEngine()->createConversation();
  // A late runtime that keeps calling after the error.
  fake::pushStream({text("a"),
                    {std::nullopt, std::string("decoder fault"), false},
                    text("b"),
                    {"not json", std::nullopt, false},
                    text("c", true)},
                   true);
  std::optional<LiteRTLMError> error;
  auto stream = conversation->sendMessageStream(Message(Role::user, "hi"));
  EXPECT_EQ(drain(*stream, &error), (std::vector<std::string>{"a"}));
  EXPECT_EQ(error, E(CE::invalidResponse("decoder fault")));
  fake::joinStreams();
  EXPECT_EQ(fake::countOf("conversation_cancel_process"), 1);  // the generation was stopped
  EXPECT_EQ(Conversation::liveStreamContexts(), 0);

  // A chunk that is no JSON object ends the stream with its parse error, logged once.
  fake::pushStream({{"[1]", std::nullopt, false}, text("late"), text("end", true)}, true);
  auto broken = conversation->sendMessageStream(Message(Role::user, "hi"));
  drain(*broken, &error);
  EXPECT_EQ(error, E(CE::invalidJson("Invalid JSON chunk")));
  fake::joinStreams();
  const auto lines = logged();
  EXPECT_EQ(std::count_if(
                lines.begin(), lines.end(),
                [](const std::string& l) { return l.find("Failed to parse response JSON: ") != std::string::npos; }),
            1);

  // An error in the final chunk: the final flag is not looked at for the error.
  fake::pushStream({{std::nullopt, std::string("out of memory"), true}});
  auto last = conversation->sendMessageStream(Message(Role::user, "hi"));
  drain(*last, &error);
  EXPECT_EQ(error, E(CE::invalidResponse("out of memory")));
}

TEST_F(LiteRtLm, StreamStartFailuresArriveAsTheStreamsError) {
  auto engine = readyEngine();
  auto plain = engine->createConversation();
  SendOptions withFormat;
  withFormat.responseFormat = ResponseFormat::regex("x");
  std::optional<LiteRTLMError> error;
  fake::reset();
  drain(*plain->sendMessageStream(Message(Role::user, "hi"), withFormat), &error);
  EXPECT_EQ(error, E(CK::responseFormatNotEnabled));
  EXPECT_TRUE(fake::calls().empty());

  fake::failCall("conversation_send_message_stream", 1);
  drain(*plain->sendMessageStream(Message(Role::user, "hi")), &error);
  EXPECT_EQ(error, E(CE::failedToStartStream(3)));

  fake::pushStream({{R"({"role":"model","content":[]})", std::nullopt, true}});
  drain(*plain->sendMessageStream(Message(Role::user, "hi")), &error);
  EXPECT_EQ(error, E(E::MessageError::invalidContent));
}

// ---- embeddings -------------------------------------------------------------

TEST_F(LiteRtLm, EmbeddingsFromMessageParts) {
  EmbeddingEngine engine(
      EmbeddingEngineConfig{"/embed", Backend::cpu(8), std::nullopt, Backend::cpu(3), "/cache", 512, std::nullopt});
  EXPECT_EQ(errorOf([&] { engine.computeEmbedding({Content::makeText("x")}); }),
            E(E::EmbeddingEngineError::notInitialized));
  engine.initialize();
  EXPECT_EQ(fake::argsOf("embedding_engine_settings_set_audio_num_threads"), (std::vector<std::string>{"3"}));
  EXPECT_EQ(errorOf([&] { engine.initialize(); }), E(E::EmbeddingEngineError::alreadyInitialized));

  const std::string image = writeImage();
  EXPECT_EQ(engine.computeEmbedding({Content::makeText(std::string("ab\0cd", 5)), Content::imageFile(image)},
                                    EmbeddingOptions{true, std::nullopt, 2, std::nullopt}),
            (EmbeddingResponse{{0.5f, -1.0f}}));
  EXPECT_EQ(fake::argsOf("embedding_engine_compute_embedding"), (std::vector<std::string>{"0:ab 1:PNG,2"}));

  for (const Content& bad : {Content::toolResponse("f", 1), Content::imageFile("/no/such/file.png")}) {
    EXPECT_EQ(errorOf([&] {
                engine.computeEmbedding({Content::makeText("first"), bad});
              }),
              E(E::EmbeddingEngineError::failedToCreateInputData));
    EXPECT_EQ(fake::liveHandles(), 1);  // the engine alone; the first input went too
  }

  const auto batch = engine.computeEmbeddingBatch({{Content::makeText("a")}, {}, {Content::audioBytes({1})}});
  EXPECT_EQ(fake::argsOf("embedding_engine_compute_embedding_batch"), (std::vector<std::string>{"p1 null0 p1,3"}));
  ASSERT_EQ(batch.size(), 3u);
  EXPECT_EQ(batch[2].embedding, (std::vector<float>{0.5f, -1.0f, 2.0f}));

  fake::setEmbedding({});
  EXPECT_TRUE(engine.computeEmbedding({Content::makeText("x")}).embedding.empty());
  fake::setEmbedding({1.0f});
  fake::failCall("embedding_response_get_values", 1);
  EXPECT_EQ(errorOf([&] { engine.computeEmbedding({Content::makeText("x")}); }),
            E(E::EmbeddingEngineError::failedToComputeEmbedding));
  fake::failCall("embedding_responses_get_at", 1);
  EXPECT_EQ(errorOf([&] { engine.computeEmbeddingBatch({{Content::makeText("x")}}); }),
            E(E::EmbeddingEngineError::failedToComputeEmbeddingBatch));
  fake::failCall("embedding_options_create", 1);
  EXPECT_EQ(errorOf([&] { engine.computeEmbedding({Content::makeText("x")}); }),
            E(E::EmbeddingEngineError::failedToCreateSettings));
  EXPECT_EQ(fake::liveHandles(), 1);

  engine.close();
  engine.close();
  EXPECT_FALSE(engine.isInitialized());
  engine.initialize();
  EXPECT_EQ(fake::countOf("embedding_engine_create"), 2);
}

TEST_F(LiteRtLm, EveryFailedEmbeddingStepReleasesWhatWasMade) {
  using BE = E::EmbeddingEngineError;
  auto run = [] {
    EmbeddingEngine engine(EmbeddingEngineConfig{"/embed", Backend::gpu(), Backend::gpu(), std::nullopt, "/c", 64, 16});
    engine.initialize();
    const EmbeddingOptions options{false, true, 8, 4};
    engine.computeEmbedding({Content::makeText("a"), Content::audioBytes({1, 2})}, options);
    engine.computeEmbeddingBatch({{Content::makeText("b")}, {Content::imageBytes({3})}}, options);
  };
  ASSERT_NO_THROW(run());
  const std::vector<std::pair<std::string, E>> steps = {
      {"embedding_engine_settings_create", BE::failedToCreateSettings},
      {"embedding_engine_create", BE::failedToCreateEngine},
      {"input_data_create", BE::failedToCreateInputData},
      {"embedding_options_create", BE::failedToCreateSettings},
      {"embedding_engine_compute_embedding", BE::failedToComputeEmbedding},
      {"embedding_engine_compute_embedding_batch", BE::failedToComputeEmbeddingBatch},
  };
  for (const auto& [step, error] : steps) {
    SCOPED_TRACE(step);
    fake::reset();
    fake::failCall(step, 1);
    EXPECT_EQ(errorOf(run), error);
    EXPECT_EQ(fake::liveHandles(), 0);
  }
}
