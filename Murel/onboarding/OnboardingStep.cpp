#include "onboarding/OnboardingStep.h"

#include <QHBoxLayout>

namespace murel {

QHBoxLayout* OnboardingStep::buttonRow(QWidget* leading, QWidget* trailing) {
  auto* row = new QHBoxLayout();
  row->setSpacing(8);
  if (leading) row->addWidget(leading);
  row->addStretch(1);
  if (trailing) row->addWidget(trailing);
  return row;
}

}  // namespace murel
