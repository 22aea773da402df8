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

// The application's one updater, started when it is created. Main thread.
class UpdateController {
 public:
  // Created (and started) on first use; lives until the process ends.
  static UpdateController& shared();
  // Tests put their own updater in before the first use of shared().
  static void setUpdaterForTesting(std::unique_ptr<Updater> updater);

  explicit UpdateController(std::unique_ptr<Updater> updater);

  Updater& updaterController() { return *updater_; }
  // The menu's "check for updates" item.
  void checkForUpdates() { updater_->checkForUpdates(); }

 private:
  std::unique_ptr<Updater> updater_;
};

}  // namespace murel
