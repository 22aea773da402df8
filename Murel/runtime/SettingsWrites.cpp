#include "runtime/SettingsWrites.h"

#include "runtime/UserDefaults.h"

namespace murel {

SettingsWrites& SettingsWrites::of(UserDefaults& defaults) {
  if (auto* existing = defaults.findChild<SettingsWrites*>(QString(), Qt::FindDirectChildrenOnly)) return *existing;
  return *new SettingsWrites(&defaults);
}

void SettingsWrites::noteFailed(const QString& reason) {
  if (failure_) return;
  failure_ = reason;
  Q_EMIT failureChanged();
}

void SettingsWrites::noteSaved() {
  if (!failure_) return;
  failure_.reset();
  Q_EMIT failureChanged();
}

}  // namespace murel
