#include "overlays/FloatingPanel.h"

#include "design/Tokens.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

#include <X11/Xlib.h>

#include <cmath>

namespace murel {

FloatingPanel::FloatingPanel(qreal cornerRadius, QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint |
                  Qt::WindowDoesNotAcceptFocus),
      cornerRadius_(cornerRadius) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  // The visual is chosen when the native window is made: with a compositor the
  // corners can be drawn transparent, without one they are cut by the mask.
  alpha_ = compositorRunning();
  if (alpha_) setAttribute(Qt::WA_TranslucentBackground);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  move(0, 0);
}

void FloatingPanel::setContentView(QWidget* view) {
  if (content_ == view) return;
  delete content_;
  content_ = view;
  if (!view) return;
  layout()->addWidget(view);
  view->show();
  setFixedSize(view->sizeHint());
}

void FloatingPanel::centreOnPrimaryScreen() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRectF area = screen->availableGeometry();
  move(int(std::lround(area.center().x() - 0.5 * width())), int(std::lround(area.center().y() - 0.5 * height())));
}

void FloatingPanel::orderFrontRegardless() {
  updateShape();
  show();
  raise();
}

void FloatingPanel::orderOut() { hide(); }

bool FloatingPanel::compositorRunning() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 ? x11->display() : nullptr;
  if (!display) return false;
  const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
  const Atom selection = XInternAtom(display, name.constData(), False);
  return XGetSelectionOwner(display, selection) != None;
}

void FloatingPanel::paintEvent(QPaintEvent*) {
  // Under a mask the antialiased edges of the content blend into the page
  // colour rather than the window's default grey.
  if (alpha_) return;
  QPainter(this).fillRect(rect(), dsColor(DSColor::background, this));
}

void FloatingPanel::resizeEvent(QResizeEvent*) { updateShape(); }

void FloatingPanel::updateShape() {
  // A compositor may have come or gone since the panel was made.
  if (alpha_ && compositorRunning()) {
    clearMask();
    return;
  }
  QPainterPath path;
  path.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
  setMask(QRegion(path.toFillPolygon().toPolygon()));
}

}  // namespace murel
