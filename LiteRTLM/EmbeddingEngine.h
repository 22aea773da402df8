#pragma once

#include "LiteRTLM/Config.h"
#include "LiteRTLM/Message.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct LiteRtLmEmbeddingEngine;

namespace litertlm {

struct Api;

struct EmbeddingEngineConfig {
  std::string modelPath;
  Backend backend;
  std::optional<Backend> visionBackend;
  std::optional<Backend> audioBackend;
  std::optional<std::string> cacheDir;
  std::optional<std::int32_t> maxInputLength;
  std::optional<std::int32_t> visionTokensPerImage;
  bool operator==(const EmbeddingEngineConfig&) const = default;
};

struct EmbeddingOptions {
  std::optional<bool> normalize;
  std::optional<bool> insertSpecialTokens;
  std::optional<std::int32_t> outputSize;
  std::optional<std::int32_t> visionTokensPerImage;
  bool operator==(const EmbeddingOptions&) const = default;
};

struct EmbeddingResponse {
  std::vector<float> embedding;
  bool operator==(const EmbeddingResponse&) const = default;
};

// Turns message parts (text, images, audio) into embedding vectors. Operations
// are serialised and block while the runtime works.
class EmbeddingEngine {
 public:
  explicit EmbeddingEngine(EmbeddingEngineConfig config) : config_(std::move(config)) {}
  ~EmbeddingEngine();
  EmbeddingEngine(const EmbeddingEngine&) = delete;
  EmbeddingEngine& operator=(const EmbeddingEngine&) = delete;

  const EmbeddingEngineConfig& config() const { return config_; }
  bool isInitialized() const;
  void initialize();
  EmbeddingResponse computeEmbedding(const std::vector<Content>& inputs, const EmbeddingOptions& options = {});
  std::vector<EmbeddingResponse> computeEmbeddingBatch(const std::vector<std::vector<Content>>& batches,
                                                       const EmbeddingOptions& options = {});
  // Deletes the native engine; initialize() may be called again afterwards.
  void close();

 private:
  mutable std::mutex mutex_;
  EmbeddingEngineConfig config_;
  const Api* api_ = nullptr;
  LiteRtLmEmbeddingEngine* handle_ = nullptr;
};

}  // namespace litertlm
