#pragma once

#include "runtime/SystemLog.h"

#include <QString>

#include <mutex>

namespace murel {

// The loaded flag of one model engine. It is the only engine state read from
// outside the engine's worker, so it sits behind a lock held for one read or
// write, never across a call.
class EngineResidency {
 public:
  // engineName: "Whisper", "Parakeet" or "Qwen3-ASR"; logCategory: the engine's
  // system-log category ("whisper", "parakeet", "qwen3asr").
  EngineResidency(QString engineName, const char* logCategory);

  bool isLoaded() const;
  // Writes "<engine> engine loaded" or "... unloaded" to the system log, after
  // the lock is released.
  void setLoaded(bool loaded);

  const QString& engineName() const { return engineName_; }
  const Logger& logger() const { return logger_; }

 private:
  const QString engineName_;
  const Logger logger_;
  mutable std::mutex mutex_;
  bool loaded_ = false;
};

// The worker-thread count of every inference library: the cores this process
// may run on, computed once per process.
int engineThreadCount();

// The rule behind engineThreadCount(): the usable (affinity) core count when
// positive, else the online processor count, never below 1.
int engineThreadCountFrom(int usableCores, long onlineProcessors);

// The thread count for the inference call about to start: engineThreadCount()
// less the cores other work keeps busy right now, never below two (one on a
// one-core machine). Inference threads meet at a barrier after every step, so
// one that waits for a core holds all the others: with a busy loop on each of
// eight cores, eight threads took eight times as long as two. Sampled on the
// calling worker thread (about 10 ms).
int inferenceThreadCountNow();

// The rule behind inferenceThreadCountNow(): `threads` less `busyElsewhere`,
// between min(2, threads) and `threads`.
int inferenceThreadCountFrom(int threads, int busyElsewhere);

// Tests (and benchmarks) may pin the count (both functions above then return
// it); 0 returns to the machine's count.
void setEngineThreadCountForTesting(int count);

}  // namespace murel
