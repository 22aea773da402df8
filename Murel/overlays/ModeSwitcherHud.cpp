#include "overlays/ModeSwitcherHud.h"

#include "design/CoreComponents.h"
#include "design/Motion.h"
#include "design/Preview.h"
#include "design/Symbols.h"
#include "design/Text.h"
#include "design/Tokens.h"

#include <QCursor>
#include <QEnterEvent>
#include <QGraphicsEffect>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace murel {
namespace {

constexpr int kRowPaddingH = 12;
constexpr int kRowPaddingV = 8;
constexpr int kRowSpacing = 8;
constexpr qreal kNameLineSpacing = 4;

QFont nameFont() { return notoSans(14, DSWeight::medium); }

// Fades and scales its widget about the centre while the card comes in; the
// rows are drawn through it as one picture, so they grow with the card.
class EntranceEffect : public QGraphicsEffect {
 public:
  explicit EntranceEffect(QObject* parent) : QGraphicsEffect(parent) {}

  void setProgress(qreal progress) {
    progress_ = progress;
    update();
  }

 protected:
  void draw(QPainter* painter) override {
    QPoint offset;
    const QPixmap picture = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
    const qreal scale = ModeSwitcherHud::kEntranceScale + (1 - ModeSwitcherHud::kEntranceScale) * progress_;
    const QPointF centre = QRectF(offset, picture.deviceIndependentSize()).center();
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setOpacity(painter->opacity() * progress_);
    painter->translate(centre);
    painter->scale(scale, scale);
    painter->translate(-centre);
    painter->drawPixmap(offset, picture);
    painter->restore();
  }

 private:
  qreal progress_ = 0;
};

}  // namespace

// ModeSwitcherModel

ModeSwitcherModel::ModeSwitcherModel(QList<Mode> modes, QUuid activeID, QObject* parent)
    : QObject(parent), modes_(std::move(modes)), activeID_(activeID) {
  for (qsizetype i = 0; i < modes_.size(); ++i) {
    if (modes_[i].id == activeID_) {
      selectedIndex_ = int(i);
      break;
    }
  }
}

void ModeSwitcherModel::setSelectedIndex(int index) {
  if (index < 0 || index >= modes_.size() || index == selectedIndex_) return;
  selectedIndex_ = index;
  Q_EMIT selectedIndexChanged();
}

// ModeSwitcherRow

ModeSwitcherRow::ModeSwitcherRow(const Mode& mode, bool isSelected, bool isActive, int width, QWidget* parent)
    : QWidget(parent), mode_(mode), selected_(isSelected), active_(isActive) {
  setAccessibleName(mode.name);
  icon_ = new AppIcon(iconName(mode.transformation), kIconSize, this);
  // The name wraps when it is too long for one line; the row grows with it.
  const qreal nameWidth = width - 2 * kRowPaddingH - kIconFrame - kRowSpacing - kRowSpacing - kCheckmarkSize;
  const QSizeF name = TextMetrics::size(mode.name, nameFont(), kNameLineSpacing, nameWidth);
  const qreal content = std::max<qreal>({name.height(), kIconFrame, kCheckmarkSize});
  setFixedSize(width, int(std::ceil(content)) + 2 * kRowPaddingV);
  icon_->move(kRowPaddingH + (kIconFrame - icon_->width()) / 2, (height() - icon_->height()) / 2);
  highlight_ = new Tween(
      isSelected ? 1 : 0, [this](qreal value) { applyHighlight(value); }, this);
  applyHighlight(highlight_->value());
}

QString ModeSwitcherRow::iconName(const Transformation& transformation) {
  switch (transformation.kind()) {
    case Transformation::Kind::preset:
      return transformation.presetValue() == TransformPreset::email ? QStringLiteral("Icons/message")
                                                                    : QStringLiteral("Icons/magicWand");
    case Transformation::Kind::custom: return QStringLiteral("Icons/edit");
    case Transformation::Kind::raw: break;
  }
  return QStringLiteral("Icons/voice");
}

void ModeSwitcherRow::setSelected(bool selected) {
  if (selected_ == selected) return;
  selected_ = selected;
  highlight_->animateTo(selected ? 1 : 0, Motion::kHover);
}

qreal ModeSwitcherRow::highlight() const { return highlight_->value(); }

void ModeSwitcherRow::applyHighlight(qreal value) {
  // The template icon takes one colour token: it turns when the bar is half in.
  icon_->setColor(value >= 0.5 ? DSColor::onAccent : DSColor::ink);
  update();
}

QRectF ModeSwitcherRow::nameRect() const {
  const qreal left = kRowPaddingH + kIconFrame + kRowSpacing;
  const qreal right = width() - kRowPaddingH - kCheckmarkSize - kRowSpacing;
  const QSizeF name = TextMetrics::size(mode_.name, nameFont(), kNameLineSpacing, right - left);
  return QRectF(left, (height() - name.height()) / 2, right - left, name.height());
}

void ModeSwitcherRow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal t = highlight_->value();
  if (t > 0) {
    QPainterPath bar;
    bar.addRoundedRect(QRectF(rect()), kRadius, kRadius);
    painter.fillPath(bar, dsColor(DSColor::accent, this, t));
  }
  const QColor content = mixColors(dsColor(DSColor::ink, this), dsColor(DSColor::onAccent, this), t);
  TextMetrics::draw(painter, nameRect(), mode_.name, nameFont(), kNameLineSpacing, content);
  if (active_) {
    const QColor tick = mixColors(dsColor(DSColor::accent, this), dsColor(DSColor::onAccent, this), t);
    const qreal side = Symbols::sideForPointSize(kCheckmarkSize);
    const QRectF box(width() - kRowPaddingH - side, (height() - side) / 2, side, side);
    Symbols::paint(painter, box, QStringLiteral("checkmark"), tick);
  }
}

void ModeSwitcherRow::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  Q_EMIT hovered();
}

void ModeSwitcherRow::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  event->accept();
}

void ModeSwitcherRow::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  event->accept();
  if (click) Q_EMIT clicked();
}

// ModeSwitcherHud

ModeSwitcherHud::ModeSwitcherHud(std::shared_ptr<ModeSwitcherModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), appeared_(isRunningForPreviews()), pointerAtOpening_(QCursor::pos()) {
  const int rowWidth = kWidth - 2 * kPadding;
  int y = kPadding;
  const QList<Mode>& modes = model_->modes();
  for (qsizetype i = 0; i < modes.size(); ++i) {
    auto* row =
        new ModeSwitcherRow(modes[i], i == model_->selectedIndex(), modes[i].id == model_->activeID(), rowWidth, this);
    row->move(kPadding, y);
    y += row->height() + kSpacing;
    const int index = int(i);
    connect(row, &ModeSwitcherRow::hovered, this, [this, index] {
      // A card that opens under a resting pointer is entered without a move:
      // that is not the user pointing, and Return must still take the active mode.
      if (!pointerMoved_) {
        if (QCursor::pos() == pointerAtOpening_) return;
        pointerMoved_ = true;
      }
      // Writing the same index would still tell every observer.
      if (model_->selectedIndex() != index) model_->setSelectedIndex(index);
    });
    connect(row, &ModeSwitcherRow::clicked, this, [this, row] { Q_EMIT modeSelected(row->mode()); });
    rows_.append(row);
  }
  if (!rows_.isEmpty()) y -= kSpacing;
  setFixedSize(kWidth, y + kPadding);
  connect(model_.get(), &ModeSwitcherModel::selectedIndexChanged, this, &ModeSwitcherHud::selectionChanged);
  entrance_ = new Tween(
      appeared_ ? 1 : 0, [this](qreal p) { applyEntrance(p); }, this);
  applyEntrance(entrance_->value());
}

qreal ModeSwitcherHud::entranceProgress() const { return entrance_->value(); }

void ModeSwitcherHud::selectionChanged() {
  for (qsizetype i = 0; i < rows_.size(); ++i) rows_[i]->setSelected(i == model_->selectedIndex());
}

void ModeSwitcherHud::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (appeared_) return;
  appeared_ = true;
  entrance_->animateTo(1, Motion::kPageEntrance);
}

void ModeSwitcherHud::applyEntrance(qreal progress) {
  if (progress >= 1) {
    setGraphicsEffect(nullptr);  // at rest the card draws directly
    return;
  }
  auto* effect = dynamic_cast<EntranceEffect*>(graphicsEffect());
  if (!effect) {
    effect = new EntranceEffect(this);
    setGraphicsEffect(effect);
  }
  effect->setProgress(progress);
}

void ModeSwitcherHud::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath card;
  card.addRoundedRect(QRectF(rect()), kRadius, kRadius);
  painter.fillPath(card, dsColor(DSColor::background, this));
  // The border lies inside the card's edge.
  QPen border(dsColor(DSColor::accent, this), 1);
  painter.setPen(border);
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius - 0.5, kRadius - 0.5);
}

}  // namespace murel
