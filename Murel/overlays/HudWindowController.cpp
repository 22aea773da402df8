#include "overlays/HudWindowController.h"

#include "overlays/FloatingPanel.h"
#include "overlays/HudBars.h"

#include <QVBoxLayout>

namespace murel {

// HudContentView

HudContentView::HudContentView(HudPresentation& presentation, ReadLevel readLevel, Clock& clock, QWidget* parent)
    : QWidget(parent),
      presentation_(&presentation),
      readLevel_(std::move(readLevel)),
      clock_(clock),
      container_(new HudBarContainer(kWidth)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(container_);
  setFixedSize(container_->size());
  connect(&presentation, &HudPresentation::phaseChanged, this, &HudContentView::showPhase);
  showPhase(presentation.phase());
}

QWidget* HudContentView::bar() const { return container_->content(); }

void HudContentView::showPhase(HudPhase phase) {
  shown_ = phase;
  switch (phase) {
    case HudPhase::recording:
      //: Heads-up display label while dictating.
      //% "REC"
      container_->setContent(new HudMinimalBarWaveContent(readLevel_, qtTrId("REC"), clock_));
      break;
    case HudPhase::editing:
      //: Heads-up display label while recording a spoken instruction that rewrites the selected text.
      //% "EDIT"
      container_->setContent(new HudMinimalBarWaveContent(readLevel_, qtTrId("EDIT"), clock_));
      break;
    case HudPhase::transcribing: container_->setContent(new HudProcessingBarContent); break;
  }
}

// HudWindowController

HudWindowController::HudWindowController(Clock& clock) : clock_(clock) {}

HudWindowController::~HudWindowController() = default;

void HudWindowController::show(HudPresentation& presentation, ReadLevel readLevel) {
  if (panel_) {
    panel_->orderOut();
  } else {
    panel_ = std::make_unique<FloatingPanel>(HudBarContainer::kHeight / 2.0);
    panel_->setObjectName(QStringLiteral("murel-hud"));
  }
  // A fresh view: the waveform starts again from silence.
  panel_->setContentView(new HudContentView(presentation, std::move(readLevel), clock_));
  panel_->centreOnPrimaryScreen();
  panel_->orderFrontRegardless();
}

}  // namespace murel
