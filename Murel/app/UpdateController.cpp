#include "app/UpdateController.h"

#include "runtime/SystemLog.h"

#include <QDesktopServices>

namespace murel {

namespace {
std::unique_ptr<Updater>& pendingTestUpdater() {
  static std::unique_ptr<Updater> updater;
  return updater;
}
}  // namespace

QUrl DownloadPageUpdater::downloadPage() { return QUrl(QStringLiteral("https://murel.com/download")); }

void DownloadPageUpdater::start() {}

void DownloadPageUpdater::checkForUpdates() {
  if (!QDesktopServices::openUrl(downloadPage()))
    Logger("app").error(QStringLiteral("no browser opens %1").arg(downloadPage().toString()));
}

UpdateController::UpdateController(std::unique_ptr<Updater> updater) : updater_(std::move(updater)) {
  updater_->start();
}

UpdateController& UpdateController::shared() {
  static UpdateController controller(pendingTestUpdater() ? std::move(pendingTestUpdater())
                                                          : std::make_unique<DownloadPageUpdater>());
  return controller;
}

void UpdateController::setUpdaterForTesting(std::unique_ptr<Updater> updater) {
  pendingTestUpdater() = std::move(updater);
}

}  // namespace murel
