#include "stack_sides.h"

#include <llama.h>
#include <mtmd-helper.h>
#include <mtmd.h>

#include <atomic>
#include <cstring>

namespace murel::thirdparty_test::llama_side {

namespace {

std::atomic<int> logLines{0};

void countLine(lm_ggml_log_level, const char*, void*) { ++logLines; }

}  // namespace

void captureLogs() {
  llama_log_set(countLine, nullptr);
  mtmd_helper_log_set(countLine, nullptr);  // covers mtmd_log_set as well
}

int capturedLogLines() { return logLines.load(); }

bool modelLoads(const std::string& modelPath) {
  llama_model* model = llama_model_load_from_file(modelPath.c_str(), llama_model_default_params());
  if (model == nullptr) return false;
  llama_model_free(model);
  return true;
}

bool projectorLoads(const std::string& projectorPath) {
  mtmd_context_params params = mtmd_context_params_default();
  params.use_gpu = false;
  mtmd_context* ctx = mtmd_init_from_file(projectorPath.c_str(), nullptr, params);
  if (ctx == nullptr) return false;
  mtmd_free(ctx);
  return true;
}

bool hasCpuDevice() { return lm_ggml_backend_dev_by_type(LM_GGML_BACKEND_DEVICE_TYPE_CPU) != nullptr; }

bool writeGguf(const std::string& path, const std::string& architecture, const std::string& tensorName, int columns,
               int rows, const std::vector<float>& values) {
  if (values.size() != static_cast<size_t>(columns) * static_cast<size_t>(rows)) return false;

  lm_ggml_init_params initParams{};
  initParams.mem_size = lm_ggml_tensor_overhead() + values.size() * sizeof(float) + 1024;
  initParams.no_alloc = false;
  lm_ggml_context* tensors = lm_ggml_init(initParams);
  if (tensors == nullptr) return false;

  lm_ggml_tensor* tensor = lm_ggml_new_tensor_2d(tensors, LM_GGML_TYPE_F32, columns, rows);
  lm_ggml_set_name(tensor, tensorName.c_str());
  std::memcpy(tensor->data, values.data(), values.size() * sizeof(float));

  lm_gguf_context* gguf = lm_gguf_init_empty();
  lm_gguf_set_val_str(gguf, "general.architecture", architecture.c_str());
  lm_gguf_add_tensor(gguf, tensor);
  const bool written = lm_gguf_write_to_file(gguf, path.c_str(), /*only_meta=*/false);

  lm_gguf_free(gguf);
  lm_ggml_free(tensors);
  return written;
}

GgufContents readGguf(const std::string& path, const std::string& tensorName) {
  GgufContents contents;
  lm_ggml_context* tensors = nullptr;
  lm_gguf_init_params params{};
  params.no_alloc = false;
  params.ctx = &tensors;
  lm_gguf_context* gguf = lm_gguf_init_from_file(path.c_str(), params);
  if (gguf == nullptr) return contents;
  contents.readable = true;

  const int64_t key = lm_gguf_find_key(gguf, "general.architecture");
  if (key >= 0 && lm_gguf_get_kv_type(gguf, key) == LM_GGUF_TYPE_STRING)
    contents.architecture = lm_gguf_get_val_str(gguf, key);

  if (const lm_ggml_tensor* tensor = lm_ggml_get_tensor(tensors, tensorName.c_str());
      tensor != nullptr && tensor->type == LM_GGML_TYPE_F32) {
    for (int dim = 0; dim < lm_ggml_n_dims(tensor); ++dim) contents.tensorShape.push_back(tensor->ne[dim]);
    const auto* data = static_cast<const float*>(tensor->data);
    contents.tensorValues.assign(data, data + lm_ggml_nelements(tensor));
  }

  lm_gguf_free(gguf);
  lm_ggml_free(tensors);
  return contents;
}

}  // namespace murel::thirdparty_test::llama_side
