#pragma once

#include <QList>

#include <chrono>
#include <optional>

namespace murel {

class UserDefaults;

// How long a loaded model may sit unused before it is unloaded; one choice for
// all models, stored in minutes under "modelResidency.inactivityDelayMinutes".
enum class ModelInactivityDelay : int {
  never = 0,
  fifteenMinutes = 15,
  thirtyMinutes = 30,
  fortyFiveMinutes = 45,
  oneHour = 60,
  twoHours = 120,
};

namespace model_inactivity_delay {

inline constexpr const char* kKey = "modelResidency.inactivityDelayMinutes";

const QList<ModelInactivityDelay>& allCases();
std::optional<ModelInactivityDelay> fromRawValue(qint64 minutes);
inline int rawValue(ModelInactivityDelay delay) { return static_cast<int>(delay); }
// None for never.
std::optional<std::chrono::seconds> duration(ModelInactivityDelay delay);
// The user's choice; thirty minutes when nothing (or no valid whole number of minutes) is stored.
ModelInactivityDelay current(const UserDefaults& defaults);

}  // namespace model_inactivity_delay
}  // namespace murel
