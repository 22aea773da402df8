// A scripted LiteRT-LM runtime implementing the C interface of
// LiteRTLM/litert_lm_c.h: it records every call with its thread, counts live
// handles, fails any call on request, replies from a script and streams chunks
// from threads of its own.
#include "FakeLiteRtLm.h"

#include "LiteRTLM/litert_lm_c.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>

namespace fake_litert_lm {
namespace {

struct State {
  std::mutex mutex;
  std::condition_variable sendWake;
  std::vector<Call> calls;
  std::map<std::string, int> failures;
  std::deque<std::string> replies;
  std::string defaultReply = R"({"role":"assistant","content":[{"type":"text","text":"ok"}]})";
  std::deque<std::pair<std::vector<Chunk>, bool>> streams;
  std::vector<Chunk> defaultStream = {
      {R"({"role":"assistant","content":[{"type":"text","text":"ok"}]})", std::nullopt, true}};
  std::vector<std::thread> streamThreads;
  bool holdSends = false;
  int sendGeneration = 0;
  int waitingSends = 0;
  int prefillTurns = 0;
  int decodeTurns = 0;
  std::vector<float> embedding = {0.5f, -1.0f};
};

State& state() {
  static State* s = new State;
  return *s;
}

std::atomic<int> gLive{0};

std::string show(const char* v) { return v ? std::string(v) : std::string("null"); }
std::string show(bool v) { return v ? "true" : "false"; }
template <class T>
std::string show(const T& v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

template <class... A>
void rec(const char* name, const A&... args) {
  std::string text;
  ((text += (text.empty() ? "" : ",") + show(args)), ...);
  std::lock_guard lock(state().mutex);
  state().calls.push_back({name, text, std::this_thread::get_id()});
}

// Whether this call of `name` is scripted to fail.
bool fails(const char* name) {
  std::lock_guard lock(state().mutex);
  auto it = state().failures.find(name);
  if (it == state().failures.end() || it->second == 0) return false;
  if (it->second > 0) --it->second;
  return true;
}

struct Object {
  Object() { ++gLive; }
  virtual ~Object() { --gLive; }
};

template <class T>
T* make(const char* name) {
  if (fails(name)) return nullptr;
  return new T;
}

}  // namespace

void joinStreams() {
  for (;;) {
    std::vector<std::thread> threads;
    {
      std::lock_guard lock(state().mutex);
      threads.swap(state().streamThreads);
    }
    if (threads.empty()) return;
    for (auto& t : threads) t.join();
  }
}

void reset() {
  joinStreams();
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.calls.clear();
  s.failures.clear();
  s.replies.clear();
  s.defaultReply = R"({"role":"assistant","content":[{"type":"text","text":"ok"}]})";
  s.streams.clear();
  s.defaultStream = {{R"({"role":"assistant","content":[{"type":"text","text":"ok"}]})", std::nullopt, true}};
  s.holdSends = false;
  s.prefillTurns = s.decodeTurns = 0;
  s.embedding = {0.5f, -1.0f};
}

std::vector<Call> calls() {
  std::lock_guard lock(state().mutex);
  return state().calls;
}

std::vector<std::string> callNames() {
  std::vector<std::string> names;
  for (const Call& c : calls()) names.push_back(c.name);
  return names;
}

std::vector<std::string> argsOf(const std::string& name) {
  std::vector<std::string> out;
  for (const Call& c : calls()) {
    if (c.name == name) out.push_back(c.args);
  }
  return out;
}

int countOf(const std::string& name) { return static_cast<int>(argsOf(name).size()); }
int liveHandles() { return gLive.load(); }

void failCall(const std::string& name, int times) {
  std::lock_guard lock(state().mutex);
  state().failures[name] = times;
}

void pushReply(const std::string& json) {
  std::lock_guard lock(state().mutex);
  state().replies.push_back(json);
}

void setDefaultReply(const std::string& json) {
  std::lock_guard lock(state().mutex);
  state().defaultReply = json;
}

void pushStream(const std::vector<Chunk>& chunks, bool deliverAfterCancel) {
  std::lock_guard lock(state().mutex);
  state().streams.emplace_back(chunks, deliverAfterCancel);
}

void setDefaultStream(const std::vector<Chunk>& chunks) {
  std::lock_guard lock(state().mutex);
  state().defaultStream = chunks;
}

void holdSends(bool hold) {
  {
    std::lock_guard lock(state().mutex);
    state().holdSends = hold;
  }
  state().sendWake.notify_all();
}

void releaseSends() {
  {
    std::lock_guard lock(state().mutex);
    ++state().sendGeneration;
  }
  state().sendWake.notify_all();
}

int waitingSends() {
  std::lock_guard lock(state().mutex);
  return state().waitingSends;
}

void setBenchmark(int prefillTurns, int decodeTurns) {
  std::lock_guard lock(state().mutex);
  state().prefillTurns = prefillTurns;
  state().decodeTurns = decodeTurns;
}

void setEmbedding(const std::vector<float>& values) {
  std::lock_guard lock(state().mutex);
  state().embedding = values;
}

}  // namespace fake_litert_lm

using namespace fake_litert_lm;

struct LiteRtLmEngineSettings : Object {};
struct LiteRtLmEngine : Object {};
struct LiteRtLmSessionConfig : Object {};
struct LiteRtLmSamplerParams : Object {};
struct LiteRtLmConversationConfig : Object {};
struct LiteRtLmThinkingConfig : Object {};
struct LiteRtLmConversation : Object {
  std::atomic<bool> cancelled{false};
  std::string rendered;
};
struct LiteRtLmConversationOptionalArgs : Object {};
struct LiteRtLmRepetitionPenaltyConfig : Object {};
struct LiteRtLmNoRepeatNgramConfig : Object {};
struct LiteRtLmSuppressTokensConfig : Object {};
struct LiteRtLmJsonResponse : Object {
  std::string text;
};
struct LiteRtLmBenchmarkInfo : Object {
  int prefillTurns = 0;
  int decodeTurns = 0;
};
struct LiteRtLmStreamChunk {
  const Chunk* chunk;
};
struct LiteRtLmLoadedFile : Object {};
struct LiteRtLmEmbeddingEngineSettings : Object {};
struct LiteRtLmEmbeddingEngine : Object {};
struct LiteRtLmInputData : Object {
  int kind = 0;
  std::string bytes;
};
struct LiteRtLmEmbeddingOptions : Object {};
struct LiteRtLmEmbeddingResponse : Object {
  std::vector<float> values;
  bool nullValues = false;
};
struct LiteRtLmEmbeddingResponses : Object {
  std::vector<LiteRtLmEmbeddingResponse*> items;
  ~LiteRtLmEmbeddingResponses() override {
    for (auto* r : items) delete r;
  }
};

#define FAKE_CREATE(type, fn)             \
  extern "C" type* litert_lm_##fn(void) { \
    rec(#fn);                             \
    return make<type>(#fn);               \
  }
#define FAKE_DELETE(type, fn)               \
  extern "C" void litert_lm_##fn(type* o) { \
    rec(#fn);                               \
    delete o;                               \
  }
#define FAKE_SET(type, fn, T) \
  extern "C" void litert_lm_##fn(type*, T v) { rec(#fn, v); }
#define FAKE_STATUS_SET(type, fn, T)          \
  extern "C" int litert_lm_##fn(type*, T v) { \
    rec(#fn, v);                              \
    return fails(#fn) ? 7 : 0;                \
  }

extern "C" LiteRtLmEngineSettings* litert_lm_engine_settings_create(const char* model_path, const char* backend,
                                                                    const char* vision_backend,
                                                                    const char* audio_backend) {
  rec("engine_settings_create", model_path, backend, vision_backend, audio_backend);
  return make<LiteRtLmEngineSettings>("engine_settings_create");
}
FAKE_DELETE(LiteRtLmEngineSettings, engine_settings_delete)
FAKE_SET(LiteRtLmEngineSettings, engine_settings_set_max_num_tokens, int32_t)
FAKE_SET(LiteRtLmEngineSettings, engine_settings_set_cache_dir, const char*)
FAKE_SET(LiteRtLmEngineSettings, engine_settings_set_lora_rank, int32_t)
extern "C" int litert_lm_engine_settings_set_supported_lora_ranks(LiteRtLmEngineSettings*, const int32_t* ranks,
                                                                  int32_t count) {
  rec("engine_settings_set_supported_lora_ranks", count > 0 ? ranks[0] : -1, count);
  return fails("engine_settings_set_supported_lora_ranks") ? 7 : 0;
}
FAKE_SET(LiteRtLmEngineSettings, engine_settings_set_audio_lora_rank, int32_t)
extern "C" int litert_lm_engine_settings_set_supported_audio_lora_ranks(LiteRtLmEngineSettings*, const int32_t* ranks,
                                                                        int32_t count) {
  rec("engine_settings_set_supported_audio_lora_ranks", count > 0 ? ranks[0] : -1, count);
  return fails("engine_settings_set_supported_audio_lora_ranks") ? 7 : 0;
}
extern "C" void litert_lm_engine_settings_enable_benchmark(LiteRtLmEngineSettings*) {
  rec("engine_settings_enable_benchmark");
}
FAKE_SET(LiteRtLmEngineSettings, engine_settings_set_num_prefill_tokens, int32_t)
FAKE_SET(LiteRtLmEngineSettings, engine_settings_set_num_decode_tokens, int32_t)
FAKE_SET(LiteRtLmEngineSettings, engine_settings_set_enable_speculative_decoding, bool)
FAKE_SET(LiteRtLmEngineSettings, engine_settings_set_max_vision_tokens_per_image, int32_t)
FAKE_SET(LiteRtLmEngineSettings, engine_settings_set_gpu_enable_metal_residency_set, bool)
extern "C" LiteRtLmEngine* litert_lm_engine_create(const LiteRtLmEngineSettings*) {
  rec("engine_create");
  return make<LiteRtLmEngine>("engine_create");
}
FAKE_DELETE(LiteRtLmEngine, engine_delete)
FAKE_STATUS_SET(LiteRtLmEngine, experimental_engine_update_gpu_enable_metal_residency_set, bool)

FAKE_CREATE(LiteRtLmSessionConfig, session_config_create)
FAKE_DELETE(LiteRtLmSessionConfig, session_config_delete)
extern "C" LiteRtLmSamplerParams* litert_lm_sampler_params_create(int32_t type) {
  rec("sampler_params_create", type);
  return make<LiteRtLmSamplerParams>("sampler_params_create");
}
FAKE_DELETE(LiteRtLmSamplerParams, sampler_params_delete)
FAKE_SET(LiteRtLmSamplerParams, sampler_params_set_top_k, int32_t)
FAKE_SET(LiteRtLmSamplerParams, sampler_params_set_top_p, float)
FAKE_SET(LiteRtLmSamplerParams, sampler_params_set_temperature, float)
FAKE_SET(LiteRtLmSamplerParams, sampler_params_set_seed, int32_t)
extern "C" void litert_lm_session_config_set_sampler_params(LiteRtLmSessionConfig*, const LiteRtLmSamplerParams*) {
  rec("session_config_set_sampler_params");
}
FAKE_STATUS_SET(LiteRtLmSessionConfig, session_config_set_lora_path, const char*)
FAKE_STATUS_SET(LiteRtLmSessionConfig, session_config_set_audio_lora_path, const char*)

FAKE_CREATE(LiteRtLmConversationConfig, conversation_config_create)
FAKE_DELETE(LiteRtLmConversationConfig, conversation_config_delete)
extern "C" void litert_lm_conversation_config_set_session_config(LiteRtLmConversationConfig*,
                                                                 const LiteRtLmSessionConfig*) {
  rec("conversation_config_set_session_config");
}
FAKE_SET(LiteRtLmConversationConfig, conversation_config_set_system_message, const char*)
FAKE_SET(LiteRtLmConversationConfig, conversation_config_set_tools, const char*)
FAKE_SET(LiteRtLmConversationConfig, conversation_config_set_messages, const char*)
FAKE_SET(LiteRtLmConversationConfig, conversation_config_set_constraint_provider, int32_t)
FAKE_SET(LiteRtLmConversationConfig, conversation_config_set_enable_constrained_decoding, bool)
extern "C" void litert_lm_conversation_config_set_stream_tool_calls(LiteRtLmConversationConfig*, bool enable,
                                                                    const char* key) {
  rec("conversation_config_set_stream_tool_calls", enable, key);
}
FAKE_SET(LiteRtLmConversationConfig, conversation_config_set_filter_channel_content_from_kv_cache, bool)
FAKE_CREATE(LiteRtLmThinkingConfig, thinking_config_create)
FAKE_DELETE(LiteRtLmThinkingConfig, thinking_config_delete)
FAKE_SET(LiteRtLmThinkingConfig, thinking_config_set_enable_thinking, bool)
FAKE_SET(LiteRtLmThinkingConfig, thinking_config_set_thinking_token_budget, int32_t)
extern "C" void litert_lm_conversation_config_set_thinking_config(LiteRtLmConversationConfig*,
                                                                  const LiteRtLmThinkingConfig*) {
  rec("conversation_config_set_thinking_config");
}

extern "C" LiteRtLmConversation* litert_lm_conversation_create(LiteRtLmEngine*, const LiteRtLmConversationConfig*) {
  rec("conversation_create");
  return make<LiteRtLmConversation>("conversation_create");
}
FAKE_DELETE(LiteRtLmConversation, conversation_delete)

FAKE_CREATE(LiteRtLmConversationOptionalArgs, conversation_optional_args_create)
FAKE_DELETE(LiteRtLmConversationOptionalArgs, conversation_optional_args_delete)
FAKE_SET(LiteRtLmConversationOptionalArgs, conversation_optional_args_set_visual_token_budget, int32_t)
FAKE_CREATE(LiteRtLmRepetitionPenaltyConfig, repetition_penalty_config_create)
FAKE_DELETE(LiteRtLmRepetitionPenaltyConfig, repetition_penalty_config_delete)
FAKE_SET(LiteRtLmRepetitionPenaltyConfig, repetition_penalty_config_set_repetition_penalty, float)
FAKE_SET(LiteRtLmRepetitionPenaltyConfig, repetition_penalty_config_set_presence_penalty, float)
FAKE_SET(LiteRtLmRepetitionPenaltyConfig, repetition_penalty_config_set_frequency_penalty, float)
FAKE_SET(LiteRtLmRepetitionPenaltyConfig, repetition_penalty_config_set_window_size, int32_t)
extern "C" void litert_lm_conversation_optional_args_set_repetition_penalty_config(
    LiteRtLmConversationOptionalArgs*, const LiteRtLmRepetitionPenaltyConfig*) {
  rec("conversation_optional_args_set_repetition_penalty_config");
}
FAKE_CREATE(LiteRtLmNoRepeatNgramConfig, no_repeat_ngram_config_create)
FAKE_DELETE(LiteRtLmNoRepeatNgramConfig, no_repeat_ngram_config_delete)
FAKE_SET(LiteRtLmNoRepeatNgramConfig, no_repeat_ngram_config_set_no_repeat_ngram_size, int32_t)
FAKE_SET(LiteRtLmNoRepeatNgramConfig, no_repeat_ngram_config_set_window_size, int32_t)
extern "C" void litert_lm_conversation_optional_args_set_no_repeat_ngram_config(LiteRtLmConversationOptionalArgs*,
                                                                                const LiteRtLmNoRepeatNgramConfig*) {
  rec("conversation_optional_args_set_no_repeat_ngram_config");
}
FAKE_CREATE(LiteRtLmSuppressTokensConfig, suppress_tokens_config_create)
FAKE_DELETE(LiteRtLmSuppressTokensConfig, suppress_tokens_config_delete)
extern "C" void litert_lm_suppress_tokens_config_set_suppress_tokens(LiteRtLmSuppressTokensConfig*, const int32_t* ids,
                                                                     int32_t count) {
  std::string list;
  for (int32_t i = 0; i < count; ++i) list += (i ? " " : "") + std::to_string(ids[i]);
  rec("suppress_tokens_config_set_suppress_tokens", list, count);
}
extern "C" void litert_lm_conversation_optional_args_set_suppress_tokens_config(LiteRtLmConversationOptionalArgs*,
                                                                                const LiteRtLmSuppressTokensConfig*) {
  rec("conversation_optional_args_set_suppress_tokens_config");
}
FAKE_SET(LiteRtLmConversationOptionalArgs, conversation_optional_args_set_max_output_tokens, int32_t)
extern "C" void litert_lm_conversation_optional_args_set_thinking_config(LiteRtLmConversationOptionalArgs*,
                                                                         const LiteRtLmThinkingConfig*) {
  rec("conversation_optional_args_set_thinking_config");
}
extern "C" void litert_lm_conversation_optional_args_set_constraint(LiteRtLmConversationOptionalArgs*, int32_t kind,
                                                                    const char* schema) {
  rec("conversation_optional_args_set_constraint", kind, schema);
}

extern "C" LiteRtLmJsonResponse* litert_lm_conversation_send_message(LiteRtLmConversation* conversation,
                                                                     const char* message_json,
                                                                     const char* extra_context_json,
                                                                     const LiteRtLmConversationOptionalArgs*) {
  rec("conversation_send_message", message_json, extra_context_json);
  State& s = state();
  std::string reply;
  {
    std::unique_lock lock(s.mutex);
    if (s.holdSends) {
      const int generation = s.sendGeneration;
      ++s.waitingSends;
      while (s.holdSends && s.sendGeneration == generation && !conversation->cancelled) {
        s.sendWake.wait_for(lock, std::chrono::milliseconds(5));
      }
      --s.waitingSends;
    }
    if (conversation->cancelled.exchange(false)) return nullptr;  // the turn was stopped
    if (!s.replies.empty()) {
      reply = s.replies.front();
      s.replies.pop_front();
    } else {
      reply = s.defaultReply;
    }
  }
  if (fails("conversation_send_message")) return nullptr;
  auto* response = new LiteRtLmJsonResponse;
  response->text = reply;
  return response;
}
extern "C" const char* litert_lm_json_response_get_string(const LiteRtLmJsonResponse* response) {
  rec("json_response_get_string");
  if (fails("json_response_get_string")) return nullptr;
  return response->text.c_str();
}
FAKE_DELETE(LiteRtLmJsonResponse, json_response_delete)

extern "C" int litert_lm_conversation_send_message_stream(LiteRtLmConversation* conversation, const char* message_json,
                                                          const char* extra_context_json,
                                                          const LiteRtLmConversationOptionalArgs*,
                                                          LiteRtLmStreamCallback callback, void* user_data) {
  rec("conversation_send_message_stream", message_json, extra_context_json);
  if (fails("conversation_send_message_stream")) return 3;
  State& s = state();
  std::lock_guard lock(s.mutex);
  std::vector<Chunk> chunks = s.defaultStream;
  bool deliverAfterCancel = false;
  if (!s.streams.empty()) {
    chunks = s.streams.front().first;
    deliverAfterCancel = s.streams.front().second;
    s.streams.pop_front();
  }
  conversation->cancelled = false;
  s.streamThreads.emplace_back([conversation, chunks, deliverAfterCancel, callback, user_data] {
    for (const Chunk& chunk : chunks) {
      // After a cancel a runtime skips to its final chunk.
      if (!chunk.final && conversation->cancelled && !deliverAfterCancel) continue;
      LiteRtLmStreamChunk native{&chunk};
      callback(user_data, &native);
      if (chunk.final) return;  // the conversation may be gone after the final chunk
    }
  });
  return 0;
}
extern "C" bool litert_lm_stream_chunk_is_final(const LiteRtLmStreamChunk* chunk) { return chunk->chunk->final; }
extern "C" const char* litert_lm_stream_chunk_get_error(const LiteRtLmStreamChunk* chunk) {
  return chunk->chunk->error ? chunk->chunk->error->c_str() : nullptr;
}
extern "C" const char* litert_lm_stream_chunk_get_text(const LiteRtLmStreamChunk* chunk) {
  return chunk->chunk->text ? chunk->chunk->text->c_str() : nullptr;
}

#ifndef FAKE_LITERT_LM_INCOMPLETE
extern "C" void litert_lm_conversation_cancel_process(LiteRtLmConversation* conversation) {
  rec("conversation_cancel_process");
  conversation->cancelled = true;
  state().sendWake.notify_all();
}
#endif
extern "C" int32_t litert_lm_conversation_get_token_count(LiteRtLmConversation*) {
  rec("conversation_get_token_count");
  return 42;
}
extern "C" const char* litert_lm_conversation_render_message_to_string(LiteRtLmConversation* conversation,
                                                                       const char* message_json) {
  rec("conversation_render_message_to_string", message_json);
  if (fails("conversation_render_message_to_string")) return nullptr;
  conversation->rendered = std::string("<rendered>") + message_json;
  return conversation->rendered.c_str();
}
extern "C" const char* litert_lm_conversation_render_preface_to_string(LiteRtLmConversation*) {
  rec("conversation_render_preface_to_string");
  if (fails("conversation_render_preface_to_string")) return nullptr;
  return "<preface>";
}

extern "C" LiteRtLmBenchmarkInfo* litert_lm_conversation_get_benchmark_info(LiteRtLmConversation*) {
  rec("conversation_get_benchmark_info");
  auto* info = make<LiteRtLmBenchmarkInfo>("conversation_get_benchmark_info");
  if (info) {
    std::lock_guard lock(state().mutex);
    info->prefillTurns = state().prefillTurns;
    info->decodeTurns = state().decodeTurns;
  }
  return info;
}
FAKE_DELETE(LiteRtLmBenchmarkInfo, benchmark_info_delete)
extern "C" int32_t litert_lm_benchmark_info_get_num_prefill_turns(const LiteRtLmBenchmarkInfo* info) {
  return info->prefillTurns;
}
extern "C" int32_t litert_lm_benchmark_info_get_num_decode_turns(const LiteRtLmBenchmarkInfo* info) {
  return info->decodeTurns;
}
extern "C" double litert_lm_benchmark_info_get_total_init_time_in_second(const LiteRtLmBenchmarkInfo*) { return 1.5; }
extern "C" double litert_lm_benchmark_info_get_time_to_first_token(const LiteRtLmBenchmarkInfo*) { return 0.25; }
extern "C" int32_t litert_lm_benchmark_info_get_prefill_token_count_at(const LiteRtLmBenchmarkInfo*, int32_t index) {
  rec("benchmark_info_get_prefill_token_count_at", index);
  return 100 + index;
}
extern "C" double litert_lm_benchmark_info_get_prefill_tokens_per_sec_at(const LiteRtLmBenchmarkInfo*, int32_t index) {
  return 1000.0 + index;
}
extern "C" int32_t litert_lm_benchmark_info_get_decode_token_count_at(const LiteRtLmBenchmarkInfo*, int32_t index) {
  rec("benchmark_info_get_decode_token_count_at", index);
  return 200 + index;
}
extern "C" double litert_lm_benchmark_info_get_decode_tokens_per_sec_at(const LiteRtLmBenchmarkInfo*, int32_t index) {
  return 20.0 + index;
}

extern "C" LiteRtLmLoadedFile* litert_lm_loaded_file_create(const char* model_path) {
  rec("loaded_file_create", model_path);
  return make<LiteRtLmLoadedFile>("loaded_file_create");
}
FAKE_DELETE(LiteRtLmLoadedFile, loaded_file_delete)
extern "C" bool litert_lm_loaded_file_has_speculative_decoding_support(const LiteRtLmLoadedFile*) { return true; }
extern "C" bool litert_lm_loaded_file_supports_thinking(const LiteRtLmLoadedFile*) { return false; }
extern "C" bool litert_lm_loaded_file_supports_function_calling(const LiteRtLmLoadedFile*) { return true; }
extern "C" bool litert_lm_loaded_file_supports_input_modality(const LiteRtLmLoadedFile*, int32_t kind) {
  rec("loaded_file_supports_input_modality", kind);
  return kind == 0 || kind == 2;
}
extern "C" int32_t litert_lm_loaded_file_get_sampler_type(const LiteRtLmLoadedFile*) { return 2; }
extern "C" float litert_lm_loaded_file_get_sampler_temperature(const LiteRtLmLoadedFile*) { return 0.75f; }
extern "C" int32_t litert_lm_loaded_file_get_sampler_top_k(const LiteRtLmLoadedFile*) { return 64; }
extern "C" float litert_lm_loaded_file_get_sampler_top_p(const LiteRtLmLoadedFile*) { return 0.95f; }
extern "C" int32_t litert_lm_loaded_file_get_max_vision_token_budget(const LiteRtLmLoadedFile*) { return 280; }

extern "C" LiteRtLmEmbeddingEngineSettings* litert_lm_embedding_engine_settings_create(const char* model_path,
                                                                                       const char* backend,
                                                                                       const char* vision_backend,
                                                                                       const char* audio_backend) {
  rec("embedding_engine_settings_create", model_path, backend, vision_backend, audio_backend);
  return make<LiteRtLmEmbeddingEngineSettings>("embedding_engine_settings_create");
}
FAKE_DELETE(LiteRtLmEmbeddingEngineSettings, embedding_engine_settings_delete)
FAKE_SET(LiteRtLmEmbeddingEngineSettings, embedding_engine_settings_set_audio_num_threads, int32_t)
FAKE_SET(LiteRtLmEmbeddingEngineSettings, embedding_engine_settings_set_cache_dir, const char*)
FAKE_SET(LiteRtLmEmbeddingEngineSettings, embedding_engine_settings_set_max_input_length, int32_t)
FAKE_SET(LiteRtLmEmbeddingEngineSettings, embedding_engine_settings_set_vision_tokens_per_image, int32_t)
extern "C" LiteRtLmEmbeddingEngine* litert_lm_embedding_engine_create(const LiteRtLmEmbeddingEngineSettings*) {
  rec("embedding_engine_create");
  return make<LiteRtLmEmbeddingEngine>("embedding_engine_create");
}
FAKE_DELETE(LiteRtLmEmbeddingEngine, embedding_engine_delete)
extern "C" LiteRtLmInputData* litert_lm_input_data_create(int32_t kind, const void* data, int32_t size) {
  rec("input_data_create", kind, size);
  auto* input = make<LiteRtLmInputData>("input_data_create");
  if (input) {
    input->kind = kind;
    input->bytes.assign(static_cast<const char*>(data), static_cast<std::size_t>(size));
  }
  return input;
}
FAKE_DELETE(LiteRtLmInputData, input_data_delete)
FAKE_CREATE(LiteRtLmEmbeddingOptions, embedding_options_create)
FAKE_DELETE(LiteRtLmEmbeddingOptions, embedding_options_delete)
FAKE_SET(LiteRtLmEmbeddingOptions, embedding_options_set_normalize, bool)
FAKE_SET(LiteRtLmEmbeddingOptions, embedding_options_set_insert_special_tokens, bool)
FAKE_SET(LiteRtLmEmbeddingOptions, embedding_options_set_output_size, int32_t)
FAKE_SET(LiteRtLmEmbeddingOptions, embedding_options_set_vision_tokens_per_image, int32_t)

namespace {
LiteRtLmEmbeddingResponse* makeResponse(const char* name) {
  auto* response = make<LiteRtLmEmbeddingResponse>(name);
  if (response) {
    std::lock_guard lock(state().mutex);
    response->values = state().embedding;
  }
  return response;
}
}  // namespace

extern "C" LiteRtLmEmbeddingResponse* litert_lm_embedding_engine_compute_embedding(
    LiteRtLmEmbeddingEngine*, const LiteRtLmInputData* const* inputs, int32_t count, const LiteRtLmEmbeddingOptions*) {
  std::string kinds;
  for (int32_t i = 0; i < count; ++i)
    kinds += (i ? " " : "") + std::to_string(inputs[i]->kind) + ":" + inputs[i]->bytes;
  rec("embedding_engine_compute_embedding", kinds, count);
  return makeResponse("embedding_engine_compute_embedding");
}
extern "C" int32_t litert_lm_embedding_response_get_size(const LiteRtLmEmbeddingResponse* response) {
  return static_cast<int32_t>(response->values.size());
}
extern "C" const float* litert_lm_embedding_response_get_values(const LiteRtLmEmbeddingResponse* response) {
  if (fails("embedding_response_get_values")) return nullptr;
  return response->values.empty() ? nullptr : response->values.data();
}
FAKE_DELETE(LiteRtLmEmbeddingResponse, embedding_response_delete)
extern "C" LiteRtLmEmbeddingResponses* litert_lm_embedding_engine_compute_embedding_batch(
    LiteRtLmEmbeddingEngine*, const LiteRtLmInputData* const* const* batches, const size_t* counts, int32_t batch_count,
    const LiteRtLmEmbeddingOptions*) {
  std::string shape;
  for (int32_t i = 0; i < batch_count; ++i) {
    shape += (i ? " " : "") + std::string(batches[i] ? "p" : "null") + std::to_string(counts[i]);
  }
  rec("embedding_engine_compute_embedding_batch", shape, batch_count);
  auto* responses = make<LiteRtLmEmbeddingResponses>("embedding_engine_compute_embedding_batch");
  if (!responses) return nullptr;
  for (int32_t i = 0; i < batch_count; ++i) {
    auto* r = new LiteRtLmEmbeddingResponse;
    std::lock_guard lock(state().mutex);
    r->values = state().embedding;
    r->values.push_back(static_cast<float>(i));
    responses->items.push_back(r);
  }
  return responses;
}
extern "C" int32_t litert_lm_embedding_responses_get_size(const LiteRtLmEmbeddingResponses* responses) {
  return static_cast<int32_t>(responses->items.size());
}
extern "C" const LiteRtLmEmbeddingResponse* litert_lm_embedding_responses_get_at(
    const LiteRtLmEmbeddingResponses* responses, int32_t index) {
  if (fails("embedding_responses_get_at")) return nullptr;
  return responses->items.at(static_cast<std::size_t>(index));
}
FAKE_DELETE(LiteRtLmEmbeddingResponses, embedding_responses_delete)
