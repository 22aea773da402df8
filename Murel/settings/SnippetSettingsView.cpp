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
    : EditableListForm(12, parent) {
  //% "trigger"
  //: Placeholder of the field for a snippet's spoken trigger.
  auto* triggerField =
      new SettingsInlineField(qtTrId("settings.snippets.field.trigger"), trigger, false, true, clock, this);
  triggerField->setMinimumWidth(120);
  column()->addWidget(triggerField);
  //% "a snippet with this trigger already exists."
  //: Shown under the trigger field when another snippet has the same trigger.
  column()->addWidget(makeMessage(qtTrId("settings.snippets.duplicate_error")));
  //% "expansion"
  //: Placeholder of the field for the text a snippet delivers.
  auto* expansionField =
      new SettingsInlineField(qtTrId("settings.snippets.field.expansion"), expansion, true, false, clock, this);
  column()->addWidget(expansionField);
  finish(triggerField, expansionField, Qt::AlignTop);
}

// SnippetSettingsView

SnippetSettingsView::SnippetSettingsView(SnippetStore& store, Clock& clock, std::optional<QList<SnippetEntry>> entries,
                                         QWidget* parent)
    : QWidget(parent), store_(store), clock_(clock), list_(entries ? std::move(*entries) : store.entries()) {
  //% "ADD"
  //: Button that opens the form for a new snippet.
  add_ = new EditorialPillButton(qtTrId("settings.snippets.add"), DSColor::accent, [this] { beginNewSnippet(); });
  card_ = buildListPage(this,
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
  connect(addForm_, &EditableListForm::firstEdited, this, [this](const QString& text) {
    newTrigger_ = text;
    setDuplicateError(false);
  });
  connect(addForm_, &EditableListForm::secondEdited, this, [this](const QString& text) { newExpansion_ = text; });
  connect(addForm_, &EditableListForm::confirmed, this, &SnippetSettingsView::commitNewSnippet);
  connect(addForm_, &EditableListForm::cancelled, this, &SnippetSettingsView::cancelNewSnippet);
  card_->addRow(addForm_);
  //% "No snippets yet"
  //: Empty-state title of the snippets page.
  empty_ = new SettingsEmptyRow(qtTrId("settings.snippets.empty.title"),
                                //% "add one to start."
                                //: Empty-state hint of the snippets page.
                                qtTrId("settings.snippets.empty.hint"));
  card_->addRow(empty_);
  list_.attach(card_, kFirstSnippetRow, this, [this](const SnippetEntry& entry) { return makeRow(entry); });
  refreshChrome();
}

void SnippetSettingsView::save() { store_.setEntries(list_.entries()); }

void SnippetSettingsView::setDuplicateError(bool shown) {
  duplicateError_ = shown;
  // One flag for both forms: each open form shows it.
  addForm_->setMessageShown(shown);
  if (list_.editForm()) list_.editForm()->setMessageShown(shown);
}

void SnippetSettingsView::refreshChrome() {
  showAddState(add_, addForm_, empty_, isAddingNew_, list_.entries().isEmpty());
}

SnippetRow* SnippetSettingsView::makeRow(const SnippetEntry& entry) {
  auto* row = new SnippetRow(entry);
  connect(row, &EditableListRow::editRequested, this, [this, row] { beginSnippetEdit(row->entry()); });
  connect(row, &EditableListRow::deleteRequested, this, [this, row] { deleteSnippet(row->entry()); });
  return row;
}

void SnippetSettingsView::openEditForm(qsizetype index) {
  auto* form = new SnippetForm(editTrigger_, editExpansion_, clock_);
  form->setMessageShown(duplicateError_);
  const SnippetEntry entry = list_.entries()[index];
  connect(form, &EditableListForm::firstEdited, this, [this](const QString& text) {
    editTrigger_ = text;
    setDuplicateError(false);
  });
  connect(form, &EditableListForm::secondEdited, this, [this](const QString& text) { editExpansion_ = text; });
  connect(form, &EditableListForm::confirmed, this, [this, entry] { commitSnippetEdit(entry); });
  connect(form, &EditableListForm::cancelled, this, &SnippetSettingsView::cancelSnippetEdit);
  list_.openEditForm(index, form, kInPlaceEditMs);
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
  if (SnippetMatcher::isDuplicateTrigger(*trigger, list_.entries())) {
    setDuplicateError(true);
    return;
  }
  list_.prepend(SnippetEntry{QUuid::createUuid(), *trigger, newExpansion_}, kListChangeMs);
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
  const qsizetype index = list_.indexOf(entry.id);
  if (index < 0) return;
  editing_ = entry.id;
  openEditForm(index);
}

void SnippetSettingsView::commitSnippetEdit(const SnippetEntry& entry) {
  const std::optional<QString> trigger = acceptableTrigger(editTrigger_, editExpansion_);
  if (!trigger) return;
  if (SnippetMatcher::isDuplicateTrigger(*trigger, list_.entries(), entry.id)) {
    setDuplicateError(true);
    return;
  }
  list_.change(entry.id, [&](SnippetEntry& stored) {
    stored.trigger = *trigger;
    stored.expansion = editExpansion_;
  });
  editing_.reset();
  list_.closeEditForm(kInPlaceEditMs);
  save();
}

void SnippetSettingsView::cancelSnippetEdit() {
  setDuplicateError(false);
  editing_.reset();
  list_.closeEditForm(kInPlaceEditMs);
}

void SnippetSettingsView::deleteSnippet(const SnippetEntry& entry) {
  list_.removeAll(entry.id, kListChangeMs);
  if (editing_ == entry.id) list_.closeEditForm(kListChangeMs);
  save();
  refreshChrome();
}

}  // namespace murel
