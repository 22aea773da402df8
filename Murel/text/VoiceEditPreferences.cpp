#include "text/VoiceEditPreferences.h"

#include "runtime/UserDefaults.h"

namespace murel {

VoiceEditPreferences::VoiceEditPreferences(UserDefaults& defaults, QObject* parent)
    : QObject(parent), defaults_(defaults), enabled_(defaults.boolValue(QLatin1String(kKey)).value_or(false)) {}

void VoiceEditPreferences::setEnabled(bool enabled) {
  defaults_.setValue(QLatin1String(kKey), enabled);
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Q_EMIT isEnabledChanged();
}

}  // namespace murel
