#include "onboarding/OnboardingContainerView.h"

#include "design/CoreComponents.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "onboarding/OnboardingSteps.h"
#include "onboarding/PushTransition.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QShowEvent>
#include <QVBoxLayout>

namespace murel {
namespace {

QWidget* makeHeader(StepCounter*& counter, QWidget* parent) {
  auto* header = new QWidget(parent);
  auto* column = new QVBoxLayout(header);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* row = new QHBoxLayout();
  row->setContentsMargins(32, 16, 32, 16);
  row->setSpacing(8);
  auto* brand = new QHBoxLayout();
  brand->setSpacing(12);
  brand->addWidget(new DSAccentStripe(4, 16), 0, Qt::AlignVCenter);
  //% "Murel"
  auto* word = new TextLabel(qtTrId("Murel"), TextStyle{notoSans(18, DSWeight::bold), 0, DSColor::ink});
  word->setWrapping(false);
  brand->addWidget(word, 0, Qt::AlignVCenter);
  row->addLayout(brand);
  row->addStretch(1);
  counter = new StepCounter(0, 0);
  row->addWidget(counter, 0, Qt::AlignVCenter);
  column->addLayout(row);

  auto* rule = new QHBoxLayout();
  rule->setContentsMargins(32, 0, 32, 0);
  rule->addWidget(new ThinDivider());
  column->addLayout(rule);
  return header;
}

}  // namespace

OnboardingContainerView::OnboardingContainerView(int totalSteps, OnboardingEnvironment environment, QWidget* parent)
    : QWidget(parent), totalSteps_(totalSteps), environment_(environment) {
  setFixedSize(kWidth, kHeight);
  header_ = makeHeader(counter_, this);
  header_->setGeometry(0, 0, kWidth, header_->sizeHint().height());
  header_->hide();
  moveTo(0, false);
}

OnboardingContainerView::~OnboardingContainerView() {
  // The push holds pointers into the steps: end it before they go.
  finishTransition();
}

QRect OnboardingContainerView::stepRect(int step) const {
  if (step == 0) return rect();
  const int top = header_->height();
  return QRect(0, top, kWidth, kHeight - top);
}

void OnboardingContainerView::setHeaderOpacity(qreal opacity) {
  if (opacity >= 1) {
    header_->setGraphicsEffect(nullptr);
    headerFade_ = nullptr;
    return;
  }
  if (!headerFade_) {
    headerFade_ = new QGraphicsOpacityEffect(header_);
    header_->setGraphicsEffect(headerFade_);
  }
  headerFade_->setOpacity(opacity);
}

void OnboardingContainerView::goToNextStep() {
  navigatingForward_ = true;
  moveTo(currentStep_ + 1, true);
}

void OnboardingContainerView::goToPreviousStep() {
  if (currentStep_ <= 0) return;
  navigatingForward_ = false;
  moveTo(currentStep_ - 1, true);
}

void OnboardingContainerView::finishOnboarding() {
  window()->close();
  Q_EMIT finished();
}

void OnboardingContainerView::finishTransition() {
  if (transition_) transition_->finish();
}

void OnboardingContainerView::moveTo(int step, bool animated) {
  finishTransition();
  const int previous = currentStep_;
  currentStep_ = step;
  // The welcome step has no header: on the way back to it the header fades
  // out still showing the step being left.
  if (step >= 1) counter_->setStep(step, totalSteps_);

  OnboardingStep* leaving = step_;
  OnboardingStep* entering = makeOnboardingStep(step, environment_);
  if (entering) {
    entering->setParent(this);
    entering->setGeometry(stepRect(step));
    connect(entering, &OnboardingStep::backRequested, this, &OnboardingContainerView::goToPreviousStep);
    connect(entering, &OnboardingStep::continueRequested, this, &OnboardingContainerView::goToNextStep);
    connect(entering, &OnboardingStep::finishRequested, this, &OnboardingContainerView::finishOnboarding);
  }
  step_ = entering;

  const bool headerBefore = previous >= 1 && header_->isVisible();
  const bool headerAfter = step >= 1;
  if (!animated) {
    delete leaving;
    header_->setVisible(headerAfter);
    setHeaderOpacity(1);
    if (entering) entering->show();
    Q_EMIT currentStepChanged(currentStep_);
    return;
  }

  if (headerAfter) header_->show();
  auto* push = new PushTransition(leaving, leaving ? stepRect(previous) : QRect(), entering, stepRect(step),
                                  navigatingForward_, kPushMs, this);
  if (headerBefore != headerAfter) {
    connect(push, &PushTransition::progressed, this,
            [this, headerAfter](qreal t) { setHeaderOpacity(headerAfter ? t : 1 - t); });
    connect(push, &PushTransition::finished, this, [this, headerAfter] {
      setHeaderOpacity(1);
      header_->setVisible(headerAfter);
    });
  }
  connect(push, &PushTransition::finished, push, &QObject::deleteLater);
  transition_ = push;
  push->start();
  Q_EMIT currentStepChanged(currentStep_);
}

void OnboardingContainerView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), dsColor(DSColor::background, this));
}

void OnboardingContainerView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A window brought back from being minimised keeps its place in the flow.
  if (event->spontaneous()) return;
  if (shownBefore_) moveTo(0, false);
  shownBefore_ = true;
}

}  // namespace murel
