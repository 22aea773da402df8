#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>

class QMenu;
class QSystemTrayIcon;

namespace murel {

namespace platform {
class StatusNotifierItem;
}

class MenuBarExtraWindow;

// The application's icon in the desktop's tray: a StatusNotifierItem where a
// host is on the session bus, else an XEmbed tray icon. A click opens the menu
// panel beside the icon (a click while it is open only closes it); the context
// menu offers the settings, the update check and quitting.
class StatusItem : public QObject {
  Q_OBJECT

 public:
  // Builds the panel's content each time it opens.
  using PanelContent = std::function<QWidget*()>;

  StatusItem(PanelContent content, std::function<void()> openSettings, std::function<void()> checkForUpdates,
             QObject* parent = nullptr);
  ~StatusItem() override;

  void show();
  // Whether a tray shows the icon; without one the windows are the only way in.
  bool isHostAvailable() const;
  // Opens the panel beside the icon (under the pointer when the tray tells no
  // position), or closes it when it is open.
  void togglePanel();
  // The same with the icon's rectangle as the host reports it.
  void togglePanelAt(const QRect& icon);
  QWidget* panel() const;
  QMenu* contextMenu() const { return menu_; }
  // The rectangle the open panel is placed against.
  QRect anchor() const { return anchor_; }

  // Redraws the icon for a light or a dark panel.
  void setDarkPanel(bool dark);
  bool isDarkPanel() const { return dark_; }

  // The tray image: a microphone capsule in the panel's foreground (dark on a
  // light panel, light on a dark one) on a transparent ground.
  static QImage iconImage(int size, bool darkPanel);
  static QList<QImage> iconImages(bool darkPanel);
  static QIcon icon(bool darkPanel);
  // The sizes given to trays: 16 and 22 are the ones StatusNotifierItem hosts
  // and XEmbed trays ask for most, the rest serve larger panels and scales.
  static QList<int> iconSizes();

  // The side of a StatusNotifierItem host's click point taken as the icon.
  static constexpr int kHostIconSide = 32;

 private:
  QRect placement(QSize size) const;
  QRect iconRect() const;

  PanelContent content_;
  QSystemTrayIcon* tray_ = nullptr;
  platform::StatusNotifierItem* host_ = nullptr;
  QMenu* menu_ = nullptr;
  QPointer<MenuBarExtraWindow> panel_;
  QRect anchor_;
  bool dark_ = false;
  // A press on the icon that closed the panel must not open it again.
  QElapsedTimer closedByIconPress_;
};

// The frameless popup that holds the panel beside the tray icon. Its class name
// is how closeMenuBarExtraWindows finds it. With a placement it is placed again,
// in the same step, whenever its content changes size.
class MenuBarExtraWindow : public QWidget {
  Q_OBJECT

 public:
  explicit MenuBarExtraWindow(QWidget* content);

  // Where the window goes for a size; set before it is shown.
  void setPlacement(std::function<QRect(QSize)> place);
  // Sizes and places the window for its content, then shows it.
  void showPlaced();

 Q_SIGNALS:
  // A press outside the window (which closes it), in screen coordinates.
  void pressedOutside(QPoint at);

 protected:
  bool event(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void fitContent();

  std::function<QRect(QSize)> place_;
};

// Closes every open tray panel of the application (the popup would otherwise
// stay above the window that an action of the panel brings forward).
void closeMenuBarExtraWindows();

}  // namespace murel
