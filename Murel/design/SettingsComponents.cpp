#include "design/SettingsComponents.h"

#include "design/Appearance.h"
#include "design/EditorialComponents.h"
#include "design/InputComponents.h"
#include "design/Motion.h"
#include "design/Preview.h"
#include "design/Symbols.h"
#include "design/Text.h"
#include "runtime/Clock.h"

#include <QAbstractTextDocumentLayout>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QVBoxLayout>

#include <chrono>
#include <cmath>

namespace murel {
namespace {

constexpr int kPageInset = 48;
constexpr int kEntranceShift = 8;

TextStyle titleStyle(DSColor color) { return TextStyle{dsFont(DSFont::subheading), 2, color}; }

QVBoxLayout* textColumn(QWidget* parent) {
  auto* column = new QVBoxLayout;
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(4);
  Q_UNUSED(parent);
  return column;
}

// A column of views that never squeezes them. A layout runs in its widget's
// rect as it stands, and when content grows the layouts of a page run from
// the inside out: the card's layout runs before the page has made the card
// taller, and squeezed its rows into the old height, texts and rules on top
// of each other, until the page caught up. Given less height than its views
// need at its width, this lays them out at their own heights all the same;
// the widget cuts off what lies past its edge until it has grown.
class UnsqueezedColumn final : public QVBoxLayout {
 public:
  using QVBoxLayout::QVBoxLayout;

  void setGeometry(const QRect& rect) override {
    QRect laid = rect;
    if (hasHeightForWidth()) laid.setHeight(std::max(rect.height(), heightForWidth(rect.width())));
    QVBoxLayout::setGeometry(laid);
  }
};

// The page's column paints the window's background under its content itself.
// Opaque, it scrolls by moving the pixels already drawn (copied within the X
// server) and paints only the strip that comes into view; with the window's
// background showing through, every scroll step repainted all the page showed
// and sent all of it to the X server again.
//
// The scroll area sizes the column to its height for the viewport's width, but
// never below its minimum size. Content minimums say nothing about the page:
// a row's minimum may assume a wrapped text at its tallest (a blank tail grew
// under a long list), and a word that does not fit would make the page wider
// than its window. So the column has no minimum width: it is exactly the
// viewport's width, and as tall as its content needs there.
class PageColumn final : public QWidget {
 public:
  PageColumn() { setAttribute(Qt::WA_OpaquePaintEvent); }

  QSize minimumSizeHint() const override {
    // Content of fixed heights has no height for a width: its minimum is its height.
    const QLayout* content = layout();
    if (!content || content->hasHeightForWidth()) return QSize(0, 0);
    return QSize(0, content->totalMinimumSize().height());
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter(this).fillRect(event->rect(), dsColor(DSColor::background, this));
  }
};

}  // namespace

// SettingsPageLayout

SettingsPageLayout::SettingsPageLayout(QWidget* parent) : QScrollArea(parent), appeared_(isRunningForPreviews()) {
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setWidgetResizable(true);
  viewport()->setAutoFillBackground(false);
  setAutoFillBackground(false);
  column_ = new PageColumn;
  auto* outer = new UnsqueezedColumn(column_);
  outer->setContentsMargins(kPageInset, 0, kPageInset, 40);
  outer->setSpacing(0);
  outer->addSpacing(32);
  content_ = new QVBoxLayout;
  content_->setContentsMargins(0, 0, 0, 0);
  content_->setSpacing(0);
  outer->addLayout(content_);
  outer->addSpacing(kBottomSpace - 40);
  outer->addStretch(1);
  setWidget(column_);
  // The page's background is the window's (the column paints it).
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::transparent);
  setPalette(palette);
  entrance_ = new Tween(
      appeared_ ? 1 : 0, [this](qreal p) { applyEntrance(p); }, this);
  applyEntrance(entrance_->value());
}

void SettingsPageLayout::addContent(QWidget* widget) { content_->addWidget(widget); }

qreal SettingsPageLayout::entranceProgress() const { return entrance_->value(); }

void SettingsPageLayout::showEvent(QShowEvent* event) {
  QScrollArea::showEvent(event);
  if (appeared_) return;
  appeared_ = true;
  entrance_->animateTo(1, Motion::kPageEntrance);
}

void SettingsPageLayout::applyEntrance(qreal progress) {
  // Sliding in from the right: the column starts 8 px further right.
  const int shift = int(std::lround(kEntranceShift * (1 - progress)));
  column_->layout()->setContentsMargins(kPageInset + shift, 0, kPageInset - shift, 40);
  Motion::setContentOpacity(this, progress);
}

// SettingsCompactHeader

SettingsCompactHeader::SettingsCompactHeader(const QString& title, QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 20);
  layout->setSpacing(0);
  title_ = new TextLabel(title, TextStyle{dsFont(DSFont::heading), 2, DSColor::ink}, this);
  layout->addWidget(title_);
}

// SettingsCardLabel

SettingsCardLabel::SettingsCardLabel(const QString& label, QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 0, 0, 8);
  layout->setSpacing(0);
  text_ = new TextLabel(label, TextStyle{tracked(dsFont(DSFont::micro), 1.5), 2, DSColor::accent}, this);
  layout->addWidget(text_);
}

// SettingsCard

namespace {

constexpr qreal kCardRadius = 10;

QPainterPath cardShape(const QRectF& frame) {
  QPainterPath path;
  path.addRoundedRect(frame, kCardRadius, kCardRadius);
  return path;
}

}  // namespace

// The card's outline, above the rows so that a row's own background never
// covers it; it takes no clicks.
class SettingsCard::Outline final : public QWidget {
 public:
  explicit Outline(QWidget* card) : QWidget(card) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(dsColor(DSColor::hairline, this), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCardRadius, kCardRadius);
  }
};

SettingsCard::SettingsCard(QWidget* parent) : QWidget(parent) {
  rows_ = new UnsqueezedColumn(this);
  rows_->setContentsMargins(0, 0, 0, 0);
  // The 1 px between two shown rows is where their rule goes; the layout
  // leaves it out next to hidden rows.
  rows_->setSpacing(1);
  outline_ = new Outline(this);
}

void SettingsCard::addRow(QWidget* row) { insertRow(rows_->count(), row); }

void SettingsCard::insertRow(int index, QWidget* row) {
  rows_->insertWidget(index, row);
  row->installEventFilter(this);
  outline_->raise();
  clipRow(row);
  update();
}

int SettingsCard::indexOf(QWidget* row) const { return rows_->indexOf(row); }

void SettingsCard::clipRow(QWidget* row) const {
  // Only a row that reaches into a corner needs a mask; the others keep none,
  // so their painting stays unclipped and cheap.
  const int radius = int(kCardRadius);
  const QRect corners = rect().adjusted(radius, radius, -radius, -radius);
  const QRect area = row->geometry();
  const bool inTop = area.top() < corners.top();
  const bool inBottom = area.bottom() > corners.bottom();
  if ((!inTop && !inBottom) || rect().isEmpty()) {
    if (!row->mask().isEmpty()) row->clearMask();
    return;
  }
  // The card's shape over the row, in the row's coordinates, turned into a
  // region only in the bands a radius deep where the corners are: a region
  // made from a polygon costs a scan line per pixel of its height, and a row
  // may be a group of hundreds of rows.
  const QRect own(QPoint(0, 0), area.size());
  const QRectF shape = QRectF(rect()).translated(-area.topLeft());
  QRegion region(own);
  const auto cutCorners = [&](const QRect& band) {
    QRectF part = shape;
    part.setTop(std::max(shape.top(), qreal(band.top() - radius)));
    part.setBottom(std::min(shape.bottom(), qreal(band.bottom() + 1 + radius)));
    const QRegion curved(cardShape(part).toFillPolygon().toPolygon(), Qt::WindingFill);
    region = region.subtracted(band).united(curved.intersected(band));
  };
  if (inTop) cutCorners(QRect(0, 0, area.width(), int(shape.top()) + radius).intersected(own));
  if (inBottom) {
    const int top = int(shape.bottom()) - radius;
    cutCorners(QRect(0, top, area.width(), area.height() - top).intersected(own));
  }
  row->setMask(region);
}

namespace {

// The hairlines between the shown rows of a card's (or a row group's) layout,
// inset 20 px at both sides.
QList<QRect> hairlinesBetweenRows(const QVBoxLayout& rows, int width) {
  QList<QRect> rules;
  QWidget* previous = nullptr;
  for (int i = 0; i < rows.count(); ++i) {
    QLayoutItem* item = rows.itemAt(i);
    QWidget* row = item->widget();
    if (!row || item->isEmpty()) continue;
    if (previous) rules.append(QRect(20, previous->geometry().bottom() + 1, std::max(0, width - 40), 1));
    previous = row;
  }
  return rules;
}

}  // namespace

void SettingsCard::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  outline_->setGeometry(rect());
  for (int i = 0; i < rows_->count(); ++i) {
    if (QWidget* row = rows_->itemAt(i)->widget()) clipRow(row);
  }
}

QList<QRect> SettingsCard::ruleRects() const { return hairlinesBetweenRows(*rows_, width()); }

bool SettingsCard::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
      if (auto* row = qobject_cast<QWidget*>(watched); row && row->parentWidget() == this) clipRow(row);
      update();
      break;
    case QEvent::Show:
    case QEvent::Hide: update(); break;
    default: break;
  }
  return false;
}

bool SettingsCard::event(QEvent* event) {
  if (event->type() == QEvent::LayoutRequest) update();
  return QWidget::event(event);
}

void SettingsCard::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF frame(rect());
  painter.setPen(Qt::NoPen);
  painter.setBrush(dsColor(DSColor::surface, this));
  painter.drawRoundedRect(frame, kCardRadius, kCardRadius);
  const QColor hairline = dsColor(DSColor::hairline, this);
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (const QRect& rule : ruleRects()) painter.fillRect(rule, hairline);
  // The outline is the Outline child's, painted above the rows.
}

// SettingsCardRowGroup

SettingsCardRowGroup::SettingsCardRowGroup(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_NoSystemBackground);
  rows_ = new UnsqueezedColumn(this);
  rows_->setContentsMargins(0, 0, 0, 0);
  rows_->setSpacing(1);
}

void SettingsCardRowGroup::addRow(QWidget* row) { insertRow(rows_->count(), row); }

void SettingsCardRowGroup::insertRow(int index, QWidget* row) {
  rows_->insertWidget(index, row);
  row->installEventFilter(this);
}

int SettingsCardRowGroup::indexOf(QWidget* row) const { return rows_->indexOf(row); }

bool SettingsCardRowGroup::hasShownRows() const {
  for (int i = 0; i < rows_->count(); ++i)
    if (QLayoutItem* item = rows_->itemAt(i); item->widget() && !item->isEmpty()) return true;
  return false;
}

QList<QRect> SettingsCardRowGroup::ruleRects() const { return hairlinesBetweenRows(*rows_, width()); }

bool SettingsCardRowGroup::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
      // Only the rules next to the row can have changed.
      if (auto* row = qobject_cast<QWidget*>(watched); row && row->parentWidget() == this) {
        update(QRect(0, row->y() - 1, width(), row->height() + 2));
        if (event->type() == QEvent::Move) {
          const QPoint old = static_cast<QMoveEvent*>(event)->oldPos();
          update(QRect(0, old.y() - 1, width(), row->height() + 2));
        } else if (event->type() == QEvent::Resize) {
          const QSize old = static_cast<QResizeEvent*>(event)->oldSize();
          update(QRect(0, row->y() - 1, width(), old.height() + 2));
        }
      }
      break;
    default: break;
  }
  return false;
}

void SettingsCardRowGroup::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QColor hairline = dsColor(DSColor::hairline, this);
  const QRect dirty = event->rect();
  for (const QRect& rule : ruleRects())
    if (rule.intersects(dirty)) painter.fillRect(rule, hairline);
}

// SettingsCardSection

SettingsCardSection::SettingsCardSection(const QString& label, QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(new SettingsCardLabel(label, this));
  card_ = new SettingsCard(this);
  layout->addWidget(card_);
}

void SettingsCardSection::addRow(QWidget* row) { card_->addRow(row); }

// SettingsRow

SettingsRow::SettingsRow(const QString& label, const std::optional<QString>& description, bool isActive,
                         QWidget* trailing, QWidget* parent)
    : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(20, 16, 20, 16);
  row->setSpacing(20);
  auto* column = textColumn(this);
  title_ = new TextLabel(label, titleStyle(isActive ? DSColor::accent : DSColor::ink), this);
  column->addWidget(title_);
  if (description) {
    description_ = new TextLabel(*description, TextStyle{dsFont(DSFont::bodyItalic), 4, DSColor::inkMuted}, this);
    column->addWidget(description_);
  }
  column->insertStretch(0, 1);
  column->addStretch(1);
  row->addLayout(column, 1);
  if (trailing) row->addWidget(trailing, 0, Qt::AlignVCenter);
}

void SettingsRow::setActive(bool active) { title_->setColor(active ? DSColor::accent : DSColor::ink); }

// SettingsChapterRow

SettingsChapterRow::SettingsChapterRow(int index, const QString& label, const std::optional<QString>& description,
                                       bool isActive, std::function<void()> onTap, QWidget* trailing, QWidget* parent)
    : QWidget(parent), onTap_(std::move(onTap)) {
  const bool top = description.has_value();
  const Qt::Alignment align = top ? Qt::AlignTop : Qt::AlignVCenter;
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 20, 0, 20);
  row->setSpacing(20);
  numeral_ = new EditorialChapterNumeral(index, isActive, top, this);
  row->addWidget(numeral_, 0, align);
  auto* column = textColumn(this);
  title_ = new TextLabel(label, titleStyle(isActive ? DSColor::accent : DSColor::ink), this);
  column->addWidget(title_);
  if (description)
    column->addWidget(new TextLabel(*description, TextStyle{dsFont(DSFont::body), 4, DSColor::inkSecondary}, this));
  // The text hugs the top beside a description, else sits on the row's centre line.
  if (!top) column->insertStretch(0, 1);
  column->addStretch(1);
  row->addLayout(column, 1);
  if (trailing) row->addWidget(trailing, 0, align);
}

void SettingsChapterRow::setActive(bool active) {
  title_->setColor(active ? DSColor::accent : DSColor::ink);
  numeral_->setActive(active);
}

void SettingsChapterRow::mousePressEvent(QMouseEvent* event) {
  if (!onTap_ || event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  pressed_ = true;
  event->accept();
}

void SettingsChapterRow::mouseReleaseEvent(QMouseEvent* event) {
  const bool wasPressed = pressed_;
  pressed_ = false;
  if (!onTap_ || !wasPressed || event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  event->accept();
  // Like a button: the click counts when released over the row.
  if (rect().contains(event->position().toPoint())) onTap_();
}

// SettingsEmptyRow

SettingsEmptyRow::SettingsEmptyRow(const QString& title, const QString& hint, QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(20, 20, 20, 20);
  row->setSpacing(20);
  auto* numeral = new EditorialChapterNumeral(0, false, true, this);
  numeral->setOpacity(0.5);
  row->addWidget(numeral, 0, Qt::AlignTop);
  auto* column = textColumn(this);
  column->addWidget(new TextLabel(title, titleStyle(DSColor::inkSecondary), this));
  column->addWidget(new TextLabel(hint, TextStyle{dsFont(DSFont::bodyItalic), 4, DSColor::inkMuted}, this));
  row->addLayout(column, 1);
}

// SettingsConfiguredValueRow

SettingsConfiguredValueRow::SettingsConfiguredValueRow(QWidget* leading, QWidget* trailing, QWidget* parent)
    : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 20, 0, 20);
  row->setSpacing(20);
  if (leading) row->addWidget(leading, 0, Qt::AlignVCenter);
  row->addStretch(1);
  if (trailing) row->addWidget(trailing, 0, Qt::AlignVCenter);
}

// SettingsActionButton

namespace {

// `a` turned into `b` by the fraction `t`, in premultiplied terms: drawn over
// anything, the result lies between what `a` and what `b` would give there
// (a translucent hairline turning into an opaque accent does not overshoot).
QColor blendColors(const QColor& a, const QColor& b, qreal t) {
  const qreal alpha = a.alphaF() * (1 - t) + b.alphaF() * t;
  if (alpha <= 0) return QColor(Qt::transparent);
  auto channel = [&](qreal x, qreal y) { return (x * a.alphaF() * (1 - t) + y * b.alphaF() * t) / alpha; };
  return QColor::fromRgbF(float(channel(a.redF(), b.redF())), float(channel(a.greenF(), b.greenF())),
                          float(channel(a.blueF(), b.blueF())), float(alpha));
}

}  // namespace

SettingsActionButton::SettingsActionButton(const QString& icon, std::optional<DSColor> accentColor, bool visible,
                                           const QString& accessibilityLabel, std::function<void()> action,
                                           QWidget* parent)
    : QAbstractButton(parent),
      icon_(icon),
      accent_(accentColor),
      visible_(!visible),
      hover_(new Tween(
          0, [this](qreal) { update(); }, this)),
      reveal_(new Tween(
          0, [this](qreal) { update(); }, this)),
      swap_(new Tween(
          1, [this](qreal) { update(); }, this)),
      action_(std::move(action)) {
  setFixedSize(28, 28);
  setAccessibleName(accessibilityLabel);
  connect(this, &QAbstractButton::clicked, this, [this] {
    if (visible_ && action_) action_();
  });
  setShown(visible);
}

void SettingsActionButton::setShown(bool visible, int fadeMs) {
  if (visible == visible_) return;
  visible_ = visible;
  reveal_->animateTo(visible ? 1 : 0, fadeMs);
  // Drawn invisible, it keeps its place but is out of reach: clicks fall
  // through to the row under it and Tab skips it.
  setAttribute(Qt::WA_TransparentForMouseEvents, !visible);
  setFocusPolicy(visible ? Qt::TabFocus : Qt::NoFocus);
  if (!visible) {
    setDown(false);
    if (hasFocus()) clearFocus();
  }
  update();
}

qreal SettingsActionButton::revealProgress() const { return reveal_->value(); }

void SettingsActionButton::setIcon(const QString& icon, std::optional<DSColor> accentColor, int fadeMs) {
  if (icon == icon_ && accentColor == accent_) return;
  previousIcon_ = icon_;
  previousAccent_ = accent_;
  icon_ = icon;
  accent_ = accentColor;
  swap_->jumpTo(0);
  swap_->animateTo(1, fadeMs);
  update();
}

bool SettingsActionButton::hitButton(const QPoint& pos) const {
  if (!visible_) return false;
  const QPointF d = QPointF(pos) - QRectF(rect()).center();
  return d.x() * d.x() + d.y() * d.y() <= 14.0 * 14.0;
}

void SettingsActionButton::setHovering(bool hovering) {
  // Invisible, it ignores the pointer and keeps its last hover state.
  if (!visible_ || hovering == isHovering_) return;
  isHovering_ = hovering;
  hover_->animateTo(hovering ? 1 : 0, Motion::kHover);
}

void SettingsActionButton::enterEvent(QEnterEvent*) { setHovering(true); }
void SettingsActionButton::leaveEvent(QEvent*) { setHovering(false); }

void SettingsActionButton::paintEvent(QPaintEvent*) {
  const qreal reveal = reveal_->value();
  if (reveal <= 0) return;
  const qreal swap = swap_->value();
  // During a swap the circle's colours pass from the previous accent to the
  // new one while the two icons cross-fade.
  auto mixed = [this, swap](std::optional<DSColor> before, std::optional<DSColor> now, DSColor fallback) {
    const QColor to = dsColor(now.value_or(fallback), this);
    return swap >= 1 ? to : blendColors(dsColor(before.value_or(fallback), this), to, swap);
  };
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setOpacity(reveal);
  const QRectF circle(0, 0, 28, 28);
  if (hover_->value() > 0) {
    QColor fill = mixed(previousAccent_, accent_, DSColor::ink);
    fill.setAlphaF(float(fill.alphaF() * 0.08 * hover_->value()));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(circle);
  }
  const qreal pressed = isDown() ? 0.7 : 1;
  const qreal side = Symbols::sideForPointSize(11);
  const QRectF iconBox(14 - side / 2, 14 - side / 2, side, side);
  if (swap < 1) {
    painter.setOpacity(reveal * pressed * (1 - swap));
    Symbols::paint(painter, iconBox, previousIcon_, dsColor(previousAccent_.value_or(DSColor::inkSecondary), this));
  }
  painter.setOpacity(reveal * pressed * swap);
  Symbols::paint(painter, iconBox, icon_, dsColor(accent_.value_or(DSColor::inkSecondary), this));
  painter.setOpacity(reveal);
  painter.setPen(QPen(mixed(previousAccent_, accent_, DSColor::hairline), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(circle.adjusted(0.5, 0.5, -0.5, -0.5));
}

// SettingsInlineFormButtons

SettingsInlineFormButtons::SettingsInlineFormButtons(std::function<void()> onConfirm, std::function<void()> onCancel,
                                                     QWidget* parent)
    : QWidget(parent) {
  setFixedWidth(80);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(8);
  row->addStretch(1);
  //% "Save"
  //: Accessibility label for the icon-only confirm button on an inline form.
  confirm_ = new SettingsActionButton(QStringLiteral("checkmark"), DSColor::success, true,
                                      qtTrId("settings.action.save"), std::move(onConfirm), this);
  //% "Cancel"
  //: Accessibility label for the icon-only cancel button on an inline form.
  cancel_ = new SettingsActionButton(QStringLiteral("xmark"), DSColor::danger, true, qtTrId("settings.action.cancel"),
                                     std::move(onCancel), this);
  row->addWidget(confirm_, 0, Qt::AlignVCenter);
  row->addWidget(cancel_, 0, Qt::AlignVCenter);
}

// SettingsInlineField

namespace {
QFont inlineTextFont() { return dsFont(DSFont::subheading); }
QFont inlinePlaceholderFont() { return dsFont(DSFont::bodyItalic); }
constexpr int kMinLines = 3;
constexpr int kMaxLines = 10;
}  // namespace

SettingsInlineField::SettingsInlineField(const QString& placeholder, const QString& text, bool isMultiline,
                                         bool autofocus, Clock& clock, QWidget* parent)
    : QWidget(parent),
      placeholder_(placeholder),
      multiline_(isMultiline),
      autofocus_(autofocus),
      clock_(clock),
      focus_(new Tween(
          0, [this](qreal) { update(); }, this)) {
  auto* layout = new QVBoxLayout(this);
  const int vertical = multiline_ ? 8 : 4;
  layout->setSpacing(0);
  QWidget* editor = nullptr;
  if (multiline_) {
    lines_ = new QPlainTextEdit(this);
    lines_->setFrameShape(QFrame::NoFrame);
    lines_->setPlainText(text);
    lines_->document()->setDocumentMargin(0);
    lines_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A word longer than the field breaks inside it rather than running past the edge.
    lines_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    lines_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    lines_->setTabChangesFocus(true);
    lines_->viewport()->setAutoFillBackground(false);
    lines_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(lines_, &QPlainTextEdit::textChanged, this, [this] {
      resizeToLines();
      update();
      emit textEdited(lines_->toPlainText());
    });
    editor = lines_;
    layout->setContentsMargins(8, vertical, 8, vertical);
  } else {
    line_ = new QLineEdit(text, this);
    line_->setFrame(false);
    line_->setTextMargins(0, 0, 0, 0);
    connect(line_, &QLineEdit::textEdited, this, [this](const QString& value) {
      update();
      emit textEdited(value);
    });
    connect(line_, &QLineEdit::textChanged, this, [this] { update(); });
    editor = line_;
    // A frameless QLineEdit keeps 2 px of its own on each side.
    layout->setContentsMargins(6, vertical, 6, vertical);
  }
  editor->setFont(inlineTextFont());
  editor->installEventFilter(this);
  layout->addWidget(editor);
  setFocusProxy(editor);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  applyPalette();
  if (multiline_) resizeToLines();
}

SettingsInlineField::~SettingsInlineField() { cancelAutofocus(); }

QWidget* SettingsInlineField::editor() const {
  return multiline_ ? static_cast<QWidget*>(lines_) : static_cast<QWidget*>(line_);
}

QString SettingsInlineField::text() const { return multiline_ ? lines_->toPlainText() : line_->text(); }

void SettingsInlineField::setText(const QString& text) {
  if (text == this->text()) return;
  if (multiline_) {
    const QSignalBlocker block(lines_);
    lines_->setPlainText(text);
    resizeToLines();
  } else {
    line_->setText(text);
  }
  update();
}

bool SettingsInlineField::isFocused() const { return editor()->hasFocus(); }

qreal SettingsInlineField::underlineThickness() const { return 1 + focus_->value(); }

int SettingsInlineField::visibleLineCount() const {
  if (!multiline_) return 1;
  const qreal lineHeight = QFontMetricsF(inlineTextFont()).lineSpacing();
  return int(std::lround(lines_->height() / lineHeight));
}

void SettingsInlineField::resizeToLines() {
  if (!multiline_) return;
  // The plain-text layout measures the document in lines, wrapped ones included.
  const int count = int(std::ceil(lines_->document()->documentLayout()->documentSize().height()));
  const int shown = std::clamp(count, kMinLines, kMaxLines);
  const qreal lineHeight = QFontMetricsF(inlineTextFont()).lineSpacing();
  lines_->setFixedHeight(int(std::ceil(shown * lineHeight)));
}

void SettingsInlineField::applyPalette() { applyEditorPalette(editor(), this, DSColor::ink, DSColor::inkMuted, 1.0); }

bool SettingsInlineField::event(QEvent* event) {
  if (event->type() == Appearance::changeEventType() || event->type() == QEvent::ParentChange ||
      event->type() == QEvent::Show)
    applyPalette();
  if (event->type() == QEvent::Resize && multiline_) resizeToLines();
  return QWidget::event(event);
}

bool SettingsInlineField::eventFilter(QObject*, QEvent* event) {
  if (event->type() == QEvent::FocusIn)
    focus_->animateTo(1, Motion::kHover);
  else if (event->type() == QEvent::FocusOut)
    focus_->animateTo(0, Motion::kHover);
  return false;
}

void SettingsInlineField::showEvent(QShowEvent* event) {
  // Only coming on screen counts, not the window being restored.
  if (!autofocus_ || event->spontaneous()) return;
  cancelAutofocus();
  autofocusTimer_ = clock_.schedule(std::chrono::milliseconds(50), [this] {
    autofocusTimer_ = 0;
    editor()->setFocus(Qt::OtherFocusReason);
  });
}

void SettingsInlineField::hideEvent(QHideEvent*) { cancelAutofocus(); }

void SettingsInlineField::cancelAutofocus() {
  if (autofocusTimer_ == 0) return;
  clock_.cancel(autofocusTimer_);
  autofocusTimer_ = 0;
}

void SettingsInlineField::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (text().isEmpty()) {
    // The prompt, in its own italic face, where the typed text will start.
    const QRect area = editor()->geometry();
    const QFontMetricsF metrics(inlinePlaceholderFont());
    const qreal x = area.left() + (multiline_ ? 0 : 2);
    const qreal y = multiline_ ? area.top() + (QFontMetricsF(inlineTextFont()).height() - metrics.height()) / 2
                               : area.center().y() - metrics.height() / 2 + 0.5;
    TextMetrics::draw(painter, QRectF(x, y, area.width(), metrics.height()), placeholder_, inlinePlaceholderFont(), 4,
                      dsColor(DSColor::inkMuted, this), Qt::AlignLeft, false);
  }
  const qreal thickness = underlineThickness();
  const QColor lineColor = mixColors(dsColor(DSColor::hairline, this), dsColor(DSColor::accent, this), focus_->value());
  painter.fillRect(QRectF(0, height() - thickness, width(), thickness), lineColor);
}

}  // namespace murel
