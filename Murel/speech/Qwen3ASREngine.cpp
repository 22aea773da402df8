#include "speech/Qwen3ASREngine.h"

#include "speech/EngineError.h"
#include "speech/Qwen3ASRContext.h"
#include "speech/Qwen3ASRText.h"

#include <QCoroFuture>
#include <QDir>

namespace murel {

Qwen3Request qwen3Request(const std::optional<QString>& language, const QStringList& vocabulary) {
  Qwen3Request request;
  if (language) {
    const auto& names = qwen3LanguageNames();
    if (const auto it = names.constFind(*language); it != names.constEnd()) {
      request.languageCode = *language;
      request.languageName = *it;
    }
  }
  // The host has already cut the terms to the model's budget.
  if (!vocabulary.isEmpty())
    request.systemText = QStringLiteral("Vocabulary: ") + vocabulary.join(QStringLiteral(", "));
  return request;
}

TranscriptionResult qwen3Result(const QByteArray& answer, const Qwen3Request& request) {
  const Qwen3Answer parsed = parseQwen3Output(mendUtf8(answer));
  TranscriptionResult result{collapseRepeatedTail(parsed.text), request.languageCode};
  if (parsed.languageName) {
    const auto& codes = qwen3LanguageCodesByName();
    if (const auto it = codes.constFind(parsed.languageName->toLower()); it != codes.constEnd()) result.language = *it;
  }
  return result;
}

Qwen3ASREngine::Qwen3ASREngine(Qwen3ASRModel::Case model) : Qwen3ASREngine(model, Qwen3ASRModel::descriptor(model)) {}

Qwen3ASREngine::Qwen3ASREngine(Qwen3ASRModel::Case model, SpeechModelDescriptor descriptor)
    : model_(model), descriptor_(std::move(descriptor)) {}

Qwen3ASREngine::~Qwen3ASREngine() = default;

QCoro::Task<void> Qwen3ASREngine::load() {
  auto job = [this] {
    if (context_) return;
    if (!descriptor_.isModelInstalled() || descriptor_.artifacts.size() < 2) throw EngineError::modelMissing();
    const QDir folder(descriptor_.storageDirectory);
    context_ = std::make_shared<Qwen3ASRContext>(folder.filePath(descriptor_.artifacts[0].filename),
                                                 folder.filePath(descriptor_.artifacts[1].filename));
    residency_.setLoaded(true);
  };
  co_await worker_.run(std::move(job));
}

QCoro::Task<void> Qwen3ASREngine::unload() {
  auto job = [this] {
    context_.reset();
    residency_.setLoaded(false);
  };
  co_await worker_.run(std::move(job));
}

QCoro::Task<TranscriptionResult> Qwen3ASREngine::transcribe(AudioSamples samples, std::optional<QString> language,
                                                            QStringList vocabulary, CancellationToken cancel) {
  // The frame outlives the job (it is awaited below), so the job borrows the
  // arguments; in particular no copy of the token is left to die on the worker.
  const AudioSamples* input = &samples;
  auto job = [this, input, &language, &vocabulary, &cancel]() -> TranscriptionResult {
    const std::shared_ptr<Qwen3ASRContext> context = context_;
    if (!context) throw EngineError::notLoaded();
    if (cancel.isCancelled()) throw OperationCancelled();
    const Qwen3Request request = qwen3Request(language, vocabulary);
    const QString prompt = qwen3Prompt(request.systemText, request.languageName, Qwen3ASRContext::mediaMarker());
    return qwen3Result(context->transcribe(*input, prompt.toUtf8()), request);
  };
  co_return co_await worker_.run(std::move(job));
}

}  // namespace murel
