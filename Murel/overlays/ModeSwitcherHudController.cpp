#include "overlays/ModeSwitcherHudController.h"

#include "overlays/KeyablePanel.h"
#include "overlays/ModeSwitcherHud.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace murel {

ModeSwitcherHudController::ModeSwitcherHudController(InputFocus& focus, QObject* parent)
    : QObject(parent), focus_(focus) {}

ModeSwitcherHudController::~ModeSwitcherHudController() {
  KeyablePanel* panel = panel_;
  close();
  delete panel;  // no event loop may be left to delete it later
}

void ModeSwitcherHudController::toggle(const QList<Mode>& modes, const QUuid& activeID,
                                       std::function<void(const Mode&)> onCommit) {
  if (model_) {
    close();
    return;
  }
  if (modes.isEmpty()) return;
  auto model = std::make_shared<ModeSwitcherModel>(modes, activeID);
  model_ = model;
  onCommit_ = std::move(onCommit);
  present(std::move(model));
  installKeyMonitor();
}

void ModeSwitcherHudController::present(std::shared_ptr<ModeSwitcherModel> model) {
  auto* hud = new ModeSwitcherHud(std::move(model));
  connect(hud, &ModeSwitcherHud::modeSelected, this, &ModeSwitcherHudController::commit);
  if (panel_) panel_->deleteLater();
  auto* panel = new KeyablePanel(focus_, ModeSwitcherHud::kRadius);
  panel->setObjectName(QStringLiteral("murel-mode-switcher"));
  panel->setContentView(hud);  // sized to the card: 280 wide, as tall as its rows
  panel->centreOnPrimaryScreen();
  panel->makeKeyAndOrderFront();
  panel_ = panel;
}

void ModeSwitcherHudController::installKeyMonitor() {
  if (keyMonitor_ || !QCoreApplication::instance()) return;
  QCoreApplication::instance()->installEventFilter(this);
  keyMonitor_ = true;
}

bool ModeSwitcherHudController::isSwitcherKey(int key) {
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down: return true;
    default: return false;
  }
}

bool ModeSwitcherHudController::eventFilter(QObject* watched, QEvent* event) {
  if (model_ && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::ShortcutOverride) {
      // Claimed here, so no shortcut of any window acts on the key; the press
      // that follows is handled below.
      if (!isSwitcherKey(key->key())) return false;
      event->accept();
      return true;
    }
    if (handleKey(*key)) return true;
  }
  return QObject::eventFilter(watched, event);
}

bool ModeSwitcherHudController::handleKey(const QKeyEvent& event) {
  if (!model_) return false;
  const int count = int(model_->modes().size());
  const int selected = model_->selectedIndex();
  switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: commit(model_->modes().at(selected)); return true;
    case Qt::Key_Escape: close(); return true;
    case Qt::Key_Left:
    case Qt::Key_Up: model_->setSelectedIndex((selected - 1 + count) % count); return true;
    case Qt::Key_Right:
    case Qt::Key_Down: model_->setSelectedIndex((selected + 1) % count); return true;
    default: return false;
  }
}

void ModeSwitcherHudController::commit(const Mode& mode) {
  // A copy: closing releases the list it came from.
  const Mode chosen = mode;  // NOLINT(performance-unnecessary-copy-initialization)
  if (onCommit_) onCommit_(chosen);
  close();
}

void ModeSwitcherHudController::close() {
  if (keyMonitor_) {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
    keyMonitor_ = false;
  }
  if (panel_) {
    panel_->orderOutGivingFocusBack();
    // Later: the close may come from a click inside the panel.
    panel_->deleteLater();
    panel_ = nullptr;
  }
  model_.reset();
  onCommit_ = nullptr;
}

}  // namespace murel
