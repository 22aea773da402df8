#include "settings/EditableList.h"

#include "design/EditorialComponents.h"
#include "design/Motion.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "design/Tokens.h"

#include <QEnterEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace murel {

namespace {
constexpr int kInset = 20;
constexpr int kSpacing = 20;
constexpr int kButtonsWidth = 80;
constexpr int kButtonSize = 28;
}  // namespace

EditableListRow::EditableListRow(const QUuid& id, Alignment alignment, int verticalPadding, bool hoverTakesInsets,
                                 QWidget* parent)
    : QWidget(parent),
      id_(id),
      alignment_(alignment),
      verticalPadding_(verticalPadding),
      hoverTakesInsets_(hoverTakesInsets) {
  // Its height comes from its width alone. Fixed, it could never be taller
  // than its hint, measured at the hint's width: a rule that wraps at the
  // card's width was cut to the height of one that does not.
  QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
  setMouseTracking(true);
}

int EditableListRow::textWidthFor(int width) const {
  return std::max(40, width - 2 * kInset - kSpacing - kButtonsWidth);
}

QRect EditableListRow::textRect() const {
  const int textWidth = textWidthFor(width());
  const int textHeight = contentHeight(textWidth);
  const int inner = height() - 2 * verticalPadding_;
  const int top =
      alignment_ == Alignment::centre ? verticalPadding_ + std::max(0, (inner - textHeight) / 2) : verticalPadding_;
  return QRect(kInset, top, textWidth, textHeight);
}

int EditableListRow::heightForWidth(int width) const {
  for (const CachedHeight& cached : cachedHeights_)
    if (cached.width == width) return cached.height;
  CachedHeight& slot = cachedHeights_[nextCachedHeight_];
  nextCachedHeight_ = (nextCachedHeight_ + 1) % cachedHeights_.size();
  slot = {width, 2 * verticalPadding_ + std::max(kButtonSize, contentHeight(textWidthFor(width)))};
  return slot.height;
}

QSize EditableListRow::sizeHint() const {
  // It takes the card's width anyway; this is only where layout starts.
  constexpr int kPreferredWidth = 560;
  return QSize(kPreferredWidth, heightForWidth(kPreferredWidth));
}

QSize EditableListRow::minimumSizeHint() const {
  return QSize(2 * kInset + kSpacing + kButtonsWidth + 40, 2 * verticalPadding_ + kButtonSize);
}

void EditableListRow::contentChanged() {
  cachedHeights_.fill(CachedHeight{});
  updateGeometry();
  update();
}

void EditableListRow::setHovered(bool hovered) {
  if (hovered == hovered_) return;
  hovered_ = hovered;
  if (hovered) ensureButtons();
  if (edit_) edit_->setShown(hovered, Motion::kHover);
  if (delete_) delete_->setShown(hovered, Motion::kHover);
}

SettingsActionButton* EditableListRow::editButton() {
  ensureButtons();
  return edit_;
}

SettingsActionButton* EditableListRow::deleteButton() {
  ensureButtons();
  return delete_;
}

void EditableListRow::ensureButtons() {
  if (buttons_) return;
  buttons_ = new QWidget(this);
  auto* row = new QHBoxLayout(buttons_);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(8);
  row->addStretch(1);
  //% "Edit"
  //: Accessibility label for the icon-only edit button on a list entry.
  edit_ = new SettingsActionButton(
      QStringLiteral("pencil"), std::nullopt, false, qtTrId("settings.action.edit"), [this] { Q_EMIT editRequested(); },
      buttons_);
  //% "Delete"
  //: Accessibility label for the icon-only delete button on a list entry.
  delete_ = new SettingsActionButton(
      QStringLiteral("trash"), DSColor::danger, false, qtTrId("settings.action.delete"),
      [this] { Q_EMIT deleteRequested(); }, buttons_);
  row->addWidget(edit_, 0, Qt::AlignVCenter);
  row->addWidget(delete_, 0, Qt::AlignVCenter);
  placeButtons();
  buttons_->show();
}

void EditableListRow::placeButtons() {
  if (!buttons_) return;
  const int inner = height() - 2 * verticalPadding_;
  const int top =
      alignment_ == Alignment::centre ? verticalPadding_ + std::max(0, (inner - kButtonSize) / 2) : verticalPadding_;
  buttons_->setGeometry(width() - kInset - kButtonsWidth, top, kButtonsWidth, kButtonSize);
}

void EditableListRow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeButtons();
}

QRect EditableListRow::hoverArea() const { return hoverTakesInsets_ ? rect() : rect().adjusted(kInset, 0, -kInset, 0); }

void EditableListRow::pointerAt(QPoint pos) {
  const bool inside = hoverArea().contains(pos);
  if (inside == pointerInside_) return;
  pointerInside_ = inside;
  Q_EMIT hoverChanged(inside);
}

void EditableListRow::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  pointerAt(event->position().toPoint());
}

void EditableListRow::mouseMoveEvent(QMouseEvent* event) {
  QWidget::mouseMoveEvent(event);
  pointerAt(event->position().toPoint());
}

void EditableListRow::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  if (!pointerInside_) return;
  pointerInside_ = false;
  Q_EMIT hoverChanged(false);
}

void EditableListRow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  paintContent(painter, textRect());
}

void fadeIn(QWidget* widget, int durationMs) {
  Motion::setContentOpacity(widget, 0);
  auto* animation = new QVariantAnimation(widget);
  animation->setStartValue(0.0);
  animation->setEndValue(1.0);
  animation->setDuration(durationMs);
  animation->setEasingCurve(Motion::easeOut());
  // At 1 the effect goes away, so the rest of the time the view draws directly.
  QObject::connect(animation, &QVariantAnimation::valueChanged, widget,
                   [widget](const QVariant& value) { Motion::setContentOpacity(widget, value.toReal()); });
  animation->start(QAbstractAnimation::DeleteWhenStopped);
}

// EditableListForm

EditableListForm::EditableListForm(int columnSpacing, QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(kInset, 20, kInset, 20);
  row->setSpacing(kSpacing);
  column_ = new QVBoxLayout;
  column_->setContentsMargins(0, 0, 0, 0);
  column_->setSpacing(columnSpacing);
  row->addLayout(column_, 1);
}

TextLabel* EditableListForm::makeMessage(const QString& text) {
  message_ = new TextLabel(text, TextStyle{notoSansItalic(14), 4, DSColor::danger}, this);
  message_->hide();
  return message_;
}

void EditableListForm::finish(SettingsInlineField* first, SettingsInlineField* second, Qt::Alignment buttonsAlignment) {
  first_ = first;
  second_ = second;
  buttons_ = new SettingsInlineFormButtons([this] { Q_EMIT confirmed(); }, [this] { Q_EMIT cancelled(); }, this);
  static_cast<QHBoxLayout*>(layout())->addWidget(buttons_, 0, buttonsAlignment);
  connect(first_, &SettingsInlineField::textEdited, this, &EditableListForm::firstEdited);
  connect(second_, &SettingsInlineField::textEdited, this, &EditableListForm::secondEdited);
}

void EditableListForm::setTexts(const QString& first, const QString& second) {
  first_->setText(first);
  second_->setText(second);
}

void EditableListForm::setMessageShown(bool shown) { message_->setVisible(shown); }

bool EditableListForm::isMessageShown() const { return !message_->isHidden(); }

// The page around the list

SettingsCard* buildListPage(QWidget* view, const QString& title, const QString& cardLabel,
                            const QList<QWidget*>& toolbar, const QString& description) {
  auto* outer = new QVBoxLayout(view);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* page = new SettingsPageLayout(view);
  outer->addWidget(page);
  page->addContent(new SettingsCompactHeader(title));

  auto* header = new QWidget;
  auto* headerRow = new QHBoxLayout(header);
  headerRow->setContentsMargins(0, 0, 0, 8);
  headerRow->setSpacing(8);
  auto* label = new SettingsCardLabel(cardLabel);
  // The label's own space below would push it off the pills' centre line.
  label->layout()->setContentsMargins(4, 0, 0, 0);
  headerRow->addWidget(label, 0, Qt::AlignVCenter);
  headerRow->addStretch(1);
  for (QWidget* pill : toolbar) headerRow->addWidget(pill, 0, Qt::AlignVCenter);
  page->addContent(header);

  auto* about = new QWidget;
  auto* aboutLayout = new QVBoxLayout(about);
  aboutLayout->setContentsMargins(4, 0, 0, 16);
  aboutLayout->addWidget(new TextLabel(description, TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, about));
  page->addContent(about);

  auto* card = new SettingsCard;
  page->addContent(card);
  return card;
}

void showAddState(EditorialPillButton* add, QWidget* addForm, QWidget* emptyRow, bool isAddingNew, bool isEmpty) {
  add->setEnabled(!isAddingNew);
  add->setTint(isAddingNew ? DSColor::inkSecondary : DSColor::accent);
  addForm->setVisible(isAddingNew);
  emptyRow->setVisible(isEmpty && !isAddingNew);
}

}  // namespace murel
