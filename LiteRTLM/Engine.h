#pragma once

#include "LiteRTLM/Config.h"

#include <memory>
#include <mutex>
#include <optional>

struct LiteRtLmEngine;

namespace litertlm {

struct Api;
class Conversation;

// One language-model engine of the runtime. Operations are serialised: at most
// one runs at a time, whatever thread calls. They block while the runtime works,
// so callers keep them off their UI thread. Always held by a shared_ptr: every
// conversation keeps its engine alive.
class Engine : public std::enable_shared_from_this<Engine> {
 public:
  static std::shared_ptr<Engine> create(EngineConfig config);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  EngineConfig engineConfig() const;
  void setEngineConfig(EngineConfig config);

  bool isInitialized() const;
  // Creates the runtime engine. With both token counts the engine runs in
  // benchmark mode. Fails with alreadyInitialized on a second call; a failed
  // call may be repeated. Without the runtime library: failedToCreateEngine.
  void initialize(std::optional<std::int32_t> prefillTokens = std::nullopt,
                  std::optional<std::int32_t> decodeTokens = std::nullopt);
  std::shared_ptr<Conversation> createConversation(std::optional<ConversationConfig> config = std::nullopt);
  void updateGPUEnableMetalResidencySet(bool enable);

  // One benchmark turn on a fresh engine.
  static BenchmarkInfo benchmark(const std::string& modelPath, Backend backend, std::optional<Backend> visionBackend,
                                 std::optional<Backend> audioBackend, std::int32_t prefillTokens,
                                 std::int32_t decodeTokens, std::optional<std::string> cacheDir,
                                 const std::string& inputText);

 private:
  explicit Engine(EngineConfig config) : config_(std::move(config)) {}

  mutable std::recursive_mutex mutex_;
  EngineConfig config_;
  const Api* api_ = nullptr;
  LiteRtLmEngine* handle_ = nullptr;
};

}  // namespace litertlm
