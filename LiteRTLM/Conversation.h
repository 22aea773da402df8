#pragma once

#include "LiteRTLM/Config.h"
#include "LiteRTLM/Message.h"
#include "LiteRTLM/Tool.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>

struct LiteRtLmConversation;
struct LiteRtLmConversationOptionalArgs;
struct LiteRtLmStreamChunk;

namespace litertlm {

struct Api;
class Engine;

// The optional settings of one send.
struct SendOptions {
  std::optional<Json> extraContext;  // an object passed beside the message
  std::optional<RepetitionPenaltyConfig> repetitionPenaltyConfig;
  std::optional<NoRepeatNgramConfig> noRepeatNgramConfig;
  std::optional<SuppressTokensConfig> suppressTokensConfig;
  std::optional<std::int32_t> maxOutputTokens;
  std::optional<ThinkingConfig> thinkingConfig;
  std::optional<ResponseFormat> responseFormat;
};

// The partial messages of a streamed reply, filled from the runtime's threads.
class MessageStream {
 public:
  // Blocks until the next partial message; absent at the normal end; throws the
  // error that ended the stream.
  std::optional<Message> next();
  bool isFinished() const;

  // Producer side. Once finished, further messages and ends are ignored.
  void yield(Message message);
  void finish();
  void fail(std::exception_ptr error);

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Message> buffer_;
  bool finished_ = false;
  std::exception_ptr error_;
};

// One dialogue with a loaded model. Made by Engine::createConversation; keeps its
// engine alive. Sends block until the runtime has answered.
class Conversation : public std::enable_shared_from_this<Conversation> {
 public:
  static constexpr int kRecurringToolCallLimit = 25;

  ~Conversation();
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  bool isAlive() const { return handle_ != nullptr; }
  // The whole reply. Runs requested tools itself (when automatic tool calling is
  // on) and sends their results back, up to the tool-call limit.
  Message sendMessage(const Message& message, const SendOptions& options = {});
  // Returns at once; every failure arrives as the stream's terminal error.
  std::shared_ptr<MessageStream> sendMessageStream(const Message& message, const SendOptions& options = {});
  // Stops a running generation; callable from any thread while a send runs.
  void cancelProcess();
  std::string renderMessageToString(const Message& message);
  std::string renderPrefaceToString();
  std::int64_t getTokenCount();
  BenchmarkInfo getBenchmarkInfo();

  const ToolManager& toolManager() const { return *toolManager_; }
  bool automaticToolCalling() const { return automaticToolCalling_; }

  // Streamed sends whose context the runtime or a follow-up still holds (tests).
  static int liveStreamContexts();

 private:
  friend class Engine;
  struct StreamContext;

  Conversation(const Api* api, LiteRtLmConversation* handle, std::unique_ptr<ToolManager> toolManager,
               bool automaticToolCalling, std::shared_ptr<Engine> engine, bool enableResponseFormat,
               std::optional<std::int32_t> visualTokenBudget);

  using NativeArgs = std::unique_ptr<LiteRtLmConversationOptionalArgs, void (*)(LiteRtLmConversationOptionalArgs*)>;
  NativeArgs buildArguments(const Json& message, const SendOptions& options, bool withThinking) const;
  std::pair<Json, std::string> sendNative(const Json& message, const SendOptions& options, bool withThinking);
  Json runToolPass(const Json& toolCalls) const;
  static std::string serializeMessage(const Json& message);
  static std::optional<std::string> serializeExtra(const SendOptions& options);
  static void onChunk(void* userData, const LiteRtLmStreamChunk* chunk);
  static void followUp(std::shared_ptr<StreamContext> context, Json toolCalls);
  // Hands one reference to the context to the runtime; when the stream cannot
  // start, takes it back and ends the stream with failedToStartStream.
  static void startNativeStream(const std::shared_ptr<StreamContext>& context, const std::string& messageText,
                                const std::optional<std::string>& extraText, const NativeArgs& arguments);

  const Api* api_;
  LiteRtLmConversation* handle_;
  // Released after the tool manager (members go in reverse order), and only
  // after the native conversation is gone.
  std::shared_ptr<Engine> engine_;
  std::unique_ptr<ToolManager> toolManager_;
  bool automaticToolCalling_;
  bool enableResponseFormat_;
  std::optional<std::int32_t> visualTokenBudget_;
};

}  // namespace litertlm
