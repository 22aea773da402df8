#pragma once

#include "LiteRTLM/litert_lm_c.h"

#include <string>

namespace litertlm {

// Every entry point of the runtime's C library, by its name without the prefix.
#define MUREL_LITERT_LM_ENTRY_POINTS(X)                           \
  X(engine_settings_create)                                       \
  X(engine_settings_delete)                                       \
  X(engine_settings_set_max_num_tokens)                           \
  X(engine_settings_set_cache_dir)                                \
  X(engine_settings_set_lora_rank)                                \
  X(engine_settings_set_supported_lora_ranks)                     \
  X(engine_settings_set_audio_lora_rank)                          \
  X(engine_settings_set_supported_audio_lora_ranks)               \
  X(engine_settings_enable_benchmark)                             \
  X(engine_settings_set_num_prefill_tokens)                       \
  X(engine_settings_set_num_decode_tokens)                        \
  X(engine_settings_set_enable_speculative_decoding)              \
  X(engine_settings_set_max_vision_tokens_per_image)              \
  X(engine_settings_set_gpu_enable_metal_residency_set)           \
  X(engine_create)                                                \
  X(engine_delete)                                                \
  X(experimental_engine_update_gpu_enable_metal_residency_set)    \
  X(session_config_create)                                        \
  X(session_config_delete)                                        \
  X(sampler_params_create)                                        \
  X(sampler_params_delete)                                        \
  X(sampler_params_set_top_k)                                     \
  X(sampler_params_set_top_p)                                     \
  X(sampler_params_set_temperature)                               \
  X(sampler_params_set_seed)                                      \
  X(session_config_set_sampler_params)                            \
  X(session_config_set_lora_path)                                 \
  X(session_config_set_audio_lora_path)                           \
  X(conversation_config_create)                                   \
  X(conversation_config_delete)                                   \
  X(conversation_config_set_session_config)                       \
  X(conversation_config_set_system_message)                       \
  X(conversation_config_set_tools)                                \
  X(conversation_config_set_messages)                             \
  X(conversation_config_set_constraint_provider)                  \
  X(conversation_config_set_enable_constrained_decoding)          \
  X(conversation_config_set_stream_tool_calls)                    \
  X(conversation_config_set_filter_channel_content_from_kv_cache) \
  X(thinking_config_create)                                       \
  X(thinking_config_delete)                                       \
  X(thinking_config_set_enable_thinking)                          \
  X(thinking_config_set_thinking_token_budget)                    \
  X(conversation_config_set_thinking_config)                      \
  X(conversation_create)                                          \
  X(conversation_delete)                                          \
  X(conversation_optional_args_create)                            \
  X(conversation_optional_args_delete)                            \
  X(conversation_optional_args_set_visual_token_budget)           \
  X(repetition_penalty_config_create)                             \
  X(repetition_penalty_config_delete)                             \
  X(repetition_penalty_config_set_repetition_penalty)             \
  X(repetition_penalty_config_set_presence_penalty)               \
  X(repetition_penalty_config_set_frequency_penalty)              \
  X(repetition_penalty_config_set_window_size)                    \
  X(conversation_optional_args_set_repetition_penalty_config)     \
  X(no_repeat_ngram_config_create)                                \
  X(no_repeat_ngram_config_delete)                                \
  X(no_repeat_ngram_config_set_no_repeat_ngram_size)              \
  X(no_repeat_ngram_config_set_window_size)                       \
  X(conversation_optional_args_set_no_repeat_ngram_config)        \
  X(suppress_tokens_config_create)                                \
  X(suppress_tokens_config_delete)                                \
  X(suppress_tokens_config_set_suppress_tokens)                   \
  X(conversation_optional_args_set_suppress_tokens_config)        \
  X(conversation_optional_args_set_max_output_tokens)             \
  X(conversation_optional_args_set_thinking_config)               \
  X(conversation_optional_args_set_constraint)                    \
  X(conversation_send_message)                                    \
  X(json_response_get_string)                                     \
  X(json_response_delete)                                         \
  X(conversation_send_message_stream)                             \
  X(stream_chunk_is_final)                                        \
  X(stream_chunk_get_error)                                       \
  X(stream_chunk_get_text)                                        \
  X(conversation_cancel_process)                                  \
  X(conversation_get_token_count)                                 \
  X(conversation_render_message_to_string)                        \
  X(conversation_render_preface_to_string)                        \
  X(conversation_get_benchmark_info)                              \
  X(benchmark_info_delete)                                        \
  X(benchmark_info_get_num_prefill_turns)                         \
  X(benchmark_info_get_num_decode_turns)                          \
  X(benchmark_info_get_total_init_time_in_second)                 \
  X(benchmark_info_get_time_to_first_token)                       \
  X(benchmark_info_get_prefill_token_count_at)                    \
  X(benchmark_info_get_prefill_tokens_per_sec_at)                 \
  X(benchmark_info_get_decode_token_count_at)                     \
  X(benchmark_info_get_decode_tokens_per_sec_at)                  \
  X(loaded_file_create)                                           \
  X(loaded_file_delete)                                           \
  X(loaded_file_has_speculative_decoding_support)                 \
  X(loaded_file_supports_thinking)                                \
  X(loaded_file_supports_function_calling)                        \
  X(loaded_file_supports_input_modality)                          \
  X(loaded_file_get_sampler_type)                                 \
  X(loaded_file_get_sampler_temperature)                          \
  X(loaded_file_get_sampler_top_k)                                \
  X(loaded_file_get_sampler_top_p)                                \
  X(loaded_file_get_max_vision_token_budget)                      \
  X(embedding_engine_settings_create)                             \
  X(embedding_engine_settings_delete)                             \
  X(embedding_engine_settings_set_audio_num_threads)              \
  X(embedding_engine_settings_set_cache_dir)                      \
  X(embedding_engine_settings_set_max_input_length)               \
  X(embedding_engine_settings_set_vision_tokens_per_image)        \
  X(embedding_engine_create)                                      \
  X(embedding_engine_delete)                                      \
  X(input_data_create)                                            \
  X(input_data_delete)                                            \
  X(embedding_options_create)                                     \
  X(embedding_options_delete)                                     \
  X(embedding_options_set_normalize)                              \
  X(embedding_options_set_insert_special_tokens)                  \
  X(embedding_options_set_output_size)                            \
  X(embedding_options_set_vision_tokens_per_image)                \
  X(embedding_engine_compute_embedding)                           \
  X(embedding_response_get_size)                                  \
  X(embedding_response_get_values)                                \
  X(embedding_response_delete)                                    \
  X(embedding_engine_compute_embedding_batch)                     \
  X(embedding_responses_get_size)                                 \
  X(embedding_responses_get_at)                                   \
  X(embedding_responses_delete)

// The runtime's entry points, resolved from the library opened at run time.
struct Api {
#define MUREL_LITERT_LM_POINTER(name) decltype(&::litert_lm_##name) name = nullptr;
  MUREL_LITERT_LM_ENTRY_POINTS(MUREL_LITERT_LM_POINTER)
#undef MUREL_LITERT_LM_POINTER
};

// The runtime library is not part of the application and is usually not
// installed: it is opened on first need, and a missing library or entry point
// only makes the creation of engines fail.
namespace Runtime {

// The library's file name, looked up on the dynamic loader's search path.
inline constexpr const char* kDefaultLibrary = "liblitert_lm.so";

// The entry points, or null when the library or one of its entry points is
// missing. A failed attempt is repeated at the next call, so a runtime installed
// while the application runs is picked up; a successful one is kept.
const Api* api();
// Why api() is null ("" once the library is loaded).
std::string unavailableReason();
// Opens another library file from now on (tests load a scripted runtime this
// way). Engines already made keep the library they were made with.
void setLibraryPath(const std::string& path);
std::string libraryPath();

}  // namespace Runtime
}  // namespace litertlm
