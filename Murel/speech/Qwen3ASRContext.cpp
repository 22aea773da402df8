#include "speech/Qwen3ASRContext.h"

#include "runtime/DiagLog.h"
#include "runtime/SystemLog.h"
#include "speech/EngineError.h"
#include "speech/EngineResidency.h"

#include <gguf.h>
#include <llama.h>
#include <mtmd-helper.h>
#include <mtmd.h>

#include <QElapsedTimer>

#include <memory>
#include <mutex>

namespace murel {

namespace {

const Logger& qwenLog() {
  static const Logger log("qwen3asr");
  return log;
}

const QString kEngineName = QStringLiteral("Qwen3-ASR");

struct SamplerFree {
  void operator()(llama_sampler* sampler) const { llama_sampler_free(sampler); }
};

// Whether the projector file is a "qwen3a" audio projector whose output fits the
// text model's embeddings. mtmd checks the same, but it leaks the audio encoder
// it has just built when the sizes differ, so a file that would fail there
// never reaches it.
bool projectorFits(const QString& path, const llama_model* model) {
  lm_gguf_init_params params{true, nullptr};
  std::unique_ptr<lm_gguf_context, decltype(&lm_gguf_free)> gguf(
      lm_gguf_init_from_file(path.toLocal8Bit().constData(), params), &lm_gguf_free);
  if (!gguf) return true;  // unreadable: mtmd refuses it cleanly and says why
  auto stringValue = [&](const char* key) {
    const int64_t id = lm_gguf_find_key(gguf.get(), key);
    return id >= 0 && lm_gguf_get_kv_type(gguf.get(), id) == LM_GGUF_TYPE_STRING
               ? QByteArray(lm_gguf_get_val_str(gguf.get(), id))
               : QByteArray();
  };
  auto flag = [&](const char* key) {
    const int64_t id = lm_gguf_find_key(gguf.get(), key);
    return id >= 0 && lm_gguf_get_kv_type(gguf.get(), id) == LM_GGUF_TYPE_BOOL && lm_gguf_get_val_bool(gguf.get(), id);
  };
  QByteArray type = stringValue("clip.projector_type");
  if (type.isEmpty()) type = stringValue("clip.audio.projector_type");
  const int64_t output = lm_gguf_find_tensor(gguf.get(), "mm.a.mlp.2.weight");
  const bool fits = type == "qwen3a" && flag("clip.has_audio_encoder") && !flag("clip.has_vision_encoder") &&
                    output >= 0 && lm_gguf_get_tensor_ne(gguf.get(), output)[1] == llama_model_n_embd_inp(model);
  if (!fits) qwenLog().error(QStringLiteral("%1 is not a Qwen3-ASR audio projector for this model").arg(path));
  return fits;
}

void forwardLlamaLog(enum lm_ggml_log_level level, const char* text, void*) {
  if (level != LM_GGML_LOG_LEVEL_WARN && level != LM_GGML_LOG_LEVEL_ERROR) return;
  if (!text) return;
  const QString line = QString::fromUtf8(text).trimmed();
  if (line.isEmpty()) return;
  qwenLog().error(line);
  DiagLog::shared().log(QStringLiteral("llama"), QStringLiteral("warning"), line);
}

}  // namespace

void prepareLlamaBackend() {
  static std::once_flag once;
  std::call_once(once, [] {
    llama_log_set(forwardLlamaLog, nullptr);
    mtmd_helper_log_set(forwardLlamaLog, nullptr);
    llama_backend_init();
  });
}

QString Qwen3ASRContext::mediaMarker() { return QString::fromUtf8(mtmd_default_marker()); }

Qwen3ASRContext::Qwen3ASRContext(const QString& modelPath, const QString& projectorPath) {
  prepareLlamaBackend();
  QElapsedTimer timer;
  timer.start();

  // Each step frees what the earlier ones made when it fails: the destructor does
  // not run for an object whose constructor throws.
  llama_model_params modelParams = llama_model_default_params();
  modelParams.n_gpu_layers = 99;
  model_ = llama_model_load_from_file(modelPath.toLocal8Bit().constData(), modelParams);
  if (!model_) throw EngineError::initFailed(kEngineName);

  vocab_ = llama_model_get_vocab(model_);
  if (!vocab_) {
    llama_model_free(model_);
    throw EngineError::initFailed(kEngineName);
  }

  const int threads = engineThreadCount();
  llama_context_params contextParams = llama_context_default_params();
  contextParams.n_ctx = kContextTokens;
  contextParams.n_batch = kBatchTokens;
  contextParams.n_threads = threads;
  contextParams.n_threads_batch = threads;
  contextParams.flash_attn_type = LLAMA_FLASH_ATTN_TYPE_AUTO;
  ctx_ = llama_init_from_model(model_, contextParams);
  if (!ctx_) {
    llama_model_free(model_);
    throw EngineError::initFailed(kEngineName);
  }

  mtmd_context_params projectorParams = mtmd_context_params_default();
  projectorParams.use_gpu = true;
  projectorParams.print_timings = false;
  projectorParams.n_threads = threads;
  projectorParams.flash_attn_type = LLAMA_FLASH_ATTN_TYPE_AUTO;
  if (projectorFits(projectorPath, model_)) {
    projector_ = mtmd_init_from_file(projectorPath.toLocal8Bit().constData(), model_, projectorParams);
  }
  if (!projector_) {
    llama_free(ctx_);
    llama_model_free(model_);
    throw EngineError::initFailed(kEngineName);
  }

  qwenLog().info(QStringLiteral("Qwen3-ASR context initialized from %1 in %2ms").arg(modelPath).arg(timer.elapsed()));
}

Qwen3ASRContext::~Qwen3ASRContext() {
  if (projector_) mtmd_free(projector_);
  if (ctx_) llama_free(ctx_);
  if (model_) llama_model_free(model_);
}

size_t Qwen3ASRContext::tokenize(const AudioSamples& samples, const QByteArray& prompt) {
  mtmd::bitmap_ptr bitmap(mtmd_bitmap_init_from_audio(samples.size(), samples.data()));
  if (!bitmap) throw EngineError::runFailed(kEngineName, -1);
  mtmd::input_chunks_ptr chunks(mtmd_input_chunks_init());
  if (!chunks) throw EngineError::runFailed(kEngineName, -1);
  const mtmd_input_text text{prompt.constData(), static_cast<size_t>(prompt.size()), true, true};
  const mtmd_bitmap* bitmaps[] = {bitmap.get()};
  const int32_t status = mtmd_tokenize(projector_, chunks.get(), &text, bitmaps, 1);
  if (status != 0) throw EngineError::runFailed(kEngineName, status);
  return mtmd_helper_get_n_tokens(chunks.get());
}

QByteArray Qwen3ASRContext::transcribe(const AudioSamples& samples, const QByteArray& prompt) {
  if (!ctx_ || !projector_) throw EngineError::notLoaded();
  QElapsedTimer timer;
  timer.start();

  // Every run starts from nothing, so the chunks of one recording stay independent.
  llama_memory_clear(llama_get_memory(ctx_), true);
  // The audio encoder keeps the count it was made with; the decoder follows the load.
  const int threads = inferenceThreadCountNow();
  llama_set_n_threads(ctx_, threads, threads);

  // Freed on every path, the failing ones included.
  mtmd::bitmap_ptr bitmap(mtmd_bitmap_init_from_audio(samples.size(), samples.data()));
  if (!bitmap) throw EngineError::runFailed(kEngineName, -1);
  mtmd::input_chunks_ptr chunks(mtmd_input_chunks_init());
  if (!chunks) throw EngineError::runFailed(kEngineName, -1);

  const mtmd_input_text text{prompt.constData(), static_cast<size_t>(prompt.size()), true, true};
  const mtmd_bitmap* bitmaps[] = {bitmap.get()};
  int32_t status = mtmd_tokenize(projector_, chunks.get(), &text, bitmaps, 1);
  if (status != 0) throw EngineError::runFailed(kEngineName, status);

  llama_pos nextPosition = 0;
  status = mtmd_helper_eval_chunks(projector_, ctx_, chunks.get(), 0, 0, kBatchTokens, true, &nextPosition);
  if (status != 0) throw EngineError::runFailed(kEngineName, status);

  QByteArray answer = decodeGreedily();
  qwenLog().info(
      QStringLiteral("Qwen3-ASR transcribed %1 samples in %2ms").arg(qint64(samples.size())).arg(timer.elapsed()));
  return answer;
}

QByteArray Qwen3ASRContext::decodeGreedily() {
  std::unique_ptr<llama_sampler, SamplerFree> sampler(llama_sampler_chain_init(llama_sampler_chain_default_params()));
  if (!sampler) throw EngineError::runFailed(kEngineName, -1);
  llama_sampler_chain_add(sampler.get(), llama_sampler_init_greedy());

  QByteArray bytes;
  for (int i = 0; i < kMaxAnswerTokens; ++i) {
    llama_token token = llama_sampler_sample(sampler.get(), ctx_, -1);
    if (llama_vocab_is_eog(vocab_, token)) break;
    bytes += tokenPiece(token);
    const int32_t status = llama_decode(ctx_, llama_batch_get_one(&token, 1));
    if (status != 0) throw EngineError::runFailed(kEngineName, status);
  }
  return bytes;
}

QByteArray Qwen3ASRContext::tokenPiece(int32_t token) const {
  char buffer[64];
  int32_t n = llama_token_to_piece(vocab_, token, buffer, sizeof(buffer), 0, false);
  if (n < 0) {
    QByteArray piece(-n, Qt::Uninitialized);
    n = llama_token_to_piece(vocab_, token, piece.data(), static_cast<int32_t>(piece.size()), 0, false);
    return n < 1 ? QByteArray() : piece.left(n);
  }
  return n < 1 ? QByteArray() : QByteArray(buffer, n);
}

}  // namespace murel
