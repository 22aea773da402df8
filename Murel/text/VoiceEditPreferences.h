#pragma once

#include <QObject>

namespace murel {

class UserDefaults;

// The voice-edit switch, stored under "voiceEditEnabled" (off by default). Main thread only.
class VoiceEditPreferences : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled NOTIFY isEnabledChanged)

 public:
  static constexpr const char* kKey = "voiceEditEnabled";

  explicit VoiceEditPreferences(UserDefaults& defaults, QObject* parent = nullptr);

  bool isEnabled() const { return enabled_; }
  // Always stored; notifies only on a change.
  void setEnabled(bool enabled);

 Q_SIGNALS:
  void isEnabledChanged();

 private:
  UserDefaults& defaults_;
  bool enabled_ = false;
};

}  // namespace murel
