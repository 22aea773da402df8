#pragma once

#include <QString>

namespace murel::platform {

// The application's "launch at login" registration.
class LoginItem {
 public:
  enum class Status { notRegistered, enabled, requiresApproval, notFound };

  virtual ~LoginItem() = default;
  virtual Status status() = 0;
  // Registers the application; false (with `error` filled when given) on failure.
  virtual bool registerItem(QString* error = nullptr) = 0;
  // Removes the registration; an application that is not registered is no failure.
  virtual bool unregisterItem(QString* error = nullptr) = 0;
};

// An XDG autostart entry "murel.desktop" in `autostartFolder`, written
// atomically. An entry that the user has hidden ("Hidden=true") counts as not
// registered.
class XdgAutostartLoginItem final : public LoginItem {
 public:
  XdgAutostartLoginItem(QString autostartFolder, QString executable);

  // $XDG_CONFIG_HOME/autostart (default ~/.config/autostart).
  static QString defaultFolder();

  QString entryPath() const;
  Status status() override;
  bool registerItem(QString* error = nullptr) override;
  // Removes the entry, whatever it holds (a hidden one too).
  bool unregisterItem(QString* error = nullptr) override;

 private:
  QString folder_;
  QString executable_;
};

}  // namespace murel::platform
