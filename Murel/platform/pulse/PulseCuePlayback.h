#pragma once

#include "platform/CuePlayback.h"

#include <memory>
#include <vector>

namespace murel::platform {

class PulseAudio;

// Cues on a PulseAudio connection: one playback stream per sound, made on its
// first play with a short target latency and closed by a timer on the
// PulseAudio thread half a second after the sound played out (an idle stream
// would hold the output at its short latency). Threading as CuePlayback says.
class PulseCuePlayback final : public CuePlayback {
 public:
  explicit PulseCuePlayback(PulseAudio& pulse);
  ~PulseCuePlayback() override;
  PulseCuePlayback(const PulseCuePlayback&) = delete;
  PulseCuePlayback& operator=(const PulseCuePlayback&) = delete;

  bool connect() override;
  std::optional<SoundId> addSound(std::vector<int16_t> samples, uint32_t rate, uint32_t channels) override;
  bool play(SoundId sound) override;

 private:
  struct Sound;
  bool ensureStream(Sound& sound);
  void dropStream(Sound& sound);

  PulseAudio& pulse_;
  std::vector<std::unique_ptr<Sound>> sounds_;  // guarded by the main-loop lock
};

}  // namespace murel::platform
