#include "app/StatusItem.h"

#include "app/PanelPlacement.h"
#include "platform/dbus/StatusNotifierItem.h"

#include <QApplication>
#include <QCursor>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

namespace murel {

namespace {

// A press closes the popup before the tray reports the same click.
constexpr qint64 kIconPressWindowMs = 500;

}  // namespace

QList<int> StatusItem::iconSizes() { return {16, 22, 24, 32, 48, 64}; }

QImage StatusItem::iconImage(int size, bool darkPanel) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  // The panel's foreground: near-black on light panels, near-white on dark ones.
  const QColor glyph = darkPanel ? QColor(0xf2, 0xf2, 0xf2) : QColor(0x1c, 0x1c, 0x1c);
  const qreal unit = size / 16.0;
  painter.setPen(QPen(glyph, 1.4 * unit, Qt::SolidLine, Qt::RoundCap));
  painter.setBrush(glyph);
  painter.drawRoundedRect(QRectF(5.5 * unit, 1.5 * unit, 5 * unit, 8 * unit), 2.5 * unit, 2.5 * unit);
  painter.setBrush(Qt::NoBrush);
  QPainterPath stand;
  stand.moveTo(3.5 * unit, 7.5 * unit);
  stand.cubicTo(3.5 * unit, 13 * unit, 12.5 * unit, 13 * unit, 12.5 * unit, 7.5 * unit);
  painter.drawPath(stand);
  painter.drawLine(QPointF(8 * unit, 12 * unit), QPointF(8 * unit, 14.5 * unit));
  painter.end();
  return image;
}

QList<QImage> StatusItem::iconImages(bool darkPanel) {
  QList<QImage> images;
  for (const int size : iconSizes()) images.append(iconImage(size, darkPanel));
  return images;
}

QIcon StatusItem::icon(bool darkPanel) {
  QIcon result;
  for (const QImage& image : iconImages(darkPanel)) result.addPixmap(QPixmap::fromImage(image));
  return result;
}

StatusItem::StatusItem(PanelContent content, std::function<void()> openSettings, std::function<void()> checkForUpdates,
                       QObject* parent)
    : QObject(parent), content_(std::move(content)) {
  tray_ = new QSystemTrayIcon(icon(dark_), this);
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

void StatusItem::show() {
  // Qt's own StatusNotifierItem drops the click's position, which the panel
  // needs to open beside the icon; its XEmbed icon reports its geometry.
  if (!host_ && platform::StatusNotifierItem::isHostRegistered()) {
    auto* host = new platform::StatusNotifierItem(QApplication::applicationDisplayName(), this);
    host->setPixmaps(iconImages(dark_));
    if (host->registerItem()) {
      host_ = host;
      connect(host_, &platform::StatusNotifierItem::activated, this, [this](QPoint at) {
        // Hosts that know no position send (0, 0): the pointer is nearer the truth.
        if (at.isNull()) {
          togglePanel();
          return;
        }
        QRect icon(QPoint(), QSize(kHostIconSide, kHostIconSide));
        icon.moveCenter(at);
        togglePanelAt(icon);
      });
      connect(host_, &platform::StatusNotifierItem::contextMenuRequested, this,
              [this](QPoint at) { menu_->popup(at); });
      return;
    }
    delete host;
  }
  tray_->show();
}

bool StatusItem::isHostAvailable() const {
  if (host_) return host_->isRegistered();
  return QSystemTrayIcon::isSystemTrayAvailable() && tray_->isVisible();
}

QWidget* StatusItem::panel() const { return panel_.data(); }

void StatusItem::setDarkPanel(bool dark) {
  if (dark == dark_) return;
  dark_ = dark;
  tray_->setIcon(icon(dark_));
  if (host_) host_->setPixmaps(iconImages(dark_));
}

QRect StatusItem::iconRect() const {
  const QRect geometry = host_ ? QRect() : tray_->geometry();
  if (geometry.isValid()) return geometry;
  // No position from the tray: the pointer stands for the icon.
  return QRect(QCursor::pos(), QSize(1, 1));
}

void StatusItem::togglePanel() { togglePanelAt(iconRect()); }

void StatusItem::togglePanelAt(const QRect& icon) {
  if (panel_) {
    panel_->close();
    return;
  }
  if (closedByIconPress_.isValid() && closedByIconPress_.elapsed() < kIconPressWindowMs) {
    closedByIconPress_.invalidate();
    return;
  }
  anchor_ = icon;
  auto* popup = new MenuBarExtraWindow(content_());
  popup->setPlacement([this](QSize size) { return placement(size); });
  connect(popup, &MenuBarExtraWindow::pressedOutside, this, [this](QPoint at) {
    if (anchor_.adjusted(-2, -2, 2, 2).contains(at)) closedByIconPress_.start();
  });
  panel_ = popup;
  popup->showPlaced();
}

QRect StatusItem::placement(QSize size) const {
  const QScreen* screen = QGuiApplication::screenAt(anchor_.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return QRect(anchor_.bottomLeft(), size);
  return placeBesideTrayIcon(size, anchor_, screen->geometry(), screen->availableGeometry());
}

MenuBarExtraWindow::MenuBarExtraWindow(QWidget* content) : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint) {
  setAttribute(Qt::WA_DeleteOnClose);
  // Never seen on screen; it names the window for tools that list them.
  setWindowTitle(QApplication::applicationDisplayName());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  // The window follows its content's size itself (see fitContent), so that
  // size and position change in one step.
  layout->setSizeConstraint(QLayout::SetNoConstraint);
  layout->addWidget(content);
}

void MenuBarExtraWindow::setPlacement(std::function<QRect(QSize)> place) { place_ = std::move(place); }

void MenuBarExtraWindow::showPlaced() {
  fitContent();
  show();
}

void MenuBarExtraWindow::fitContent() {
  layout()->activate();
  const QSize size = layout()->totalSizeHint();
  const QRect target = place_ ? place_(size) : QRect(pos(), size);
  if (target != geometry()) setGeometry(target);
}

bool MenuBarExtraWindow::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  // A row or the error card came or went: new size and place in one request,
  // before the grown content is painted.
  if (event->type() == QEvent::LayoutRequest) fitContent();
  return handled;
}

void MenuBarExtraWindow::mousePressEvent(QMouseEvent* event) {
  if (!rect().contains(event->position().toPoint())) Q_EMIT pressedOutside(event->globalPosition().toPoint());
  QWidget::mousePressEvent(event);
}

void closeMenuBarExtraWindows() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (QString::fromLatin1(window->metaObject()->className()).contains(QLatin1String("MenuBarExtra"))) window->close();
  }
}

}  // namespace murel
