#include "app/FilePanels.h"

#include "runtime/DiagLog.h"
#include "runtime/PrivateFiles.h"
#include "text/DictionaryFile.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>

namespace murel {

QStringList DialogFilePanels::openFilters(const QStringList& mimeTypes) {
  const QMimeDatabase database;
  QStringList patterns;
  QString label;
  for (const QString& name : mimeTypes) {
    const QMimeType type = database.mimeTypeForName(name);
    if (!type.isValid()) continue;
    if (label.isEmpty()) label = type.comment();
    for (const QString& pattern : type.globPatterns()) {
      // A blank or a parenthesis would end the filter's pattern list early.
      if (pattern.contains(u' ') || pattern.contains(u'(') || pattern.contains(u')')) continue;
      if (!patterns.contains(pattern)) patterns.append(pattern);
    }
  }
  //% "All files"
  //: Filter of an open panel that shows every file.
  const QString everything = qtTrId("filePanel.filter.all") + QStringLiteral(" (*)");
  if (patterns.isEmpty()) return {everything};
  if (mimeTypes.size() > 1) {
    //% "Supported files"
    //: Filter of an open panel that shows every file of the types it accepts.
    label = qtTrId("filePanel.filter.supported");
  }
  return {label + QStringLiteral(" (") + patterns.join(u' ') + u')', everything};
}

QString DialogFilePanels::startFolder() const {
  if (!lastFolder_.isEmpty() && QFileInfo(lastFolder_).isDir()) return lastFolder_;
  return QDir::homePath();
}

std::optional<QString> DialogFilePanels::remember(const QStringList& chosen) {
  if (chosen.isEmpty() || chosen.constFirst().isEmpty()) return std::nullopt;
  const QString path = chosen.constFirst();
  lastFolder_ = QFileInfo(path).absolutePath();
  return path;
}

std::optional<QString> DialogFilePanels::chooseFile(const QStringList& mimeTypes, const QString& message) {
  QFileDialog dialog;
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setDirectory(startFolder());
  dialog.setNameFilters(openFilters(mimeTypes));
  // The dialog has no message line of its own: the message is its title.
  dialog.setWindowTitle(message);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return remember(dialog.selectedFiles());
}

std::optional<QString> DialogFilePanels::chooseSaveLocation(const QString& defaultName, const QString& title) {
  QFileDialog dialog;
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setMimeTypeFilters({QStringLiteral("text/plain")});
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.setWindowTitle(title);
  dialog.setDirectory(startFolder());
  dialog.selectFile(defaultName);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return remember(dialog.selectedFiles());
}

bool saveTextWithPanel(FilePanels& panels, Workspace& workspace, DiagLog& log, const QString& defaultName,
                       const QString& title, const QString& category, const std::function<QString()>& buildText) {
  const std::optional<QString> location = panels.chooseSaveLocation(defaultName, title);
  if (!location) return false;
  const QByteArray bytes = buildText().toUtf8();
  // The user's own file where they chose to put it: its permissions are theirs.
  if (const std::optional<QString> why = PrivateFiles::writeAtomically(*location, bytes, std::nullopt)) {
    log.log(category, QStringLiteral("export failed"), QStringLiteral("FileError: ") + *why);
    showSaveFailure(*location, *why);
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

void showSaveFailure(const QString& path, const QString& reason) {
  //% "The file couldn't be saved"
  //: Title of the alert shown when an exported file can't be written.
  showFailureAlert(
      qtTrId("export.failed.title"),
      //% "%1 couldn't be written: %2. Nothing was changed there."
      //: Body of the alert when an export fails: the file's name, then the system's reason, e.g. "no space left on device".
      qtTrId("export.failed.message").arg(QFileInfo(path).fileName(), PrivateFiles::inSentence(reason)));
}

void showFailureAlert(const QString& title, const QString& message) {
  auto* box = new QMessageBox(QApplication::activeWindow());
  box->setAttribute(Qt::WA_DeleteOnClose);
  // Over the window it concerns; alone, it blocks nothing.
  box->setWindowModality(box->parentWidget() ? Qt::WindowModal : Qt::NonModal);
  box->setIcon(QMessageBox::Warning);
  box->setWindowTitle(title);
  box->setText(title);
  box->setInformativeText(message);
  box->setStandardButtons(QMessageBox::Ok);
  // Not exec(): the caller's window keeps its event loop.
  box->open();
}

}  // namespace murel
