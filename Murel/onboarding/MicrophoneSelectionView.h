#pragma once

#include "audio/AudioDeviceManager.h"
#include "onboarding/OnboardingStep.h"

#include <QAbstractButton>
#include <QList>

#include <functional>

class QVBoxLayout;

namespace murel {

class EditorialChapterNumeral;
class EditorialRowHover;
class OnboardingButtonStyle;
class TextLabel;
class Tween;

// One microphone of the list: its position as a numeral, its name, and a
// checkmark when it is the one in use; a faint tint under the pointer unless
// it is. The whole row is the button.
class EditorialDeviceRow : public QAbstractButton {
  Q_OBJECT

 public:
  EditorialDeviceRow(int index, const AudioDevice& device, bool isSelected, QWidget* parent = nullptr);

  // A change of selection cross-fades the row's accent, numeral and checkmark.
  static constexpr int kSelectionMs = 100;

  const AudioDevice& device() const { return device_; }
  bool isSelected() const { return isSelected_; }
  void setSelected(bool selected, bool animated = false);
  EditorialChapterNumeral* numeral() const { return numeral_; }
  TextLabel* nameLabel() const { return name_; }
  EditorialRowHover* hover() const { return hover_; }

 protected:
  void paintEvent(QPaintEvent*) override {}
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  AudioDevice device_;
  bool isSelected_;
  EditorialRowHover* hover_;
  EditorialChapterNumeral* numeral_;
  TextLabel* name_;
  QWidget* check_;
};

// Step 2 of onboarding: the microphones the application's device manager
// lists, live, with the one in use ticked. Pressing a row stores that device
// as the choice; the step writes nothing else (a stored device that is not
// plugged in stays stored, while System Default shows as in use).
class MicrophoneSelectionView : public OnboardingStep {
  Q_OBJECT

 public:
  // Where the rows come from; the manager's own list unless a test says otherwise.
  using DeviceList = std::function<QList<AudioDevice>()>;

  // `trayShown`: a tray shows the icon, whose panel is where the choice changes later.
  explicit MicrophoneSelectionView(AudioDeviceManager& manager, DeviceList devices = {}, bool trayShown = true,
                                   QWidget* parent = nullptr);

  const QList<EditorialDeviceRow*>& rows() const { return rows_; }
  // Shown in place of the rows when there are none.
  TextLabel* emptyText() const { return empty_; }
  TextLabel* footnote() const { return footnote_; }
  OnboardingButtonStyle* backButton() const { return back_; }
  OnboardingButtonStyle* nextButton() const { return next_; }
  // The list's opacity (it fades in when the step appears).
  qreal listOpacity() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void rebuildRows();
  void refreshSelection();

  AudioDeviceManager& manager_;
  DeviceList devices_;
  QWidget* divider_;
  QWidget* list_;
  QVBoxLayout* listLayout_;
  TextLabel* empty_;
  TextLabel* footnote_;
  QList<EditorialDeviceRow*> rows_;
  QList<QWidget*> rowDividers_;
  Tween* fade_;
  OnboardingButtonStyle* back_;
  OnboardingButtonStyle* next_;
};

}  // namespace murel
