#include "app/StatusItem.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

namespace murel {

QIcon StatusItem::icon() {
  QIcon result;
  for (const int size : {16, 22, 24, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 16.0;
    QPen pen(QColor(0x20, 0x20, 0x20), 1.4 * unit, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(QColor(0x20, 0x20, 0x20));
    painter.drawRoundedRect(QRectF(5.5 * unit, 1.5 * unit, 5 * unit, 8 * unit), 2.5 * unit, 2.5 * unit);
    painter.setBrush(Qt::NoBrush);
    QPainterPath stand;
    stand.moveTo(3.5 * unit, 7.5 * unit);
    stand.cubicTo(3.5 * unit, 13 * unit, 12.5 * unit, 13 * unit, 12.5 * unit, 7.5 * unit);
    painter.drawPath(stand);
    painter.drawLine(QPointF(8 * unit, 12 * unit), QPointF(8 * unit, 14.5 * unit));
    painter.end();
    result.addPixmap(pixmap);
  }
  return result;
}

StatusItem::StatusItem(PanelContent content, std::function<void()> openSettings, std::function<void()> checkForUpdates,
                       QObject* parent)
    : QObject(parent), content_(std::move(content)) {
  tray_ = new QSystemTrayIcon(icon(), this);
  tray_->setToolTip(QApplication::applicationDisplayName());
  menu_ = new QMenu();
  //% "Settings…"
  //: Item of the tray icon's context menu that opens the settings window.
  menu_->addAction(qtTrId("statusItem.menu.settings"), this,
                   [openSettings = std::move(openSettings)] { openSettings(); });
  //% "Check for Updates…"
  //: Item of the tray icon's context menu that asks the updater to check now.
  menu_->addAction(qtTrId("statusItem.menu.checkForUpdates"), this,
                   [checkForUpdates = std::move(checkForUpdates)] { checkForUpdates(); });
  menu_->addSeparator();
  //% "Quit Murel"
  //: Item of the tray icon's context menu that ends the application.
  menu_->addAction(qtTrId("statusItem.menu.quit"), qApp, &QCoreApplication::quit);
  tray_->setContextMenu(menu_);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) togglePanel();
  });
}

StatusItem::~StatusItem() {
  delete panel_;
  delete menu_;
}

void StatusItem::show() { tray_->show(); }

bool StatusItem::isHostAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable() && tray_->isVisible(); }

void StatusItem::togglePanel() {
  if (panel_) {
    panel_->close();
    return;
  }
  auto* popup = new MenuBarExtraWindow(content_());
  popup->adjustSize();
  // Under the icon when the tray tells where it is, else under the pointer.
  const QRect iconRect = tray_->geometry();
  QPoint anchor = iconRect.isValid() ? QPoint(iconRect.center().x(), iconRect.bottom()) : QCursor::pos();
  QRect place(QPoint(anchor.x() - popup->width() / 2, anchor.y() + 4), popup->size());
  if (const QScreen* screen = QGuiApplication::screenAt(anchor)) {
    const QRect area = screen->availableGeometry();
    if (place.bottom() > area.bottom()) place.moveBottom(anchor.y() - 4 - (iconRect.isValid() ? iconRect.height() : 0));
    place.moveLeft(std::clamp(place.left(), area.left(), std::max(area.left(), area.right() - place.width())));
    place.moveTop(std::max(place.top(), area.top()));
  }
  popup->move(place.topLeft());
  panel_ = popup;
  popup->show();
}

MenuBarExtraWindow::MenuBarExtraWindow(QWidget* content) : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint) {
  setAttribute(Qt::WA_DeleteOnClose);
  // Never seen on screen; it names the window for tools that list them.
  setWindowTitle(QApplication::applicationDisplayName());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(content);
}

void closeMenuBarExtraWindows() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (QString::fromLatin1(window->metaObject()->className()).contains(QLatin1String("MenuBarExtra"))) window->close();
  }
}

}  // namespace murel
