#pragma once

#include "design/Tokens.h"
#include "keys/KeyCombo.h"
#include "onboarding/OnboardingStep.h"

#include <optional>

class QStackedLayout;

namespace murel {

class ActivationModePicker;
class EditorialKeycapRow;
class EditorialPillButton;
class EditorialStatusPill;
class HotKeyRecorder;
class OnboardingButtonStyle;
class TextLabel;
class Tween;

// Step 3 of onboarding: the dictation hotkey and its activation mode.
//
// Each time it comes on screen it stores Alt+Space (either Alt) when no
// dictation hotkey is stored, then reinstalls the hotkey registrations. It
// shows the hotkey as keycaps with BOUND or UNAVAILABLE (or RECORD when
// nothing is registered), records a new one through its own recorder (which
// lives and dies with the step, so leaving ends a capture and resumes the
// hotkeys) and writes the activation mode through the service. NEXT → is
// enabled while the dictation hotkey is registered and nothing is being
// recorded.
class HotkeyRecordView : public OnboardingStep {
  Q_OBJECT

 public:
  // Stored when no dictation hotkey is: Space with either Alt.
  static KeyCombo defaultCombo() { return KeyCombo(Key::space, KeyModifiers::option); }

  explicit HotkeyRecordView(const OnboardingEnvironment& environment, QWidget* parent = nullptr);
  ~HotkeyRecordView() override;

  HotKeyRecorder& recorder() const { return *recorder_; }
  EditorialKeycapRow* keycaps() const { return keycaps_; }
  // The status control on show now: one of the pills, or RECORD.
  QWidget* statusControl() const;
  EditorialStatusPill* statusPill() const { return pill_; }
  EditorialPillButton* rebindButton() const { return rebind_; }
  OnboardingButtonStyle* recordButton() const { return record_; }
  // Null text while no helper line is shown.
  TextLabel* helperLine() const { return helper_; }
  // What cross-fades as the status and the helper line change.
  QWidget* statusBox() const { return statusBox_; }
  QWidget* helperBox() const { return helperBox_; }
  ActivationModePicker* activationModePicker() const { return picker_; }
  OnboardingButtonStyle* backButton() const { return back_; }
  OnboardingButtonStyle* nextButton() const { return next_; }
  qreal contentOpacity() const;

  // The registration failed and no capture runs.
  bool registrationUnavailable() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void refresh();
  void beginCapture();

  OnboardingEnvironment environment_;
  HotKeyRecorder* recorder_;
  EditorialKeycapRow* keycaps_;
  QWidget* statusBox_;
  int statusKey_ = -1;  // what the status control showed last (none yet)
  EditorialStatusPill* pill_;
  EditorialPillButton* rebind_;
  OnboardingButtonStyle* record_;
  TextLabel* helper_;
  QWidget* helperBox_;
  ActivationModePicker* picker_;
  OnboardingButtonStyle* back_;
  OnboardingButtonStyle* next_;
  Tween* fade_;
};

}  // namespace murel
