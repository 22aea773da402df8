#include "settings/ModeEditorView.h"

#include "app/SettingsNavigator.h"
#include "design/Appearance.h"
#include "design/EditorialComponents.h"
#include "design/InputComponents.h"
#include "design/Motion.h"
#include "design/SettingsComponents.h"
#include "design/Symbols.h"
#include "design/Text.h"
#include "hotkeys/HotKeyService.h"
#include "settings/ModeHotkeyField.h"
#include "speech/LanguageModelFile.h"

#include <QAbstractTextDocumentLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMetaObject>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace murel {

namespace {

constexpr qreal kInstructionLineSpacing = 4;

QWidget* gap(int height, QWidget* parent) {
  auto* spacer = new QWidget(parent);
  spacer->setFixedHeight(height);
  return spacer;
}

QFont instructionsFont() { return notoSans(14, DSWeight::medium); }

}  // namespace

QString defaultModePillText() {
  //% "DEFAULT"
  //: Pill marking the default (active) mode.
  return qtTrId("settings.modes.default");
}

TransformChoice transformChoiceOf(const Transformation& transformation) {
  switch (transformation.kind()) {
    case Transformation::Kind::raw: return TransformChoice::raw;
    case Transformation::Kind::custom: return TransformChoice::custom;
    case Transformation::Kind::preset:
      return transformation.presetValue() == TransformPreset::email ? TransformChoice::email : TransformChoice::tidy;
  }
  return TransformChoice::raw;
}

Transformation transformationFor(TransformChoice choice, const QString& customText) {
  switch (choice) {
    case TransformChoice::raw: return Transformation::raw();
    case TransformChoice::tidy: return Transformation::preset(TransformPreset::tidy);
    case TransformChoice::email: return Transformation::preset(TransformPreset::email);
    case TransformChoice::custom: return Transformation::custom(customText);
  }
  return Transformation::raw();
}

QString trimmedModeName(const QString& name) {
  const auto horizontal = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
  qsizetype start = 0;
  qsizetype end = name.size();
  while (start < end && horizontal(name[start])) ++start;
  while (end > start && horizontal(name[end - 1])) --end;
  return name.mid(start, end - start);
}

// EditorBackButton

EditorBackButton::EditorBackButton(QWidget* parent)
    : QAbstractButton(parent),
      hover_(new Tween(
          0, [this](qreal) { update(); }, this)) {
  setFixedSize(20, 20);
  setCursor(Qt::ArrowCursor);
  setFocusPolicy(Qt::TabFocus);
  //% "Back"
  //: Accessibility label for the back chevron in the mode editor header.
  setAccessibleName(qtTrId("settings.modes.editor.backButton"));
}

void EditorBackButton::setHovering(bool hovering) {
  if (hovering == hovering_) return;
  hovering_ = hovering;
  hover_->animateTo(hovering ? 1 : 0, Motion::kHover);
}

void EditorBackButton::enterEvent(QEnterEvent*) { setHovering(true); }
void EditorBackButton::leaveEvent(QEvent*) { setHovering(false); }

void EditorBackButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (isDown()) painter.setOpacity(0.7);
  const QColor color = mixColors(dsColor(DSColor::inkSecondary, this), dsColor(DSColor::ink, this), hover_->value());
  const qreal side = Symbols::sideForPointSize(13);
  const QRectF box(QRectF(rect()).center() - QPointF(side / 2, side / 2), QSizeF(side, side));
  Symbols::paint(painter, box, QStringLiteral("chevron.left"), color);
}

// CustomInstructionsField

CustomInstructionsField::CustomInstructionsField(const QString& text, QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 12, 16, 12);
  layout->setSpacing(0);
  edit_ = new QTextEdit(this);
  edit_->setAcceptRichText(false);
  edit_->setFrameShape(QFrame::NoFrame);
  edit_->setFont(instructionsFont());
  edit_->document()->setDocumentMargin(0);
  edit_->setLineWrapMode(QTextEdit::WidgetWidth);
  // A word longer than the box breaks inside it rather than running past the edge.
  edit_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  edit_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  edit_->setTabChangesFocus(true);
  edit_->viewport()->setAutoFillBackground(false);
  edit_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  //% "describe how to transform the transcript…"
  //: Placeholder for the custom-instructions field.
  edit_->setPlaceholderText(qtTrId("settings.modes.editor.custom.placeholder"));
  edit_->setPlainText(text);
  layout->addWidget(edit_);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  applyLineSpacing();
  applyEditorPalette(edit_, this, DSColor::ink, DSColor::inkSecondary, 0.5);
  connect(edit_, &QTextEdit::textChanged, this, [this] {
    resizeToLines();
    Q_EMIT textChanged();
  });
  connect(edit_->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
          [this] { resizeToLines(); });
  resizeToLines();
}

QString CustomInstructionsField::text() const { return edit_->toPlainText(); }

void CustomInstructionsField::setText(const QString& text) {
  if (text == this->text()) return;
  edit_->setPlainText(text);
  applyLineSpacing();
}

void CustomInstructionsField::applyLineSpacing() {
  // New paragraphs inherit the format of the one they split from.
  QTextBlockFormat format;
  format.setLineHeight(kInstructionLineSpacing, QTextBlockFormat::LineDistanceHeight);
  QTextCursor cursor(edit_->document());
  cursor.select(QTextCursor::Document);
  const QSignalBlocker block(edit_);
  cursor.mergeBlockFormat(format);
}

qreal CustomInstructionsField::lineStep() const {
  return QFontMetricsF(instructionsFont()).lineSpacing() + kInstructionLineSpacing;
}

int CustomInstructionsField::visibleLineCount() const { return int(std::lround(edit_->height() / lineStep())); }

void CustomInstructionsField::resizeToLines() {
  int lines = 0;
  for (QTextBlock block = edit_->document()->begin(); block.isValid(); block = block.next()) {
    const QTextLayout* layout = block.layout();
    lines += layout && layout->lineCount() > 0 ? layout->lineCount() : 1;
  }
  const int shown = std::clamp(lines, kMinLines, kMaxLines);
  const int height = int(std::ceil(shown * lineStep()));
  if (edit_->height() != height) edit_->setFixedHeight(height);
}

bool CustomInstructionsField::event(QEvent* event) {
  if (event->type() == Appearance::changeEventType() || event->type() == QEvent::ParentChange ||
      event->type() == QEvent::Show)
    applyEditorPalette(edit_, this, DSColor::ink, DSColor::inkSecondary, 0.5);
  return QWidget::event(event);
}

void CustomInstructionsField::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(QPen(dsColor(DSColor::hairline, this), 1));
  painter.setBrush(dsColor(DSColor::surfaceRaised, this));
  painter.drawRoundedRect(box, 6, 6);
}

// ModeEditorView

ModeEditorView::ModeEditorView(Services services, std::optional<Mode> mode, QWidget* parent)
    : QWidget(parent),
      s_(services),
      mode_(std::move(mode)),
      modeId_(mode_ ? mode_->id : QUuid::createUuid()),
      choice_(mode_ ? transformChoiceOf(mode_->transformation) : TransformChoice::raw) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* page = new SettingsPageLayout(this);
  outer->addWidget(page);
  QWidget* column = page->column();
  column->installEventFilter(this);

  // Header: the back chevron beside the title.
  auto* header = new QWidget(column);
  auto* headerRow = new QHBoxLayout(header);
  headerRow->setContentsMargins(0, 0, 0, 0);
  headerRow->setSpacing(12);
  auto* backBox = new QWidget(header);
  auto* backLayout = new QVBoxLayout(backBox);
  // Level with the title, which keeps 20 px below itself.
  backLayout->setContentsMargins(0, 0, 0, 20);
  back_ = new EditorBackButton(backBox);
  backLayout->addWidget(back_);
  headerRow->addWidget(backBox, 0, Qt::AlignVCenter);
  //% "New mode"
  //: Editor title when creating a mode.
  const QString createTitle = qtTrId("settings.modes.editor.create.title");
  //% "Edit mode"
  //: Editor title when editing a mode.
  const QString editTitle = qtTrId("settings.modes.editor.edit.title");
  auto* compact = new SettingsCompactHeader(isCreating() ? createTitle : editTitle, header);
  title_ = compact->titleLabel();
  headerRow->addWidget(compact, 1, Qt::AlignVCenter);
  page->addContent(header);

  //% "NAME"
  //: Label for the mode name field.
  name_ = new DSTextField(qtTrId("settings.modes.editor.name.label"),
                          //% "e.g. Email"
                          //: Placeholder for the mode name field.
                          qtTrId("settings.modes.editor.name.placeholder"), mode_ ? mode_->name : QString(), column);
  page->addContent(name_);
  page->addContent(gap(24, column));

  const QList<DSDropdownOption> options{
      {int(TransformChoice::raw), transformationFor(TransformChoice::raw, {}).displayName()},
      {int(TransformChoice::tidy), transformationFor(TransformChoice::tidy, {}).displayName()},
      {int(TransformChoice::email), transformationFor(TransformChoice::email, {}).displayName()},
      {int(TransformChoice::custom), transformationFor(TransformChoice::custom, {}).displayName()},
  };
  //% "TRANSFORMATION"
  //: Label for the transformation dropdown.
  transform_ = new DSDropdown(qtTrId("settings.modes.editor.transform.label"), options, int(choice_), column);
  page->addContent(transform_);

  // Custom instructions, kept while another choice is shown.
  customSection_ = new QWidget(column);
  auto* customColumn = new QVBoxLayout(customSection_);
  customColumn->setContentsMargins(0, 16, 0, 0);
  customColumn->setSpacing(8);
  //% "CUSTOM INSTRUCTIONS"
  //: Label for the custom-instructions text area.
  auto* customLabel = new TextLabel(qtTrId("settings.modes.editor.custom.label"),
                                    TextStyle{tracked(notoSans(12), 1.5), 2, DSColor::inkSecondary}, customSection_);
  customColumn->addWidget(customLabel);
  const bool isCustom = mode_ && mode_->transformation.kind() == Transformation::Kind::custom;
  custom_ = new CustomInstructionsField(isCustom ? mode_->transformation.customText() : QString(), customSection_);
  customColumn->addWidget(custom_);
  page->addContent(customSection_);

  // The language-model notice.
  noticeSection_ = new QWidget(column);
  auto* noticeColumn = new QVBoxLayout(noticeSection_);
  noticeColumn->setContentsMargins(0, 20, 0, 0);
  noticeColumn->setSpacing(0);
  auto* noticeCard = new SettingsCard(noticeSection_);
  //% "Go to Models"
  //: Button in the model-required notice that opens the Models settings page.
  modelsButton_ = new EditorialPillButton(
      qtTrId("settings.modes.editor.gemma.modelsButton"), DSColor::accent, [this] { openModelsPage(); }, noticeCard);
  //% "Language model required"
  //: Label telling the user a non-raw mode needs the language model.
  noticeCard->addRow(
      new SettingsRow(qtTrId("settings.modes.editor.gemma.label"),
                      //% "this transformation runs a local model. download it from Models to save this mode."
                      //: Description under the language-model-required notice.
                      qtTrId("settings.modes.editor.gemma.description"), false, modelsButton_, noticeCard));
  notice_ = noticeCard;
  noticeColumn->addWidget(noticeCard);
  page->addContent(noticeSection_);
  page->addContent(gap(24, column));

  // The hotkey card keeps the 24 px below itself that its conflict text sits in.
  hotkeyField_ = new ModeHotkeyField(s_.hotKeys, mode_ ? mode_->hotkey : std::nullopt, modeId_, s_.clock, column);
  page->addContent(hotkeyField_);

  //% "DEFAULT"
  //: Card label above the set-as-default control.
  auto* defaultSection = new SettingsCardSection(qtTrId("settings.modes.editor.default.section"), column);
  QWidget* trailing = nullptr;
  const bool wasDefault = mode_ && mode_->isDefault;
  if (wasDefault) {
    // The editor never takes the default away from a mode.
    defaultPill_ = new EditorialStatusPill(defaultModePillText(), EditorialStatusPill::Leading::checkmark,
                                           DSColor::accent, defaultSection);
    trailing = defaultPill_;
  } else {
    defaultToggle_ = new EditorialToggleButton(false, defaultSection);
    trailing = defaultToggle_;
  }
  //% "Set as default mode"
  //: Label for the set-as-default toggle.
  defaultRow_ =
      new SettingsRow(qtTrId("settings.modes.editor.default.label"),
                      //% "the default mode runs when you use the main hotkey."
                      //: Description for the set-as-default toggle.
                      qtTrId("settings.modes.editor.default.description"), wasDefault, trailing, defaultSection);
  defaultSection->addRow(defaultRow_);
  page->addContent(defaultSection);
  page->addContent(gap(32, column));

  // Footer.
  auto* footer = new QWidget(column);
  auto* footerRow = new QHBoxLayout(footer);
  footerRow->setContentsMargins(0, 0, 0, 0);
  footerRow->setSpacing(16);
  //% "DELETE MODE"
  //: Button to delete the mode being edited.
  delete_ = new EditorialPillButton(
      qtTrId("settings.modes.editor.delete"), DSColor::danger, [this] { deleteMode(); }, footer);
  //% "CANCEL"
  //: Button to discard mode edits.
  cancel_ = new EditorialPillButton(
      qtTrId("settings.modes.editor.cancel"), DSColor::inkSecondary, [this] { closeEditor(); }, footer);
  //% "SAVE"
  //: Button to save the mode.
  save_ = new EditorialPillButton(
      qtTrId("settings.modes.editor.save"), DSColor::accent, [this] { save(); }, footer);
  save_->setLeading(EditorialStatusPill::Leading::checkmark);
  footerRow->addWidget(delete_, 0, Qt::AlignVCenter);
  footerRow->addStretch(1);
  footerRow->addWidget(cancel_, 0, Qt::AlignVCenter);
  footerRow->addWidget(save_, 0, Qt::AlignVCenter);
  page->addContent(footer);

  connect(back_, &QAbstractButton::clicked, this, &ModeEditorView::closeEditor);
  connect(name_->lineEdit(), &QLineEdit::textChanged, this, &ModeEditorView::refresh);
  connect(transform_, &DSDropdown::picked, this,
          [this](const QVariant& value) { chooseTransform(static_cast<TransformChoice>(value.toInt())); });
  if (defaultToggle_) {
    connect(defaultToggle_, &QAbstractButton::toggled, this, [this](bool on) { defaultRow_->setActive(on); });
  }
  connect(&s_.store, &ModeStore::modesChanged, this, &ModeEditorView::refresh);
  refresh();
}

ModeEditorView::~ModeEditorView() = default;

std::optional<KeyCombo> ModeEditorView::hotkey() const { return hotkeyField_->hotkey(); }

bool ModeEditorView::languageModelMissing() const {
  if (choice_ == TransformChoice::raw) return false;
  return !isGemmaModelInstalled();
}

bool ModeEditorView::canSave() const { return !trimmedModeName(name_->text()).isEmpty() && !languageModelMissing(); }

void ModeEditorView::chooseTransform(TransformChoice choice) {
  choice_ = choice;
  transform_->setSelection(int(choice));
  refresh();
}

bool ModeEditorView::storedDefaultFlag() const {
  for (const Mode& m : s_.store.modes()) {
    if (m.id == modeId_) return m.isDefault;
  }
  return false;
}

void ModeEditorView::save() {
  const QString name = trimmedModeName(name_->text());
  if (name.isEmpty()) return;
  // The flag is the store's at the time of saving unless the user switched
  // the toggle on: the default may have moved elsewhere while the editor was
  // open, and saving must neither take it back nor leave no mode flagged.
  const bool isDefault = (defaultToggle_ && defaultToggle_->isOn()) || storedDefaultFlag();
  const Mode mode{modeId_, name, transformationFor(choice_, custom_->text()), hotkeyField_->hotkey(), isDefault};
  if (isCreating()) {
    s_.store.add(mode);
  } else {
    s_.store.update(mode);
  }
  s_.hotKeys.reloadRegistrations();
  Q_EMIT closed();
}

void ModeEditorView::deleteMode() {
  s_.store.remove(modeId_);
  s_.hotKeys.reloadRegistrations();
  Q_EMIT closed();
}

void ModeEditorView::closeEditor() { Q_EMIT closed(); }

void ModeEditorView::openModelsPage() {
  // Leaves the page; the editor and what it holds go with it.
  s_.navigator.setSelectedTab(SettingsTab::models);
}

void ModeEditorView::refresh() {
  refreshQueued_ = false;
  const bool missing = languageModelMissing();
  shownMissing_ = missing;
  customSection_->setVisible(choice_ == TransformChoice::custom);
  noticeSection_->setVisible(missing);
  const bool saveable = !trimmedModeName(name_->text()).isEmpty() && !missing;
  save_->setEnabled(saveable);
  save_->setTint(saveable ? DSColor::accent : DSColor::inkSecondary);
  delete_->setVisible(!isCreating() && s_.store.modes().size() >= 2);
}

bool ModeEditorView::event(QEvent* event) {
  // Coming back to the window (after fetching the model elsewhere) looks again.
  if (event->type() == QEvent::Show || event->type() == QEvent::WindowActivate) refresh();
  return QWidget::event(event);
}

bool ModeEditorView::eventFilter(QObject* watched, QEvent* event) {
  // The model file is looked at whenever the editor is drawn: its page column
  // (opaque, it covers the editor, whose own paint never comes) is painted
  // under anything of it that is redrawn. A change seen here is shown one turn
  // later, never from inside the paint.
  if (event->type() == QEvent::Paint && !refreshQueued_ && languageModelMissing() != shownMissing_) {
    refreshQueued_ = true;
    QMetaObject::invokeMethod(this, &ModeEditorView::refresh, Qt::QueuedConnection);
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace murel
