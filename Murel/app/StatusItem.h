#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QMenu;
class QSystemTrayIcon;

namespace murel {

// The application's icon in the desktop's tray. A click opens the menu panel as
// a frameless popup under the icon; the context menu always offers quitting.
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
  void togglePanel();
  QWidget* panel() const { return panel_; }

  // The tray image: a microphone capsule drawn for the tray's size.
  static QIcon icon();

 private:
  PanelContent content_;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* menu_ = nullptr;
  QPointer<QWidget> panel_;
};

// The frameless popup that holds the panel under the tray icon. Its class name
// is how closeMenuBarExtraWindows finds it.
class MenuBarExtraWindow : public QWidget {
  Q_OBJECT

 public:
  explicit MenuBarExtraWindow(QWidget* content);
};

// Closes every open tray panel of the application (the popup would otherwise
// stay above the window that an action of the panel brings forward).
void closeMenuBarExtraWindows();

}  // namespace murel
