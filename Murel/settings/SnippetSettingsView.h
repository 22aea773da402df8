#pragma once

#include "settings/EditableList.h"
#include "text/SnippetStore.h"

#include <QList>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <optional>

namespace murel {

class Clock;
class EditorialPillButton;
class SettingsCard;
class SettingsInlineField;
class SettingsInlineFormButtons;
class TextLabel;

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
class SnippetForm : public QWidget {
  Q_OBJECT

 public:
  SnippetForm(const QString& trigger, const QString& expansion, Clock& clock, QWidget* parent = nullptr);

  SettingsInlineField* triggerField() const { return trigger_; }
  SettingsInlineField* expansionField() const { return expansion_; }
  SettingsInlineFormButtons* buttons() const { return buttons_; }
  TextLabel* message() const { return message_; }
  void setTexts(const QString& trigger, const QString& expansion);
  void setMessageShown(bool shown);
  bool isMessageShown() const;

 Q_SIGNALS:
  void triggerEdited(const QString& text);
  void expansionEdited(const QString& text);
  void confirmed();
  void cancelled();

 private:
  SettingsInlineField* trigger_;
  SettingsInlineField* expansion_;
  SettingsInlineFormButtons* buttons_;
  TextLabel* message_;
};

// The snippets tab: spoken triggers and the texts delivered in their place,
// added, edited and deleted in place; a trigger another snippet already has
// is refused. The page keeps its own copy of the list, taken when it is
// built, and writes all of it to the store after every change.
class SnippetSettingsView : public QWidget {
  Q_OBJECT

 public:
  // Rows made with the page, then per event-loop turn.
  static constexpr qsizetype kRowsAtOnce = 100;
  static constexpr qsizetype kRowsPerTurn = 200;

  // `entries` stands in for the store's list when given.
  SnippetSettingsView(SnippetStore& store, Clock& clock, std::optional<QList<SnippetEntry>> entries = std::nullopt,
                      QWidget* parent = nullptr);

  const QList<SnippetEntry>& entries() const { return entries_; }
  std::optional<QUuid> hoveredEntryID() const { return hovered_; }
  std::optional<QUuid> editingEntryID() const { return editing_; }
  bool isAddingNew() const { return isAddingNew_; }
  bool duplicateError() const { return duplicateError_; }

  EditorialPillButton* addButton() const { return add_; }
  SnippetForm* addForm() const { return addForm_; }
  SnippetForm* editForm() const { return editForm_; }
  QWidget* emptyRow() const { return empty_; }
  SnippetRow* row(const QUuid& id) const;
  const QList<SnippetRow*>& rows() const { return rows_; }

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
  void setHovered(SnippetRow* row, bool hovered);
  SnippetRow* makeRow(const SnippetEntry& entry);
  // Makes rows for the first `count` snippets; the rest follow a part per event-loop turn.
  void buildRows(qsizetype count);
  void openEditForm(qsizetype index);
  void closeEditForm();
  void refreshChrome();
  // The trimmed trigger when the texts may be stored; none when blank.
  std::optional<QString> acceptableTrigger(const QString& trigger, const QString& expansion) const;

  SnippetStore& store_;
  Clock& clock_;
  QList<SnippetEntry> entries_;
  QList<SnippetRow*> rows_;
  std::optional<QUuid> hovered_;
  QPointer<SnippetRow> hoveredRow_;
  std::optional<QUuid> editing_;
  QString editTrigger_, editExpansion_;
  bool isAddingNew_ = false;
  QString newTrigger_, newExpansion_;
  bool duplicateError_ = false;

  EditorialPillButton* add_;
  SettingsCard* card_;
  SnippetForm* addForm_;
  QWidget* empty_;
  SnippetForm* editForm_ = nullptr;
  bool moreRowsQueued_ = false;
};

}  // namespace murel
