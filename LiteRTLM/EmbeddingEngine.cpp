#include "LiteRTLM/EmbeddingEngine.h"

#include "LiteRTLM/Error.h"
#include "LiteRTLM/Native.h"
#include "LiteRTLM/Runtime.h"

#include <cstring>
#include <fstream>

namespace litertlm {
namespace {

using EE = LiteRTLMError::EmbeddingEngineError;

// Native inputs of one call, deleted together on every path.
class Inputs {
 public:
  explicit Inputs(const Api* api) : api_(api) {}
  ~Inputs() {
    for (LiteRtLmInputData* input : inputs_) api_->input_data_delete(input);
  }
  Inputs(const Inputs&) = delete;
  Inputs& operator=(const Inputs&) = delete;

  // False when the part gives no input (tool response, unreadable file) or the
  // runtime refuses it.
  bool add(const Content& content) {
    std::int32_t kind = 0;
    std::vector<std::uint8_t> fileBytes;
    const void* data = nullptr;
    std::size_t size = 0;
    switch (content.kind) {
      case Content::Kind::text:
        kind = 0;
        data = content.text.c_str();
        size = std::strlen(content.text.c_str());  // up to the first zero byte
        break;
      case Content::Kind::imageData:
      case Content::Kind::audioData:
        kind = content.kind == Content::Kind::imageData ? 1 : 3;
        data = content.data.data();
        size = content.data.size();
        break;
      case Content::Kind::imageFile:
      case Content::Kind::audioFile: {
        kind = content.kind == Content::Kind::imageFile ? 1 : 3;
        std::ifstream file(content.text, std::ios::binary | std::ios::ate);
        if (!file) return false;
        const std::streamoff length = file.tellg();
        if (length < 0) return false;
        fileBytes.resize(static_cast<std::size_t>(length));
        file.seekg(0);
        if (!file.read(reinterpret_cast<char*>(fileBytes.data()), length)) return false;
        data = fileBytes.data();
        size = fileBytes.size();
        break;
      }
      case Content::Kind::toolResponse: return false;
    }
    static const std::uint8_t kEmpty = 0;
    if (size == 0) data = &kEmpty;
    if (size > static_cast<std::size_t>(INT32_MAX)) return false;
    LiteRtLmInputData* input = api_->input_data_create(kind, data, static_cast<std::int32_t>(size));
    if (!input) return false;
    inputs_.push_back(input);
    return true;
  }

  std::size_t size() const { return inputs_.size(); }
  const LiteRtLmInputData* const* data() const { return inputs_.data(); }

 private:
  const Api* api_;
  std::vector<LiteRtLmInputData*> inputs_;
};

Owned<LiteRtLmEmbeddingOptions> makeOptions(const Api* api, const EmbeddingOptions& o) {
  auto options = own(api->embedding_options_create(), api->embedding_options_delete);
  if (!options) throw LiteRTLMError(EE::failedToCreateSettings);
  if (o.normalize) api->embedding_options_set_normalize(options.get(), *o.normalize);
  if (o.insertSpecialTokens) api->embedding_options_set_insert_special_tokens(options.get(), *o.insertSpecialTokens);
  if (o.outputSize) api->embedding_options_set_output_size(options.get(), *o.outputSize);
  if (o.visionTokensPerImage)
    api->embedding_options_set_vision_tokens_per_image(options.get(), *o.visionTokensPerImage);
  return options;
}

EmbeddingResponse read(const Api* api, const LiteRtLmEmbeddingResponse* response, EE failure) {
  const std::int32_t size = api->embedding_response_get_size(response);
  const float* values = api->embedding_response_get_values(response);
  if (size <= 0) return {};
  if (!values) throw LiteRTLMError(failure);
  return {std::vector<float>(values, values + size)};
}

}  // namespace

EmbeddingEngine::~EmbeddingEngine() { close(); }

bool EmbeddingEngine::isInitialized() const {
  std::lock_guard lock(mutex_);
  return handle_ != nullptr;
}

void EmbeddingEngine::initialize() {
  std::lock_guard lock(mutex_);
  if (handle_) throw LiteRTLMError(EE::alreadyInitialized);
  const Api* api = Runtime::api();
  if (!api) throw LiteRTLMError(EE::failedToCreateEngine);
  const std::string main = config_.backend.name();
  const std::optional<std::string> vision =
      config_.visionBackend ? std::optional(config_.visionBackend->name()) : std::nullopt;
  const std::optional<std::string> audio =
      config_.audioBackend ? std::optional(config_.audioBackend->name()) : std::nullopt;
  auto settings =
      own(api->embedding_engine_settings_create(config_.modelPath.c_str(), main.c_str(),
                                                vision ? vision->c_str() : nullptr, audio ? audio->c_str() : nullptr),
          api->embedding_engine_settings_delete);
  if (!settings) throw LiteRTLMError(EE::failedToCreateSettings);
  if (config_.audioBackend && config_.audioBackend->kind == Backend::Kind::cpu && config_.audioBackend->threadCount &&
      *config_.audioBackend->threadCount > 0) {
    api->embedding_engine_settings_set_audio_num_threads(settings.get(), *config_.audioBackend->threadCount);
  }
  if (config_.cacheDir) api->embedding_engine_settings_set_cache_dir(settings.get(), config_.cacheDir->c_str());
  if (config_.maxInputLength)
    api->embedding_engine_settings_set_max_input_length(settings.get(), *config_.maxInputLength);
  if (config_.visionTokensPerImage) {
    api->embedding_engine_settings_set_vision_tokens_per_image(settings.get(), *config_.visionTokensPerImage);
  }
  LiteRtLmEmbeddingEngine* engine = api->embedding_engine_create(settings.get());
  if (!engine) throw LiteRTLMError(EE::failedToCreateEngine);
  api_ = api;
  handle_ = engine;
}

EmbeddingResponse EmbeddingEngine::computeEmbedding(const std::vector<Content>& contents,
                                                    const EmbeddingOptions& options) {
  std::lock_guard lock(mutex_);
  if (!handle_) throw LiteRTLMError(EE::notInitialized);
  Inputs inputs(api_);
  for (const Content& c : contents) {
    if (!inputs.add(c)) throw LiteRTLMError(EE::failedToCreateInputData);
  }
  auto nativeOptions = makeOptions(api_, options);
  auto response = own(api_->embedding_engine_compute_embedding(
                          handle_, inputs.data(), static_cast<std::int32_t>(inputs.size()), nativeOptions.get()),
                      api_->embedding_response_delete);
  if (!response) throw LiteRTLMError(EE::failedToComputeEmbedding);
  return read(api_, response.get(), EE::failedToComputeEmbedding);
}

std::vector<EmbeddingResponse> EmbeddingEngine::computeEmbeddingBatch(const std::vector<std::vector<Content>>& batches,
                                                                      const EmbeddingOptions& options) {
  std::lock_guard lock(mutex_);
  if (!handle_) throw LiteRTLMError(EE::notInitialized);
  Inputs inputs(api_);
  std::vector<std::size_t> counts;
  for (const auto& batch : batches) {
    for (const Content& c : batch) {
      if (!inputs.add(c)) throw LiteRTLMError(EE::failedToCreateInputData);
    }
    counts.push_back(batch.size());
  }
  auto nativeOptions = makeOptions(api_, options);
  std::vector<const LiteRtLmInputData* const*> starts;
  std::size_t offset = 0;
  for (std::size_t count : counts) {
    starts.push_back(count == 0 ? nullptr : inputs.data() + offset);
    offset += count;
  }
  auto responses =
      own(api_->embedding_engine_compute_embedding_batch(handle_, starts.data(), counts.data(),
                                                         static_cast<std::int32_t>(counts.size()), nativeOptions.get()),
          api_->embedding_responses_delete);
  if (!responses) throw LiteRTLMError(EE::failedToComputeEmbeddingBatch);
  std::vector<EmbeddingResponse> out;
  const std::int32_t size = api_->embedding_responses_get_size(responses.get());
  for (std::int32_t i = 0; i < size; ++i) {
    const LiteRtLmEmbeddingResponse* response = api_->embedding_responses_get_at(responses.get(), i);
    if (!response) throw LiteRTLMError(EE::failedToComputeEmbeddingBatch);
    out.push_back(read(api_, response, EE::failedToComputeEmbeddingBatch));
  }
  return out;
}

void EmbeddingEngine::close() {
  std::lock_guard lock(mutex_);
  if (!handle_) return;
  LiteRtLmEmbeddingEngine* handle = handle_;
  handle_ = nullptr;
  api_->embedding_engine_delete(handle);
}

}  // namespace litertlm
