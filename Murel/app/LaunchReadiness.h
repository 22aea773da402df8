#pragma once

#include <functional>

namespace murel {

class UserDefaults;
namespace platform {
class MicrophonePermission;
}

// Whether first-run setup is complete: the microphone authorised, the keyboard
// and typing access there, and the selected speech model's files present at
// their exact sizes. Asked in that order, once at launch: a permission revoked
// or a model deleted later waits for the next launch.
bool evaluateLaunchReadiness(platform::MicrophonePermission& microphone, const std::function<bool()>& isTrusted,
                             const UserDefaults& defaults);

}  // namespace murel
