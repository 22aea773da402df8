#include "platform/pulse/SoundServer.h"

#include "platform/pulse/MicrophonePermission.h"
#include "platform/pulse/PulseAudio.h"
#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/PulseCuePlayback.h"

namespace murel::platform {

// Members in the order they depend on the connection: it goes last.
struct SoundServer::Parts {
  explicit Parts(Clock* clock) : pulse(clock), capture(pulse), cues(pulse), microphone(pulse) {}
  PulseAudio pulse;
  PulseCapture capture;
  PulseCuePlayback cues;
  PulseMicrophonePermission microphone;
};

SoundServer::SoundServer(Clock* clock) : d_(std::make_unique<Parts>(clock)) {}
SoundServer::~SoundServer() = default;

AudioDevices& SoundServer::devices() { return d_->pulse; }
AudioCapture& SoundServer::capture() { return d_->capture; }
CuePlayback& SoundServer::cues() { return d_->cues; }
MicrophonePermission& SoundServer::microphone() { return d_->microphone; }

}  // namespace murel::platform
