#pragma once

#include "app/AppStatus.h"
#include "design/Tokens.h"
#include "onboarding/OnboardingStep.h"

#include <QScrollArea>

#include <optional>

namespace murel {

class AppState;
class EditorialKeycapRow;
class HotKeyService;
class OnboardingButtonStyle;
class TextLabel;
class Tween;

// The trial's output box: it takes the height the layout leaves and scrolls
// what is taller, never wider.
class OutputScrollArea : public QScrollArea {
  Q_OBJECT

 public:
  explicit OutputScrollArea(QWidget* parent = nullptr);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }
};

// The sixth onboarding step: press the hotkey, say a line, see it here.
//
// While it is on screen, dictations are not pasted (their text still goes to
// the clipboard) and the heads-up display stays hidden; both are given back
// when it leaves, by the flow or by the window closing, since an automatic
// paste left off would stop all pasting until the next start. It installs the
// hotkey handling itself, because during the first run the application's
// start-up has not run yet.
//
// The first dictation delivered while the step is shown is its result, also
// when its text equals the previous one; later ones never replace it.
class TestSetupView : public OnboardingStep {
  Q_OBJECT

 public:
  explicit TestSetupView(AppState& appState, QWidget* parent = nullptr);
  ~TestSetupView() override;

  static constexpr int kFadeInMs = 300;
  static constexpr int kOutputMinHeight = 44;

  const std::optional<QString>& testResult() const { return testResult_; }
  bool hasSucceeded() const { return testResult_.has_value(); }
  // The status line for the application's status now.
  QString testStatusText() const;
  DSColor statusColor() const;
  bool appeared() const { return appeared_; }

  EditorialKeycapRow* keycaps() const { return keycaps_; }
  TextLabel* modePill() const { return modeLabel_; }
  TextLabel* statusLine() const { return status_; }
  TextLabel* output() const { return output_; }
  QWidget* outputBar() const { return bar_; }
  OutputScrollArea* outputScroll() const { return outputScroll_; }
  OnboardingButtonStyle* backButton() const { return back_; }
  OnboardingButtonStyle* continueButton() const { return continue_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void applyEffects();
  void restoreEffects();
  void transcriptArrived(const QString& text);
  bool isBusy() const;
  void refresh();
  void refreshHotkey();

  AppState& appState_;
  HotKeyService& hotKeys_;
  bool appeared_;
  bool effectsApplied_ = false;
  std::optional<QString> testResult_;

  QWidget* content_;
  EditorialKeycapRow* keycaps_;
  TextLabel* modeLabel_;
  TextLabel* status_;
  QWidget* bar_;
  TextLabel* output_;
  OutputScrollArea* outputScroll_;
  OnboardingButtonStyle* back_;
  OnboardingButtonStyle* continue_;
  Tween* fade_;
};

}  // namespace murel
