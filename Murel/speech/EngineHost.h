#pragma once

#include "runtime/Cancellation.h"
#include "runtime/Clock.h"
#include "speech/SpeechModel.h"
#include "speech/TranscriptionEngine.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace murel {

class DiagLog;
class UserDefaults;

// The user defaults key of the spoken language: a language code or "auto".
inline constexpr char kSpokenLanguageKey[] = "whisperLanguage";

// What the host uses of the language model's text enhancer: whether its engine
// is loaded, and its warm-up (asynchronous, never fails).
struct TextEnhancerLink {
  std::function<bool()> isLoaded;
  std::function<QCoro::Task<void>()> prewarm;
};

struct EngineHostOptions {
  using EngineFactory = std::function<std::shared_ptr<TranscriptionEngine>(const SpeechModelDescriptor&)>;

  // Replaces the length of the user's model-memory delay (but "never" stays never).
  std::optional<Clock::Duration> idleTimeout;
  // Makes a new, unloaded engine for a model; defaultMakeEngine when empty.
  EngineFactory makeEngine;
  // The idle-unload clock and the clock of the load timing; the continuous clock when null.
  Clock* clock = nullptr;
  // The diagnostics log; the shared one when null.
  DiagLog* diagnostics = nullptr;
  TextEnhancerLink textEnhancer;
};

// Keeps at most one speech engine in memory: the one for the model selected
// under "selectedWhisperModel". It is made and loaded on first need, replaced
// when the selection changes, and unloaded after the user's model-memory delay.
// After a load that no transcription waits for, the engine runs one warm-up
// pass on silence (the user is usually still speaking), so that the first
// dictation runs at the speed of the later ones; a transcription, an unload or
// a model change cancels it.
// One load transition runs at a time and every caller that needs an engine
// meanwhile waits for it; a transition never frees an engine while a
// transcription is running on it. Waiters wake from the event loop, so each
// looks at the state again when it does.
//
// Main thread only. The host must outlive the tasks it starts (the application
// keeps it for the life of the process); destroying it cancels the idle unload.
class EngineHost : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool hasEngine READ hasEngine NOTIFY currentEngineChanged)
  Q_PROPERTY(QString currentModelId READ currentModelId NOTIFY currentModelChanged)

 public:
  EngineHost(UserDefaults& defaults, TranscriptionPipeline pipeline, EngineHostOptions options = {},
             QObject* parent = nullptr);
  ~EngineHost() override;

  // The loaded engine of the selected model, loading it (or waiting for the
  // running transition) when needed. Fails with the load error of the selected
  // model; a failure of a model that is no longer selected is not reported.
  QCoro::Task<std::shared_ptr<TranscriptionEngine>> ensureLoaded();

  // Decodes the file while the engine loads, then transcribes it in the
  // language from "whisperLanguage" with the vocabulary cut to the model's
  // budget. Passes on the load, decoding and engine errors unchanged; the
  // engine stays loaded in every case.
  QCoro::Task<QString> transcribe(QString audioFile, QStringList vocabulary,
                                  CancellationToken cancel = CancellationToken());

  // Restarts the idle-unload timer from now (the models page calls it when the
  // user changes the delay). No timer runs while a transcription does.
  void scheduleIdleUnload();

  // Starts warming the language model when its file is complete and it is not
  // loaded yet. Reports nothing.
  void prewarmTextEnhancer();

  const std::shared_ptr<TranscriptionEngine>& currentEngine() const { return currentEngine_; }
  const std::optional<SpeechModelDescriptor>& currentModel() const { return currentModel_; }
  bool hasEngine() const { return currentEngine_ != nullptr; }
  QString currentModelId() const { return currentModel_ ? currentModel_->id.rawValue : QString(); }
  qint64 activeTranscriptionCount() const { return activeTranscriptionCount_; }
  bool isIdleUnloadPending() const { return idleUnload_.has_value(); }
  bool isWarmingUp() const { return warmUp_.has_value(); }

  // What became of the latest warm-up pass that ended (or was skipped).
  struct WarmUpRecord {
    enum class Outcome { none, finished, cancelled, skipped };
    Outcome outcome = Outcome::none;
    // From the cancel to the end of the pass, on the host's clock; how long a
    // transcription that cancelled it waited for its engine.
    std::optional<Clock::Duration> stopDelay;
  };
  const WarmUpRecord& lastWarmUp() const { return lastWarmUp_; }

  // The terms in order, trimmed, without empties and without repeats ignoring
  // case, joined-length (", " between terms, user-perceived characters) at most
  // maxCharacters; the first term that does not fit ends the list.
  static QStringList budgetedVocabulary(const QStringList& terms, int maxCharacters);

  // The descriptor's own engine, wrapped in the voice-activity segmenter when
  // the model asks for pipeline segmentation.
  static std::shared_ptr<TranscriptionEngine> defaultMakeEngine(const SpeechModelDescriptor& model);

 Q_SIGNALS:
  void currentEngineChanged();
  void currentModelChanged();

 private:
  struct Outcome;
  struct Transition;

  QCoro::Task<void> runTransition(std::shared_ptr<Transition> transition);
  QCoro::Task<void> performTransition(SpeechModelDescriptor model);
  void endTranscription();
  std::optional<QString> transcriptionLanguage(const SpeechModelDescriptor& model) const;
  void startWarmUp();
  static QCoro::Task<void> runWarmUp(QPointer<EngineHost> host, std::shared_ptr<TranscriptionEngine> engine,
                                     std::optional<QString> language, CancellationToken token, quint64 id);
  void endWarmUp(quint64 id, bool finished);
  void cancelWarmUp();
  void cancelIdleUnload();
  static QCoro::Task<void> unloadIdleEngine(QPointer<EngineHost> host, Clock* clock, Clock::Duration sleep,
                                            CancellationToken token);
  QCoro::Task<void> unloadIdle();
  void setCurrent(std::shared_ptr<TranscriptionEngine> engine, std::optional<SpeechModelDescriptor> model);
  void reportLoadFailure(const std::exception_ptr& error);
  bool isSelected(const SpeechModelDescriptor& model) const;
  bool selectedEngineIsLoaded() const;

  UserDefaults& defaults_;
  TranscriptionPipeline pipeline_;
  EngineHostOptions::EngineFactory makeEngine_;
  std::optional<Clock::Duration> idleTimeout_;
  Clock& clock_;
  DiagLog& diagnostics_;
  TextEnhancerLink textEnhancer_;

  std::shared_ptr<TranscriptionEngine> currentEngine_;
  std::optional<SpeechModelDescriptor> currentModel_;
  std::shared_ptr<Transition> transition_;
  // The pending idle unload's cancellation.
  std::optional<CancellationToken> idleUnload_;
  // An idle unload still freeing its engine; a transition waits for it, so that
  // two models are never in memory together.
  std::shared_ptr<Outcome> idleUnloading_;
  qint64 activeTranscriptionCount_ = 0;
  // Transcriptions still waiting for their engine: a load they wait for is
  // not followed by a warm-up.
  qint64 waitingTranscriptionCount_ = 0;
  // The warm-up pass that runs (cancelled or not) until its engine ends it.
  struct RunningWarmUp {
    quint64 id = 0;
    CancellationToken token;
    Clock::Duration startedAt{};
    std::optional<Clock::Duration> cancelledAt;
  };
  std::optional<RunningWarmUp> warmUp_;
  // A load has ended and its warm-up has not started (nor been made needless).
  bool warmUpDue_ = false;
  quint64 warmUpCount_ = 0;
  WarmUpRecord lastWarmUp_;
  // Ends when the last running transcription does; made by the first transition
  // that has to wait for it.
  std::shared_ptr<Outcome> transcriptionsEnded_;
  // The tasks the host starts, kept while they run (each replaced only once its
  // predecessor has ended or been cancelled).
  std::optional<QCoro::Task<void>> transitionTask_;
  std::optional<QCoro::Task<void>> idleUnloadTask_;
  std::optional<QCoro::Task<void>> prewarmTask_;
  std::optional<QCoro::Task<void>> warmUpTask_;
};

}  // namespace murel
