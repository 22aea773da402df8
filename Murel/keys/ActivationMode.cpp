#include "keys/ActivationMode.h"

namespace murel {

const std::array<ActivationMode, 3>& allActivationModes() {
  static constexpr std::array<ActivationMode, 3> modes = {ActivationMode::hybrid, ActivationMode::toggle,
                                                          ActivationMode::holdToActivate};
  return modes;
}

QString activationModeRawValue(ActivationMode mode) {
  switch (mode) {
    case ActivationMode::hybrid: return QStringLiteral("hybrid");
    case ActivationMode::toggle: return QStringLiteral("toggle");
    case ActivationMode::holdToActivate: return QStringLiteral("holdToActivate");
  }
  return QStringLiteral("hybrid");
}

std::optional<ActivationMode> activationModeFromRawValue(const QString& text) {
  for (ActivationMode mode : allActivationModes()) {
    if (activationModeRawValue(mode) == text) return mode;
  }
  return std::nullopt;
}

QString activationModeShortLabel(ActivationMode mode) {
  switch (mode) {
    case ActivationMode::hybrid:
      //% "AUTO"
      //: Short label for the automatic activation mode.
      return qtTrId("hotkey.activationMode.hybrid.label");
    case ActivationMode::toggle:
      //% "TOGGLE"
      //: Short label for the toggle activation mode.
      return qtTrId("hotkey.activationMode.toggle.label");
    case ActivationMode::holdToActivate:
      //% "HOLD"
      //: Short label for the hold-to-activate mode.
      return qtTrId("hotkey.activationMode.hold.label");
  }
  return QString();
}

QString activationModeCaption(ActivationMode mode) {
  switch (mode) {
    case ActivationMode::hybrid:
      //% "short press toggles, long press is push-to-talk."
      //: Caption under the activation mode picker when AUTO is selected.
      return qtTrId("hotkey.activationMode.hybrid");
    case ActivationMode::toggle:
      //% "press once to start, press again to stop."
      //: Caption under the activation mode picker when TOGGLE is selected.
      return qtTrId("hotkey.activationMode.toggle");
    case ActivationMode::holdToActivate:
      //% "hold to record, release to stop."
      //: Caption under the activation mode picker when HOLD is selected.
      return qtTrId("hotkey.activationMode.hold");
  }
  return QString();
}

ActivationDecision ActivationStateMachine::handleKeyEvent(bool isRelease, TimePoint now) {
  switch (activationMode) {
    case ActivationMode::toggle:
      if (isRelease) return ActivationDecision::ignore;
      isActive = !isActive;
      return isActive ? ActivationDecision::start : ActivationDecision::stop;
    case ActivationMode::holdToActivate:
      if (!isRelease) {
        if (isActive) return ActivationDecision::ignore;
        isActive = true;
        return ActivationDecision::start;
      }
      if (!isActive) return ActivationDecision::ignore;
      isActive = false;
      return ActivationDecision::stop;
    case ActivationMode::hybrid: return handleHybrid(isRelease, now);
  }
  return ActivationDecision::ignore;
}

ActivationDecision ActivationStateMachine::handleHybrid(bool isRelease, TimePoint now) {
  if (!isRelease) {
    if (keyDownTime) return ActivationDecision::ignore;  // a press without its release
    if (!isActive) {
      keyDownTime = now;
      isActive = true;
      return ActivationDecision::start;
    }
    isActive = false;  // a short press earlier started it; this press ends it
    return ActivationDecision::stop;
  }
  if (!keyDownTime) return ActivationDecision::ignore;
  const auto held = now - *keyDownTime;
  keyDownTime.reset();
  if (held >= kHoldThreshold) {
    isActive = false;
    return ActivationDecision::stop;
  }
  return ActivationDecision::ignore;  // short press: keeps recording until the next press
}

}  // namespace murel
