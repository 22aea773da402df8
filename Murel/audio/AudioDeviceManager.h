#pragma once

#include "platform/AudioDevices.h"
#include "platform/pulse/MicrophonePermission.h"

#include <QCoroTask>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <optional>

namespace murel {

class UserDefaults;

// An audio input device. `id` 0 is the "System Default" entry; a real source has
// the sound server's index + 1. `uid` is the source name, stable across replugging.
struct AudioDevice {
  quint32 id = 0;
  std::optional<QString> uid;
  QString name;

  friend bool operator==(const AudioDevice&, const AudioDevice&) = default;
};

size_t qHash(const AudioDevice& device, size_t seed = 0);

// Lists the machine's microphones (monitors of outputs left out), follows the
// list as devices come and go, and keeps the user's choice by its unique
// identifier in the user defaults. Main thread only.
class AudioDeviceManager : public QObject {
  Q_OBJECT
  Q_PROPERTY(QList<murel::AudioDevice> devices READ devices NOTIFY devicesChanged)
  Q_PROPERTY(int permissionStatus READ permissionStatusValue NOTIFY permissionStatusChanged)
  Q_PROPERTY(QString selectedDeviceUID READ selectedDeviceUID NOTIFY selectedDeviceUIDChanged)

 public:
  static constexpr const char* kSelectedUIDKey = "selectedAudioDeviceUID";
  static constexpr const char* kLegacySelectedIDKey = "selectedAudioDeviceID";

  AudioDeviceManager(UserDefaults& defaults, platform::MicrophonePermission& permission,
                     platform::AudioDevices& audioDevices, QObject* parent = nullptr);
  ~AudioDeviceManager() override;

  const QList<AudioDevice>& devices() const { return devices_; }
  platform::MicrophonePermissionStatus permissionStatus() const { return permissionStatus_; }
  int permissionStatusValue() const { return static_cast<int>(permissionStatus_); }
  const QString& selectedDeviceUID() const { return selectedDeviceUID_; }

  // The listed device whose uid is the selection; 0 when the selection is the
  // system default or its device is not connected.
  quint32 selectedDeviceID() const;
  // 0 selects the system default; an unlisted id or a device without uid changes nothing.
  void setSelectedDeviceID(quint32 deviceID);
  // Stores the choice and persists it, also when unchanged.
  void storeSelectedDeviceUID(const QString& uid);

  // Asks for microphone access; a grant refreshes the device list.
  QCoro::Task<bool> requestPermission();
  // Reads the permission again (connecting to the sound server when it is
  // back) and, when granted, the device list: for whoever saw the grant
  // without asking through requestPermission.
  void refreshPermissionStatus();

  void refreshDevices();

  // The device the next recording opens: the stored choice translated to its
  // current id, 0 (system default) when none is stored or it is not connected.
  static quint32 storedDeviceID(UserDefaults& defaults, platform::AudioDevices& audioDevices);

 Q_SIGNALS:
  void devicesChanged();
  void permissionStatusChanged();
  void selectedDeviceUIDChanged();
  // The sound server answers again after it could not be reached.
  void soundServerReturned();

 private:
  void setDevices(QList<AudioDevice> devices);
  void setPermissionStatus(platform::MicrophonePermissionStatus status);
  void migrateLegacyDeviceSelection();
  void followSoundServer();

  UserDefaults& defaults_;
  platform::MicrophonePermission& permission_;
  platform::AudioDevices& audioDevices_;
  QList<AudioDevice> devices_;
  platform::MicrophonePermissionStatus permissionStatus_ = platform::MicrophonePermissionStatus::NotDetermined;
  QString selectedDeviceUID_;
  bool soundServerReachable_ = false;
};

}  // namespace murel

Q_DECLARE_METATYPE(murel::AudioDevice)
