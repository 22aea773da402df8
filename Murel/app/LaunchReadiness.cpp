#include "app/LaunchReadiness.h"

#include "platform/pulse/MicrophonePermission.h"
#include "runtime/UserDefaults.h"
#include "speech/SpeechModel.h"

namespace murel {

bool evaluateLaunchReadiness(platform::MicrophonePermission& microphone, const std::function<bool()>& isTrusted,
                             const UserDefaults& defaults) {
  const auto microphoneStatus = microphone.status();
  const bool trusted = isTrusted();
  const bool installed = selectedSpeechModel(defaults).isModelInstalled();
  return trusted && microphoneStatus == platform::MicrophonePermissionStatus::Authorized && installed;
}

}  // namespace murel
