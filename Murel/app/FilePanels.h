#pragma once

#include "platform/Workspace.h"
#include "text/DictionaryStore.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace murel {

class DiagLog;

// The modal open and save dialogs. Main thread; each call blocks until the user
// answers.
class FilePanels {
 public:
  virtual ~FilePanels() = default;
  // One existing file of the given MIME types (no folders, no multiple
  // selection); none when cancelled. The types are names such as "audio/mpeg",
  // never name patterns.
  virtual std::optional<QString> chooseFile(const QStringList& mimeTypes, const QString& message) = 0;
  // A plain-text file location, the name field preset to `defaultName`; none when cancelled.
  virtual std::optional<QString> chooseSaveLocation(const QString& defaultName, const QString& title) = 0;
};

// Qt's file dialogs. The open panel's first filter admits every file of the
// given types together, "All files" comes second. Each panel starts in the
// folder of the last file chosen in one of them, or in the home folder,
// never in the process's working directory.
class DialogFilePanels final : public FilePanels {
 public:
  std::optional<QString> chooseFile(const QStringList& mimeTypes, const QString& message) override;
  std::optional<QString> chooseSaveLocation(const QString& defaultName, const QString& title) override;

  // The open panel's filters for these types: the types' name patterns under
  // one label, then "All files (*)".
  static QStringList openFilters(const QStringList& mimeTypes);

 private:
  QString startFolder() const;
  std::optional<QString> remember(const QStringList& chosen);

  QString lastFolder_;
};

// Asks for a location, then builds the text (only after the user confirmed),
// writes it there atomically as UTF-8 and reveals it. A failed write leaves any
// earlier file untouched, logs `category` "export failed" and tells the user
// why in an alert. True when written.
bool saveTextWithPanel(FilePanels& panels, Workspace& workspace, DiagLog& log, const QString& defaultName,
                       const QString& title, const QString& category, const std::function<QString()>& buildText);

// The alert of a file that couldn't be written: its name and the system's
// reason ("No space left on device"). Opens without waiting.
void showSaveFailure(const QString& path, const QString& reason);
// An alert over the active window (none: over the application); opens without waiting.
void showFailureAlert(const QString& title, const QString& message);

bool exportDictionaryFile(FilePanels& panels, Workspace& workspace, const QString& defaultName, const QString& title,
                          const QString& category, const QList<DictionaryEntry>& entries);

}  // namespace murel
