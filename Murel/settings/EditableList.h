#pragma once

#include "design/Motion.h"
#include "design/SettingsComponents.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUuid>
#include <QWidget>

#include <algorithm>
#include <array>
#include <functional>
#include <optional>

class QPainter;
class QVBoxLayout;

namespace murel {

class EditorialPillButton;
class SettingsInlineField;
class SettingsInlineFormButtons;
class TextLabel;

// One row of a list that the user edits in place (dictionary rules,
// snippets): it paints its own texts, and fades in an edit and a delete
// button at its trailing end while the pointer is over it. The buttons are
// made the first time they are needed, so that a list of thousands of rows
// stays cheap to build.
class EditableListRow : public QWidget {
  Q_OBJECT

 public:
  enum class Alignment { centre, top };

  // `verticalPadding` above and below the content; the hover area leaves out
  // the 20 px side insets unless `hoverTakesInsets`.
  EditableListRow(const QUuid& id, Alignment alignment, int verticalPadding, bool hoverTakesInsets,
                  QWidget* parent = nullptr);

  QUuid id() const { return id_; }
  bool isHovered() const { return hovered_; }
  void setHovered(bool hovered);
  // Where the pointer counts as over the row, in the row's coordinates.
  QRect hoverArea() const;
  SettingsActionButton* editButton();
  SettingsActionButton* deleteButton();
  // Where the texts are drawn, in the row's coordinates.
  QRect textRect() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 Q_SIGNALS:
  void hoverChanged(bool hovered);
  void editRequested();
  void deleteRequested();

 protected:
  // The height of the texts when they are `textWidth` wide.
  virtual int contentHeight(int textWidth) const = 0;
  virtual void paintContent(QPainter& painter, const QRect& textRect) = 0;
  // The texts changed: measure again.
  void contentChanged();

  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void ensureButtons();
  void placeButtons();
  void pointerAt(QPoint pos);
  int textWidthFor(int width) const;

  QUuid id_;
  Alignment alignment_;
  int verticalPadding_;
  bool hoverTakesInsets_;
  bool hovered_ = false;
  bool pointerInside_ = false;
  QWidget* buttons_ = nullptr;
  SettingsActionButton* edit_ = nullptr;
  SettingsActionButton* delete_ = nullptr;
  // Layout asks for heights at a few widths over and over (the card's width,
  // the size hint's, narrow probes for minimum sizes) on every pass: the last
  // few answers are kept, so a pass over thousands of rows measures no text.
  struct CachedHeight {
    int width = -1;
    int height = 0;
  };
  mutable std::array<CachedHeight, 4> cachedHeights_;
  mutable std::size_t nextCachedHeight_ = 0;
};

// The add and edit form of a list entry: two fields, a one-line message that
// is hidden until asked for, and the confirm and cancel buttons at the end.
// A subclass makes the fields and the message, places them in `column()`,
// then calls `finish`.
class EditableListForm : public QWidget {
  Q_OBJECT

 public:
  SettingsInlineFormButtons* buttons() const { return buttons_; }
  TextLabel* message() const { return message_; }
  void setTexts(const QString& first, const QString& second);
  void setMessageShown(bool shown);
  bool isMessageShown() const;

 Q_SIGNALS:
  void firstEdited(const QString& text);
  void secondEdited(const QString& text);
  void confirmed();
  void cancelled();

 protected:
  // The column of fields, `columnSpacing` apart, takes the free width.
  EditableListForm(int columnSpacing, QWidget* parent);
  QVBoxLayout* column() const { return column_; }
  // The message in italic 14 in the danger colour, hidden.
  TextLabel* makeMessage(const QString& text);
  // Adds the buttons after the fields (so Tab reaches them last) at
  // `buttonsAlignment`, and passes the fields' typing on.
  void finish(SettingsInlineField* first, SettingsInlineField* second, Qt::Alignment buttonsAlignment);

  SettingsInlineField* first_ = nullptr;
  SettingsInlineField* second_ = nullptr;

 private:
  QVBoxLayout* column_;
  SettingsInlineFormButtons* buttons_ = nullptr;
  TextLabel* message_ = nullptr;
};

// Fades a view that just came into the list in, ease-out over `durationMs`.
void fadeIn(QWidget* widget, int durationMs);

// The scrolling page of a list, filling `view`: the title, the card label
// with the toolbar pills at its end, the description, and the card that
// holds the list (returned).
SettingsCard* buildListPage(QWidget* view, const QString& title, const QString& cardLabel,
                            const QList<QWidget*>& toolbar, const QString& description);

// The ADD pill (grey and off while the add form is open), the add form, and
// the empty-state row shown when there is nothing else.
void showAddState(EditorialPillButton* add, QWidget* addForm, QWidget* emptyRow, bool isAddingNew, bool isEmpty);

// A list page's own copy of its entries and their rows in its card, kept in
// step: one row per entry in list order, the first `kRowsAtOnce` made at
// once and the rest a part per event-loop turn (so no frame waits for
// thousands), each part in a row group of its own (so that a new part lays
// out and paints only itself, never the thousands before it); the row under
// the pointer; and the one edit form, shown in
// place of its entry's row. `Entry` has an `id`; `Row` is an
// `EditableListRow` with `entry()` and `setEntry`.
template <typename Entry, typename Row, typename Form>
class EditableList {
 public:
  static constexpr qsizetype kRowsAtOnce = 100;
  // A part of 50 rows lays out within one frame (worst turn 14 ms of CPU with
  // 5,000 rules; 19 ms with 100, 23 ms with 200).
  static constexpr qsizetype kRowsPerTurn = 50;

  explicit EditableList(QList<Entry> entries) : entries_(std::move(entries)) {}
  EditableList(const EditableList&) = delete;
  EditableList& operator=(const EditableList&) = delete;

  // Puts the rows into `card` from its row `firstRow` on; `makeRow` makes an
  // entry's row; the rest are built in the event loop of `owner`.
  void attach(SettingsCard* card, int firstRow, QWidget* owner, std::function<Row*(const Entry&)> makeRow) {
    card_ = card;
    firstRow_ = firstRow;
    owner_ = owner;
    makeRow_ = std::move(makeRow);
    build(kRowsAtOnce);
  }

  const QList<Entry>& entries() const { return entries_; }
  const QList<Row*>& rows() const { return rows_; }
  Row* row(const QUuid& id) const {
    for (Row* row : rows_)
      if (row->id() == id) return row;
    return nullptr;
  }
  qsizetype indexOf(const QUuid& id) const {
    for (qsizetype i = 0; i < entries_.size(); ++i)
      if (entries_[i].id == id) return i;
    return -1;
  }
  std::optional<QUuid> hovered() const { return hovered_; }
  Form* editForm() const { return editForm_; }

  // A new entry first, its row fading in.
  void prepend(const Entry& entry, int fadeMs) {
    entries_.prepend(entry);
    Row* row = make(entry);
    rows_.prepend(row);
    // Straight into the card: the user adds a few at a time.
    card_->insertRow(firstRow_, row);
    fadeIn(row, fadeMs);
  }

  // Changes the first entry with `id` in place (its id and place stay).
  void change(const QUuid& id, const std::function<void(Entry&)>& edit) {
    const qsizetype i = indexOf(id);
    if (i < 0) return;
    edit(entries_[i]);
    if (i < rows_.size()) rows_[i]->setEntry(entries_[i]);
  }

  // Removes every entry with `id`; the order of the others stays. Their rows
  // fold away over `foldMs`.
  void removeAll(const QUuid& id, int foldMs = 0) {
    for (qsizetype i = entries_.size() - 1; i >= 0; --i) {
      if (entries_[i].id != id) continue;
      entries_.removeAt(i);
      if (i < rows_.size()) discard(rows_.takeAt(i), foldMs);
    }
  }

  // A whole new list: new rows, built as when the page opened; the rows
  // first shown fade in over `fadeMs` where the old ones stood.
  void replaceAll(QList<Entry> entries, int fadeMs = 0) {
    closeEditForm();
    // The page's hovered id stays as it was: only the rows are gone.
    hoveredRow_ = nullptr;
    // Their rows go with the groups.
    for (SettingsCardRowGroup* group : std::as_const(groups_)) {
      group->hide();
      group->deleteLater();
    }
    groups_.clear();
    for (Row* old : std::as_const(rows_))
      if (!groupOf(old)) discard(old);
    rows_.clear();
    entries_ = std::move(entries);
    build(kRowsAtOnce);
    if (fadeMs > 0 && !groups_.isEmpty()) fadeIn(groups_.first(), fadeMs);
  }

  // Shows `form` (taking it) in place of the row of the entry at `index`.
  void openEditForm(qsizetype index, Form* form, int fadeMs) {
    closeEditForm();
    build(index + 1);
    Row* row = rows_[index];
    editedRow_ = row;
    row->hide();
    editForm_ = form;
    if (SettingsCardRowGroup* group = groupOf(row))
      group->insertRow(group->indexOf(row) + 1, form);
    else
      card_->insertRow(card_->indexOf(row) + 1, form);
    fadeIn(form, fadeMs);
  }

  // The form folds away over `foldMs` while its entry's row fades back in.
  void closeEditForm(int foldMs = 0) {
    if (!editForm_) return;
    Form* form = editForm_;
    editForm_ = nullptr;
    if (editedRow_) {
      editedRow_->show();
      if (foldMs > 0) fadeIn(editedRow_, foldMs);
    }
    editedRow_ = nullptr;
    retire(form, foldMs);
  }

 private:
  Row* make(const Entry& entry) {
    Row* row = makeRow_(entry);
    QObject::connect(row, &EditableListRow::hoverChanged, owner_, [this, row](bool on) { setHovered(row, on); });
    return row;
  }

  void discard(Row* row, int foldMs = 0) {
    // The page's hovered id stays as it was: only the row is gone.
    if (row == hoveredRow_) hoveredRow_ = nullptr;
    if (row == editedRow_) editedRow_ = nullptr;
    retire(row, foldMs);
  }

  // Takes a row or a form out of the card, folding it away over `foldMs`.
  static void retire(QWidget* widget, int foldMs) {
    QPointer<SettingsCardRowGroup> group = groupOf(widget);
    Motion::foldAway(widget, foldMs, [widget, group] {
      widget->hide();
      widget->deleteLater();
      hideIfEmpty(group);
    });
  }

  static SettingsCardRowGroup* groupOf(QWidget* row) {
    return qobject_cast<SettingsCardRowGroup*>(row->parentWidget());
  }

  // A group whose rows are all gone takes neither space nor a rule.
  static void hideIfEmpty(SettingsCardRowGroup* group) {
    if (group && !group->isHidden() && !group->hasShownRows()) group->hide();
  }

  // Makes rows for the first `count` entries; the rest follow a part per event-loop turn.
  void build(qsizetype count) {
    const qsizetype end = std::min(count, entries_.size());
    if (rows_.size() < end) {
      // The group gets its rows before it joins the card, so the card lays it
      // out once, whole.
      auto* group = new SettingsCardRowGroup;
      rows_.reserve(entries_.size());
      while (rows_.size() < end) {
        Row* row = make(entries_[rows_.size()]);
        rows_.append(row);
        group->addRow(row);
      }
      groups_.append(group);
      card_->addRow(group);
    }
    if (rows_.size() < entries_.size() && !moreRowsQueued_) {
      moreRowsQueued_ = true;
      QTimer::singleShot(0, owner_, [this] {
        moreRowsQueued_ = false;
        build(rows_.size() + kRowsPerTurn);
      });
    }
  }

  void setHovered(Row* row, bool hovered) {
    if (hoveredRow_ && hoveredRow_ != row) hoveredRow_->setHovered(false);
    hoveredRow_ = hovered ? row : nullptr;
    hovered_ = hovered ? std::optional<QUuid>(row->id()) : std::nullopt;
    row->setHovered(hovered);
  }

  QList<Entry> entries_;
  QList<Row*> rows_;
  QList<SettingsCardRowGroup*> groups_;
  SettingsCard* card_ = nullptr;
  int firstRow_ = 0;
  QWidget* owner_ = nullptr;
  std::function<Row*(const Entry&)> makeRow_;
  std::optional<QUuid> hovered_;
  QPointer<Row> hoveredRow_;
  QPointer<Row> editedRow_;
  Form* editForm_ = nullptr;
  bool moreRowsQueued_ = false;
};

}  // namespace murel
