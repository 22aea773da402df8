#include "app/FilePanels.h"

#include "runtime/DiagLog.h"
#include "runtime/SystemLog.h"
#include "text/DictionaryFile.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMimeDatabase>
#include <QSaveFile>
#include <QUrl>

namespace murel {

namespace {

const Logger kLog("app");

class QtFilePanels final : public FilePanels {
 public:
  std::optional<QString> chooseFile(const QStringList& mimeTypes, const QString& message) override {
    QFileDialog dialog;
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setMimeTypeFilters(mimeTypes);
    // The dialog has no message line of its own: the message is its title.
    dialog.setWindowTitle(message);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString path = dialog.selectedFiles().constFirst();
    if (path.isEmpty()) return std::nullopt;
    return path;
  }

  std::optional<QString> chooseSaveLocation(const QString& defaultName, const QString& title) override {
    QFileDialog dialog;
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setMimeTypeFilters({QStringLiteral("text/plain")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setWindowTitle(title);
    dialog.selectFile(defaultName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString path = dialog.selectedFiles().constFirst();
    if (path.isEmpty()) return std::nullopt;
    return path;
  }
};

class FileManagerWorkspace final : public Workspace {
 public:
  void revealFile(const QString& path) override {
    static const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return;
    // Only a running file manager, or one the bus can start, is asked.
    const bool owned = bus.interface()->isServiceRegistered(service).value();
    const bool activatable = bus.interface()->activatableServiceNames().value().contains(service);
    if (!owned && !activatable) return;
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       service, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [](QDBusPendingCallWatcher* w) {
      if (w->isError()) kLog.notice(QStringLiteral("file manager did not show the file: ") + w->error().message());
      w->deleteLater();
    });
  }
};

FilePanels* gTestPanels = nullptr;
Workspace* gTestWorkspace = nullptr;

}  // namespace

FilePanels& FilePanels::shared() {
  if (gTestPanels) return *gTestPanels;
  static QtFilePanels panels;
  return panels;
}

void FilePanels::setSharedForTesting(FilePanels* panels) { gTestPanels = panels; }

bool Workspace::openURL(const QUrl& url) {
  const bool opened = QDesktopServices::openUrl(url);
  if (!opened) kLog.notice(QStringLiteral("no opener took ") + url.toString());
  return opened;
}

Workspace& Workspace::shared() {
  if (gTestWorkspace) return *gTestWorkspace;
  static FileManagerWorkspace workspace;
  return workspace;
}

void Workspace::setSharedForTesting(Workspace* workspace) { gTestWorkspace = workspace; }

std::optional<QString> presentOpenPanel(const QStringList& mimeTypes, const QString& message) {
  return FilePanels::shared().chooseFile(mimeTypes, message);
}

bool saveTextWithPanel(FilePanels& panels, Workspace& workspace, DiagLog& log, const QString& defaultName,
                       const QString& title, const QString& category, const std::function<QString()>& buildText) {
  const std::optional<QString> location = panels.chooseSaveLocation(defaultName, title);
  if (!location) return false;
  const QByteArray bytes = buildText().toUtf8();
  QSaveFile file(*location);
  bool written = file.open(QIODevice::WriteOnly);
  if (written) written = file.write(bytes) == bytes.size();
  if (written) written = file.commit();
  if (!written) {
    const QString why = file.errorString().isEmpty() ? QStringLiteral("The file could not be written.")
                                                     : file.errorString();
    file.cancelWriting();
    log.log(category, QStringLiteral("export failed"), QStringLiteral("FileError: ") + why);
    return false;
  }
  workspace.revealFile(*location);
  return true;
}

bool exportDictionaryFile(const QString& defaultName, const QString& title, const QString& category,
                          const QList<DictionaryEntry>& entries) {
  return saveTextWithPanel(FilePanels::shared(), Workspace::shared(), DiagLog::shared(), defaultName, title,
                           category, [&entries] { return DictionaryFile::exportText(entries); });
}

}  // namespace murel
