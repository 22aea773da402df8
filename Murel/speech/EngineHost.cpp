#include "speech/EngineHost.h"

#include "speech/LanguageModelFile.h"

#include "runtime/DiagLog.h"
#include "runtime/Error.h"
#include "runtime/SystemLog.h"
#include "runtime/UnicodeText.h"
#include "runtime/UserDefaults.h"
#include "speech/EngineError.h"
#include "speech/EngineFactories.h"
#include "text/ModelInactivityDelay.h"

#include <QCoroFuture>
#include <QFuture>
#include <QPromise>
#include <QSet>
#include <QThreadPool>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <chrono>
#include <utility>

namespace murel {
namespace {

const Logger kLog("engineHost");

// What the decoding child leaves for the host: the samples or the error.
struct Decoding {
  AudioSamples samples;
  std::exception_ptr error;
};

// Decodes on the thread pool; the returned future finishes (never with an
// exception) once `result` is filled.
QFuture<void> startDecoding(std::function<AudioSamples(const QString&)> load, QString file, CancellationToken token,
                            std::shared_ptr<Decoding> result) {
  auto promise = std::make_shared<QPromise<void>>();
  QFuture<void> future = promise->future();
  promise->start();
  QThreadPool::globalInstance()->start(
      [promise, load = std::move(load), file = std::move(file), token = std::move(token), result = std::move(result)] {
        try {
          if (token.isCancelled()) throw OperationCancelled();
          result->samples = load(file);
          if (token.isCancelled()) throw OperationCancelled();
        } catch (...) {
          result->samples = {};
          result->error = std::current_exception();
        }
        promise->finish();
      });
  return future;
}

// The language model's warm-up, whose outcome nobody looks at.
QCoro::Task<void> runPrewarm(std::function<QCoro::Task<void>()> prewarm) {
  try {
    co_await prewarm();
  } catch (...) {
  }
}

// Unlinks a callback from the caller's cancellation token when the operation ends.
class CancelLink {
 public:
  CancelLink(CancellationToken source, const CancellationToken& target)
      : source_(std::move(source)), id_(source_.onCancel([target] { target.cancel(); })) {}
  ~CancelLink() { source_.removeCallback(id_); }
  CancelLink(const CancelLink&) = delete;
  CancelLink& operator=(const CancelLink&) = delete;

 private:
  CancellationToken source_;
  quint64 id_;
};

}  // namespace

// Something that happens once, with or without an error. Main-thread
// coroutines await its future, and Qt resumes them from the event loop once it
// has happened: by then anything may have changed, so every waiter looks at the
// host's state again. Waiters hold it while they wait, so a host destroyed
// meanwhile cannot finish it (QPromise's destructor would) and wake them.
struct EngineHost::Outcome {
  Outcome() { promise.start(); }
  QFuture<void> future() const { return promise.future(); }
  void finish(const std::exception_ptr& error) {
    if (error) promise.setException(error);
    promise.finish();
  }

  QPromise<void> promise;
};

// A load transition: it runs until the engine in memory is the selected
// model's, or the selected model failed to load.
struct EngineHost::Transition : Outcome {
  // The model whose load failed, when the transition failed.
  std::optional<SpeechModelDescriptor> failedModel;
};

EngineHost::EngineHost(UserDefaults& defaults, TranscriptionPipeline pipeline, EngineHostOptions options,
                       QObject* parent)
    : QObject(parent),
      defaults_(defaults),
      pipeline_(pipeline.loadSamples ? std::move(pipeline) : TranscriptionPipeline::standard()),
      makeEngine_(options.makeEngine ? std::move(options.makeEngine)
                                     : EngineHostOptions::EngineFactory(&defaultMakeEngine)),
      idleTimeout_(options.idleTimeout),
      clock_(options.clock ? *options.clock : Clock::continuous()),
      diagnostics_(options.diagnostics ? *options.diagnostics : DiagLog::shared()),
      textEnhancer_(std::move(options.textEnhancer)) {}

EngineHost::~EngineHost() {
  cancelIdleUnload();
  cancelWarmUp();
}

std::shared_ptr<TranscriptionEngine> EngineHost::defaultMakeEngine(const SpeechModelDescriptor& model) {
  std::shared_ptr<TranscriptionEngine> engine = model.makeEngine ? model.makeEngine() : nullptr;
  if (!engine) return nullptr;
  const VoiceActivityDetection& vad = model.capabilities.voiceActivityDetection;
  if (vad.kind == VoiceActivityDetection::Kind::PipelineSegmentation) {
    return makeSegmentingEngine(std::move(engine), vad.maxSegmentSeconds);
  }
  return engine;
}

bool EngineHost::isSelected(const SpeechModelDescriptor& model) const {
  return selectedSpeechModel(defaults_).id == model.id;
}

void EngineHost::setCurrent(std::shared_ptr<TranscriptionEngine> engine, std::optional<SpeechModelDescriptor> model) {
  const bool modelChanged = model.has_value() != currentModel_.has_value() || (model && model->id != currentModel_->id);
  const bool engineChanged = engine != currentEngine_;
  currentEngine_ = std::move(engine);
  currentModel_ = std::move(model);
  if (engineChanged) Q_EMIT currentEngineChanged();
  if (modelChanged) Q_EMIT currentModelChanged();
}

bool EngineHost::selectedEngineIsLoaded() const {
  return currentEngine_ && currentEngine_->isLoaded() && currentModel_ && isSelected(*currentModel_);
}

QCoro::Task<std::shared_ptr<TranscriptionEngine>> EngineHost::ensureLoaded() {
  for (;;) {
    if (selectedEngineIsLoaded()) {
      scheduleIdleUnload();
      // A copy: QCoro's co_return moves from an lvalue it is given.
      co_return std::shared_ptr<TranscriptionEngine>(currentEngine_);
    }

    std::shared_ptr<Transition> transition = transition_;
    if (!transition) {
      transition = std::make_shared<Transition>();
      transition_ = transition;
      transitionTask_.emplace(runTransition(transition));
    }

    std::exception_ptr error;
    try {
      QFuture<void> ended = transition->future();
      co_await ended;
    } catch (...) {
      error = std::current_exception();
    }
    // The engine may have been unloaded or the selection changed since the
    // transition ended: the next round looks again.
    if (!error) continue;
    // A failure of a model the user has since left behind is nobody's concern:
    // the next round loads the new choice.
    if (transition->failedModel && isSelected(*transition->failedModel)) {
      reportLoadFailure(error);
      std::rethrow_exception(error);
    }
  }
}

QCoro::Task<void> EngineHost::runTransition(std::shared_ptr<Transition> transition) {
  std::exception_ptr error;
  // The transition itself follows the selection, rather than its waiters once
  // they wake, so that a model chosen during a load is loaded right after it.
  while (!selectedEngineIsLoaded()) {
    const SpeechModelDescriptor model = selectedSpeechModel(defaults_);
    try {
      co_await performTransition(model);
    } catch (...) {
      if (isSelected(model)) {
        error = std::current_exception();
        transition->failedModel = model;
        break;
      }
      continue;
    }
    if (isSelected(model)) break;
  }
  if (transition_ == transition) transition_.reset();
  transition->finish(error);
}

QCoro::Task<void> EngineHost::performTransition(SpeechModelDescriptor model) {
  // The last transcription to end wakes us from the event loop, and another may
  // have started on the old engine by then (the user chose it again).
  while (activeTranscriptionCount_ > 0) {
    if (!transcriptionsEnded_) transcriptionsEnded_ = std::make_shared<Outcome>();
    const std::shared_ptr<Outcome> idle = transcriptionsEnded_;
    QFuture<void> ended = idle->future();
    co_await ended;
  }
  if (!isSelected(model)) co_return;
  cancelIdleUnload();

  if (currentEngine_) {
    std::shared_ptr<TranscriptionEngine> old = currentEngine_;
    setCurrent(nullptr, std::nullopt);
    cancelWarmUp();
    co_await old->unload();
    if (!isSelected(model)) co_return;
  }
  // An idle unload may still be freeing its engine.
  while (idleUnloading_) {
    const std::shared_ptr<Outcome> unloading = idleUnloading_;
    QFuture<void> unloaded = unloading->future();
    co_await unloaded;
    if (idleUnloading_ == unloading) idleUnloading_.reset();
  }
  if (!isSelected(model)) co_return;

  std::shared_ptr<TranscriptionEngine> engine = makeEngine_(model);
  if (!engine) throw EngineError::initFailed(model.engineName);
  const Clock::Duration started = clock_.now();
  std::exception_ptr loadError;
  try {
    co_await engine->load();
  } catch (...) {
    loadError = std::current_exception();
  }
  if (loadError) {
    co_await engine->unload();
    std::rethrow_exception(loadError);
  }
  if (!isSelected(model)) {
    co_await engine->unload();
    co_return;
  }

  setCurrent(engine, model);
  kLog.info(QStringLiteral("Engine loaded"));
  const double elapsedMs = std::chrono::duration<double, std::milli>(clock_.now() - started).count();
  diagnostics_.log(QStringLiteral("engine"), QStringLiteral("loaded"), QString::asprintf("%.0fms", elapsedMs));
  scheduleIdleUnload();
  // Queued behind the wake-ups of this load's waiters: a dictation that waited
  // for the load has asked for its transcription by then, and gets the engine
  // without a pass to cancel first.
  warmUpDue_ = true;
  QMetaObject::invokeMethod(this, &EngineHost::startWarmUp, Qt::QueuedConnection);
}

std::optional<QString> EngineHost::transcriptionLanguage(const SpeechModelDescriptor& model) const {
  const QString setting = defaults_.stringValue(QLatin1String(kSpokenLanguageKey)).value_or(QStringLiteral("auto"));
  return model.capabilities.languages.resolveLanguage(setting);
}

void EngineHost::startWarmUp() {
  if (!std::exchange(warmUpDue_, false)) return;
  // A transcription waiting for this load would only wait longer.
  if (waitingTranscriptionCount_ > 0 || activeTranscriptionCount_ > 0) {
    lastWarmUp_ = {WarmUpRecord::Outcome::skipped, std::nullopt};
    return;
  }
  if (!currentEngine_ || !currentModel_ || !currentEngine_->isLoaded() || warmUp_) return;
  const RunningWarmUp pass{++warmUpCount_, CancellationToken(), clock_.now(), std::nullopt};
  warmUp_ = pass;
  warmUpTask_.emplace(runWarmUp(QPointer<EngineHost>(this), currentEngine_, transcriptionLanguage(*currentModel_),
                                pass.token, pass.id));
}

QCoro::Task<void> EngineHost::runWarmUp(QPointer<EngineHost> host, std::shared_ptr<TranscriptionEngine> engine,
                                        std::optional<QString> language, CancellationToken token, quint64 id) {
  bool finished = false;
  try {
    finished = co_await engine->warmUp(std::move(language), std::move(token));
  } catch (...) {
    // It promises not to fail; a transcription would meet the same fault and report it.
  }
  if (host) host->endWarmUp(id, finished);
}

void EngineHost::endWarmUp(quint64 id, bool finished) {
  if (!warmUp_ || warmUp_->id != id) return;
  const RunningWarmUp pass = *std::exchange(warmUp_, std::nullopt);
  const Clock::Duration now = clock_.now();
  const auto ms = [](Clock::Duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); };
  if (pass.cancelledAt) {
    lastWarmUp_ = {WarmUpRecord::Outcome::cancelled, now - *pass.cancelledAt};
    kLog.info(QStringLiteral("Engine warm-up stopped %1 ms after its cancel").arg(ms(now - *pass.cancelledAt)));
  } else if (finished) {
    lastWarmUp_ = {WarmUpRecord::Outcome::finished, std::nullopt};
    kLog.info(QStringLiteral("Engine warmed up in %1 ms").arg(ms(now - pass.startedAt)));
  }
}

void EngineHost::cancelWarmUp() {
  if (!warmUp_ || warmUp_->cancelledAt) return;
  warmUp_->cancelledAt = clock_.now();
  // A copy: the pass may end inside cancel() and take warmUp_ with it.
  const CancellationToken token = warmUp_->token;
  token.cancel();
}

void EngineHost::reportLoadFailure(const std::exception_ptr& error) {
  const ErrorDescription described = ErrorDescription::of(error);
  kLog.error(QStringLiteral("Engine load failed: ") + described.description);
  diagnostics_.log(QStringLiteral("engine"), QStringLiteral("load failed"),
                   described.typeName + QStringLiteral(": ") + described.description);
}

QCoro::Task<QString> EngineHost::transcribe(QString audioFile, QStringList vocabulary, CancellationToken cancel) {
  // Decoding runs beside the load, so the first dictation after an unload waits
  // for the longer of the two rather than their sum.
  CancellationToken decodeCancel;
  const CancelLink link(cancel, decodeCancel);
  auto decoding = std::make_shared<Decoding>();
  QFuture<void> decoded = startDecoding(pipeline_.loadSamples, audioFile, decodeCancel, decoding);

  std::shared_ptr<TranscriptionEngine> engine;
  std::exception_ptr loadError;
  ++waitingTranscriptionCount_;
  try {
    engine = co_await ensureLoaded();
  } catch (...) {
    loadError = std::current_exception();
  }
  --waitingTranscriptionCount_;
  if (loadError || !currentModel_) {
    decodeCancel.cancel();
    co_await decoded;
    if (loadError) std::rethrow_exception(loadError);
    throw EngineError::notLoaded();
  }
  const SpeechModelDescriptor model = *currentModel_;
  const std::optional<QString> language = transcriptionLanguage(model);

  cancelIdleUnload();
  ++activeTranscriptionCount_;
  // This transcription warms the engine itself.
  if (std::exchange(warmUpDue_, false)) lastWarmUp_ = {WarmUpRecord::Outcome::skipped, std::nullopt};

  co_await decoded;
  if (decoding->error) {
    endTranscription();
    std::rethrow_exception(decoding->error);
  }

  const VocabularyBiasing& biasing = model.capabilities.vocabularyBiasing;
  const QStringList hints = biasing.kind == VocabularyBiasing::Kind::Prompt
                                ? budgetedVocabulary(vocabulary, biasing.maxCharacters)
                                : QStringList();

  // The engine runs one call at a time: the warm-up stops at its next step.
  cancelWarmUp();
  TranscriptionResult result;
  std::exception_ptr runError;
  try {
    result = co_await engine->transcribe(std::move(decoding->samples), language, hints, cancel);
  } catch (...) {
    runError = std::current_exception();
  }
  endTranscription();
  if (runError) std::rethrow_exception(runError);
  co_return result.text;
}

void EngineHost::endTranscription() {
  if (--activeTranscriptionCount_ == 0 && transcriptionsEnded_) {
    const std::shared_ptr<Outcome> ended = std::exchange(transcriptionsEnded_, nullptr);
    ended->finish(nullptr);
  }
  scheduleIdleUnload();
}

QStringList EngineHost::budgetedVocabulary(const QStringList& terms, int maxCharacters) {
  QStringList result;
  QSet<QString> seen;
  qsizetype used = 0;
  for (const QString& term : terms) {
    const QString trimmed = term.trimmed();
    if (trimmed.isEmpty()) continue;
    const QString key = unicodeLowercase(trimmed);
    if (seen.contains(key)) continue;
    seen.insert(key);
    qsizetype cost = graphemeCount(trimmed);
    if (!result.isEmpty()) cost += used + 2;  // ", " before it
    if (cost > maxCharacters) break;
    result.append(trimmed);
    used = cost;
  }
  return result;
}

void EngineHost::cancelIdleUnload() {
  if (!idleUnload_) return;
  const CancellationToken token = *idleUnload_;
  idleUnload_.reset();
  token.cancel();
}

void EngineHost::scheduleIdleUnload() {
  cancelIdleUnload();
  if (!currentEngine_) return;
  // A running transcription must keep its engine: the last one to end arms the
  // timer again.
  if (activeTranscriptionCount_ > 0) return;
  const std::optional<std::chrono::seconds> delay =
      model_inactivity_delay::duration(model_inactivity_delay::current(defaults_));
  if (!delay) return;
  const Clock::Duration sleep = idleTimeout_.value_or(Clock::Duration(*delay));
  const CancellationToken token;
  idleUnload_ = token;
  idleUnloadTask_.emplace(unloadIdleEngine(QPointer<EngineHost>(this), &clock_, sleep, token));
}

QCoro::Task<void> EngineHost::unloadIdleEngine(QPointer<EngineHost> host, Clock* clock, Clock::Duration sleep,
                                               CancellationToken token) {
  const bool slept = co_await clock->sleep(sleep, token);
  if (!slept || token.isCancelled() || !host) co_return;
  co_await host->unloadIdle();
}

QCoro::Task<void> EngineHost::unloadIdle() {
  idleUnload_.reset();
  if (!currentEngine_) co_return;
  std::shared_ptr<TranscriptionEngine> old = currentEngine_;
  setCurrent(nullptr, std::nullopt);
  cancelWarmUp();
  diagnostics_.log(QStringLiteral("engine"), QStringLiteral("idle unload"));
  auto unloading = std::make_shared<Outcome>();
  idleUnloading_ = unloading;
  // The host may be destroyed before the engine has let go (the application
  // quitting): then only the engine's own outcome is left to report.
  const QPointer<EngineHost> alive(this);
  co_await old->unload();
  if (alive && idleUnloading_ == unloading) idleUnloading_.reset();
  unloading->finish(nullptr);
}

void EngineHost::prewarmTextEnhancer() {
  if (!isGemmaModelInstalled()) return;
  if (!textEnhancer_.prewarm) return;
  if (textEnhancer_.isLoaded && textEnhancer_.isLoaded()) return;
  prewarmTask_.emplace(runPrewarm(textEnhancer_.prewarm));
}

}  // namespace murel
