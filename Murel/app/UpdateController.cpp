#include "app/UpdateController.h"

#include "runtime/SystemLog.h"

#include <QDesktopServices>

namespace murel {

QUrl DownloadPageUpdater::downloadPage() { return QUrl(QStringLiteral("https://murel.com/download")); }

void DownloadPageUpdater::start() {}

void DownloadPageUpdater::checkForUpdates() {
  if (!QDesktopServices::openUrl(downloadPage()))
    Logger("app").error(QStringLiteral("no browser opens %1").arg(downloadPage().toString()));
}

UpdateController::UpdateController(std::unique_ptr<Updater> updater) : updater_(std::move(updater)) {
  updater_->start();
}

}  // namespace murel
