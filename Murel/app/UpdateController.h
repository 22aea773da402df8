#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace murel {

// The software updater. Packages are updated by the system's package manager,
// so the updater only offers the project's download page.
class Updater {
 public:
  // A check that could not be carried out: a text for the user and the
  // technical reason for the diagnostics log.
  using FailureHandler = std::function<void(const QString& message, const QString& reason)>;

  virtual ~Updater() = default;
  virtual void start() = 0;
  virtual void checkForUpdates() = 0;
  void setFailureHandler(FailureHandler handler) { onFailure_ = std::move(handler); }
  const FailureHandler& failureHandler() const { return onFailure_; }

 private:
  FailureHandler onFailure_;
};

// Opens the download page in the user's browser when asked to check. A browser
// that cannot be opened is reported, with the address, so the user can go there
// by hand.
class DownloadPageUpdater final : public Updater {
 public:
  // `opener`: the program that opens an address in the user's browser.
  explicit DownloadPageUpdater(QString opener = QStringLiteral("xdg-open"));

  static QUrl downloadPage();
  // What the user is told when no browser opens.
  static QString browserFailureMessage();

  void start() override;
  void checkForUpdates() override;

 private:
  QString opener_;
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
