#include "design/InputComponents.h"

#include "design/Appearance.h"
#include "design/Motion.h"
#include "design/Symbols.h"
#include "design/Text.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <cmath>

namespace murel {
namespace {

TextStyle captionStyle() { return TextStyle{tracked(dsFont(DSFont::caption), 1.5), 2, DSColor::inkSecondary}; }

// Shared by the closed dropdown and the text field's box, so the two line up.
constexpr int kBoxPadH = 16;
constexpr int kBoxPadV = 12;
constexpr qreal kBoxRadius = 6;
constexpr int kControlSpacing = 8;
constexpr qreal kChevronSide = 11;

constexpr int kRowPadH = 16;
constexpr int kRowPadV = 12;
constexpr int kMarkWidth = 18;
constexpr qreal kListRadius = 10;
// Room around the list for its shadow (black 20 %, blur 16, 6 down).
constexpr int kShadowSide = 16;
constexpr int kShadowTop = 10;
constexpr int kShadowBottom = 22;

void paintBox(QPainter& painter, const QWidget* widget, const QRectF& rect, qreal focus) {
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal borderWidth = 1 + focus;
  painter.setPen(Qt::NoPen);
  painter.setBrush(dsColor(DSColor::surfaceRaised, widget));
  painter.drawRoundedRect(rect, kBoxRadius, kBoxRadius);
  const QRectF stroke = rect.adjusted(borderWidth / 2, borderWidth / 2, -borderWidth / 2, -borderWidth / 2);
  painter.setPen(
      QPen(mixColors(dsColor(DSColor::hairline, widget), dsColor(DSColor::accent, widget), focus), borderWidth));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(stroke, kBoxRadius, kBoxRadius);
}

}  // namespace

namespace CapsuleMenuFace {
namespace {

QFont faceFont() { return tracked(notoSans(12), 1.5); }
constexpr qreal kChevron = 10;
constexpr qreal kLineSpacing = 2;

QPainterPath capsule(const QRectF& rect) {
  QPainterPath path;
  path.addRoundedRect(rect, rect.height() / 2, rect.height() / 2);
  return path;
}

}  // namespace

QSize sizeHint(const QString& label) {
  const QSizeF text = TextMetrics::size(label, faceFont(), kLineSpacing);
  const qreal chevron = Symbols::sideForPointSize(kChevron);
  const qreal width = 12 + (text.width() > 0 ? text.width() + 8 : 0) + chevron + 12;
  const qreal line = TextMetrics::size(QStringLiteral("M"), faceFont(), kLineSpacing).height();
  const qreal height = 4 + std::max(text.height(), line) + 4;
  return QSize(int(std::ceil(width)), int(std::ceil(height)));
}

bool contains(const QRect& rect, const QPoint& pos) { return capsule(QRectF(rect)).contains(QPointF(pos)); }

void paint(QWidget& widget, const QString& label, bool pressed) {
  QPainter painter(&widget);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  if (pressed) painter.setOpacity(0.7);
  const qreal height = widget.height();
  qreal x = 12;
  if (!label.isEmpty()) {
    const QSizeF size = TextMetrics::size(label, faceFont(), kLineSpacing);
    TextMetrics::draw(painter, QRectF(x, (height - size.height()) / 2, size.width(), size.height()), label, faceFont(),
                      kLineSpacing, dsColor(DSColor::ink, &widget), Qt::AlignLeft, false);
    x += size.width() + 8;
  }
  const qreal side = Symbols::sideForPointSize(kChevron);
  Symbols::paint(painter, QRectF(x, (height - side) / 2, side, side), QStringLiteral("chevron.down"),
                 dsColor(DSColor::inkSecondary, &widget));
  painter.setPen(QPen(dsColor(DSColor::hairline, &widget), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(capsule(QRectF(widget.rect()).adjusted(0.5, 0.5, -0.5, -0.5)));
}

}  // namespace CapsuleMenuFace

void applyEditorPalette(QWidget* editor, const QWidget* reference, DSColor text, DSColor placeholder,
                        qreal placeholderOpacity) {
  QPalette palette = editor->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::Base, Qt::transparent);
    palette.setColor(group, QPalette::Window, Qt::transparent);
    palette.setColor(group, QPalette::Text, dsColor(text, reference));
    palette.setColor(group, QPalette::PlaceholderText, dsColor(placeholder, reference, placeholderOpacity));
    palette.setColor(group, QPalette::Highlight, dsColor(DSColor::accent, reference));
    palette.setColor(group, QPalette::HighlightedText, dsColor(DSColor::onAccent, reference));
  }
  editor->setPalette(palette);
}

// The closed control: the current choice and a chevron in a rounded box.
class DropdownControl : public QAbstractButton {
 public:
  explicit DropdownControl(DSDropdown* owner) : QAbstractButton(owner), owner_(owner) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QAbstractButton::clicked, owner, [owner] { owner->toggleExpanded(); });
  }

  static QFont textFont() { return dsFont(DSFont::label); }

  QSize sizeHint() const override {
    const QSizeF text = TextMetrics::size(owner_->selectedLabel(), textFont(), 4);
    const qreal lineHeight = std::max(QFontMetricsF(textFont()).height(), kChevronSide);
    return QSize(int(std::ceil(kBoxPadH + text.width() + kControlSpacing + kChevronSide + kBoxPadH)),
                 kBoxPadV + int(std::ceil(lineHeight)) + kBoxPadV);
  }
  QSize minimumSizeHint() const override { return QSize(kBoxPadH * 2 + int(kChevronSide), sizeHint().height()); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const qreal t = owner_->openness();
    paintBox(painter, this, QRectF(rect()), t);
    const QRectF content = QRectF(rect()).adjusted(kBoxPadH, kBoxPadV, -kBoxPadH, -kBoxPadV);
    const QRectF chevron(content.right() - kChevronSide, content.center().y() - kChevronSide / 2, kChevronSide,
                         kChevronSide);
    const QFontMetricsF metrics(textFont());
    const QRectF textBox(content.left(), content.center().y() - metrics.height() / 2,
                         chevron.left() - kControlSpacing - content.left(), metrics.height());
    painter.save();
    painter.setClipRect(textBox);
    TextMetrics::draw(painter, textBox, owner_->selectedLabel(), textFont(), 4, dsColor(DSColor::ink, this),
                      Qt::AlignLeft, false);
    painter.restore();
    painter.save();
    painter.translate(chevron.center());
    painter.rotate(180 * t);
    Symbols::paint(painter, QRectF(-kChevronSide / 2, -kChevronSide / 2, kChevronSide, kChevronSide),
                   QStringLiteral("chevron.down"), dsColor(DSColor::inkSecondary, this));
    painter.restore();
  }

  void resizeEvent(QResizeEvent*) override { owner_->placeList(); }

 private:
  DSDropdown* owner_;
};

// The open list's soft shadow, a sibling under the list that lets every
// click through to what lies beneath it.
class DropdownShadow : public QWidget {
 public:
  DropdownShadow(DSDropdown* owner, QWidget* window) : QWidget(window), owner_(owner) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(owner_->openness());
    painter.setPen(Qt::NoPen);
    // Stacked translucent outlines approximate a blur of 16 px, 6 px down.
    const QRectF list = QRectF(rect()).adjusted(kShadowSide, kShadowTop, -kShadowSide, -kShadowBottom);
    constexpr int kLayers = 8;
    for (int i = kLayers; i >= 1; --i) {
      const qreal grow = i * 2.0;
      painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.2f / kLayers));
      painter.drawRoundedRect(list.translated(0, 6).adjusted(-grow, -grow, grow, grow), kListRadius + grow,
                              kListRadius + grow);
    }
  }

 private:
  DSDropdown* owner_;
};

// The open list: one row per option, hairlines between rows, floating in the
// window under the control.
class DropdownList : public QWidget {
 public:
  DropdownList(DSDropdown* owner, QWidget* window)
      : QWidget(window), owner_(owner), shadow_(new DropdownShadow(owner, window)) {
    setAttribute(Qt::WA_NoSystemBackground);
  }
  ~DropdownList() override { delete shadow_; }

  // Over everything else in the window, its shadow just under it.
  void bringToFront() {
    raise();
    syncShadow();
  }

  void refresh() {
    update();
    shadow_->update();
  }

  static QFont rowFont() { return dsFont(DSFont::body); }
  static qreal rowHeight() { return kRowPadV + std::max(QFontMetricsF(rowFont()).height(), kChevronSide) + kRowPadV; }
  static qreal listHeight(int count) { return count <= 0 ? 0 : count * rowHeight() + (count - 1); }

  QRectF listRect() const { return QRectF(0, 0, width(), listHeight(int(owner_->options_.size()))); }

  int rowAt(const QPointF& pos) const {
    const QRectF list = listRect();
    if (!list.contains(pos)) return -1;
    const int row = int((pos.y() - list.top()) / (rowHeight() + 1));
    return row < owner_->options_.size() ? row : -1;
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(owner_->openness());
    const QRectF list = listRect();
    painter.setPen(Qt::NoPen);
    painter.setBrush(dsColor(DSColor::surface, this));
    painter.drawRoundedRect(list, kListRadius, kListRadius);

    const qreal rowH = rowHeight();
    const QList<DSDropdownOption>& options = owner_->options_;
    for (int i = 0; i < options.size(); ++i) {
      const QRectF row(list.left(), list.top() + i * (rowH + 1), list.width(), rowH);
      const bool selected = options[i].value == owner_->selection_;
      if (selected) painter.fillRect(row, dsColor(DSColor::accent, this, 0.08));
      const QRectF content = row.adjusted(kRowPadH, kRowPadV, -kRowPadH, -kRowPadV);
      if (selected) {
        const QRectF mark(content.left() + (kMarkWidth - kChevronSide) / 2, content.center().y() - kChevronSide / 2,
                          kChevronSide, kChevronSide);
        Symbols::paint(painter, mark, QStringLiteral("checkmark"), dsColor(DSColor::accent, this));
      }
      const QFontMetricsF metrics(rowFont());
      const QRectF text(content.left() + kMarkWidth + kControlSpacing, content.center().y() - metrics.height() / 2,
                        content.right() - content.left() - kMarkWidth - kControlSpacing, metrics.height());
      painter.save();
      painter.setClipRect(text);
      TextMetrics::draw(painter, text, options[i].label, rowFont(), 4,
                        dsColor(selected ? DSColor::accent : DSColor::ink, this), Qt::AlignLeft, false);
      painter.restore();
      if (i < options.size() - 1)
        painter.fillRect(QRectF(row.left(), row.bottom(), row.width(), 1), dsColor(DSColor::hairline, this));
    }
    const qreal stroke = 1;
    painter.setPen(QPen(dsColor(DSColor::hairline, this), stroke));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(list.adjusted(0.5, 0.5, -0.5, -0.5), kListRadius, kListRadius);
  }

  void showEvent(QShowEvent*) override { syncShadow(); }
  void hideEvent(QHideEvent*) override { shadow_->hide(); }
  void moveEvent(QMoveEvent*) override { syncShadow(); }
  void resizeEvent(QResizeEvent*) override { syncShadow(); }

  void mousePressEvent(QMouseEvent* event) override {
    pressedRow_ = event->button() == Qt::LeftButton ? rowAt(event->position()) : -1;
    event->accept();
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    const int row = rowAt(event->position());
    if (event->button() == Qt::LeftButton && row >= 0 && row == pressedRow_ && owner_->isExpanded())
      owner_->selectOption(row);
    pressedRow_ = -1;
    event->accept();
  }

 private:
  void syncShadow() {
    DropdownShadow* shadow = shadow_;
    if (shadow->parentWidget() != parentWidget()) shadow->setParent(parentWidget());
    shadow->setGeometry(geometry().adjusted(-kShadowSide, -kShadowTop, kShadowSide, kShadowBottom));
    shadow->setVisible(isVisible());
    shadow->stackUnder(this);
  }

  DSDropdown* owner_;
  DropdownShadow* shadow_;  // a sibling in the window; goes with the list
  int pressedRow_ = -1;
};

// While a list is open: closes it on a mouse press outside the control and
// list, and keeps the list under the control when anything above it moves.
class DropdownClickMonitor : public QObject {
 public:
  explicit DropdownClickMonitor(DSDropdown* owner) : QObject(owner), owner_(owner) { qApp->installEventFilter(this); }
  ~DropdownClickMonitor() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton) break;
        if (!owner_->isInside(widget, mouse->globalPosition().toPoint())) owner_->changeExpanded(false, 0);
        break;
      }
      case QEvent::Move:
      case QEvent::Resize:
        if (widget->isAncestorOf(owner_->control_)) owner_->placeList();
        break;
      default: break;
    }
    return false;  // the click goes on to its target
  }

 private:
  DSDropdown* owner_;
};

// DSDropdown

DSDropdown::DSDropdown(const QString& label, const QList<DSDropdownOption>& options, const QVariant& selection,
                       QWidget* parent)
    : QWidget(parent), options_(options), selection_(selection) {
  open_ = new Tween(
      0,
      [this](qreal value) {
        control_->update();
        if (DropdownList* list = list_.data()) {
          if (value <= 0 && !isExpanded_)
            list->hide();
          else
            list->refresh();
        }
      },
      this);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);
  caption_ = new TextLabel(label, captionStyle(), this);
  control_ = new DropdownControl(this);
  control_->setAccessibleName(label);
  column->addWidget(caption_);
  column->addWidget(control_);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

DSDropdown::~DSDropdown() {
  removeClickMonitor();
  delete list_.data();
}

QWidget* DSDropdown::control() const { return control_; }
QWidget* DSDropdown::list() const { return list_; }

QRect DSDropdown::listGeometry() const {
  const DropdownList* list = list_.data();
  if (!isExpanded_ || !list) return {};
  return list->listRect().toAlignedRect().translated(list->pos());
}

QString DSDropdown::selectedLabel() const {
  for (const DSDropdownOption& option : options_)
    if (option.value == selection_) return option.label;
  return {};
}

void DSDropdown::setOptions(const QList<DSDropdownOption>& options) {
  options_ = options;
  control_->updateGeometry();
  control_->update();
  placeList();
}

void DSDropdown::setSelection(const QVariant& selection) {
  selection_ = selection;
  control_->updateGeometry();
  control_->update();
  if (DropdownList* list = list_.data()) list->refresh();
}

qreal DSDropdown::openness() const { return open_->value(); }

void DSDropdown::setExpanded(bool expanded) { changeExpanded(expanded, Motion::kToggle); }

void DSDropdown::toggleExpanded() { changeExpanded(!isExpanded_, Motion::kToggle); }

void DSDropdown::selectOption(int index) {
  if (index < 0 || index >= options_.size()) return;
  // The value is written before the list closes.
  selection_ = options_[index].value;
  control_->update();
  emit picked(selection_);
  changeExpanded(false, Motion::kHover);
}

void DSDropdown::changeExpanded(bool expanded, int animationMs) {
  if (expanded == isExpanded_) return;
  if (expanded && !control_->isVisible()) return;
  isExpanded_ = expanded;
  if (expanded) {
    DropdownList* list = list_.data();
    if (!list) list_ = list = new DropdownList(this, control_->window());
    placeList();
    list->show();
    list->bringToFront();
    installClickMonitor();
  } else {
    removeClickMonitor();
  }
  if (animationMs > 0)
    open_->animateTo(expanded ? 1 : 0, animationMs);
  else
    open_->jumpTo(expanded ? 1 : 0);
  if (DropdownList* list = list_.data(); !expanded && list && open_->value() <= 0) list->hide();
  control_->update();
  emit expandedChanged(isExpanded_);
}

void DSDropdown::installClickMonitor() {
  if (monitor_) return;
  monitor_ = new DropdownClickMonitor(this);
}

void DSDropdown::removeClickMonitor() {
  if (!monitor_) return;
  // Called from inside the monitor's own filter: it goes once that returns,
  // but it stops filtering now.
  DropdownClickMonitor* monitor = monitor_;
  monitor_ = nullptr;
  qApp->removeEventFilter(monitor);
  monitor->deleteLater();
}

bool DSDropdown::isInside(const QWidget* target, const QPoint& globalPos) const {
  if (!target || !control_->isVisible() || target->window() != control_->window()) return false;
  QRectF area(control_->rect());
  area.setHeight(area.height() + DropdownList::listHeight(int(options_.size())));
  return area.contains(QPointF(control_->mapFromGlobal(globalPos)));
}

void DSDropdown::placeList() {
  DropdownList* list = list_.data();
  if (!list || !isExpanded_) return;
  QWidget* window = control_->window();
  if (list->parentWidget() != window) list->setParent(window);
  const QPoint bottomLeft = control_->mapTo(window, QPoint(0, control_->height()));
  const int height = int(std::ceil(DropdownList::listHeight(int(options_.size()))));
  list->setGeometry(bottomLeft.x(), bottomLeft.y(), control_->width(), height);
}

void DSDropdown::hideEvent(QHideEvent*) {
  // Leaving the screen while open leaves no monitor and no floating list.
  if (isExpanded_) changeExpanded(false, 0);
}

// DSTextField

namespace {

// The rounded box around the line edit; its border follows the edit's focus.
class FieldBox : public QWidget {
 public:
  FieldBox(QWidget* parent) : QWidget(parent) {}
  QLineEdit* edit = nullptr;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    paintBox(painter, this, QRectF(rect()), edit && edit->hasFocus() ? 1 : 0);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) update();
    return false;
  }
};

}  // namespace

DSTextField::DSTextField(const QString& label, const QString& placeholder, const QString& text, QWidget* parent)
    : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);
  caption_ = new TextLabel(label, captionStyle(), this);
  auto* box = new FieldBox(this);
  box_ = box;
  edit_ = new QLineEdit(text, box);
  box->edit = edit_;
  edit_->setFrame(false);
  edit_->setPlaceholderText(placeholder);
  edit_->setFont(dsFont(DSFont::label));
  edit_->setTextMargins(0, 0, 0, 0);
  // One line of the label face, like the dropdown's closed control.
  edit_->setFixedHeight(int(std::ceil(QFontMetricsF(dsFont(DSFont::label)).height())));
  edit_->setAttribute(Qt::WA_MacShowFocusRect, false);
  edit_->installEventFilter(box);
  auto* inner = new QVBoxLayout(box);
  // A frameless QLineEdit keeps 2 px of its own on each side.
  inner->setContentsMargins(kBoxPadH - 2, kBoxPadV, kBoxPadH - 2, kBoxPadV);
  inner->addWidget(edit_);
  column->addWidget(caption_);
  column->addWidget(box_);
  setFocusProxy(edit_);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  applyPalette();
  connect(edit_, &QLineEdit::textEdited, this, &DSTextField::textEdited);
}

QString DSTextField::text() const { return edit_->text(); }
void DSTextField::setText(const QString& text) {
  if (text != edit_->text()) edit_->setText(text);
}
bool DSTextField::isFocused() const { return edit_->hasFocus(); }

void DSTextField::applyPalette() { applyEditorPalette(edit_, this, DSColor::ink, DSColor::inkSecondary, 0.5); }

bool DSTextField::event(QEvent* event) {
  // Palettes are copies: refresh them whenever the appearance we draw in may
  // have changed (switch, override, new parent).
  if (event->type() == Appearance::changeEventType() || event->type() == QEvent::ParentChange ||
      event->type() == QEvent::Show)
    applyPalette();
  return QWidget::event(event);
}

}  // namespace murel
