#pragma once

#include "settings/EditableList.h"
#include "text/SnippetStore.h"

#include <QList>
#include <QUuid>
#include <QWidget>

#include <optional>

namespace murel {

class Clock;
class EditorialPillButton;
class SettingsCard;

// The expansion on one line: CRLF, then LF, then CR each become one space.
QString snippetPreviewText(const QString& expansion);

// One snippet: its trigger, and under it the expansion on one line, cut at the end.
class SnippetRow : public EditableListRow {
  Q_OBJECT

 public:
  explicit SnippetRow(const SnippetEntry& entry, QWidget* parent = nullptr);

  const SnippetEntry& entry() const { return entry_; }
  void setEntry(const SnippetEntry& entry);
  // The preview as drawn at the row's current width.
  QString shownPreview() const;

 protected:
  int contentHeight(int textWidth) const override;
  void paintContent(QPainter& painter, const QRect& textRect) override;

 private:
  SnippetEntry entry_;
  QString preview_;
  int triggerWidth_ = 0;
};

// The add and edit form of a snippet: the trigger, the duplicate message,
// the expansion over several lines, and the confirm and cancel buttons.
class SnippetForm : public EditableListForm {
  Q_OBJECT

 public:
  SnippetForm(const QString& trigger, const QString& expansion, Clock& clock, QWidget* parent = nullptr);

  SettingsInlineField* triggerField() const { return first_; }
  SettingsInlineField* expansionField() const { return second_; }
};

// The snippets tab: spoken triggers and the texts delivered in their place,
// added, edited and deleted in place; a trigger another snippet already has
// is refused. The page keeps its own copy of the list, taken when it is
// built, and writes all of it to the store after every change.
class SnippetSettingsView : public QWidget {
  Q_OBJECT

 public:
  // `entries` stands in for the store's list when given.
  SnippetSettingsView(SnippetStore& store, Clock& clock, std::optional<QList<SnippetEntry>> entries = std::nullopt,
                      QWidget* parent = nullptr);

  const QList<SnippetEntry>& entries() const { return list_.entries(); }
  std::optional<QUuid> hoveredEntryID() const { return list_.hovered(); }
  std::optional<QUuid> editingEntryID() const { return editing_; }
  bool isAddingNew() const { return isAddingNew_; }
  bool duplicateError() const { return duplicateError_; }

  EditorialPillButton* addButton() const { return add_; }
  SnippetForm* addForm() const { return addForm_; }
  SnippetForm* editForm() const { return list_.editForm(); }
  QWidget* emptyRow() const { return empty_; }
  SnippetRow* row(const QUuid& id) const { return list_.row(id); }
  // The rows made so far: those of the first snippets, in list order.
  const QList<SnippetRow*>& rows() const { return list_.rows(); }

  void beginNewSnippet();
  void commitNewSnippet();
  void cancelNewSnippet();
  void beginSnippetEdit(const SnippetEntry& entry);
  void commitSnippetEdit(const SnippetEntry& entry);
  void cancelSnippetEdit();
  void deleteSnippet(const SnippetEntry& entry);

 private:
  void save();
  void setDuplicateError(bool shown);
  SnippetRow* makeRow(const SnippetEntry& entry);
  void openEditForm(qsizetype index);
  void refreshChrome();
  // The trimmed trigger when the texts may be stored; none when blank.
  std::optional<QString> acceptableTrigger(const QString& trigger, const QString& expansion) const;

  SnippetStore& store_;
  Clock& clock_;
  EditableList<SnippetEntry, SnippetRow, SnippetForm> list_;
  std::optional<QUuid> editing_;
  QString editTrigger_, editExpansion_;
  bool isAddingNew_ = false;
  QString newTrigger_, newExpansion_;
  bool duplicateError_ = false;

  EditorialPillButton* add_;
  SettingsCard* card_;
  SnippetForm* addForm_;
  QWidget* empty_;
};

}  // namespace murel
