#pragma once

#include "app/HudPresentation.h"
#include "runtime/Clock.h"

#include <QPointer>
#include <QWidget>

#include <memory>

namespace murel {

class FloatingPanel;
class HudBarContainer;

// The root view of the heads-up display: the bar for the presentation's
// phase in the 200-point capsule, swapped in place when the phase changes.
class HudContentView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 200;

  HudContentView(HudPresentation& presentation, ReadLevel readLevel, Clock& clock, QWidget* parent = nullptr);

  HudPhase shownPhase() const { return shown_; }
  // The bar on screen: a HudMinimalBarWaveContent or a HudProcessingBarContent.
  QWidget* bar() const;

 private:
  void showPhase(HudPhase phase);

  QPointer<HudPresentation> presentation_;
  ReadLevel readLevel_;
  Clock& clock_;
  HudBarContainer* container_;
  HudPhase shown_ = HudPhase::recording;
};

// Owns the one floating panel of the heads-up display. The dictation session
// makes it on the first showing, sets the presentation's phase, calls `show`
// as the last step of starting a recording and orders `panel()` out when the
// dictation is over; the panel is kept for the next showing.
class HudWindowController {
 public:
  // `clock` drives the waveform's sampling.
  explicit HudWindowController(Clock& clock = Clock::suspending());
  ~HudWindowController();
  HudWindowController(const HudWindowController&) = delete;
  HudWindowController& operator=(const HudWindowController&) = delete;

  // Shows the panel, centred on the primary screen, with a fresh view of
  // `presentation` sampling `readLevel`; never takes the keyboard focus. The
  // first call makes the panel, later ones reuse it.
  void show(HudPresentation& presentation, ReadLevel readLevel);
  // None before the first `show`.
  FloatingPanel* panel() const { return panel_.get(); }

 private:
  Clock& clock_;
  std::unique_ptr<FloatingPanel> panel_;
};

}  // namespace murel
