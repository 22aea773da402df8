#pragma once

#include "runtime/Async.h"
#include "speech/SpeechSegmenter.h"
#include "speech/TranscriptionEngine.h"

#include <QFuture>

#include <functional>
#include <memory>

namespace murel {

// Wraps a model engine that takes a bounded stretch of audio per pass: finds
// the speech with the voice-activity segmenter, packs it into chunks of at most
// maxSegmentSeconds and transcribes them one after another with the inner
// engine. Calls are taken in order, one at a time; detection runs on the
// wrapper's own worker, never on the main thread.
class SegmentingEngine final : public TranscriptionEngine {
 public:
  using SegmenterFactory = std::function<std::unique_ptr<SpeechSegmenting>()>;

  SegmentingEngine(std::shared_ptr<TranscriptionEngine> inner, double maxSegmentSeconds,
                   SegmenterFactory makeSegmenter);
  ~SegmentingEngine() override;

  // The inner engine's state: the wrapper holds no model of its own.
  bool isLoaded() const override { return inner_->isLoaded(); }
  // Loads the inner engine, then makes the segmenter; when that fails the inner
  // engine is unloaded again and the segmenter's error is passed on.
  QCoro::Task<void> load() override;
  QCoro::Task<void> unload() override;
  // Empty text and no language when no speech is found (the inner engine is not
  // called). Otherwise the chunks' trimmed, non-empty texts joined with one
  // space, and the first language a chunk reported. A chunk without the
  // caller's language gets the first language an earlier chunk reported.
  QCoro::Task<TranscriptionResult> transcribe(AudioSamples samples, std::optional<QString> language,
                                              QStringList vocabulary, CancellationToken cancel) override;
  // The inner engine's warm-up, in turn with the other calls.
  QCoro::Task<bool> warmUp(std::optional<QString> language, CancellationToken cancel) override;

  const std::shared_ptr<TranscriptionEngine>& inner() const { return inner_; }
  double maxSegmentSeconds() const { return maxSegmentSeconds_; }

 private:
  // Waits until every call that came earlier has finished; the returned handle
  // lets the next call go when it is released.
  QCoro::Task<std::shared_ptr<void>> takeTurn();

  std::shared_ptr<TranscriptionEngine> inner_;
  const double maxSegmentSeconds_;
  SegmenterFactory makeSegmenter_;
  std::unique_ptr<SpeechSegmenting> segmenter_;          // used on worker_ only
  QFuture<void> lastCall_;                               // main thread
  SerialExecutor worker_{QStringLiteral("segmenting")};  // last: joined before the segmenter goes
};

}  // namespace murel
