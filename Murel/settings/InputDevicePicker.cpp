#include "settings/InputDevicePicker.h"

#include "audio/AudioDeviceManager.h"
#include "design/InputComponents.h"
#include "design/Symbols.h"
#include "design/Text.h"
#include "design/Tokens.h"

#include <QMenu>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace murel {

namespace {

QFont nameFont() { return tracked(notoSans(12), 1.5); }

}  // namespace

InputDevicePicker::InputDevicePicker(AudioDeviceManager& devices, QWidget* parent)
    : QAbstractButton(parent), devices_(devices), menu_(new QMenu(this)) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setFocusPolicy(Qt::TabFocus);
  connect(this, &QAbstractButton::clicked, this, &InputDevicePicker::popUp);
  connect(&devices_, &AudioDeviceManager::devicesChanged, this, &InputDevicePicker::scheduleRebuild);
  connect(&devices_, &AudioDeviceManager::selectedDeviceUIDChanged, this, &InputDevicePicker::scheduleRebuild);
  rebuildMenu();
}

QString InputDevicePicker::currentName() const {
  const quint32 selected = devices_.selectedDeviceID();
  for (const AudioDevice& device : devices_.devices()) {
    if (device.id == selected) return device.name;
  }
  return QString();
}

QSize InputDevicePicker::sizeHint() const { return CapsuleMenuFace::sizeHint(currentName()); }

bool InputDevicePicker::hitButton(const QPoint& pos) const { return CapsuleMenuFace::contains(rect(), pos); }

void InputDevicePicker::paintEvent(QPaintEvent*) { CapsuleMenuFace::paint(*this, currentName(), isDown()); }

bool InputDevicePicker::event(QEvent* event) {
  // The menu's colours and checkmark are resolved when it is built; a change
  // of appearance builds it again.
  if (event->type() == Appearance::changeEventType()) rebuildMenu();
  return QAbstractButton::event(event);
}

void InputDevicePicker::scheduleRebuild() {
  updateGeometry();
  update();
  // One main-loop turn later: a choice in the menu changes the selection from
  // inside its own action's signal, and that action must outlive the signal.
  if (rebuildPending_) return;
  rebuildPending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        rebuildPending_ = false;
        rebuildMenu();
      },
      Qt::QueuedConnection);
}

void InputDevicePicker::rebuildMenu() {
  menu_->clear();
  const quint32 selected = devices_.selectedDeviceID();
  const qreal side = Symbols::sideForPointSize(12);
  const qreal ratio = devicePixelRatioF();
  QPixmap check(QSize(int(std::ceil(side * ratio)), int(std::ceil(side * ratio))));
  check.setDevicePixelRatio(ratio);
  check.fill(Qt::transparent);
  {
    QPainter painter(&check);
    painter.setRenderHint(QPainter::Antialiasing);
    Symbols::paint(painter, QRectF(0, 0, side, side), QStringLiteral("checkmark"), dsColor(DSColor::ink, this));
  }
  for (const AudioDevice& device : devices_.devices()) {
    QAction* action = menu_->addAction(device.name);
    if (device.id == selected) action->setIcon(QIcon(check));
    const quint32 id = device.id;
    connect(action, &QAction::triggered, this, [this, id] { devices_.setSelectedDeviceID(id); });
  }
  styleMenu();
  updateGeometry();
  update();
}

void InputDevicePicker::styleMenu() {
  const auto css = [this](DSColor token, qreal opacity = 1.0) {
    return dsColor(token, this, opacity).name(QColor::HexArgb);
  };
  menu_->setFont(nameFont());
  menu_->setStyleSheet(
      QStringLiteral("QMenu { background: %1; color: %2; border: 1px solid %3; padding: 4px 0; }"
                     "QMenu::item { padding: 6px 16px 6px 8px; }"
                     "QMenu::item:selected { background: %4; }")
          .arg(css(DSColor::surfaceRaised), css(DSColor::ink), css(DSColor::hairline), css(DSColor::accent, 0.12)));
}

void InputDevicePicker::popUp() {
  if (menu_->isEmpty()) return;
  styleMenu();
  menu_->popup(mapToGlobal(QPoint(0, height() + 4)));
}

}  // namespace murel
