#pragma once

#include <QString>

#include <array>
#include <chrono>
#include <optional>

namespace murel {

// How the dictation hotkeys act. `hybrid` is shown as AUTO: a short press
// toggles, a long press is push-to-talk.
enum class ActivationMode { hybrid, toggle, holdToActivate };

// The three modes in picker order.
const std::array<ActivationMode, 3>& allActivationModes();
// The stored text: "hybrid", "toggle" or "holdToActivate".
QString activationModeRawValue(ActivationMode mode);
// Exact, case-sensitive reading of the stored text; none for anything else.
std::optional<ActivationMode> activationModeFromRawValue(const QString& text);
// Localised picker label ("AUTO", "TOGGLE", "HOLD") and caption.
QString activationModeShortLabel(ActivationMode mode);
QString activationModeCaption(ActivationMode mode);

enum class ActivationDecision { start, stop, ignore };

// Turns the presses and releases of the hotkey that owns the key session into
// start and stop decisions. A plain value; the hotkey service owns one.
struct ActivationStateMachine {
  using TimePoint = std::chrono::nanoseconds;  // a Clock's now()
  // A press held at least this long stops on release in hybrid mode.
  static constexpr std::chrono::seconds kHoldThreshold{1};

  ActivationMode activationMode = ActivationMode::hybrid;
  bool isActive = false;
  // Hybrid mode: when the press that started the recording happened, until its release.
  std::optional<TimePoint> keyDownTime;

  ActivationDecision handleKeyEvent(bool isRelease, TimePoint now);
  // Back to inactive with no press time; the mode stays.
  void reset() {
    isActive = false;
    keyDownTime.reset();
  }

 private:
  ActivationDecision handleHybrid(bool isRelease, TimePoint now);
};

}  // namespace murel
