#include "app/UpdateController.h"

#include "runtime/SystemLog.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

namespace murel {

namespace {

// An opener still running after this long has handed the page to a browser
// that it now runs itself: its later exit says nothing about the page.
constexpr int kOpenerSettleMs = 10000;

}  // namespace

QUrl DownloadPageUpdater::downloadPage() { return QUrl(QStringLiteral("https://murel.com/download")); }

QString DownloadPageUpdater::browserFailureMessage() {
  //% "No web browser could be opened to check for updates. Visit %1 to get the latest version."
  //: Shown when CHECK FOR UPDATES… cannot open a browser; %1 is the download page's address.
  return qtTrId("updates.browserFailed").arg(downloadPage().toString());
}

DownloadPageUpdater::DownloadPageUpdater(QString opener) : opener_(std::move(opener)) {}

void DownloadPageUpdater::start() {}

void DownloadPageUpdater::checkForUpdates() {
  // Run here rather than through QDesktopServices, which reports only a
  // missing opener and never one that fails.
  auto* process = new QProcess();
  process->setProgram(opener_);
  process->setArguments({downloadPage().toString()});
  process->setStandardOutputFile(QProcess::nullDevice());
  auto* settled = new QTimer(process);
  settled->setSingleShot(true);
  // A copy: the updater may be gone by the time the opener ends.
  const auto fail = [onFailure = failureHandler(), process, settled](const QString& reason) {
    if (!settled->isActive()) return;
    settled->stop();
    Logger("app").error(QStringLiteral("no browser opens %1: %2").arg(downloadPage().toString(), reason));
    if (onFailure) onFailure(browserFailureMessage(), reason);
    process->deleteLater();
  };
  QObject::connect(process, &QProcess::errorOccurred, process, [fail, process](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) fail(process->program() + QStringLiteral(" could not be started"));
  });
  QObject::connect(process, &QProcess::finished, process,
                   [fail, process, settled](int code, QProcess::ExitStatus status) {
                     if (settled->isActive() && (status != QProcess::NormalExit || code != 0)) {
                       fail(QStringLiteral("%1 ended with %2").arg(process->program()).arg(code));
                       return;
                     }
                     settled->stop();
                     process->deleteLater();
                   });
  // Never parented: a browser that the opener became must outlive a quit.
  settled->start(kOpenerSettleMs);
  process->start();
}

UpdateController::UpdateController(std::unique_ptr<Updater> updater) : updater_(std::move(updater)) {
  updater_->start();
}

}  // namespace murel
