#include "settings/DictionarySettingsView.h"

#include "app/FilePanels.h"
#include "design/EditorialComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "runtime/UnicodeText.h"

#include <QFile>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QStringDecoder>
#include <QVBoxLayout>

#include <cmath>

namespace murel {

namespace {

const QString kArrow = QStringLiteral("\u2192");

const QFont& ruleFont() {
  static const QFont font = notoSans(16, DSWeight::bold);
  return font;
}

constexpr qreal kRuleLineSpacing = 2;

qreal ruleLineHeight() {
  static const qreal height = QFontMetricsF(ruleFont()).height();
  return height;
}

int arrowWidth() {
  static const int width = qCeil(QFontMetricsF(ruleFont()).horizontalAdvance(kArrow));
  return width;
}

// Height of `text` (`natural` px wide on one line) set in the rule font at
// `width`; a text that fits needs no layout.
int ruleTextHeight(const QString& text, int natural, int width) {
  if (natural <= width && !text.contains(QLatin1Char('\n'))) return qCeil(ruleLineHeight());
  return qCeil(TextMetrics::size(text, ruleFont(), kRuleLineSpacing, width).height());
}

// The first card rows: the add form and the empty state; rules follow.
constexpr int kFirstRuleRow = 2;

// Ease-out timings: list changes, and editing in place.
constexpr int kListChangeMs = 150;
constexpr int kInPlaceEditMs = 100;

}  // namespace

// DictionaryRuleRow

DictionaryRuleRow::DictionaryRuleRow(const DictionaryEntry& entry, QWidget* parent)
    : EditableListRow(entry.id, Alignment::centre, 16, false, parent), entry_(entry) {
  measure();
  setAccessibleName(entry.original + QLatin1Char(' ') + kArrow + QLatin1Char(' ') + entry.replacement);
}

void DictionaryRuleRow::setEntry(const DictionaryEntry& entry) {
  entry_ = entry;
  measure();
  setAccessibleName(entry.original + QLatin1Char(' ') + kArrow + QLatin1Char(' ') + entry.replacement);
  contentChanged();
}

void DictionaryRuleRow::measure() {
  // Measured once: layout asks for heights at many widths.
  const QFontMetricsF metrics(ruleFont());
  originalWidth_ = qCeil(metrics.horizontalAdvance(entry_.original));
  replacementWidth_ = qCeil(metrics.horizontalAdvance(entry_.replacement));
}

DictionaryRuleRow::Widths DictionaryRuleRow::widthsFor(int textWidth) const {
  const int available = std::max(2, textWidth - arrowWidth() - 2 * 12);
  const int original = originalWidth_;
  const int replacement = replacementWidth_;
  if (original + replacement <= available) return {original, replacement};
  // Too long for one line: a text shorter than half keeps its width, the other wraps in the rest.
  const int half = available / 2;
  if (original <= half) return {original, available - original};
  if (replacement <= half) return {available - replacement, replacement};
  return {half, available - half};
}

int DictionaryRuleRow::contentHeight(int textWidth) const {
  const Widths widths = widthsFor(textWidth);
  return std::max({ruleTextHeight(entry_.original, originalWidth_, widths.original),
                   ruleTextHeight(entry_.replacement, replacementWidth_, widths.replacement), qCeil(ruleLineHeight())});
}

void DictionaryRuleRow::paintContent(QPainter& painter, const QRect& textRect) {
  const Widths widths = widthsFor(textRect.width());
  const auto drawText = [&](int x, int width, int natural, const QString& text, DSColor color) {
    const int height = ruleTextHeight(text, natural, width);
    const QRectF rect(x, textRect.top() + (textRect.height() - height) / 2, width, height);
    TextMetrics::draw(painter, rect, text, ruleFont(), kRuleLineSpacing, dsColor(color, this));
  };
  int x = textRect.left();
  drawText(x, widths.original, originalWidth_, entry_.original, DSColor::ink);
  x += widths.original + 12;
  drawText(x, arrowWidth(), arrowWidth(), kArrow, DSColor::inkSecondary);
  x += arrowWidth() + 12;
  drawText(x, widths.replacement, replacementWidth_, entry_.replacement, DSColor::accent);
}

// DictionaryRuleForm

DictionaryRuleForm::DictionaryRuleForm(const QString& original, const QString& replacement, Clock& clock,
                                       QWidget* parent)
    : EditableListForm(8, parent) {
  auto* fields = new QHBoxLayout;
  fields->setContentsMargins(0, 0, 0, 0);
  fields->setSpacing(12);
  //% "original"
  //: Placeholder of the field for the word the recogniser gets wrong.
  auto* originalField =
      new SettingsInlineField(qtTrId("settings.dictionary.field.original"), original, false, true, clock, this);
  originalField->setMinimumWidth(120);
  auto* arrow = new TextLabel(kArrow, TextStyle{ruleFont(), 0, DSColor::inkSecondary}, this);
  arrow->setWrapping(false);
  //% "replacement"
  //: Placeholder of the field for the text put in its place.
  auto* replacementField =
      new SettingsInlineField(qtTrId("settings.dictionary.field.replacement"), replacement, false, false, clock, this);
  replacementField->setMinimumWidth(120);
  fields->addWidget(originalField, 1, Qt::AlignVCenter);
  fields->addWidget(arrow, 0, Qt::AlignVCenter);
  fields->addWidget(replacementField, 1, Qt::AlignVCenter);
  column()->addLayout(fields);
  //% "no line breaks, and no -> or leading # in the original."
  //: Shown under a dictionary rule form when the rule could not be written to a dictionary file.
  column()->addWidget(makeMessage(qtTrId("settings.dictionary.field.unsupported")));
  finish(originalField, replacementField, Qt::AlignVCenter);
}

// Reading an import file

std::optional<QString> readDictionaryText(const QString& path, qint64 maxBytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  // A file that is not regular (a pipe, a device) has no size to trust: read one byte past the cap to tell.
  if (file.size() > maxBytes) return std::nullopt;
  const QByteArray bytes = file.read(maxBytes + 1);
  if (bytes.size() > maxBytes || file.error() != QFileDevice::NoError) return std::nullopt;
  // Stateless: a sequence cut off at the end is an error, not a wait for more bytes.
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = decoder.decode(bytes);
  if (decoder.hasError()) return std::nullopt;
  return text;
}

// DictionarySettingsView

DictionarySettingsView::DictionarySettingsView(DictionaryStore& store, FilePanels& panels, Workspace& workspace,
                                               Clock& clock, std::optional<QList<DictionaryEntry>> entries,
                                               QWidget* parent)
    : QWidget(parent),
      store_(store),
      panels_(panels),
      workspace_(workspace),
      clock_(clock),
      list_(entries ? std::move(*entries) : store.entries()) {
  //% "IMPORT"
  //: Toolbar pill that imports dictionary rules from a text file.
  import_ = new EditorialPillButton(qtTrId("settings.dictionary.import"), DSColor::inkSecondary,
                                    [this] { importDictionary(); });
  //% "EXPORT"
  //: Toolbar pill that exports the dictionary rules to a text file.
  export_ = new EditorialPillButton(qtTrId("settings.dictionary.export"), DSColor::inkSecondary,
                                    [this] { exportDictionary(list_.entries()); });
  //% "ADD"
  //: Toolbar pill that opens the form for a new dictionary rule.
  add_ = new EditorialPillButton(qtTrId("settings.dictionary.add"), DSColor::accent, [this] { beginAddingRule(); });
  card_ = buildListPage(this,
                        //% "Dictionary"
                        //: Dictionary settings page title.
                        qtTrId("settings.dictionary.title"),
                        //% "REPLACEMENT RULES"
                        //: Card label above the list of dictionary rules.
                        qtTrId("settings.dictionary.rules"), {import_, export_, add_},
                        //% "define words that are frequently mistranscribed. the original gets silently replaced."
                        //: Explanation under the dictionary page's card label.
                        qtTrId("settings.dictionary.description"));

  addForm_ = new DictionaryRuleForm(QString(), QString(), clock_);
  addForm_->hide();
  connect(addForm_, &EditableListForm::firstEdited, this, [this](const QString& text) {
    newOriginal_ = text;
    addForm_->setMessageShown(false);
  });
  connect(addForm_, &EditableListForm::secondEdited, this, [this](const QString& text) {
    newReplacement_ = text;
    addForm_->setMessageShown(false);
  });
  connect(addForm_, &EditableListForm::confirmed, this, &DictionarySettingsView::commitNewRule);
  connect(addForm_, &EditableListForm::cancelled, this, &DictionarySettingsView::cancelNewRule);
  card_->addRow(addForm_);
  //% "No rules yet"
  //: Empty-state title of the dictionary page.
  empty_ = new SettingsEmptyRow(qtTrId("settings.dictionary.empty.title"),
                                //% "add a correction to start."
                                //: Empty-state hint of the dictionary page.
                                qtTrId("settings.dictionary.empty.hint"));
  card_->addRow(empty_);
  list_.attach(card_, kFirstRuleRow, this, [this](const DictionaryEntry& entry) { return makeRow(entry); });
  refreshChrome();
}

void DictionarySettingsView::save() { store_.setEntries(list_.entries()); }

void DictionarySettingsView::refreshChrome() {
  export_->setEnabled(!list_.entries().isEmpty());
  showAddState(add_, addForm_, empty_, isAddingNew_, list_.entries().isEmpty());
}

DictionaryRuleRow* DictionarySettingsView::makeRow(const DictionaryEntry& entry) {
  auto* row = new DictionaryRuleRow(entry);
  connect(row, &EditableListRow::editRequested, this, [this, row] { beginRuleEdit(row->entry()); });
  connect(row, &EditableListRow::deleteRequested, this, [this, row] { deleteRule(row->entry()); });
  return row;
}

void DictionarySettingsView::openEditForm(qsizetype index) {
  auto* form = new DictionaryRuleForm(editOriginal_, editReplacement_, clock_);
  const DictionaryEntry rule = list_.entries()[index];
  connect(form, &EditableListForm::firstEdited, this, [this, form](const QString& text) {
    editOriginal_ = text;
    form->setMessageShown(false);
  });
  connect(form, &EditableListForm::secondEdited, this, [this, form](const QString& text) {
    editReplacement_ = text;
    form->setMessageShown(false);
  });
  connect(form, &EditableListForm::confirmed, this, [this, rule] { commitRuleEdit(rule); });
  connect(form, &EditableListForm::cancelled, this, &DictionarySettingsView::cancelRuleEdit);
  list_.openEditForm(index, form, kInPlaceEditMs);
}

void DictionarySettingsView::beginAddingRule() {
  if (isAddingNew_) return;
  isAddingNew_ = true;
  addForm_->setTexts(newOriginal_, newReplacement_);
  addForm_->setMessageShown(false);
  refreshChrome();
  fadeIn(addForm_, kListChangeMs);
}

void DictionarySettingsView::commitNewRule() {
  const QString original = trimBlanks(newOriginal_);
  const QString replacement = trimBlanks(newReplacement_);
  if (original.isEmpty() || replacement.isEmpty()) return;
  if (!DictionaryFile::canCarry(original, replacement)) {
    addForm_->setMessageShown(true);
    return;
  }
  list_.prepend(DictionaryEntry{QUuid::createUuid(), original, replacement}, kListChangeMs);
  save();
  newOriginal_.clear();
  newReplacement_.clear();
  addForm_->setTexts(QString(), QString());
  isAddingNew_ = false;
  refreshChrome();
}

void DictionarySettingsView::cancelNewRule() {
  newOriginal_.clear();
  newReplacement_.clear();
  addForm_->setTexts(QString(), QString());
  addForm_->setMessageShown(false);
  isAddingNew_ = false;
  refreshChrome();
}

void DictionarySettingsView::beginRuleEdit(const DictionaryEntry& rule) {
  editOriginal_ = rule.original;
  editReplacement_ = rule.replacement;
  const qsizetype index = list_.indexOf(rule.id);
  if (index < 0) return;
  editing_ = rule.id;
  openEditForm(index);
}

void DictionarySettingsView::commitRuleEdit(const DictionaryEntry& rule) {
  const QString original = trimBlanks(editOriginal_);
  const QString replacement = trimBlanks(editReplacement_);
  if (original.isEmpty() || replacement.isEmpty()) return;
  if (!DictionaryFile::canCarry(original, replacement)) {
    if (list_.editForm()) list_.editForm()->setMessageShown(true);
    return;
  }
  list_.change(rule.id, [&](DictionaryEntry& entry) {
    entry.original = original;
    entry.replacement = replacement;
  });
  editing_.reset();
  list_.closeEditForm(kInPlaceEditMs);
  save();
}

void DictionarySettingsView::cancelRuleEdit() {
  editing_.reset();
  list_.closeEditForm(kInPlaceEditMs);
}

void DictionarySettingsView::deleteRule(const DictionaryEntry& rule) {
  list_.removeAll(rule.id, kListChangeMs);
  // The edit form stands for its rule: with the rule gone it goes too.
  if (editing_ == rule.id) list_.closeEditForm(kListChangeMs);
  save();
  refreshChrome();
}

// Import and export

DictionaryImportFile DictionarySettingsView::pickDictionaryFile() {
  //% "Select a dictionary text file"
  //: Message of the open panel that picks a dictionary file to import.
  const QString message = qtTrId("settings.dictionary.import.message");
  const std::optional<QString> path = panels_.chooseFile({QStringLiteral("text/plain")}, message);
  if (!path) return {};
  const std::optional<QString> text = readDictionaryText(*path, kMaxImportBytes);
  if (!text) return {DictionaryImportFile::Outcome::unreadable, {}};
  return {DictionaryImportFile::Outcome::read, DictionaryFile::parse(*text)};
}

void DictionarySettingsView::importDictionary() {
  const DictionaryImportFile file = pickDictionaryFile();
  switch (file.outcome) {
    case DictionaryImportFile::Outcome::cancelled: return;
    case DictionaryImportFile::Outcome::unreadable:
      //% "Can't read this file"
      //: Alert title when a chosen dictionary file cannot be read.
      showAlert(qtTrId("settings.dictionary.import.unreadable.title"),
                //% "it must be a UTF-8 text file of at most 10 MB that you may open."
                //: Alert body when a chosen dictionary file cannot be read.
                qtTrId("settings.dictionary.import.unreadable.message"));
      return;
    case DictionaryImportFile::Outcome::read: break;
  }
  if (file.rules.isEmpty()) {
    //% "No rules found"
    //: Alert title when an imported file holds no rule.
    showAlert(qtTrId("settings.dictionary.import.empty.title"),
              //% "the file has no lines in the form original -> replacement."
              //: Alert body when an imported file holds no rule.
              qtTrId("settings.dictionary.import.empty.message"));
    return;
  }
  DictionaryFile::MergeResult result = DictionaryFile::merge(file.rules, list_.entries());
  if (result.overriddenCount <= 0) {
    applyImport(result.entries);
    return;
  }
  presentOverrideConfirmation(result);
}

void DictionarySettingsView::applyImport(const QList<DictionaryEntry>& entries) {
  list_.replaceAll(entries, kListChangeMs);
  // A rule being edited keeps its form (an import never drops a rule).
  if (editing_) {
    if (const qsizetype index = list_.indexOf(*editing_); index >= 0) openEditForm(index);
  }
  refreshChrome();
  save();
}

void DictionarySettingsView::exportDictionary(const QList<DictionaryEntry>& entries) {
  //% "Save dictionary"
  //: Title of the save panel that exports the dictionary.
  exportDictionaryFile(panels_, workspace_, QStringLiteral("murel-dictionary.txt"),
                       qtTrId("settings.dictionary.export.title"), QStringLiteral("dictionary"), entries);
}

void DictionarySettingsView::showAlert(const QString& title, const QString& message) {
  if (dialog_) dialog_->close();
  auto* box = new QMessageBox(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  box->setIcon(QMessageBox::Information);
  box->setWindowTitle(title);
  box->setText(title);
  box->setInformativeText(message);
  box->setStandardButtons(QMessageBox::Ok);
  dialog_ = box;
  box->open();
}

void DictionarySettingsView::presentOverrideConfirmation(const DictionaryFile::MergeResult& result) {
  if (dialog_) dialog_->close();
  pendingImport_ = result;
  //% "Override %1 existing rules?"
  //: Title of the confirmation before an import overrides rules; the number of rules it overrides.
  const QString title =
      qtTrId("settings.dictionary.import.override.title").arg(QLocale().toString(qlonglong(result.overriddenCount)));
  auto* box = new QMessageBox(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  box->setIcon(QMessageBox::Question);
  box->setWindowTitle(title);
  box->setText(title);
  //% "it has rules for words you already have. their replacements will be overridden."
  //: Body of the confirmation before an import overrides rules.
  box->setInformativeText(qtTrId("settings.dictionary.import.override.message"));
  //% "Import"
  //: Button that confirms an import overriding existing rules.
  QPushButton* apply = box->addButton(qtTrId("settings.dictionary.import.override.action"), QMessageBox::AcceptRole);
  //% "Cancel"
  //: Generic button that dismisses a confirmation dialog without acting.
  QPushButton* cancel = box->addButton(qtTrId("common.cancel"), QMessageBox::RejectRole);
  box->setDefaultButton(apply);
  box->setEscapeButton(cancel);
  connect(box, &QMessageBox::buttonClicked, this, [this, apply](QAbstractButton* button) {
    if (button != apply || !pendingImport_) return;
    // The merge as it was computed when the file was read.
    const QList<DictionaryEntry> merged = pendingImport_->entries;
    pendingImport_.reset();
    applyImport(merged);
  });
  // However the box goes away, nothing waits any longer.
  connect(box, &QDialog::finished, this, [this] { pendingImport_.reset(); });
  dialog_ = box;
  box->open();
}

}  // namespace murel
