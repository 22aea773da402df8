#pragma once

#include "runtime/Async.h"
#include "speech/EngineResidency.h"
#include "speech/SpeechSegmenter.h"
#include "speech/TranscriptionEngine.h"
#include "speech/WhisperModel.h"

#include <memory>
#include <optional>

namespace murel {

class WhisperContext;

// A Whisper model through whisper.cpp. Silence is cut from every
// transcription by whisper.cpp's voice-activity detector with the resource
// VAD model, run on a context of the engine's own (kWhisperVadThreads) and
// fed to whisper_full as its built-in detection would. Calls run one at a
// time on the engine's own worker.
class WhisperEngine final : public TranscriptionEngine {
 public:
  explicit WhisperEngine(WhisperModel::Case model);
  // The model's files as `descriptor` lists them (its storage folder and its one
  // artifact) and the VAD model from `locateVad`; the application uses the
  // catalogue row and the resource.
  WhisperEngine(WhisperModel::Case model, SpeechModelDescriptor descriptor, VadModelLocator locateVad);
  ~WhisperEngine() override;

  bool isLoaded() const override { return residency_.isLoaded(); }
  // Nothing to do when loaded. modelMissing when the model file is not there at
  // its exact size (checked first), vadModelMissing without the VAD model,
  // initFailed("Whisper") or initFailed("VAD") when whisper.cpp refuses a file.
  QCoro::Task<void> load() override;
  QCoro::Task<void> unload() override;
  // The vocabulary becomes the initial prompt (terms joined with ", "); no
  // language lets whisper.cpp detect it. The text is whisper.cpp's segment
  // texts as they come, the language the one it used or detected.
  QCoro::Task<TranscriptionResult> transcribe(AudioSamples samples, std::optional<QString> language,
                                              QStringList vocabulary, CancellationToken cancel) override;
  // Also runs the voice detector once, and whisper_full on the silence itself.
  QCoro::Task<bool> warmUp(std::optional<QString> language, CancellationToken cancel) override;

  WhisperModel::Case model() const { return model_; }
  const EngineResidency& residency() const { return residency_; }

 private:
  const WhisperModel::Case model_;
  const SpeechModelDescriptor descriptor_;
  const VadModelLocator locateVad_;
  EngineResidency residency_{QStringLiteral("Whisper"), "whisper"};
  std::shared_ptr<WhisperContext> context_;           // used on worker_ only
  SerialExecutor worker_{QStringLiteral("whisper")};  // last: joined before the context goes
};

// What the engine hands whisper.cpp for a call: the language code or "auto",
// and the initial prompt (none for an empty vocabulary).
struct WhisperDecodingRequest {
  QByteArray language;
  std::optional<QByteArray> initialPrompt;

  bool operator==(const WhisperDecodingRequest&) const = default;
};
WhisperDecodingRequest whisperDecodingRequest(const std::optional<QString>& language, const QStringList& vocabulary);

}  // namespace murel
