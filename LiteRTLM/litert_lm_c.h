/* The C interface of the LiteRT-LM runtime as this application uses it.
 *
 * The library is never linked: LiteRTLM/Runtime.cpp opens it with dlopen and
 * resolves every entry point below. The prototypes are here so that the loader
 * takes its pointer types from them and a library implementing them (the test
 * runtime included) is checked against the same declarations.
 *
 * Rules of the interface:
 * - Objects are opaque handles. A create that returns NULL has failed. Whoever
 *   creates a handle deletes it with the family's _delete.
 * - Text is NUL-terminated UTF-8, borrowed for the duration of the call. Text the
 *   library returns belongs to the library (valid until the next call on the same
 *   object or its deletion); callers copy it at once and never free it.
 * - Counts, sizes and integer settings are 32-bit signed. A status is 0 on success.
 */
#ifndef MUREL_LITERT_LM_C_H
#define MUREL_LITERT_LM_C_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct LiteRtLmEngineSettings LiteRtLmEngineSettings;
typedef struct LiteRtLmEngine LiteRtLmEngine;
typedef struct LiteRtLmSessionConfig LiteRtLmSessionConfig;
typedef struct LiteRtLmSamplerParams LiteRtLmSamplerParams;
typedef struct LiteRtLmConversationConfig LiteRtLmConversationConfig;
typedef struct LiteRtLmThinkingConfig LiteRtLmThinkingConfig;
typedef struct LiteRtLmConversation LiteRtLmConversation;
typedef struct LiteRtLmConversationOptionalArgs LiteRtLmConversationOptionalArgs;
typedef struct LiteRtLmRepetitionPenaltyConfig LiteRtLmRepetitionPenaltyConfig;
typedef struct LiteRtLmNoRepeatNgramConfig LiteRtLmNoRepeatNgramConfig;
typedef struct LiteRtLmSuppressTokensConfig LiteRtLmSuppressTokensConfig;
typedef struct LiteRtLmJsonResponse LiteRtLmJsonResponse;
typedef struct LiteRtLmBenchmarkInfo LiteRtLmBenchmarkInfo;
typedef struct LiteRtLmStreamChunk LiteRtLmStreamChunk;
typedef struct LiteRtLmLoadedFile LiteRtLmLoadedFile;
typedef struct LiteRtLmEmbeddingEngineSettings LiteRtLmEmbeddingEngineSettings;
typedef struct LiteRtLmEmbeddingEngine LiteRtLmEmbeddingEngine;
typedef struct LiteRtLmInputData LiteRtLmInputData;
typedef struct LiteRtLmEmbeddingOptions LiteRtLmEmbeddingOptions;
typedef struct LiteRtLmEmbeddingResponse LiteRtLmEmbeddingResponse;
typedef struct LiteRtLmEmbeddingResponses LiteRtLmEmbeddingResponses;

/* Called by the runtime for every chunk of a streamed reply, on a thread of its
 * choosing. The chunk is valid only during the call. The chunk whose is_final is
 * true is the last call for that stream. */
typedef void (*LiteRtLmStreamCallback)(void* user_data, const LiteRtLmStreamChunk* chunk);

/* Engine settings and engine. Backends are "cpu" or "gpu"; NULL for none. */
LiteRtLmEngineSettings* litert_lm_engine_settings_create(const char* model_path, const char* backend,
                                                         const char* vision_backend, const char* audio_backend);
void litert_lm_engine_settings_delete(LiteRtLmEngineSettings* settings);
void litert_lm_engine_settings_set_max_num_tokens(LiteRtLmEngineSettings* settings, int32_t max_num_tokens);
void litert_lm_engine_settings_set_cache_dir(LiteRtLmEngineSettings* settings, const char* cache_dir);
void litert_lm_engine_settings_set_lora_rank(LiteRtLmEngineSettings* settings, int32_t rank);
int litert_lm_engine_settings_set_supported_lora_ranks(LiteRtLmEngineSettings* settings, const int32_t* ranks,
                                                       int32_t count);
void litert_lm_engine_settings_set_audio_lora_rank(LiteRtLmEngineSettings* settings, int32_t rank);
int litert_lm_engine_settings_set_supported_audio_lora_ranks(LiteRtLmEngineSettings* settings, const int32_t* ranks,
                                                             int32_t count);
void litert_lm_engine_settings_enable_benchmark(LiteRtLmEngineSettings* settings);
void litert_lm_engine_settings_set_num_prefill_tokens(LiteRtLmEngineSettings* settings, int32_t count);
void litert_lm_engine_settings_set_num_decode_tokens(LiteRtLmEngineSettings* settings, int32_t count);
void litert_lm_engine_settings_set_enable_speculative_decoding(LiteRtLmEngineSettings* settings, bool enable);
void litert_lm_engine_settings_set_max_vision_tokens_per_image(LiteRtLmEngineSettings* settings, int32_t count);
void litert_lm_engine_settings_set_gpu_enable_metal_residency_set(LiteRtLmEngineSettings* settings, bool enable);
LiteRtLmEngine* litert_lm_engine_create(const LiteRtLmEngineSettings* settings);
void litert_lm_engine_delete(LiteRtLmEngine* engine);
int litert_lm_experimental_engine_update_gpu_enable_metal_residency_set(LiteRtLmEngine* engine, bool enable);

/* Session configuration and sampler parameters (sampler type 2: top-k/top-p). */
LiteRtLmSessionConfig* litert_lm_session_config_create(void);
void litert_lm_session_config_delete(LiteRtLmSessionConfig* config);
LiteRtLmSamplerParams* litert_lm_sampler_params_create(int32_t type);
void litert_lm_sampler_params_delete(LiteRtLmSamplerParams* params);
void litert_lm_sampler_params_set_top_k(LiteRtLmSamplerParams* params, int32_t top_k);
void litert_lm_sampler_params_set_top_p(LiteRtLmSamplerParams* params, float top_p);
void litert_lm_sampler_params_set_temperature(LiteRtLmSamplerParams* params, float temperature);
void litert_lm_sampler_params_set_seed(LiteRtLmSamplerParams* params, int32_t seed);
void litert_lm_session_config_set_sampler_params(LiteRtLmSessionConfig* config, const LiteRtLmSamplerParams* params);
int litert_lm_session_config_set_lora_path(LiteRtLmSessionConfig* config, const char* path);
int litert_lm_session_config_set_audio_lora_path(LiteRtLmSessionConfig* config, const char* path);

/* Conversation configuration (system message, tools and messages as JSON text). */
LiteRtLmConversationConfig* litert_lm_conversation_config_create(void);
void litert_lm_conversation_config_delete(LiteRtLmConversationConfig* config);
void litert_lm_conversation_config_set_session_config(LiteRtLmConversationConfig* config,
                                                      const LiteRtLmSessionConfig* session_config);
void litert_lm_conversation_config_set_system_message(LiteRtLmConversationConfig* config, const char* json);
void litert_lm_conversation_config_set_tools(LiteRtLmConversationConfig* config, const char* json);
void litert_lm_conversation_config_set_messages(LiteRtLmConversationConfig* config, const char* json);
void litert_lm_conversation_config_set_constraint_provider(LiteRtLmConversationConfig* config, int32_t kind);
void litert_lm_conversation_config_set_enable_constrained_decoding(LiteRtLmConversationConfig* config, bool enable);
void litert_lm_conversation_config_set_stream_tool_calls(LiteRtLmConversationConfig* config, bool enable,
                                                         const char* key);
void litert_lm_conversation_config_set_filter_channel_content_from_kv_cache(LiteRtLmConversationConfig* config,
                                                                            bool enable);
LiteRtLmThinkingConfig* litert_lm_thinking_config_create(void);
void litert_lm_thinking_config_delete(LiteRtLmThinkingConfig* config);
void litert_lm_thinking_config_set_enable_thinking(LiteRtLmThinkingConfig* config, bool enable);
void litert_lm_thinking_config_set_thinking_token_budget(LiteRtLmThinkingConfig* config, int32_t budget);
void litert_lm_conversation_config_set_thinking_config(LiteRtLmConversationConfig* config,
                                                       const LiteRtLmThinkingConfig* thinking);

/* Conversation. */
LiteRtLmConversation* litert_lm_conversation_create(LiteRtLmEngine* engine, const LiteRtLmConversationConfig* config);
void litert_lm_conversation_delete(LiteRtLmConversation* conversation);

/* Optional arguments of one send. Constraint kinds: 1 regex, 2 JSON schema. */
LiteRtLmConversationOptionalArgs* litert_lm_conversation_optional_args_create(void);
void litert_lm_conversation_optional_args_delete(LiteRtLmConversationOptionalArgs* args);
void litert_lm_conversation_optional_args_set_visual_token_budget(LiteRtLmConversationOptionalArgs* args,
                                                                  int32_t budget);
LiteRtLmRepetitionPenaltyConfig* litert_lm_repetition_penalty_config_create(void);
void litert_lm_repetition_penalty_config_delete(LiteRtLmRepetitionPenaltyConfig* config);
void litert_lm_repetition_penalty_config_set_repetition_penalty(LiteRtLmRepetitionPenaltyConfig* config, float value);
void litert_lm_repetition_penalty_config_set_presence_penalty(LiteRtLmRepetitionPenaltyConfig* config, float value);
void litert_lm_repetition_penalty_config_set_frequency_penalty(LiteRtLmRepetitionPenaltyConfig* config, float value);
void litert_lm_repetition_penalty_config_set_window_size(LiteRtLmRepetitionPenaltyConfig* config, int32_t size);
void litert_lm_conversation_optional_args_set_repetition_penalty_config(LiteRtLmConversationOptionalArgs* args,
                                                                        const LiteRtLmRepetitionPenaltyConfig* config);
LiteRtLmNoRepeatNgramConfig* litert_lm_no_repeat_ngram_config_create(void);
void litert_lm_no_repeat_ngram_config_delete(LiteRtLmNoRepeatNgramConfig* config);
void litert_lm_no_repeat_ngram_config_set_no_repeat_ngram_size(LiteRtLmNoRepeatNgramConfig* config, int32_t size);
void litert_lm_no_repeat_ngram_config_set_window_size(LiteRtLmNoRepeatNgramConfig* config, int32_t size);
void litert_lm_conversation_optional_args_set_no_repeat_ngram_config(LiteRtLmConversationOptionalArgs* args,
                                                                     const LiteRtLmNoRepeatNgramConfig* config);
LiteRtLmSuppressTokensConfig* litert_lm_suppress_tokens_config_create(void);
void litert_lm_suppress_tokens_config_delete(LiteRtLmSuppressTokensConfig* config);
void litert_lm_suppress_tokens_config_set_suppress_tokens(LiteRtLmSuppressTokensConfig* config, const int32_t* ids,
                                                          int32_t count);
void litert_lm_conversation_optional_args_set_suppress_tokens_config(LiteRtLmConversationOptionalArgs* args,
                                                                     const LiteRtLmSuppressTokensConfig* config);
void litert_lm_conversation_optional_args_set_max_output_tokens(LiteRtLmConversationOptionalArgs* args, int32_t count);
void litert_lm_conversation_optional_args_set_thinking_config(LiteRtLmConversationOptionalArgs* args,
                                                              const LiteRtLmThinkingConfig* config);
void litert_lm_conversation_optional_args_set_constraint(LiteRtLmConversationOptionalArgs* args, int32_t kind,
                                                         const char* schema_or_pattern);

/* Whole send: blocks until the reply is complete; NULL on failure. */
LiteRtLmJsonResponse* litert_lm_conversation_send_message(LiteRtLmConversation* conversation, const char* message_json,
                                                          const char* extra_context_json,
                                                          const LiteRtLmConversationOptionalArgs* args);
const char* litert_lm_json_response_get_string(const LiteRtLmJsonResponse* response);
void litert_lm_json_response_delete(LiteRtLmJsonResponse* response);

/* Streamed send: returns at once (0) and calls back per chunk. */
int litert_lm_conversation_send_message_stream(LiteRtLmConversation* conversation, const char* message_json,
                                               const char* extra_context_json,
                                               const LiteRtLmConversationOptionalArgs* args,
                                               LiteRtLmStreamCallback callback, void* user_data);
bool litert_lm_stream_chunk_is_final(const LiteRtLmStreamChunk* chunk);
const char* litert_lm_stream_chunk_get_error(const LiteRtLmStreamChunk* chunk);
const char* litert_lm_stream_chunk_get_text(const LiteRtLmStreamChunk* chunk);

/* Stops a running generation; safe to call from any thread while a send runs. */
void litert_lm_conversation_cancel_process(LiteRtLmConversation* conversation);
int32_t litert_lm_conversation_get_token_count(LiteRtLmConversation* conversation);
const char* litert_lm_conversation_render_message_to_string(LiteRtLmConversation* conversation,
                                                            const char* message_json);
const char* litert_lm_conversation_render_preface_to_string(LiteRtLmConversation* conversation);

/* Benchmark information of a conversation whose engine runs in benchmark mode. */
LiteRtLmBenchmarkInfo* litert_lm_conversation_get_benchmark_info(LiteRtLmConversation* conversation);
void litert_lm_benchmark_info_delete(LiteRtLmBenchmarkInfo* info);
int32_t litert_lm_benchmark_info_get_num_prefill_turns(const LiteRtLmBenchmarkInfo* info);
int32_t litert_lm_benchmark_info_get_num_decode_turns(const LiteRtLmBenchmarkInfo* info);
double litert_lm_benchmark_info_get_total_init_time_in_second(const LiteRtLmBenchmarkInfo* info);
double litert_lm_benchmark_info_get_time_to_first_token(const LiteRtLmBenchmarkInfo* info);
int32_t litert_lm_benchmark_info_get_prefill_token_count_at(const LiteRtLmBenchmarkInfo* info, int32_t index);
double litert_lm_benchmark_info_get_prefill_tokens_per_sec_at(const LiteRtLmBenchmarkInfo* info, int32_t index);
int32_t litert_lm_benchmark_info_get_decode_token_count_at(const LiteRtLmBenchmarkInfo* info, int32_t index);
double litert_lm_benchmark_info_get_decode_tokens_per_sec_at(const LiteRtLmBenchmarkInfo* info, int32_t index);

/* Model-file queries. Input modality kinds: 0 text, 1 vision, 2 audio, 3 video. */
LiteRtLmLoadedFile* litert_lm_loaded_file_create(const char* model_path);
void litert_lm_loaded_file_delete(LiteRtLmLoadedFile* file);
bool litert_lm_loaded_file_has_speculative_decoding_support(const LiteRtLmLoadedFile* file);
bool litert_lm_loaded_file_supports_thinking(const LiteRtLmLoadedFile* file);
bool litert_lm_loaded_file_supports_function_calling(const LiteRtLmLoadedFile* file);
bool litert_lm_loaded_file_supports_input_modality(const LiteRtLmLoadedFile* file, int32_t kind);
int32_t litert_lm_loaded_file_get_sampler_type(const LiteRtLmLoadedFile* file);
float litert_lm_loaded_file_get_sampler_temperature(const LiteRtLmLoadedFile* file);
int32_t litert_lm_loaded_file_get_sampler_top_k(const LiteRtLmLoadedFile* file);
float litert_lm_loaded_file_get_sampler_top_p(const LiteRtLmLoadedFile* file);
int32_t litert_lm_loaded_file_get_max_vision_token_budget(const LiteRtLmLoadedFile* file);

/* Embedding engine. Input kinds: 0 text, 1 image, 3 audio. */
LiteRtLmEmbeddingEngineSettings* litert_lm_embedding_engine_settings_create(const char* model_path, const char* backend,
                                                                            const char* vision_backend,
                                                                            const char* audio_backend);
void litert_lm_embedding_engine_settings_delete(LiteRtLmEmbeddingEngineSettings* settings);
void litert_lm_embedding_engine_settings_set_audio_num_threads(LiteRtLmEmbeddingEngineSettings* settings,
                                                               int32_t count);
void litert_lm_embedding_engine_settings_set_cache_dir(LiteRtLmEmbeddingEngineSettings* settings, const char* dir);
void litert_lm_embedding_engine_settings_set_max_input_length(LiteRtLmEmbeddingEngineSettings* settings,
                                                              int32_t length);
void litert_lm_embedding_engine_settings_set_vision_tokens_per_image(LiteRtLmEmbeddingEngineSettings* settings,
                                                                     int32_t count);
LiteRtLmEmbeddingEngine* litert_lm_embedding_engine_create(const LiteRtLmEmbeddingEngineSettings* settings);
void litert_lm_embedding_engine_delete(LiteRtLmEmbeddingEngine* engine);
LiteRtLmInputData* litert_lm_input_data_create(int32_t kind, const void* data, int32_t size);
void litert_lm_input_data_delete(LiteRtLmInputData* input);
LiteRtLmEmbeddingOptions* litert_lm_embedding_options_create(void);
void litert_lm_embedding_options_delete(LiteRtLmEmbeddingOptions* options);
void litert_lm_embedding_options_set_normalize(LiteRtLmEmbeddingOptions* options, bool normalize);
void litert_lm_embedding_options_set_insert_special_tokens(LiteRtLmEmbeddingOptions* options, bool insert);
void litert_lm_embedding_options_set_output_size(LiteRtLmEmbeddingOptions* options, int32_t size);
void litert_lm_embedding_options_set_vision_tokens_per_image(LiteRtLmEmbeddingOptions* options, int32_t count);
LiteRtLmEmbeddingResponse* litert_lm_embedding_engine_compute_embedding(LiteRtLmEmbeddingEngine* engine,
                                                                        const LiteRtLmInputData* const* inputs,
                                                                        int32_t count,
                                                                        const LiteRtLmEmbeddingOptions* options);
int32_t litert_lm_embedding_response_get_size(const LiteRtLmEmbeddingResponse* response);
const float* litert_lm_embedding_response_get_values(const LiteRtLmEmbeddingResponse* response);
void litert_lm_embedding_response_delete(LiteRtLmEmbeddingResponse* response);
LiteRtLmEmbeddingResponses* litert_lm_embedding_engine_compute_embedding_batch(
    LiteRtLmEmbeddingEngine* engine, const LiteRtLmInputData* const* const* batches, const size_t* counts,
    int32_t batch_count, const LiteRtLmEmbeddingOptions* options);
int32_t litert_lm_embedding_responses_get_size(const LiteRtLmEmbeddingResponses* responses);
const LiteRtLmEmbeddingResponse* litert_lm_embedding_responses_get_at(const LiteRtLmEmbeddingResponses* responses,
                                                                      int32_t index);
void litert_lm_embedding_responses_delete(LiteRtLmEmbeddingResponses* responses);

#ifdef __cplusplus
}
#endif

#endif /* MUREL_LITERT_LM_C_H */
