#pragma once

#include "app/SessionServices.h"
#include "runtime/Cancellation.h"

#include <QCoroTask>
#include <QStringList>

#include <optional>
#include <vector>

namespace murel {

class MediaPlayers;

// Pauses the media that plays when a recording starts and plays it again when
// the recording stops, but only what this controller paused: the pause task's
// result is the set of players it paused, and the resume waits for that result
// and plays those alone. Nothing here blocks the caller; every bus call is
// bounded by `MediaPlayers`. Main thread only; it must outlive its tasks (the
// dictation session holds it for the life of the process).
class MediaPlaybackController final : public MediaPlaybackControlling {
 public:
  explicit MediaPlaybackController(MediaPlayers& players);
  ~MediaPlaybackController() override;
  MediaPlaybackController(const MediaPlaybackController&) = delete;
  MediaPlaybackController& operator=(const MediaPlaybackController&) = delete;

  // Starts the pause task and keeps it pending; an earlier pending one is let
  // go uncancelled (it runs to its end and its result is not looked at).
  void beginPauseForRecording() override;
  // Takes the pending pause, cancels it (a pause not sent yet is then never
  // sent) and starts a task that plays what it paused, once it is known.
  void resumeAfterRecording() override;

  // Pause and resume tasks that have not finished yet.
  int runningTasks();

 private:
  struct PendingPause {
    CancellationToken token;
    QCoro::Task<QStringList> task;
  };

  void prune();

  MediaPlayers& players_;
  std::optional<PendingPause> pauseTask_;
  // Tasks that run on without an owner waiting for them: resumes and let-go pauses.
  std::vector<QCoro::Task<void>> running_;
};

}  // namespace murel
