#pragma once

#include <QUrl>

#include <memory>

namespace murel {

// The software updater. Packages are updated by the system's package manager,
// so the updater only offers the project's download page.
class Updater {
 public:
  virtual ~Updater() = default;
  virtual void start() = 0;
  virtual void checkForUpdates() = 0;
};

// Opens the download page in the user's browser when asked to check.
class DownloadPageUpdater final : public Updater {
 public:
  static QUrl downloadPage();
  void start() override;
  void checkForUpdates() override;
};

// The application's one updater, started when it is created (the application
// object makes it at launch). Main thread.
class UpdateController {
 public:
  explicit UpdateController(std::unique_ptr<Updater> updater);

  Updater& updaterController() { return *updater_; }
  // The menu's "check for updates" item.
  void checkForUpdates() { updater_->checkForUpdates(); }

 private:
  std::unique_ptr<Updater> updater_;
};

}  // namespace murel
