#include "app/FilePanels.h"

#include "runtime/DiagLog.h"
#include "text/DictionaryFile.h"

#include <QFileDialog>
#include <QMimeDatabase>
#include <QSaveFile>

namespace murel {

std::optional<QString> DialogFilePanels::chooseFile(const QStringList& mimeTypes, const QString& message) {
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

std::optional<QString> DialogFilePanels::chooseSaveLocation(const QString& defaultName, const QString& title) {
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
    const QString why =
        file.errorString().isEmpty() ? QStringLiteral("The file could not be written.") : file.errorString();
    file.cancelWriting();
    log.log(category, QStringLiteral("export failed"), QStringLiteral("FileError: ") + why);
    return false;
  }
  workspace.revealFile(*location);
  return true;
}

bool exportDictionaryFile(FilePanels& panels, Workspace& workspace, const QString& defaultName, const QString& title,
                          const QString& category, const QList<DictionaryEntry>& entries) {
  return saveTextWithPanel(panels, workspace, DiagLog::shared(), defaultName, title, category,
                           [&entries] { return DictionaryFile::exportText(entries); });
}

}  // namespace murel
