#include "overlays/FloatingPanel.h"

#include "design/Tokens.h"
#include "platform/Compositor.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

#include <cmath>

namespace murel {

FloatingPanel::FloatingPanel(qreal cornerRadius, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint |
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
  if (content_) {
    // Deleted later, in case the swap started inside one of its callbacks.
    layout()->removeWidget(content_);
    content_->hide();
    content_->deleteLater();
  }
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

bool FloatingPanel::compositorRunning() { return platform::compositorRunning(); }

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
