#include "overlays/KeyablePanel.h"

#include "platform/InputFocus.h"
#include "runtime/SystemLog.h"

#include <QEvent>
#include <QWindow>

namespace murel {
namespace {

const Logger kLog("app");

}  // namespace

KeyablePanel::KeyablePanel(InputFocus& focus, qreal cornerRadius, QWidget* parent)
    : FloatingPanel(cornerRadius, parent), focus_(focus) {
  setWindowFlag(Qt::WindowDoesNotAcceptFocus, false);
  setFocusPolicy(Qt::StrongFocus);
}

KeyablePanel::~KeyablePanel() {
  if (windowHandle()) windowHandle()->removeEventFilter(this);
}

void KeyablePanel::makeKeyAndOrderFront() {
  previousFocus_ = focus_.focusedWindow();
  tookFocus_ = false;
  wantsFocus_ = true;
  winId();  // the native window, so that its exposure can be watched
  windowHandle()->installEventFilter(this);
  orderFrontRegardless();
  // Already on screen (a second showing of a mapped panel): take it now.
  if (windowHandle()->isExposed()) takeFocus();
}

void KeyablePanel::orderOutGivingFocusBack() {
  wantsFocus_ = false;
  const bool holdsFocus = isVisible() && focus_.focusedWindow() == quint64(winId());
  if (holdsFocus && focus_.exists(previousFocus_)) {
    if (!focus_.setFocusedWindow(previousFocus_))
      kLog.error(QStringLiteral("The keyboard focus could not go back to window 0x%1").arg(previousFocus_, 0, 16));
  }
  orderOut();
}

bool KeyablePanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == windowHandle() && event->type() == QEvent::Expose && wantsFocus_ && windowHandle()->isExposed())
    takeFocus();
  return FloatingPanel::eventFilter(watched, event);
}

void KeyablePanel::takeFocus() {
  if (!wantsFocus_) return;
  wantsFocus_ = false;
  tookFocus_ = focus_.setFocusedWindow(quint64(winId()));
  if (!tookFocus_) kLog.error(QStringLiteral("The mode switcher could not take the keyboard focus"));
}

}  // namespace murel
