#pragma once

#include "text/ModeStore.h"

#include <QList>
#include <QObject>
#include <QUuid>
#include <QWidget>

#include <memory>

namespace murel {

class AppIcon;
class Tween;

// What the mode switcher lists: the modes in store order, the mode that was
// active when it opened, and the highlighted row. Made afresh for every
// opening; only `selectedIndex` changes, and it tells observers only when it
// does. While the list is not empty the index stays within it.
class ModeSwitcherModel : public QObject {
  Q_OBJECT
  Q_PROPERTY(int selectedIndex READ selectedIndex WRITE setSelectedIndex NOTIFY selectedIndexChanged)

 public:
  // Starts on the first mode with `activeID`, else on the first row.
  ModeSwitcherModel(QList<Mode> modes, QUuid activeID, QObject* parent = nullptr);

  const QList<Mode>& modes() const { return modes_; }
  const QUuid& activeID() const { return activeID_; }
  int selectedIndex() const { return selectedIndex_; }
  // Ignores an index outside the list.
  void setSelectedIndex(int index);

 Q_SIGNALS:
  void selectedIndexChanged();

 private:
  QList<Mode> modes_;
  QUuid activeID_;
  int selectedIndex_ = 0;
};

// One row of the switcher: the transformation's icon, the mode's name as the
// user wrote it and, on the active mode, a checkmark. The selected row is an
// accent bar with dark content; the change eases over 0.1 s.
class ModeSwitcherRow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kIconSize = 14;
  static constexpr int kIconFrame = 16;
  static constexpr int kCheckmarkSize = 12;
  static constexpr qreal kRadius = 6;

  ModeSwitcherRow(const Mode& mode, bool isSelected, bool isActive, int width, QWidget* parent = nullptr);

  const Mode& mode() const { return mode_; }
  bool isSelected() const { return selected_; }
  bool isActive() const { return active_; }
  void setSelected(bool selected);
  // How far the highlight has come (0 plain, 1 selected).
  qreal highlight() const;
  AppIcon* icon() const { return icon_; }
  // The icon of a transformation: "Icons/message", "Icons/magicWand", "Icons/edit" or "Icons/voice".
  static QString iconName(const Transformation& transformation);

  QSize sizeHint() const override { return size(); }

 Q_SIGNALS:
  void hovered();
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QRectF nameRect() const;
  void applyHighlight(qreal value);

  Mode mode_;
  bool selected_;
  bool active_;
  bool pressed_ = false;
  AppIcon* icon_;
  Tween* highlight_;
};

// The switcher's card: one row per mode, 280 wide with an 8-point inset, on
// the page colour inside a radius-10 card with a 1-point accent border. It
// fades in while growing from 97 % over 0.2 s (at rest at once in a preview
// run). Pointing at a row selects it (once the pointer has moved since the
// card opened); a click picks it. It never closes
// anything and never changes the mode store.
class ModeSwitcherHud : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 280;
  static constexpr int kPadding = 8;
  static constexpr int kSpacing = 4;
  static constexpr qreal kRadius = 10;
  static constexpr qreal kEntranceScale = 0.97;

  explicit ModeSwitcherHud(std::shared_ptr<ModeSwitcherModel> model, QWidget* parent = nullptr);

  ModeSwitcherModel& model() const { return *model_; }
  QList<ModeSwitcherRow*> rows() const { return rows_; }
  bool appeared() const { return appeared_; }
  // 0 before the entrance, 1 at rest.
  qreal entranceProgress() const;

  QSize sizeHint() const override { return size(); }

 Q_SIGNALS:
  // A row was clicked: its mode, whatever row is highlighted.
  void modeSelected(const murel::Mode& mode);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void applyEntrance(qreal progress);
  void selectionChanged();

  std::shared_ptr<ModeSwitcherModel> model_;
  QList<ModeSwitcherRow*> rows_;
  bool appeared_;
  QPoint pointerAtOpening_;
  bool pointerMoved_ = false;
  Tween* entrance_;
};

}  // namespace murel
