#pragma once

#include <QAbstractButton>

class QMenu;

namespace murel {

class AudioDeviceManager;

// The microphone chooser: a capsule showing the selected input device's name
// with a chevron, opening a menu of every device the manager lists, the
// system default first and the selected one checked. Choosing an entry selects
// it in the manager, which stores it. The menu follows the manager's device
// list and selection as they change, also while it is open.
class InputDevicePicker : public QAbstractButton {
  Q_OBJECT

 public:
  explicit InputDevicePicker(AudioDeviceManager& devices, QWidget* parent = nullptr);

  // The name shown: the selected device's, empty when no listed device has the selected id.
  QString currentName() const;
  // The menu the capsule opens (rebuilt on every change of the manager).
  QMenu* menu() const { return menu_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  void scheduleRebuild();
  void rebuildMenu();
  void styleMenu();
  void popUp();

  AudioDeviceManager& devices_;
  QMenu* menu_;
  bool rebuildPending_ = false;
};

}  // namespace murel
