#pragma once

#include "runtime/Async.h"
#include "speech/EngineResidency.h"
#include "speech/Qwen3ASRModel.h"
#include "speech/TranscriptionEngine.h"

#include <memory>

namespace murel {

class Qwen3ASRContext;

// A Qwen3-ASR model through llama.cpp with its mtmd audio projector. Each call
// is one chat turn carrying the audio, decoded greedily; the answer is parsed
// for the transcript and the language. The model takes at most 30 s per call,
// so the host puts the voice-activity segmenter in front of it. Calls run one at
// a time on the engine's own worker.
class Qwen3ASREngine final : public TranscriptionEngine {
 public:
  explicit Qwen3ASREngine(Qwen3ASRModel::Case model);
  // The model and projector files as `descriptor` lists them (its storage folder
  // and its two artifacts, model first); the application uses the catalogue row.
  Qwen3ASREngine(Qwen3ASRModel::Case model, SpeechModelDescriptor descriptor);
  ~Qwen3ASREngine() override;

  bool isLoaded() const override { return residency_.isLoaded(); }
  // Nothing to do when loaded. modelMissing when either file is not there at its
  // exact size; initFailed("Qwen3-ASR") when llama.cpp or mtmd refuses them.
  QCoro::Task<void> load() override;
  QCoro::Task<void> unload() override;
  // The vocabulary goes into the system turn ("Vocabulary: a, b"); a language of
  // the model's table is put at the start of the answer, any other code counts as
  // none. The reported language is the one the model announced, else the
  // requested one.
  QCoro::Task<TranscriptionResult> transcribe(AudioSamples samples, std::optional<QString> language,
                                              QStringList vocabulary, CancellationToken cancel) override;

  Qwen3ASRModel::Case model() const { return model_; }

 private:
  const Qwen3ASRModel::Case model_;
  const SpeechModelDescriptor descriptor_;
  EngineResidency residency_{QStringLiteral("Qwen3-ASR"), "qwen3asr"};
  std::shared_ptr<Qwen3ASRContext> context_;           // used on worker_ only
  SerialExecutor worker_{QStringLiteral("qwen3asr")};  // last: joined before the context goes
};

// What the engine asks of the model for one call: the system text (none without
// vocabulary), and the requested language as code and name (both absent for no
// language or one outside the model's table).
struct Qwen3Request {
  std::optional<QString> systemText;
  std::optional<QString> languageCode;
  std::optional<QString> languageName;

  bool operator==(const Qwen3Request&) const = default;
};
Qwen3Request qwen3Request(const std::optional<QString>& language, const QStringList& vocabulary);

// The transcript of a raw answer: mended UTF-8, parsed, its repeated tail
// collapsed; the language the answer named when the table knows it, else the
// request's.
TranscriptionResult qwen3Result(const QByteArray& answer, const Qwen3Request& request);

}  // namespace murel
