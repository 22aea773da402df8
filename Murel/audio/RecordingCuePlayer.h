#pragma once

#include "platform/CuePlayback.h"
#include "runtime/Async.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

namespace murel {

enum class RecordingCue { Started, Stopped };

// The two short sounds that mark the start and the end of a recording. Both are
// decoded once, ahead of use, so a cue sounds at once; `play` only queues the
// request on the player's own serial queue. A missing or unreadable sound file
// leaves its cue silent.
class RecordingCuePlayer {
 public:
  RecordingCuePlayer(const QString& startSoundPath, const QString& stopSoundPath, platform::CuePlayback& playback);
  ~RecordingCuePlayer();
  RecordingCuePlayer(const RecordingCuePlayer&) = delete;
  RecordingCuePlayer& operator=(const RecordingCuePlayer&) = delete;

  // Returns at once. A cue still sounding starts again from the beginning; the
  // start and stop cues may overlap.
  void play(RecordingCue cue);

  bool hasSound(RecordingCue cue) const;
  // Blocks until every play asked for so far has been handed to the server.
  void waitForIdle() { queue_.waitForIdle(); }

 private:
  std::optional<platform::CuePlayback::SoundId> loadCueSound(const QString& path);

  platform::CuePlayback& playback_;
  std::optional<platform::CuePlayback::SoundId> start_;
  std::optional<platform::CuePlayback::SoundId> stop_;
  SerialExecutor queue_{QStringLiteral("com.murel.recording-cues")};
};

// The player on the bundled sounds, made on first use from any thread. The
// first use reads the files and connects to the sound server: make it off the
// main thread (the start-up does, before the first dictation).
class BundledCues {
 public:
  explicit BundledCues(platform::CuePlayback& playback) : playback_(playback) {}

  RecordingCuePlayer& player();

 private:
  platform::CuePlayback& playback_;
  std::once_flag loaded_;
  std::unique_ptr<RecordingCuePlayer> player_;
};

}  // namespace murel
