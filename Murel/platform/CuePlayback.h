#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace murel::platform {

// Short sounds played on the default output at a low latency, each on its own
// stream so two may overlap. A stream is made when its sound is first played
// and closed again soon after the sound played out.
//
// Threading: addSound() on any thread; play() may wait up to two seconds for
// the server to open the sound's stream, so call it from one worker thread,
// never from the main thread. The destructor must not run during a play().
class CuePlayback {
 public:
  using SoundId = int;

  virtual ~CuePlayback() = default;

  // Connects to the server ahead of the first play; false when it does not answer.
  virtual bool connect() = 0;
  // Keeps interleaved 16-bit `samples` for playing. Nullopt when the format is
  // one the server cannot play.
  virtual std::optional<SoundId> addSound(std::vector<int16_t> samples, uint32_t rate, uint32_t channels) = 0;
  // Plays the sound from its beginning; what was left of an earlier play of it
  // is dropped. Returns false when the server could not play it.
  virtual bool play(SoundId sound) = 0;
};

}  // namespace murel::platform
