#include "audio/AudioDeviceManager.h"

#include "runtime/UserDefaults.h"

#include <QHashFunctions>
#include <QPointer>

#include <limits>

namespace murel {

size_t qHash(const AudioDevice& device, size_t seed) {
  return qHashMulti(seed, device.id, device.uid.value_or(QString()), device.uid.has_value(), device.name);
}

AudioDeviceManager::AudioDeviceManager(UserDefaults& defaults, platform::MicrophonePermission& permission,
                                       platform::AudioDevices& audioDevices, QObject* parent)
    : QObject(parent), defaults_(defaults), permission_(permission), audioDevices_(audioDevices) {
  selectedDeviceUID_ = defaults_.stringValue(QLatin1String(kSelectedUIDKey)).value_or(QString());
  permissionStatus_ = permission_.status();
  refreshDevices();
  migrateLegacyDeviceSelection();
  // The server's change events arrive queued on the main thread; the connection
  // ends with this manager.
  connect(&audioDevices_, &platform::AudioDevices::sourcesChanged, this, &AudioDeviceManager::refreshDevices);
  soundServerReachable_ = permissionStatus_ == platform::MicrophonePermissionStatus::Authorized;
  // The list changes also when the server goes away and when it comes back.
  connect(&audioDevices_, &platform::AudioDevices::sourcesChanged, this, &AudioDeviceManager::followSoundServer);
}

void AudioDeviceManager::followSoundServer() {
  const bool reachable = permission_.status() == platform::MicrophonePermissionStatus::Authorized;
  const bool returned = reachable && !soundServerReachable_;
  soundServerReachable_ = reachable;
  if (returned) Q_EMIT soundServerReturned();
}

AudioDeviceManager::~AudioDeviceManager() = default;

void AudioDeviceManager::refreshDevices() {
  QList<AudioDevice> list;
  //% "System Default"
  //: Name of the system-default microphone option in device lists.
  list.append(AudioDevice{0, std::nullopt, qtTrId("audioDevice.systemDefault")});
  if (const auto sources = audioDevices_.audioSources()) {
    for (const platform::AudioSource& source : *sources) {
      // Monitors replay an output; they are no microphone.
      if (source.isMonitor || source.description.isEmpty()) continue;
      std::optional<QString> uid;
      if (!source.name.isEmpty()) uid = source.name;
      list.append(AudioDevice{source.index + 1, uid, source.description});
    }
  }
  setDevices(std::move(list));
}

void AudioDeviceManager::setDevices(QList<AudioDevice> devices) {
  if (devices == devices_) return;
  devices_ = std::move(devices);
  Q_EMIT devicesChanged();
}

void AudioDeviceManager::setPermissionStatus(platform::MicrophonePermissionStatus status) {
  if (status == permissionStatus_) return;
  permissionStatus_ = status;
  Q_EMIT permissionStatusChanged();
}

quint32 AudioDeviceManager::selectedDeviceID() const {
  if (selectedDeviceUID_.isEmpty()) return 0;
  for (const AudioDevice& device : devices_) {
    if (device.uid == selectedDeviceUID_) return device.id;
  }
  return 0;
}

void AudioDeviceManager::setSelectedDeviceID(quint32 deviceID) {
  if (deviceID == 0) {
    storeSelectedDeviceUID(QString());
    return;
  }
  for (const AudioDevice& device : devices_) {
    if (device.id != deviceID) continue;
    if (device.uid) storeSelectedDeviceUID(*device.uid);
    return;
  }
}

void AudioDeviceManager::storeSelectedDeviceUID(const QString& uid) {
  const bool changed = uid != selectedDeviceUID_;
  selectedDeviceUID_ = uid;
  defaults_.setValue(QLatin1String(kSelectedUIDKey), uid);
  if (changed) Q_EMIT selectedDeviceUIDChanged();
}

QCoro::Task<bool> AudioDeviceManager::requestPermission() {
  QPointer<AudioDeviceManager> self(this);
  const bool granted = co_await permission_.request();
  if (!self) co_return granted;
  setPermissionStatus(permission_.status());
  if (granted) refreshDevices();
  co_return granted;
}

void AudioDeviceManager::refreshPermissionStatus() {
  setPermissionStatus(permission_.status());
  if (permissionStatus_ == platform::MicrophonePermissionStatus::Authorized) refreshDevices();
}

void AudioDeviceManager::migrateLegacyDeviceSelection() {
  if (defaults_.contains(QLatin1String(kSelectedUIDKey))) return;
  const qint64 legacy = defaults_.integerValue(QLatin1String(kLegacySelectedIDKey)).value_or(0);
  QString uid;
  // A value outside the id range names no device: same as the system default.
  if (legacy > 0 && legacy <= std::numeric_limits<quint32>::max()) {
    for (const AudioDevice& device : devices_) {
      if (device.id == static_cast<quint32>(legacy)) {
        uid = device.uid.value_or(QString());
        break;
      }
    }
  }
  storeSelectedDeviceUID(uid);
  defaults_.remove(QLatin1String(kLegacySelectedIDKey));
}

quint32 AudioDeviceManager::storedDeviceID(UserDefaults& defaults, platform::AudioDevices& audioDevices) {
  const QString uid = defaults.stringValue(QLatin1String(kSelectedUIDKey)).value_or(QString());
  if (uid.isEmpty()) return 0;
  const auto source = audioDevices.audioSourceNamed(uid);
  return source ? source->index + 1 : 0;
}

}  // namespace murel
