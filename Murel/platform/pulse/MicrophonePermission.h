#pragma once

#include <QCoroTask>

namespace murel::platform {

class PulseAudio;

// The microphone permission as the application reasons about it. Values keep the
// numbering the rest of the application stores and logs.
enum class MicrophonePermissionStatus : int {
  NotDetermined = 0,
  Restricted = 1,
  Denied = 2,
  Authorized = 3,
};

// Who may record. Linux has no per-application microphone permission: access is
// there whenever the sound server answers. Tests substitute other answers.
class MicrophonePermission {
 public:
  virtual ~MicrophonePermission() = default;
  virtual MicrophonePermissionStatus status() = 0;
  // Asks for access; true when it is granted.
  virtual QCoro::Task<bool> request() = 0;
};

// The system's answer: authorized while the sound server is reachable, not
// determined otherwise (asking again retries the connection).
class PulseMicrophonePermission final : public MicrophonePermission {
 public:
  explicit PulseMicrophonePermission(PulseAudio& pulse) : pulse_(pulse) {}
  MicrophonePermissionStatus status() override;
  QCoro::Task<bool> request() override;

 private:
  PulseAudio& pulse_;
};

}  // namespace murel::platform
