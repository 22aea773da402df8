#include "platform/pulse/MicrophonePermission.h"

#include "platform/pulse/PulseAudio.h"

namespace murel::platform {

MicrophonePermissionStatus PulseMicrophonePermission::status() {
  return pulse_.ensureConnected() ? MicrophonePermissionStatus::Authorized : MicrophonePermissionStatus::NotDetermined;
}

QCoro::Task<bool> PulseMicrophonePermission::request() { co_return status() == MicrophonePermissionStatus::Authorized; }

}  // namespace murel::platform
