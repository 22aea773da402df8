#include "text/ModelInactivityDelay.h"

#include "runtime/UserDefaults.h"

namespace murel::model_inactivity_delay {

const QList<ModelInactivityDelay>& allCases() {
  static const QList<ModelInactivityDelay> cases = {
      ModelInactivityDelay::never,         ModelInactivityDelay::fifteenMinutes,
      ModelInactivityDelay::thirtyMinutes, ModelInactivityDelay::fortyFiveMinutes,
      ModelInactivityDelay::oneHour,       ModelInactivityDelay::twoHours};
  return cases;
}

std::optional<ModelInactivityDelay> fromRawValue(qint64 minutes) {
  for (ModelInactivityDelay d : allCases()) {
    if (rawValue(d) == minutes) return d;
  }
  return std::nullopt;
}

std::optional<std::chrono::seconds> duration(ModelInactivityDelay delay) {
  if (delay == ModelInactivityDelay::never) return std::nullopt;
  return std::chrono::seconds(rawValue(delay) * 60);
}

ModelInactivityDelay current(const UserDefaults& defaults) {
  const std::optional<qint64> minutes = defaults.integerValue(QLatin1String(kKey));
  if (!minutes) return ModelInactivityDelay::thirtyMinutes;
  return fromRawValue(*minutes).value_or(ModelInactivityDelay::thirtyMinutes);
}

}  // namespace murel::model_inactivity_delay
