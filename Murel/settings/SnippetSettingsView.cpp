#include "settings/SnippetSettingsView.h"

#include "design/EditorialComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "runtime/UnicodeText.h"
#include "text/SnippetMatcher.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace murel {

namespace {

const QFont& triggerFont() {
  static const QFont font = notoSans(16, DSWeight::bold);
  return font;
}

const QFont& previewFont() {
  static const QFont font = notoSans(14, DSWeight::medium);
  return font;
}

constexpr qreal kTriggerLineSpacing = 2;
constexpr int kPreviewGap = 4;

// Height of the trigger (`natural` px wide on one line) at `width`; one that fits needs no layout.
int triggerHeight(const QString& text, int natural, int width) {
  static const qreal lineHeight = QFontMetricsF(triggerFont()).height();
  if (natural <= width && !text.contains(QLatin1Char('\n'))) return qCeil(lineHeight);
  return qCeil(TextMetrics::size(text, triggerFont(), kTriggerLineSpacing, width).height());
}

int previewHeight() {
  static const int height = qCeil(QFontMetricsF(previewFont()).height());
  return height;
}

// The first card rows: the add form and the empty state; snippets follow.
constexpr int kFirstSnippetRow = 2;

// Ease-out timings: list changes, and editing in place.
constexpr int kListChangeMs = 150;
constexpr int kInPlaceEditMs = 100;

}  // namespace

QString snippetPreviewText(const QString& expansion) {
  QString preview = expansion;
  preview.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  preview.replace(QLatin1Char('\n'), QLatin1Char(' '));
  preview.replace(QLatin1Char('\r'), QLatin1Char(' '));
  return preview;
}

// SnippetRow

SnippetRow::SnippetRow(const SnippetEntry& entry, QWidget* parent)
    : EditableListRow(entry.id, Alignment::top, 20, true, parent) {
  setEntry(entry);
}

void SnippetRow::setEntry(const SnippetEntry& entry) {
  entry_ = entry;
  preview_ = snippetPreviewText(entry.expansion);
  // Measured once: layout asks for heights at many widths.
  triggerWidth_ = qCeil(QFontMetricsF(triggerFont()).horizontalAdvance(entry.trigger));
  setAccessibleName(entry.trigger);
  setAccessibleDescription(preview_);
  contentChanged();
}

QString SnippetRow::shownPreview() const {
  return QFontMetricsF(previewFont()).elidedText(preview_, Qt::ElideRight, textRect().width());
}

int SnippetRow::contentHeight(int textWidth) const {
  return triggerHeight(entry_.trigger, triggerWidth_, textWidth) + kPreviewGap + previewHeight();
}

void SnippetRow::paintContent(QPainter& painter, const QRect& textRect) {
  const int top = triggerHeight(entry_.trigger, triggerWidth_, textRect.width());
  TextMetrics::draw(painter, QRectF(textRect.left(), textRect.top(), textRect.width(), top), entry_.trigger,
                    triggerFont(), kTriggerLineSpacing, dsColor(DSColor::ink, this));
  const QFontMetricsF metrics(previewFont());
  painter.setFont(previewFont());
  painter.setPen(dsColor(DSColor::inkMuted, this));
  painter.drawText(QPointF(textRect.left(), textRect.top() + top + kPreviewGap + metrics.ascent()),
                   metrics.elidedText(preview_, Qt::ElideRight, textRect.width()));
}

// SnippetForm

SnippetForm::SnippetForm(const QString& trigger, const QString& expansion, Clock& clock, QWidget* parent)
    : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(20, 20, 20, 20);
  row->setSpacing(20);
  auto* column = new QVBoxLayout;
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(12);
  //% "trigger"
  //: Placeholder of the field for a snippet's spoken trigger.
  trigger_ = new SettingsInlineField(qtTrId("settings.snippets.field.trigger"), trigger, false, true, clock, this);
  trigger_->setMinimumWidth(120);
  column->addWidget(trigger_);
  //% "a snippet with this trigger already exists."
  //: Shown under the trigger field when another snippet has the same trigger.
  message_ = new TextLabel(qtTrId("settings.snippets.duplicate_error"),
                           TextStyle{notoSansItalic(14), 4, DSColor::danger}, this);
  message_->hide();
  column->addWidget(message_);
  //% "expansion"
  //: Placeholder of the field for the text a snippet delivers.
  expansion_ =
      new SettingsInlineField(qtTrId("settings.snippets.field.expansion"), expansion, true, false, clock, this);
  column->addWidget(expansion_);
  row->addLayout(column, 1);
  buttons_ = new SettingsInlineFormButtons([this] { Q_EMIT confirmed(); }, [this] { Q_EMIT cancelled(); }, this);
  row->addWidget(buttons_, 0, Qt::AlignTop);
  connect(trigger_, &SettingsInlineField::textEdited, this, &SnippetForm::triggerEdited);
  connect(expansion_, &SettingsInlineField::textEdited, this, &SnippetForm::expansionEdited);
}

void SnippetForm::setTexts(const QString& trigger, const QString& expansion) {
  trigger_->setText(trigger);
  expansion_->setText(expansion);
}

void SnippetForm::setMessageShown(bool shown) { message_->setVisible(shown); }

bool SnippetForm::isMessageShown() const { return !message_->isHidden(); }

// SnippetSettingsView

SnippetSettingsView::SnippetSettingsView(SnippetStore& store, Clock& clock, std::optional<QList<SnippetEntry>> entries,
                                         QWidget* parent)
    : QWidget(parent), store_(store), clock_(clock), entries_(entries ? std::move(*entries) : store.entries()) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* page = new SettingsPageLayout(this);
  outer->addWidget(page);

  //% "ADD"
  //: Button that opens the form for a new snippet.
  add_ = new EditorialPillButton(qtTrId("settings.snippets.add"), DSColor::accent, [this] { beginNewSnippet(); });
  card_ = addListPageTop(page,
                         //% "Snippets"
                         //: Snippets settings page title.
                         qtTrId("settings.snippets.title"),
                         //% "STORED SNIPPETS"
                         //: Card label above the list of snippets.
                         qtTrId("settings.snippets.list"), {add_},
                         //% "say only the trigger and Murel delivers the full text. it never expands mid-sentence."
                         //: Explanation under the snippets page's card label.
                         qtTrId("settings.snippets.description"));

  addForm_ = new SnippetForm(QString(), QString(), clock_);
  addForm_->hide();
  connect(addForm_, &SnippetForm::triggerEdited, this, [this](const QString& text) {
    newTrigger_ = text;
    setDuplicateError(false);
  });
  connect(addForm_, &SnippetForm::expansionEdited, this, [this](const QString& text) { newExpansion_ = text; });
  connect(addForm_, &SnippetForm::confirmed, this, &SnippetSettingsView::commitNewSnippet);
  connect(addForm_, &SnippetForm::cancelled, this, &SnippetSettingsView::cancelNewSnippet);
  card_->addRow(addForm_);
  //% "No snippets yet"
  //: Empty-state title of the snippets page.
  empty_ = new SettingsEmptyRow(qtTrId("settings.snippets.empty.title"),
                                //% "add one to start."
                                //: Empty-state hint of the snippets page.
                                qtTrId("settings.snippets.empty.hint"));
  card_->addRow(empty_);

  buildRows(kRowsAtOnce);
  refreshChrome();
}

void SnippetSettingsView::buildRows(qsizetype count) {
  // The rows are always the first snippets of the list, in its order.
  const qsizetype end = std::min(count, entries_.size());
  if (rows_.size() >= end) return;
  card_->setUpdatesEnabled(false);
  rows_.reserve(entries_.size());
  while (rows_.size() < end) {
    SnippetRow* row = makeRow(entries_[rows_.size()]);
    rows_.append(row);
    card_->addRow(row);
  }
  card_->setUpdatesEnabled(true);
  if (rows_.size() < entries_.size() && !moreRowsQueued_) {
    // A long list comes on screen a part at a time, so no frame waits for all of it.
    moreRowsQueued_ = true;
    QTimer::singleShot(0, this, [this] {
      moreRowsQueued_ = false;
      buildRows(rows_.size() + kRowsPerTurn);
    });
  }
}

SnippetRow* SnippetSettingsView::row(const QUuid& id) const {
  for (SnippetRow* row : rows_)
    if (row->id() == id) return row;
  return nullptr;
}

void SnippetSettingsView::save() { store_.setEntries(entries_); }

void SnippetSettingsView::setDuplicateError(bool shown) {
  duplicateError_ = shown;
  // One flag for both forms: each open form shows it.
  addForm_->setMessageShown(shown);
  if (editForm_) editForm_->setMessageShown(shown);
}

void SnippetSettingsView::refreshChrome() {
  add_->setEnabled(!isAddingNew_);
  add_->setTint(isAddingNew_ ? DSColor::inkSecondary : DSColor::accent);
  addForm_->setVisible(isAddingNew_);
  empty_->setVisible(entries_.isEmpty() && !isAddingNew_);
}

SnippetRow* SnippetSettingsView::makeRow(const SnippetEntry& entry) {
  auto* row = new SnippetRow(entry);
  connect(row, &EditableListRow::hoverChanged, this, [this, row](bool hovered) { setHovered(row, hovered); });
  connect(row, &EditableListRow::editRequested, this, [this, row] { beginSnippetEdit(row->entry()); });
  connect(row, &EditableListRow::deleteRequested, this, [this, row] { deleteSnippet(row->entry()); });
  return row;
}

void SnippetSettingsView::setHovered(SnippetRow* row, bool hovered) {
  if (hoveredRow_ && hoveredRow_ != row) hoveredRow_->setHovered(false);
  hoveredRow_ = hovered ? row : nullptr;
  hovered_ = hovered ? std::optional<QUuid>(row->id()) : std::nullopt;
  row->setHovered(hovered);
}

void SnippetSettingsView::openEditForm(qsizetype index) {
  closeEditForm();
  rows_[index]->hide();
  editForm_ = new SnippetForm(editTrigger_, editExpansion_, clock_);
  editForm_->setMessageShown(duplicateError_);
  const SnippetEntry entry = entries_[index];
  connect(editForm_, &SnippetForm::triggerEdited, this, [this](const QString& text) {
    editTrigger_ = text;
    setDuplicateError(false);
  });
  connect(editForm_, &SnippetForm::expansionEdited, this, [this](const QString& text) { editExpansion_ = text; });
  connect(editForm_, &SnippetForm::confirmed, this, [this, entry] { commitSnippetEdit(entry); });
  connect(editForm_, &SnippetForm::cancelled, this, &SnippetSettingsView::cancelSnippetEdit);
  card_->insertRow(kFirstSnippetRow + int(index) + 1, editForm_);
  fadeIn(editForm_, kInPlaceEditMs);
}

void SnippetSettingsView::closeEditForm() {
  if (!editForm_) return;
  editForm_->hide();
  editForm_->deleteLater();
  editForm_ = nullptr;
  for (SnippetRow* row : std::as_const(rows_))
    if (row->isHidden()) row->show();
}

std::optional<QString> SnippetSettingsView::acceptableTrigger(const QString& trigger, const QString& expansion) const {
  const QString trimmed = trimBlanks(trigger);
  // A trigger of punctuation alone normalises to nothing: it could never
  // fire, yet it would count as a duplicate of every other such trigger.
  if (trimmed.isEmpty() || SnippetMatcher::normalizeTrigger(trimmed).isEmpty()) return std::nullopt;
  if (expansion.trimmed().isEmpty()) return std::nullopt;
  return trimmed;
}

void SnippetSettingsView::beginNewSnippet() {
  if (isAddingNew_) return;
  isAddingNew_ = true;
  addForm_->setTexts(newTrigger_, newExpansion_);
  refreshChrome();
  fadeIn(addForm_, kListChangeMs);
}

void SnippetSettingsView::commitNewSnippet() {
  const std::optional<QString> trigger = acceptableTrigger(newTrigger_, newExpansion_);
  if (!trigger) return;
  if (SnippetMatcher::isDuplicateTrigger(*trigger, entries_)) {
    setDuplicateError(true);
    return;
  }
  const SnippetEntry entry{QUuid::createUuid(), *trigger, newExpansion_};
  entries_.prepend(entry);
  SnippetRow* row = makeRow(entry);
  rows_.prepend(row);
  card_->insertRow(kFirstSnippetRow, row);
  fadeIn(row, kListChangeMs);
  save();
  newTrigger_.clear();
  newExpansion_.clear();
  addForm_->setTexts(QString(), QString());
  setDuplicateError(false);
  isAddingNew_ = false;
  refreshChrome();
}

void SnippetSettingsView::cancelNewSnippet() {
  newTrigger_.clear();
  newExpansion_.clear();
  addForm_->setTexts(QString(), QString());
  setDuplicateError(false);
  isAddingNew_ = false;
  refreshChrome();
}

void SnippetSettingsView::beginSnippetEdit(const SnippetEntry& entry) {
  editTrigger_ = entry.trigger;
  editExpansion_ = entry.expansion;
  setDuplicateError(false);
  for (qsizetype i = 0; i < entries_.size(); ++i) {
    if (entries_[i].id != entry.id) continue;
    editing_ = entry.id;
    buildRows(i + 1);
    openEditForm(i);
    return;
  }
}

void SnippetSettingsView::commitSnippetEdit(const SnippetEntry& entry) {
  const std::optional<QString> trigger = acceptableTrigger(editTrigger_, editExpansion_);
  if (!trigger) return;
  if (SnippetMatcher::isDuplicateTrigger(*trigger, entries_, entry.id)) {
    setDuplicateError(true);
    return;
  }
  for (qsizetype i = 0; i < entries_.size(); ++i) {
    if (entries_[i].id != entry.id) continue;
    entries_[i].trigger = *trigger;
    entries_[i].expansion = editExpansion_;
    if (i < rows_.size()) rows_[i]->setEntry(entries_[i]);
    break;
  }
  editing_.reset();
  closeEditForm();
  save();
}

void SnippetSettingsView::cancelSnippetEdit() {
  setDuplicateError(false);
  editing_.reset();
  closeEditForm();
}

void SnippetSettingsView::deleteSnippet(const SnippetEntry& entry) {
  for (qsizetype i = entries_.size() - 1; i >= 0; --i) {
    if (entries_[i].id != entry.id) continue;
    entries_.removeAt(i);
    if (i >= rows_.size()) continue;
    SnippetRow* row = rows_.takeAt(i);
    if (row == hoveredRow_) hoveredRow_ = nullptr;
    row->hide();
    row->deleteLater();
  }
  if (editForm_ && editing_ == entry.id) closeEditForm();
  save();
  refreshChrome();
}

}  // namespace murel
