#pragma once

#include "keys/KeyCombo.h"
#include "runtime/Clock.h"

#include <QObject>

#include <optional>
#include <set>

namespace murel {

class HotKeyService;

// Captures one new key combination from the application's own key events
// while a settings or onboarding view asks for a new hotkey. The hotkey
// service is paused meanwhile, so the old hotkeys neither fire nor hold the
// keys. Main thread; each view owns its own recorder.
class HotKeyRecorder : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
  Q_PROPERTY(bool didTimeout READ didTimeout WRITE setDidTimeout NOTIFY didTimeoutChanged)
  Q_PROPERTY(bool didConflict READ didConflict WRITE setDidConflict NOTIFY didConflictChanged)

 public:
  enum class Target { toggleRecording, changeMode, commandEdit, capture };

  static constexpr std::chrono::seconds kTimeout{5};

  HotKeyRecorder(HotKeyService& service, Target target, Clock& clock = Clock::suspending(), QObject* parent = nullptr);
  ~HotKeyRecorder() override;

  bool isRecording() const { return isRecording_; }
  bool didTimeout() const { return didTimeout_; }
  bool didConflict() const { return didConflict_; }
  // The last combination captured with target `capture`.
  const std::optional<KeyCombo>& capturedCombo() const { return capturedCombo_; }
  Target target() const { return target_; }

  // Views may clear the flags themselves.
  void setDidTimeout(bool value);
  void setDidConflict(bool value);

  // Starts a capture; does nothing while one runs.
  void beginCapture();
  // Ends a capture without capturing anything.
  void stopCapture();

 Q_SIGNALS:
  void isRecordingChanged();
  void didTimeoutChanged();
  void didConflictChanged();
  void capturedComboChanged();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void setRecording(bool value);
  void setCapturedCombo(std::optional<KeyCombo> combo);
  bool handleModifier(Key key, bool press);
  void handleKeyDown(quint32 keyCode);
  void captureCombo(const KeyCombo& combo);

  HotKeyService& service_;
  Target target_;
  Clock& clock_;
  bool isRecording_ = false;
  bool didTimeout_ = false;
  bool didConflict_ = false;
  std::optional<KeyCombo> capturedCombo_;
  bool monitoring_ = false;
  Clock::TimerId timeout_ = 0;
  std::set<Key> pressedFlagKeys_;
};

}  // namespace murel
