#include "platform/pulse/MicrophonePermission.h"

#include "platform/pulse/PulseAudio.h"

namespace murel::platform {
namespace {

class PulseMicrophonePermission final : public MicrophonePermission {
 public:
  MicrophonePermissionStatus status() override {
    return PulseAudio::shared().ensureConnected() ? MicrophonePermissionStatus::Authorized
                                                  : MicrophonePermissionStatus::NotDetermined;
  }
  QCoro::Task<bool> request() override { co_return status() == MicrophonePermissionStatus::Authorized; }
};

}  // namespace

MicrophonePermission& MicrophonePermission::system() {
  static PulseMicrophonePermission instance;
  return instance;
}

}  // namespace murel::platform
