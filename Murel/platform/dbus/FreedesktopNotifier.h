#pragma once

#include "platform/DesktopNotifier.h"

#include <QString>

namespace murel {

// org.freedesktop.Notifications on the session bus. Without a notification
// server the notices go nowhere, quietly (the diagnostics of the system log say so).
class FreedesktopNotifier final : public DesktopNotifier {
  Q_OBJECT

 public:
  // `busName`: a named connection (tests use their own bus); empty is the session bus.
  explicit FreedesktopNotifier(QString busName = {}, QObject* parent = nullptr);
  ~FreedesktopNotifier() override;

  void show(const Notice& notice) override;
  void withdraw() override;

 private Q_SLOTS:
  void onActionInvoked(uint id, const QString& key);
  void onClosed(uint id, uint reason);

 private:
  void close(uint id);

  QString busName_;
  uint shownId_ = 0;     // the server's id of the notice on screen; 0 for none
  quint64 request_ = 0;  // the latest show or withdraw; older replies are stale
};

}  // namespace murel
