#pragma once

#include <QObject>

#include <functional>

namespace murel {

// What the heads-up display shows: the recording bar labelled "REC" or "EDIT",
// or the processing bar.
enum class HudPhase { recording, editing, transcribing };

// The live input level, 0.0 (silence, no capture) to 1.0 (full scale). The
// display calls it on the main thread 30 times a second while a recording bar
// is on screen, so it must only read a stored value.
using ReadLevel = std::function<float()>;

// The phase of the heads-up display. The dictation session owns the one
// instance and is its only writer; the display's views follow it.
class HudPresentation : public QObject {
  Q_OBJECT
  Q_PROPERTY(murel::HudPhase phase READ phase WRITE setPhase NOTIFY phaseChanged)

 public:
  explicit HudPresentation(QObject* parent = nullptr);

  HudPhase phase() const { return phase_; }
  // Assigning the current phase again notifies nobody.
  void setPhase(HudPhase phase);

 signals:
  void phaseChanged(murel::HudPhase phase);

 private:
  HudPhase phase_ = HudPhase::recording;
};

}  // namespace murel
