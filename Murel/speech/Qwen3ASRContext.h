#pragma once

#include "speech/TranscriptionEngine.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// llama.cpp and mtmd stay in the .cpp file, so this header goes anywhere.
struct llama_model;
struct llama_context;
struct llama_vocab;
struct mtmd_context;

namespace murel {

// A Qwen3-ASR model in memory: the llama.cpp model and context and the mtmd
// audio projector bound to that model. Every handle is freed with the object,
// and a failed construction frees whatever it had made. Used on one thread at a
// time (its engine's worker).
class Qwen3ASRContext {
 public:
  static constexpr int kContextTokens = 4096;
  static constexpr int kBatchTokens = 2048;
  static constexpr int kMaxAnswerTokens = 512;

  // EngineError::initFailed("Qwen3-ASR") when llama.cpp refuses the model, the
  // context cannot be made or mtmd refuses the projector.
  Qwen3ASRContext(const QString& modelPath, const QString& projectorPath);
  ~Qwen3ASRContext();
  Qwen3ASRContext(const Qwen3ASRContext&) = delete;
  Qwen3ASRContext& operator=(const Qwen3ASRContext&) = delete;

  // The text in the prompt where mtmd puts the audio.
  static QString mediaMarker();

  // One run from an empty context memory: the prompt with the audio in place of
  // the marker, evaluated, then greedy decoding up to kMaxAnswerTokens. Returns
  // the answer's bytes as the tokens spelled them (not necessarily valid UTF-8).
  // runFailed("Qwen3-ASR", code) when a library step fails.
  QByteArray transcribe(const AudioSamples& samples, const QByteArray& prompt);

  // Tokenises the prompt with the audio into a fresh chunk list, returning the
  // number of tokens (text and audio) it makes; the first step of transcribe().
  size_t tokenize(const AudioSamples& samples, const QByteArray& prompt);

 private:
  QByteArray decodeGreedily();
  QByteArray tokenPiece(int32_t token) const;

  llama_model* model_ = nullptr;
  llama_context* ctx_ = nullptr;
  mtmd_context* projector_ = nullptr;
  const llama_vocab* vocab_ = nullptr;
};

// Sets up llama.cpp once per process: its and mtmd's warnings and errors go to
// the "qwen3asr" system log (at error level, trimmed; other levels are dropped),
// then the backend is initialised.
void prepareLlamaBackend();

}  // namespace murel
