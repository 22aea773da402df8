#include "onboarding/PlaceholderStepView.h"

#include "design/OnboardingButtonStyle.h"
#include "design/Text.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace murel {
namespace {

QString stepName(int index) {
  switch (index) {
    case 1:
      //% "PERMISSIONS"
      //: Name of the onboarding permissions step while it is being built.
      return qtTrId("onboarding.placeholder.permissions");
    case 2:
      //% "MICROPHONE"
      //: Name of the onboarding microphone step while it is being built.
      return qtTrId("onboarding.placeholder.microphone");
    case 3:
      //% "HOTKEY"
      //: Name of the onboarding hotkey step while it is being built.
      return qtTrId("onboarding.placeholder.hotkey");
    case 4:
      //% "SPEECH MODEL"
      //: Name of the onboarding speech-model step while it is being built.
      return qtTrId("onboarding.placeholder.model");
    default:
      //% "TRY IT"
      //: Name of the onboarding trial-dictation step while it is being built.
      return qtTrId("onboarding.placeholder.trial");
  }
}

}  // namespace

PlaceholderStepView::PlaceholderStepView(int index, QWidget* parent) : OnboardingStep(parent), index_(index) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(48, 0, 48, 40);
  layout->setSpacing(0);
  layout->addStretch(1);
  layout->addWidget(new TextLabel(stepName(index), TextStyle{tracked(notoSans(12), 1.5), 2, DSColor::inkSecondary}));
  layout->addStretch(1);

  //% "← BACK"
  //: Back button of an onboarding step.
  back_ = new OnboardingButtonStyle(qtTrId("onboarding.step.back"), false);
  //% "NEXT →"
  //: Button moving on to the next onboarding step.
  next_ = new OnboardingButtonStyle(qtTrId("onboarding.step.next"), true);
  layout->addLayout(buttonRow(back_, next_));

  connect(back_, &QAbstractButton::clicked, this, &OnboardingStep::backRequested);
  connect(next_, &QAbstractButton::clicked, this, &OnboardingStep::continueRequested);
}

}  // namespace murel
