#pragma once

// Control side of the scripted LiteRT-LM runtime used by the tests. The runtime
// itself is the shared library fake_litert_lm, opened by the module through its
// real dlopen path; tests link the same library to script and inspect it.

#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fake_litert_lm {

struct Call {
  std::string name;  // without the litert_lm_ prefix
  std::string args;  // the arguments, comma-separated; "null" for a null text
  std::thread::id thread;
};

struct Chunk {
  std::optional<std::string> text;
  std::optional<std::string> error;
  bool final = false;
};

// Forgets every script and record (waiting for running stream threads first).
void reset();

std::vector<Call> calls();
std::vector<std::string> callNames();
// The recorded arguments of every call of that name, in order.
std::vector<std::string> argsOf(const std::string& name);
int countOf(const std::string& name);
// Handles created and not yet deleted, of every kind.
int liveHandles();

// Makes the next `times` calls of `name` fail (-1: every call): a create returns
// null, a call with a status returns 7, a send returns null.
void failCall(const std::string& name, int times = -1);

// Replies of conversation_send_message, in order; then the default reply.
void pushReply(const std::string& json);
void setDefaultReply(const std::string& json);
// Chunks of the next conversation_send_message_stream calls, one list per call;
// then the default stream (one final chunk with a text reply). A stream whose
// `deliverAfterCancel` is set keeps sending after a cancel, as a late runtime would.
void pushStream(const std::vector<Chunk>& chunks, bool deliverAfterCancel = false);
void setDefaultStream(const std::vector<Chunk>& chunks);
// Waits until every stream thread has delivered its chunks.
void joinStreams();

// While held, conversation_send_message blocks until releaseSends() or a cancel
// of its conversation (then it returns null).
void holdSends(bool hold);
void releaseSends();
// Sends blocked in the runtime right now.
int waitingSends();

// Benchmark figures reported by conversation_get_benchmark_info.
void setBenchmark(int prefillTurns, int decodeTurns);
// Values of the embedding responses (one response per batch entry).
void setEmbedding(const std::vector<float>& values);

}  // namespace fake_litert_lm
