#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace murel::platform {

// One audio input as the sound server describes it.
struct AudioSource {
  uint32_t index = 0;      // the server's, valid while the source stays plugged in
  QString name;            // persistent, e.g. "alsa_input.usb-…"
  QString description;     // what the user sees
  bool isMonitor = false;  // replays an output rather than hearing the room
};

// The sound server's list of inputs and its changes.
//
// Threading: the queries may be called from any thread but the sound server's
// own; each blocks its caller for one round trip to the server (at most a few
// seconds when the server hangs). `sourcesChanged` is emitted on the main
// thread, coalesced to one signal per main-loop turn, also when the server
// goes away and when it comes back.
class AudioDevices : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  // Empty optional when the server cannot be asked.
  virtual std::optional<std::vector<AudioSource>> audioSources() = 0;
  // Only the exact name counts (no aliases such as "@DEFAULT_SOURCE@").
  virtual std::optional<AudioSource> audioSourceNamed(const QString& name) = 0;

 Q_SIGNALS:
  void sourcesChanged();
};

}  // namespace murel::platform
