#pragma once

#include <memory>

namespace murel {
class Clock;
}

namespace murel::platform {

class AudioCapture;
class AudioDevices;
class CuePlayback;
class MicrophonePermission;

// The sound server as the application uses it: one PulseAudio connection, and
// the device list, capture, cue playback and microphone permission on it. The
// composition root's platform owns one; tests on the rig's server make their
// own. Whatever records or plays through it must be gone before it is destroyed.
class SoundServer {
 public:
  // `clock` paces reconnecting and times the asynchronous waits (the suspending clock when null).
  explicit SoundServer(Clock* clock = nullptr);
  ~SoundServer();
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  AudioDevices& devices();
  AudioCapture& capture();
  CuePlayback& cues();
  MicrophonePermission& microphone();

 private:
  struct Parts;
  std::unique_ptr<Parts> d_;
};

}  // namespace murel::platform
