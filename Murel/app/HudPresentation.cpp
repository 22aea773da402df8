#include "app/HudPresentation.h"

namespace murel {

HudPresentation::HudPresentation(QObject* parent) : QObject(parent) {}

void HudPresentation::setPhase(HudPhase phase) {
  if (phase == phase_) return;
  phase_ = phase;
  emit phaseChanged(phase_);
}

}  // namespace murel
