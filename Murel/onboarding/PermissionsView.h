#pragma once

#include "onboarding/AccessibilityGuideView.h"
#include "onboarding/OnboardingStep.h"
#include "runtime/Clock.h"

#include <QAbstractButton>
#include <QPointer>

#include <chrono>
#include <functional>

namespace murel {

class EditorialChapterNumeral;
class EditorialStatusPill;
class OnboardingButtonStyle;
class TextLabel;
class Tween;

// One permission of the permissions step: its numeral, name and description,
// and at the trailing end either GRANTED or the button that asks for it. A
// row that has a guide offers "Watch how to enable" until it is granted.
class EditorialPermissionRow : public QWidget {
  Q_OBJECT

 public:
  EditorialPermissionRow(int index, const QString& label, const QString& description, const QString& actionLabel,
                         bool hasGuide, QWidget* parent = nullptr);

  // `animated`: the button gives way to GRANTED in a short cross-fade.
  void setGranted(bool granted, bool animated = false);
  bool isGranted() const { return granted_; }
  void setActionLabel(const QString& label);
  // Why the permission is not there yet and what to do, under the
  // description; empty hides it. A grant clears it.
  void setProblem(const QString& problem);

  TextLabel* labelText() const { return label_; }
  TextLabel* descriptionText() const { return description_; }
  TextLabel* problemText() const { return problem_; }
  OnboardingButtonStyle* actionButton() const { return action_; }
  EditorialStatusPill* grantedPill() const { return pill_; }
  // Null on a row without a guide.
  QAbstractButton* guideLink() const { return guide_; }

 Q_SIGNALS:
  void grantClicked();
  void guideClicked();

 private:
  bool granted_ = false;
  TextLabel* label_;
  TextLabel* description_;
  TextLabel* problem_;
  OnboardingButtonStyle* action_;
  EditorialStatusPill* pill_;
  QAbstractButton* guide_ = nullptr;
};

// Step 1 of onboarding: microphone access and the desktop's key access, one
// row each. NEXT → is enabled once both read GRANTED.
//
// Both are read when the step comes on screen. A grant button asks again; when
// the answer is not a grant, the row says why (the sound server can't be
// reached; the display lacks the X extensions or is no X11 session) and what
// to do. Key access, and a microphone the system refused, are then polled every
// second on the environment's clock until granted (one poll per permission,
// however often the button is pressed); polls stop when the step leaves the
// screen. A grant once seen stays: this step never takes one back, and every
// microphone grant it sees goes through the device manager, so that its status
// and device list are current for the steps after it.
//
// "Watch how to enable" opens the accessibility guide over the window; its
// CLOSE closes it.
class PermissionsView : public OnboardingStep {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kPollInterval{1000};

  explicit PermissionsView(const OnboardingEnvironment& environment, QWidget* parent = nullptr);
  ~PermissionsView() override;

  bool micGranted() const { return micGranted_; }
  bool accessGranted() const { return accessGranted_; }
  bool isPollingMicrophone() const { return microphonePoll_ != 0; }
  bool isPollingAccessibility() const { return accessibilityPoll_ != 0; }

  EditorialPermissionRow* microphoneRow() const { return microphoneRow_; }
  EditorialPermissionRow* accessibilityRow() const { return accessibilityRow_; }
  OnboardingButtonStyle* backButton() const { return back_; }
  OnboardingButtonStyle* nextButton() const { return next_; }
  // The rows block's opacity (it fades in when the step appears).
  qreal rowsOpacity() const;

  // The guide over the window, or null while it is closed.
  AccessibilityGuideView* accessibilityGuide() const { return guide_; }
  bool isShowingAccessibilityGuide() const { return guide_ != nullptr; }
  void showAccessibilityGuide();
  void closeAccessibilityGuide();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void requestMicrophoneAccess();
  void requestAccessibilityAccess();
  void startMicrophonePolling();
  void startAccessibilityPolling();
  // Waits one interval, then runs `tick` again until it returns true.
  void schedulePoll(Clock::TimerId& poll, std::function<bool()> tick);
  void stopPolling();
  void setMicGranted(bool granted, bool animated = false);
  void setAccessGranted(bool granted, bool animated = false);
  // The microphone was seen authorized without asking the device manager.
  void microphoneAuthorized();
  void explainMicrophone();
  void explainAccessibility();

  OnboardingEnvironment environment_;
  bool micGranted_ = false;
  bool accessGranted_ = false;
  Clock::TimerId microphonePoll_ = 0;
  Clock::TimerId accessibilityPoll_ = 0;
  EditorialPermissionRow* microphoneRow_;
  EditorialPermissionRow* accessibilityRow_;
  QWidget* rows_;
  Tween* rowsFade_;
  OnboardingButtonStyle* back_;
  OnboardingButtonStyle* next_;
  QPointer<QWidget> guideOverlay_;
  QPointer<AccessibilityGuideView> guide_;
};

}  // namespace murel
