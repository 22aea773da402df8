#pragma once

#include "platform/AudioCapture.h"

namespace murel::platform {

class PulseAudio;

// Input streams on a PulseAudio connection. Every stream is made with
// PA_STREAM_DONT_MOVE: when its source goes away the server ends the stream
// rather than moving it to another device, and that is reported as lost.
// Threading as AudioCapture says; the stream's state changes arrive on the
// PulseAudio thread and are queued to the main thread.
class PulseCapture final : public AudioCapture {
 public:
  explicit PulseCapture(PulseAudio& pulse);

  QCoro::Task<std::unique_ptr<CaptureStream>> open(std::optional<uint32_t> sourceIndex) override;

 private:
  PulseAudio& pulse_;
};

}  // namespace murel::platform
