#include "LiteRTLM/Conversation.h"

#include "LiteRTLM/Engine.h"
#include "LiteRTLM/Error.h"
#include "LiteRTLM/ExperimentalFlags.h"
#include "LiteRTLM/Log.h"
#include "LiteRTLM/Native.h"
#include "LiteRTLM/Runtime.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace litertlm {
namespace {

using CE = LiteRTLMError::ConversationError;
using CK = LiteRTLMError::ConversationError::Kind;

std::atomic<int> gLiveStreamContexts{0};

// "tool_calls" holding a non-empty array of objects. An empty array asks for
// nothing: treating it as a request would throw away every reply that carries
// text beside an empty list.
const Json* requestedToolCalls(const Json& reply) {
  auto it = reply.find("tool_calls");
  if (it == reply.end() || !it->is_array() || it->empty()) return nullptr;
  for (const Json& entry : *it) {
    if (!entry.is_object()) return nullptr;
  }
  return &*it;
}

}  // namespace

// ---- MessageStream ---------------------------------------------------------

std::optional<Message> MessageStream::next() {
  std::unique_lock lock(mutex_);
  ready_.wait(lock, [this] { return !buffer_.empty() || finished_; });
  if (!buffer_.empty()) {
    Message m = std::move(buffer_.front());
    buffer_.pop_front();
    return m;
  }
  if (error_) std::rethrow_exception(error_);
  return std::nullopt;
}

bool MessageStream::isFinished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

void MessageStream::yield(Message message) {
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    buffer_.push_back(std::move(message));
  }
  ready_.notify_all();
}

void MessageStream::finish() {
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    finished_ = true;
  }
  ready_.notify_all();
}

void MessageStream::fail(std::exception_ptr error) {
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    finished_ = true;
    error_ = std::move(error);
  }
  ready_.notify_all();
}

// ---- Conversation ----------------------------------------------------------

struct Conversation::StreamContext {
  StreamContext(std::shared_ptr<MessageStream> s, std::shared_ptr<Conversation> c, SendOptions o)
      : stream(std::move(s)), conversation(std::move(c)), options(std::move(o)) {
    ++gLiveStreamContexts;
  }
  ~StreamContext() { --gLiveStreamContexts; }

  // The runtime may call back from several threads; the callback takes this lock.
  std::mutex mutex;
  std::shared_ptr<MessageStream> stream;
  std::shared_ptr<Conversation> conversation;
  int toolCallCount = 0;
  Json pendingToolCalls = Json::array();
  // Kept for the follow-up sends: no thinking option, no extra context.
  SendOptions options;
  // Set once the stream has ended while the runtime may still call back.
  bool finished = false;
};

int Conversation::liveStreamContexts() { return gLiveStreamContexts.load(); }

Conversation::Conversation(const Api* api, LiteRtLmConversation* handle, std::unique_ptr<ToolManager> toolManager,
                           bool automaticToolCalling, std::shared_ptr<Engine> engine, bool enableResponseFormat,
                           std::optional<std::int32_t> visualTokenBudget)
    : api_(api),
      handle_(handle),
      engine_(std::move(engine)),
      toolManager_(std::move(toolManager)),
      automaticToolCalling_(automaticToolCalling),
      enableResponseFormat_(enableResponseFormat),
      visualTokenBudget_(visualTokenBudget) {}

Conversation::~Conversation() {
  if (handle_) {
    LiteRtLmConversation* handle = handle_;
    handle_ = nullptr;
    api_->conversation_delete(handle);
  }
}

std::string Conversation::serializeMessage(const Json& message) {
  auto text = dumpJson(message);  // other serializer failures pass through
  if (!text) throw LiteRTLMError(CK::failedToSerializeMessage);
  return *text;
}

std::optional<std::string> Conversation::serializeExtra(const SendOptions& options) {
  if (!options.extraContext || options.extraContext->empty()) return std::nullopt;
  try {
    return dumpJson(*options.extraContext);
  } catch (const std::exception&) {
    return std::nullopt;  // extra context that cannot be written is dropped
  }
}

Conversation::NativeArgs Conversation::buildArguments(const Json& message, const SendOptions& o,
                                                      bool withThinking) const {
  const Api* api = api_;
  NativeArgs args(api->conversation_optional_args_create(), api->conversation_optional_args_delete);
  if (!args) throw LiteRTLMError(CE::invalidResponse("Failed to create native optional arguments."));

  if (visualTokenBudget_) {
    api->conversation_optional_args_set_visual_token_budget(args.get(), *visualTokenBudget_);
  } else if (auto budget = ExperimentalFlags::maxVisionTokensPerImage()) {
    api->conversation_optional_args_set_visual_token_budget(args.get(), *budget);
  }
  if (const auto& r = o.repetitionPenaltyConfig) {
    auto config = own(api->repetition_penalty_config_create(), api->repetition_penalty_config_delete);
    if (!config) throw LiteRTLMError(CE::invalidResponse("Failed to create native repetition penalty config."));
    if (r->repetitionPenalty)
      api->repetition_penalty_config_set_repetition_penalty(config.get(), *r->repetitionPenalty);
    if (r->presencePenalty) api->repetition_penalty_config_set_presence_penalty(config.get(), *r->presencePenalty);
    if (r->frequencyPenalty) api->repetition_penalty_config_set_frequency_penalty(config.get(), *r->frequencyPenalty);
    if (r->windowSize) api->repetition_penalty_config_set_window_size(config.get(), *r->windowSize);
    api->conversation_optional_args_set_repetition_penalty_config(args.get(), config.get());
  }
  if (const auto& n = o.noRepeatNgramConfig) {
    auto config = own(api->no_repeat_ngram_config_create(), api->no_repeat_ngram_config_delete);
    if (!config) throw LiteRTLMError(CE::invalidResponse("Failed to create native no repeat ngram config."));
    if (n->noRepeatNgramSize) api->no_repeat_ngram_config_set_no_repeat_ngram_size(config.get(), *n->noRepeatNgramSize);
    if (n->windowSize) api->no_repeat_ngram_config_set_window_size(config.get(), *n->windowSize);
    api->conversation_optional_args_set_no_repeat_ngram_config(args.get(), config.get());
  }
  if (o.suppressTokensConfig && !o.suppressTokensConfig->suppressTokens.empty()) {
    auto config = own(api->suppress_tokens_config_create(), api->suppress_tokens_config_delete);
    if (!config) throw LiteRTLMError(CE::invalidResponse("Failed to create native suppress tokens config."));
    const std::vector<std::int32_t>& ids = o.suppressTokensConfig->suppressTokens;
    api->suppress_tokens_config_set_suppress_tokens(config.get(), ids.data(), static_cast<std::int32_t>(ids.size()));
    api->conversation_optional_args_set_suppress_tokens_config(args.get(), config.get());
  }
  if (o.maxOutputTokens) api->conversation_optional_args_set_max_output_tokens(args.get(), *o.maxOutputTokens);
  if (withThinking && o.thinkingConfig) {
    auto config = own(api->thinking_config_create(), api->thinking_config_delete);
    if (!config) throw LiteRTLMError(CE::invalidResponse("Failed to create native thinking config."));
    api->thinking_config_set_enable_thinking(config.get(), o.thinkingConfig->enableThinking);
    api->thinking_config_set_thinking_token_budget(config.get(), o.thinkingConfig->thinkingTokenBudget);
    api->conversation_optional_args_set_thinking_config(args.get(), config.get());
  }
  if (o.responseFormat) {
    // While the model may still call tools, a constraint would keep it from doing so.
    auto role = message.find("role");
    const bool toolMessage = role != message.end() && role->is_string() && role->get<std::string>() == "tool";
    const bool toolsPending = automaticToolCalling_ && toolManager_->toolsJsonDescription() != "[]" && !toolMessage;
    if (!toolsPending) {
      api->conversation_optional_args_set_constraint(args.get(), static_cast<std::int32_t>(o.responseFormat->type),
                                                     o.responseFormat->schemaOrPattern.c_str());
    }
  }
  return args;
}

std::pair<Json, std::string> Conversation::sendNative(const Json& message, const SendOptions& options,
                                                      bool withThinking) {
  const std::string messageText = serializeMessage(message);
  const std::optional<std::string> extra = serializeExtra(options);
  NativeArgs args = buildArguments(message, options, withThinking);
  auto response =
      own(api_->conversation_send_message(handle_, messageText.c_str(), extra ? extra->c_str() : nullptr, args.get()),
          api_->json_response_delete);
  if (!response) throw LiteRTLMError(CE::invalidResponse("Native sendMessage returned null."));
  const char* text = api_->json_response_get_string(response.get());
  if (!text) throw LiteRTLMError(CE::invalidResponse("Native get string for response returned null."));
  std::string replyText(text);
  Json reply = Json::parse(replyText);  // parser errors pass through
  if (!reply.is_object()) throw LiteRTLMError(CE::invalidJson("Failed to parse native response JSON."));
  return {std::move(reply), std::move(replyText)};
}

Json Conversation::runToolPass(const Json& toolCalls) const {
  Json parts = Json::array();
  for (const Json& entry : toolCalls) {
    if (!entry.is_object()) continue;
    auto function = entry.find("function");
    if (function == entry.end() || !function->is_object()) continue;
    auto name = function->find("name");
    auto arguments = function->find("arguments");
    if (name == function->end() || !name->is_string() || arguments == function->end() || !arguments->is_object()) {
      continue;
    }
    const std::string toolName = name->get<std::string>();
    Json result;
    try {
      result = toolManager_->execute(toolName, *arguments);
    } catch (const std::exception& e) {
      throw LiteRTLMError(CE::toolExecutionError(toolName, e.what()));
    } catch (...) {
      throw LiteRTLMError(CE::toolExecutionError(toolName, "unknown error"));
    }
    parts.push_back({{"type", "tool_response"}, {"name", toolName}, {"response", std::move(result)}});
  }
  return {{"role", "tool"}, {"content", std::move(parts)}};
}

Message Conversation::sendMessage(const Message& message, const SendOptions& options) {
  if (!handle_) throw LiteRTLMError(CK::notAlive);
  if (options.responseFormat && !enableResponseFormat_) throw LiteRTLMError(CK::responseFormatNotEnabled);

  auto [reply, replyText] = sendNative(message.toJson(), options, true);
  int passes = 0;
  for (;;) {
    const Json* calls = requestedToolCalls(reply);
    if (calls && automaticToolCalling_) {
      const Json toolMessage = runToolPass(*calls);
      if (passes == kRecurringToolCallLimit - 1)
        throw LiteRTLMError(CE::recurringToolCallLimitExceeded(kRecurringToolCallLimit));
      ++passes;
      std::tie(reply, replyText) = sendNative(toolMessage, options, false);
      continue;
    }
    if (reply.contains("content") || reply.contains("channels") || calls) {
      return Message::fromJsonObject(reply);
    }
    throw LiteRTLMError(CE::invalidResponse(replyText));
  }
}

std::shared_ptr<MessageStream> Conversation::sendMessageStream(const Message& message, const SendOptions& options) {
  auto stream = std::make_shared<MessageStream>();
  if (options.responseFormat && !enableResponseFormat_) {
    stream->fail(std::make_exception_ptr(LiteRTLMError(CK::responseFormatNotEnabled)));
    return stream;
  }
  if (!handle_) {
    stream->fail(std::make_exception_ptr(LiteRTLMError(CK::notAlive)));
    return stream;
  }
  try {
    const Json messageJson = message.toJson();
    SendOptions kept = options;
    kept.thinkingConfig.reset();
    kept.extraContext.reset();
    auto context = std::make_shared<StreamContext>(stream, shared_from_this(), std::move(kept));
    const std::string messageText = serializeMessage(messageJson);
    const std::optional<std::string> extra = serializeExtra(options);
    NativeArgs args = buildArguments(messageJson, options, true);
    startNativeStream(context, messageText, extra, args);
  } catch (...) {
    stream->fail(std::current_exception());
  }
  return stream;
}

void Conversation::startNativeStream(const std::shared_ptr<StreamContext>& context, const std::string& messageText,
                                     const std::optional<std::string>& extraText, const NativeArgs& arguments) {
  Conversation& self = *context->conversation;
  auto* nativeReference = new std::shared_ptr<StreamContext>(context);
  const int status = self.api_->conversation_send_message_stream(
      self.handle_, messageText.c_str(), extraText ? extraText->c_str() : nullptr, arguments.get(),
      &Conversation::onChunk, nativeReference);
  if (status != 0) {
    delete nativeReference;
    {
      std::lock_guard lock(context->mutex);
      context->finished = true;
    }
    context->stream->fail(std::make_exception_ptr(LiteRTLMError(CE::failedToStartStream(status))));
  }
}

void Conversation::onChunk(void* userData, const LiteRtLmStreamChunk* chunk) {
  if (!userData) return;
  auto* nativeReference = static_cast<std::shared_ptr<StreamContext>*>(userData);
  const std::shared_ptr<StreamContext> context = *nativeReference;  // held for this call
  const Api* api = context->conversation->api_;
  std::unique_lock lock(context->mutex);

  const bool isFinal = api->stream_chunk_is_final(chunk);
  // The runtime calls back until the final chunk, so the reference it holds is
  // given up there and nowhere else.
  auto releaseAtFinal = [&] {
    if (isFinal) delete nativeReference;
  };
  auto endWithError = [&](std::exception_ptr error) {
    context->finished = true;
    context->stream->fail(std::move(error));
    // Stop the generation nobody reads any more; its final chunk still comes.
    if (!isFinal && context->conversation->handle_) api->conversation_cancel_process(context->conversation->handle_);
    releaseAtFinal();
  };

  if (context->finished) {
    releaseAtFinal();
    return;
  }
  if (const char* error = api->stream_chunk_get_error(chunk)) {
    endWithError(std::make_exception_ptr(LiteRTLMError(CE::invalidResponse(error))));
    return;
  }
  if (const char* text = api->stream_chunk_get_text(chunk)) {
    try {
      const Json object = Json::parse(text);
      if (!object.is_object()) throw LiteRTLMError(CE::invalidJson("Invalid JSON chunk"));
      auto calls = object.find("tool_calls");
      if (calls != object.end() && calls->is_array() &&
          std::all_of(calls->begin(), calls->end(), [](const Json& e) { return e.is_object(); })) {
        for (const Json& entry : *calls) context->pendingToolCalls.push_back(entry);
      }
      if (object.contains("content") || object.contains("channels")) {
        context->stream->yield(Message::fromJsonObject(object));
      }
    } catch (const std::exception& e) {
      Log::error(Log::kMainSubsystem, "Conversation", std::string("Failed to parse response JSON: ") + e.what());
      endWithError(std::current_exception());
      return;
    }
  }
  if (!isFinal) return;

  if (!context->pendingToolCalls.empty() && context->toolCallCount < kRecurringToolCallLimit) {
    ++context->toolCallCount;
    Json calls = std::exchange(context->pendingToolCalls, Json::array());
    // Not on the runtime's callback thread: the follow-up sends again.
    std::thread(&Conversation::followUp, context, std::move(calls)).detach();
  } else if (!context->pendingToolCalls.empty()) {
    context->finished = true;
    context->stream->fail(
        std::make_exception_ptr(LiteRTLMError(CE::recurringToolCallLimitExceeded(kRecurringToolCallLimit))));
  } else {
    context->finished = true;
    context->stream->finish();
  }
  lock.unlock();
  delete nativeReference;
}

void Conversation::followUp(std::shared_ptr<StreamContext> context, Json toolCalls) {
  try {
    Conversation& self = *context->conversation;
    const Json toolMessage = self.runToolPass(toolCalls);
    if (!self.handle_) throw LiteRTLMError(CK::notAlive);
    const std::string text = serializeMessage(toolMessage);
    NativeArgs args = self.buildArguments(toolMessage, context->options, false);
    startNativeStream(context, text, std::nullopt, args);
  } catch (...) {
    {
      std::lock_guard lock(context->mutex);
      context->finished = true;
    }
    context->stream->fail(std::current_exception());
  }
}

void Conversation::cancelProcess() {
  if (!handle_) throw LiteRTLMError(CK::notAlive);
  api_->conversation_cancel_process(handle_);
}

std::string Conversation::renderMessageToString(const Message& message) {
  if (!handle_) throw LiteRTLMError(CK::notAlive);
  const std::string text = serializeMessage(message.toJson());
  const char* rendered = api_->conversation_render_message_to_string(handle_, text.c_str());
  if (!rendered) throw LiteRTLMError(CE::invalidResponse("Failed to render message into string."));
  return rendered;
}

std::string Conversation::renderPrefaceToString() {
  if (!handle_) throw LiteRTLMError(CK::notAlive);
  const char* rendered = api_->conversation_render_preface_to_string(handle_);
  if (!rendered) throw LiteRTLMError(CE::invalidResponse("Failed to render preface into string."));
  return rendered;
}

std::int64_t Conversation::getTokenCount() {
  if (!handle_) throw LiteRTLMError(CK::notAlive);
  return api_->conversation_get_token_count(handle_);
}

BenchmarkInfo Conversation::getBenchmarkInfo() {
  if (!handle_) throw LiteRTLMError(CK::notAlive);
  if (!ExperimentalFlags::enableBenchmark()) throw LiteRTLMError(CK::benchmarkNotEnabled);
  auto info = own(api_->conversation_get_benchmark_info(handle_), api_->benchmark_info_delete);
  if (!info) throw LiteRTLMError(CK::benchmarkInfoUnavailable);
  BenchmarkInfo out;
  const std::int32_t prefillTurns = api_->benchmark_info_get_num_prefill_turns(info.get());
  const std::int32_t decodeTurns = api_->benchmark_info_get_num_decode_turns(info.get());
  out.initTimeInSecond = api_->benchmark_info_get_total_init_time_in_second(info.get());
  out.timeToFirstTokenInSecond = api_->benchmark_info_get_time_to_first_token(info.get());
  if (prefillTurns >= 1) {
    out.lastPrefillTokenCount = api_->benchmark_info_get_prefill_token_count_at(info.get(), prefillTurns - 1);
    out.lastPrefillTokensPerSecond = api_->benchmark_info_get_prefill_tokens_per_sec_at(info.get(), prefillTurns - 1);
  }
  if (decodeTurns >= 1) {
    out.lastDecodeTokenCount = api_->benchmark_info_get_decode_token_count_at(info.get(), decodeTurns - 1);
    out.lastDecodeTokensPerSecond = api_->benchmark_info_get_decode_tokens_per_sec_at(info.get(), decodeTurns - 1);
  }
  return out;
}

}  // namespace litertlm
