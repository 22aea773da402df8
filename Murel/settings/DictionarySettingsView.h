#pragma once

#include "settings/EditableList.h"
#include "text/DictionaryFile.h"
#include "text/DictionaryStore.h"

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <optional>

namespace murel {

class Clock;
class EditorialPillButton;
class FilePanels;
class SettingsCard;
class Workspace;

// One rule shown as "original → replacement", wrapping as it needs.
class DictionaryRuleRow : public EditableListRow {
  Q_OBJECT

 public:
  explicit DictionaryRuleRow(const DictionaryEntry& entry, QWidget* parent = nullptr);

  const DictionaryEntry& entry() const { return entry_; }
  void setEntry(const DictionaryEntry& entry);

 protected:
  int contentHeight(int textWidth) const override;
  void paintContent(QPainter& painter, const QRect& textRect) override;

 private:
  struct Widths {
    int original, replacement;
  };
  Widths widthsFor(int textWidth) const;
  void measure();

  DictionaryEntry entry_;
  int originalWidth_ = 0;
  int replacementWidth_ = 0;
};

// The add and edit form of a rule: the original and replacement fields, the
// reason a rule is refused, and the confirm and cancel buttons.
class DictionaryRuleForm : public EditableListForm {
  Q_OBJECT

 public:
  DictionaryRuleForm(const QString& original, const QString& replacement, Clock& clock, QWidget* parent = nullptr);

  SettingsInlineField* originalField() const { return first_; }
  SettingsInlineField* replacementField() const { return second_; }
};

// A chosen import file, read and parsed.
struct DictionaryImportFile {
  enum class Outcome { cancelled, unreadable, read };
  Outcome outcome = Outcome::cancelled;
  QList<DictionaryEntry> rules;
};

// The whole text of an import file, or none when it cannot be opened, is
// larger than `maxBytes` or is not valid UTF-8.
std::optional<QString> readDictionaryText(const QString& path, qint64 maxBytes);

// The dictionary tab: the user's replacement rules, added, edited and deleted
// in place, imported from and exported to a text file. The page keeps its own
// copy of the list, taken when it is built, and writes all of it to the store
// after every change, so the next dictation uses it at once.
class DictionarySettingsView : public QWidget {
  Q_OBJECT

 public:
  // Larger import files are refused unread: the file is read on the UI thread.
  static constexpr qint64 kMaxImportBytes = 10'000'000;
  // `entries` stands in for the store's list when given. Imports are picked and
  // exports saved through `panels`; `workspace` shows the exported file.
  DictionarySettingsView(DictionaryStore& store, FilePanels& panels, Workspace& workspace, Clock& clock,
                         std::optional<QList<DictionaryEntry>> entries = std::nullopt, QWidget* parent = nullptr);

  const QList<DictionaryEntry>& entries() const { return list_.entries(); }
  std::optional<QUuid> hoveredEntryID() const { return list_.hovered(); }
  std::optional<QUuid> editingEntryID() const { return editing_; }
  bool isAddingNew() const { return isAddingNew_; }
  const std::optional<DictionaryFile::MergeResult>& pendingImport() const { return pendingImport_; }

  EditorialPillButton* importButton() const { return import_; }
  EditorialPillButton* exportButton() const { return export_; }
  EditorialPillButton* addButton() const { return add_; }
  DictionaryRuleForm* addForm() const { return addForm_; }
  DictionaryRuleForm* editForm() const { return list_.editForm(); }
  QWidget* emptyRow() const { return empty_; }
  DictionaryRuleRow* row(const QUuid& id) const { return list_.row(id); }
  // The rows made so far: those of the first rules, in list order.
  const QList<DictionaryRuleRow*>& rows() const { return list_.rows(); }
  // The open alert or confirmation, if any.
  QMessageBox* dialog() const { return dialog_; }

  void beginAddingRule();
  void commitNewRule();
  void cancelNewRule();
  void beginRuleEdit(const DictionaryEntry& rule);
  void commitRuleEdit(const DictionaryEntry& rule);
  void cancelRuleEdit();
  void deleteRule(const DictionaryEntry& rule);

  void importDictionary();
  DictionaryImportFile pickDictionaryFile();
  void applyImport(const QList<DictionaryEntry>& entries);
  void exportDictionary(const QList<DictionaryEntry>& entries);

 private:
  void save();
  DictionaryRuleRow* makeRow(const DictionaryEntry& entry);
  void openEditForm(qsizetype index);
  void refreshChrome();
  void showAlert(const QString& title, const QString& message);
  void presentOverrideConfirmation(const DictionaryFile::MergeResult& result);

  DictionaryStore& store_;
  FilePanels& panels_;
  Workspace& workspace_;
  Clock& clock_;
  EditableList<DictionaryEntry, DictionaryRuleRow, DictionaryRuleForm> list_;
  std::optional<QUuid> editing_;
  QString editOriginal_, editReplacement_;
  bool isAddingNew_ = false;
  QString newOriginal_, newReplacement_;
  std::optional<DictionaryFile::MergeResult> pendingImport_;

  EditorialPillButton* import_;
  EditorialPillButton* export_;
  EditorialPillButton* add_;
  SettingsCard* card_;
  DictionaryRuleForm* addForm_;
  QWidget* empty_;
  QPointer<QMessageBox> dialog_;
};

}  // namespace murel
