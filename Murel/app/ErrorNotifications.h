#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace murel {

class AppState;
class DesktopNotifier;

// Where no tray shows the application's icon, the tray panel's error card is out
// of reach, and an error that waits for the user (a sound server that can't be
// reached, a paste that failed) would block dictation until a restart. The
// error is sent to the desktop as a notice instead, with the card's RETRY and
// DISMISS, which act on the application state exactly as the card's buttons do.
// A hotkey press refused for want of the sound server is noticed there too,
// tray or not: the user is looking at another window.
class ErrorNotifications : public QObject {
  Q_OBJECT

 public:
  // `isTrayShown`: whether a tray shows the icon right now (asked when an error appears).
  ErrorNotifications(AppState& state, DesktopNotifier& notifier, std::function<bool()> isTrayShown,
                     QObject* parent = nullptr);

  // The error the card would show: an error status's message, else the last error.
  static std::optional<QString> shownError(const AppState& state);

 private:
  void refresh();
  void noticeRefusedPress(const QString& error);
  void show(const QString& error);
  void handleAction(const QString& key);

  AppState& state_;
  DesktopNotifier& notifier_;
  std::function<bool()> isTrayShown_;
  std::optional<QString> noticed_;  // the error the notice on screen shows
};

}  // namespace murel
