// Writes the tiny Qwen3-ASR test models into the folder given as argument:
//
//   qwen3-asr-tiny.gguf              "qwen3" text model whose answer to any audio is
//                                    "language English<asr_text>Hello"
//   qwen3-asr-tiny-loop.gguf         the same vocabulary, but the answer never ends: it
//                                    cycles "a", 0xC3, 0xA9 (the two bytes of "é" as
//                                    separate tokens) forever
//   qwen3a-tiny-mmproj.gguf          a "qwen3a" audio projector for both
//   qwen3a-tiny-mmproj-mismatch.gguf a well-formed projector whose output size does
//                                    not fit the text models
//
// The text models have one transformer block whose attention and feed-forward
// weights are zero, so the residual stream at every position is the embedding of
// that position's token. Embeddings are one-hot and the output matrix maps each
// one-hot slot to the token that should follow, which makes the next token a
// function of the current one: the answer is exact whatever the audio says. The
// projector's weights are small pseudo-random numbers, so audio embeddings are
// finite (a NaN there would reach every later logit through the zeroed attention).

#include "ggml-backend.h"
#include "ggml.h"
#include "gguf.h"
#include "llama.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kTextEmbd = 32;
constexpr int kTextFF = 64;
constexpr int kTextHeads = 4;
constexpr int kTextHeadsKV = 2;

// GPT-2 byte-level encoding: every byte has a printable stand-in character.
std::string byteToken(int byte) {
  auto printable = [](int b) { return (b >= 33 && b <= 126) || (b >= 161 && b <= 172) || (b >= 174 && b <= 255); };
  int code = byte;
  if (!printable(byte)) {
    int n = 0;
    for (int b = 0; b < byte; ++b) {
      if (!printable(b)) ++n;
    }
    code = 256 + n;
  }
  std::string out;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

enum TokenType { kNormal = 1, kControl = 3, kUserDefined = 4 };

struct Vocabulary {
  std::vector<std::string> texts;
  std::vector<int32_t> types;
  std::map<std::string, int> ids;

  int add(const std::string& text, TokenType type) {
    const int id = static_cast<int>(texts.size());
    texts.push_back(text);
    types.push_back(type);
    ids[text] = id;
    return id;
  }
  int id(const std::string& text) const { return ids.at(text); }
  int byte(int b) const { return ids.at(byteToken(b)); }
};

Vocabulary makeVocabulary() {
  Vocabulary v;
  for (int b = 0; b < 256; ++b) v.add(byteToken(b), kNormal);
  v.add("language", kNormal);
  v.add(byteToken(' ') + "English", kNormal);
  v.add("Hello", kNormal);
  v.add("<|endoftext|>", kControl);
  v.add("<|im_start|>", kControl);
  v.add("<|im_end|>", kControl);
  v.add("<|audio_start|>", kControl);
  v.add("<|audio_end|>", kControl);
  v.add("<|audio_pad|>", kControl);
  // Rendered in the answer: the engine splits the answer at it.
  v.add("<asr_text>", kUserDefined);
  return v;
}

// What the text model's weights encode: the token that follows each token.
struct Transitions {
  std::vector<std::pair<int, int>> next;  // (token, following token)
  std::map<int, int> slot;                // token -> its one-hot embedding slot

  void add(int from, int to) {
    next.emplace_back(from, to);
    for (int t : {from, to}) {
      if (!slot.count(t)) slot.emplace(t, static_cast<int>(slot.size()));
    }
  }
};

Transitions answerTransitions(const Vocabulary& v) {
  Transitions t;
  const int newline = v.byte('\n');
  t.add(newline, v.id("language"));
  t.add(v.id("language"), v.id(byteToken(' ') + "English"));
  t.add(v.id(byteToken(' ') + "English"), v.id("<asr_text>"));
  t.add(v.id("<asr_text>"), v.id("Hello"));
  t.add(v.id("Hello"), v.id("<|im_end|>"));
  return t;
}

Transitions loopTransitions(const Vocabulary& v) {
  Transitions t;
  t.add(v.byte('\n'), v.byte('a'));
  t.add(v.id("<asr_text>"), v.byte('a'));
  t.add(v.byte('a'), v.byte(0xC3));
  t.add(v.byte(0xC3), v.byte(0xA9));
  t.add(v.byte(0xA9), v.byte('a'));
  return t;
}

struct TensorFill {
  const Vocabulary* vocab;
  const Transitions* transitions;
};

void fillTextTensor(lm_ggml_tensor* tensor, void* userData) {
  const auto& fill = *static_cast<const TensorFill*>(userData);
  const std::string name = lm_ggml_get_name(tensor);
  const int64_t count = lm_ggml_nelements(tensor);
  std::vector<float> data(static_cast<size_t>(count), 0.0f);
  const bool isNorm = name.find("norm") != std::string::npos;
  if (isNorm) {
    std::fill(data.begin(), data.end(), 1.0f);
  } else if (name == "token_embd.weight") {
    for (const auto& [token, slot] : fill.transitions->slot) data[static_cast<size_t>(token) * kTextEmbd + slot] = 1.0f;
  } else if (name == "output.weight") {
    for (const auto& [from, to] : fill.transitions->next) {
      data[static_cast<size_t>(to) * kTextEmbd + fill.transitions->slot.at(from)] = 1.0f;
    }
  }
  if (tensor->type != LM_GGML_TYPE_F32) {
    std::fprintf(stderr, "unexpected tensor type for %s\n", name.c_str());
    std::exit(1);
  }
  lm_ggml_backend_tensor_set(tensor, data.data(), 0, data.size() * sizeof(float));
}

void setStrings(lm_gguf_context* ctx, const char* key, const std::vector<std::string>& values) {
  std::vector<const char*> pointers;
  for (const auto& v : values) pointers.push_back(v.c_str());
  lm_gguf_set_arr_str(ctx, key, pointers.data(), pointers.size());
}

bool writeTextModel(const std::string& path, const Vocabulary& vocab, const Transitions& transitions) {
  lm_gguf_context* meta = lm_gguf_init_empty();
  lm_gguf_set_val_str(meta, "general.architecture", "qwen3");
  lm_gguf_set_val_str(meta, "general.name", "tiny qwen3 asr test model");
  lm_gguf_set_val_u32(meta, "qwen3.context_length", 4096);
  lm_gguf_set_val_u32(meta, "qwen3.embedding_length", kTextEmbd);
  lm_gguf_set_val_u32(meta, "qwen3.block_count", 1);
  lm_gguf_set_val_u32(meta, "qwen3.feed_forward_length", kTextFF);
  lm_gguf_set_val_u32(meta, "qwen3.attention.head_count", kTextHeads);
  lm_gguf_set_val_u32(meta, "qwen3.attention.head_count_kv", kTextHeadsKV);
  lm_gguf_set_val_u32(meta, "qwen3.attention.key_length", kTextEmbd / kTextHeads);
  lm_gguf_set_val_u32(meta, "qwen3.attention.value_length", kTextEmbd / kTextHeads);
  lm_gguf_set_val_f32(meta, "qwen3.attention.layer_norm_rms_epsilon", 1e-6f);
  lm_gguf_set_val_f32(meta, "qwen3.rope.freq_base", 1000000.0f);
  lm_gguf_set_val_str(meta, "tokenizer.ggml.model", "gpt2");
  lm_gguf_set_val_str(meta, "tokenizer.ggml.pre", "qwen2");
  setStrings(meta, "tokenizer.ggml.tokens", vocab.texts);
  lm_gguf_set_arr_data(meta, "tokenizer.ggml.token_type", LM_GGUF_TYPE_INT32, vocab.types.data(), vocab.types.size());
  // No merges: text splits into single characters, each of which is a token.
  setStrings(meta, "tokenizer.ggml.merges", {});
  lm_gguf_set_val_u32(meta, "tokenizer.ggml.eos_token_id", static_cast<uint32_t>(vocab.id("<|im_end|>")));
  lm_gguf_set_val_u32(meta, "tokenizer.ggml.bos_token_id", static_cast<uint32_t>(vocab.id("<|endoftext|>")));
  lm_gguf_set_val_u32(meta, "tokenizer.ggml.padding_token_id", static_cast<uint32_t>(vocab.id("<|endoftext|>")));
  lm_gguf_set_val_bool(meta, "tokenizer.ggml.add_bos_token", false);

  TensorFill fill{&vocab, &transitions};
  llama_model_params params = llama_model_default_params();
  params.n_gpu_layers = 0;
  llama_model* model = llama_model_init_from_user(meta, fillTextTensor, &fill, params);
  lm_gguf_free(meta);
  if (!model) {
    std::fprintf(stderr, "could not build the text model %s\n", path.c_str());
    return false;
  }
  llama_model_save_to_file(model, path.c_str());
  llama_model_free(model);
  return true;
}

// Deterministic small numbers, so the files are the same on every build.
struct Noise {
  uint32_t state = 12345;
  float next(float scale) {
    state = state * 1664525u + 1013904223u;
    return (static_cast<float>(state >> 8) / static_cast<float>(1u << 24) * 2.0f - 1.0f) * scale;
  }
};

bool writeProjector(const std::string& path, int projectionSize) {
  constexpr int kMel = 128;
  constexpr int kChannels = 4;
  constexpr int kEmbd = 16;
  constexpr int kFF = 32;
  constexpr int kHidden = 32;
  constexpr int kConvHeight = kMel / 8;  // three stride-2 convolutions

  lm_ggml_init_params init{64 * 1024 * 1024, nullptr, false};
  lm_ggml_context* tensors = lm_ggml_init(init);
  lm_gguf_context* gguf = lm_gguf_init_empty();
  lm_gguf_set_val_str(gguf, "general.architecture", "clip");
  lm_gguf_set_val_str(gguf, "general.name", "tiny qwen3a test projector");
  lm_gguf_set_val_str(gguf, "clip.projector_type", "qwen3a");
  lm_gguf_set_val_bool(gguf, "clip.has_audio_encoder", true);
  lm_gguf_set_val_bool(gguf, "clip.has_vision_encoder", false);
  lm_gguf_set_val_u32(gguf, "clip.audio.embedding_length", kEmbd);
  lm_gguf_set_val_u32(gguf, "clip.audio.feed_forward_length", kFF);
  lm_gguf_set_val_u32(gguf, "clip.audio.block_count", 1);
  lm_gguf_set_val_u32(gguf, "clip.audio.projection_dim", static_cast<uint32_t>(projectionSize));
  lm_gguf_set_val_u32(gguf, "clip.audio.attention.head_count", 2);
  lm_gguf_set_val_f32(gguf, "clip.audio.attention.layer_norm_epsilon", 1e-5f);
  lm_gguf_set_val_u32(gguf, "clip.audio.num_mel_bins", kMel);

  Noise noise;
  auto add = [&](const char* name, std::vector<int64_t> ne, float scale, float base = 0.0f) {
    lm_ggml_tensor* t = nullptr;
    switch (ne.size()) {
      case 1: t = lm_ggml_new_tensor_1d(tensors, LM_GGML_TYPE_F32, ne[0]); break;
      case 2: t = lm_ggml_new_tensor_2d(tensors, LM_GGML_TYPE_F32, ne[0], ne[1]); break;
      default: t = lm_ggml_new_tensor_4d(tensors, LM_GGML_TYPE_F32, ne[0], ne[1], ne[2], ne[3]); break;
    }
    lm_ggml_set_name(t, name);
    auto* data = static_cast<float*>(t->data);
    for (int64_t i = 0; i < lm_ggml_nelements(t); ++i) data[i] = base + noise.next(scale);
    lm_gguf_add_tensor(gguf, t);
  };
  add("a.conv2d.1.weight", {3, 3, 1, kChannels}, 0.2f);
  add("a.conv2d.1.bias", {kChannels}, 0.05f);
  add("a.conv2d.2.weight", {3, 3, kChannels, kChannels}, 0.2f);
  add("a.conv2d.2.bias", {kChannels}, 0.05f);
  add("a.conv2d.3.weight", {3, 3, kChannels, kChannels}, 0.2f);
  add("a.conv2d.3.bias", {kChannels}, 0.05f);
  add("a.conv_out.weight", {kConvHeight * kChannels, kEmbd}, 0.1f);
  add("a.position_embd.weight", {kEmbd, 32}, 0.1f);
  add("a.blk.0.ln1.weight", {kEmbd}, 0.05f, 1.0f);
  add("a.blk.0.ln1.bias", {kEmbd}, 0.05f);
  add("a.blk.0.attn_q.weight", {kEmbd, kEmbd}, 0.1f);
  add("a.blk.0.attn_q.bias", {kEmbd}, 0.05f);
  add("a.blk.0.attn_k.weight", {kEmbd, kEmbd}, 0.1f);
  add("a.blk.0.attn_k.bias", {kEmbd}, 0.05f);
  add("a.blk.0.attn_v.weight", {kEmbd, kEmbd}, 0.1f);
  add("a.blk.0.attn_v.bias", {kEmbd}, 0.05f);
  add("a.blk.0.attn_out.weight", {kEmbd, kEmbd}, 0.1f);
  add("a.blk.0.attn_out.bias", {kEmbd}, 0.05f);
  add("a.blk.0.ln2.weight", {kEmbd}, 0.05f, 1.0f);
  add("a.blk.0.ln2.bias", {kEmbd}, 0.05f);
  add("a.blk.0.ffn_up.weight", {kEmbd, kFF}, 0.1f);
  add("a.blk.0.ffn_up.bias", {kFF}, 0.05f);
  add("a.blk.0.ffn_down.weight", {kFF, kEmbd}, 0.1f);
  add("a.blk.0.ffn_down.bias", {kEmbd}, 0.05f);
  add("mm.a.mlp.1.weight", {kEmbd, kHidden}, 0.1f);
  add("mm.a.mlp.1.bias", {kHidden}, 0.05f);
  add("mm.a.mlp.2.weight", {kHidden, projectionSize}, 0.1f);
  add("mm.a.mlp.2.bias", {projectionSize}, 0.05f);

  const bool ok = lm_gguf_write_to_file(gguf, path.c_str(), false);
  lm_gguf_free(gguf);
  lm_ggml_free(tensors);
  if (!ok) std::fprintf(stderr, "could not write %s\n", path.c_str());
  return ok;
}

void quietLog(lm_ggml_log_level level, const char* text, void*) {
  if (level >= LM_GGML_LOG_LEVEL_WARN && text) std::fputs(text, stderr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  llama_log_set(quietLog, nullptr);
  llama_backend_init();
  const std::string dir = argv[1];
  const Vocabulary vocab = makeVocabulary();
  bool ok = writeTextModel(dir + "/qwen3-asr-tiny.gguf", vocab, answerTransitions(vocab));
  ok = ok && writeTextModel(dir + "/qwen3-asr-tiny-loop.gguf", vocab, loopTransitions(vocab));
  ok = ok && writeProjector(dir + "/qwen3a-tiny-mmproj.gguf", kTextEmbd);
  ok = ok && writeProjector(dir + "/qwen3a-tiny-mmproj-mismatch.gguf", kTextEmbd / 2);
  llama_backend_free();
  return ok ? 0 : 1;
}
