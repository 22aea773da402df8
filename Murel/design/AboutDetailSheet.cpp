#include "design/AboutDetailSheet.h"

#include "design/CoreComponents.h"
#include "design/EditorialComponents.h"
#include "design/Sheets.h"
#include "design/Text.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace murel {

namespace {

constexpr int kInsetH = 24;
constexpr int kInsetV = 20;

QBoxLayout* insetRow(QWidget* parent) {
  auto* row = new QHBoxLayout;
  row->setContentsMargins(kInsetH, kInsetV, kInsetH, kInsetV);
  row->setSpacing(12);
  Q_UNUSED(parent);
  return row;
}

constexpr int kFadeHeight = 24;

// The background fading in towards one edge of the viewport.
class EdgeFade : public QWidget {
 public:
  EdgeFade(Qt::Edge edge, QWidget* parent) : QWidget(parent), edge_(edge) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QColor solid = dsColor(DSColor::background, this);
    QColor clear = solid;
    clear.setAlpha(0);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, edge_ == Qt::TopEdge ? solid : clear);
    gradient.setColorAt(1, edge_ == Qt::TopEdge ? clear : solid);
    painter.fillRect(rect(), gradient);
  }

 private:
  Qt::Edge edge_;
};

}  // namespace

// CappedScrollArea

CappedScrollArea::CappedScrollArea(QWidget* content, int maxHeight, QWidget* parent)
    : QScrollArea(parent),
      maxHeight_(maxHeight),
      topFade_(new EdgeFade(Qt::TopEdge, this)),
      bottomFade_(new EdgeFade(Qt::BottomEdge, this)) {
  topFade_->setObjectName(QStringLiteral("topFade"));
  bottomFade_->setObjectName(QStringLiteral("bottomFade"));
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &CappedScrollArea::updateFades);
  connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &CappedScrollArea::updateFades);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setWidgetResizable(true);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setWidget(content);
  // The background is the sheet's (setWidget turns the content's fill on).
  setAutoFillBackground(false);
  viewport()->setAutoFillBackground(false);
  content->setAutoFillBackground(false);
  content->installEventFilter(this);
}

QSize CappedScrollArea::sizeHint() const {
  const QWidget* content = widget();
  if (!content) return QSize(0, 0);
  const int width = viewport()->width() > 0 ? viewport()->width() : content->sizeHint().width();
  const int height = content->hasHeightForWidth() ? content->heightForWidth(width) : content->sizeHint().height();
  return QSize(content->sizeHint().width(), std::min(height, maxHeight_));
}

bool CappedScrollArea::eventFilter(QObject* watched, QEvent* event) {
  // The body's height decides ours: follow its layout changes.
  if (watched == widget() && event->type() == QEvent::LayoutRequest) updateGeometry();
  return QScrollArea::eventFilter(watched, event);
}

void CappedScrollArea::resizeEvent(QResizeEvent* event) {
  const int oldWidth = event->oldSize().width();
  QScrollArea::resizeEvent(event);
  // A wrapping body is taller when narrower.
  if (event->size().width() != oldWidth) updateGeometry();
  updateFades();
}

void CappedScrollArea::updateFades() {
  // Clear of the sheet's own edge, which the scroll area spans.
  const QRect view = viewport()->geometry().adjusted(1, 0, -1, 0);
  const int fade = std::min(kFadeHeight, view.height() / 3);
  topFade_->setGeometry(view.left(), view.top(), view.width(), fade);
  bottomFade_->setGeometry(view.left(), view.bottom() + 1 - fade, view.width(), fade);
  const QScrollBar* bar = verticalScrollBar();
  topFade_->setVisible(bar->value() > bar->minimum());
  bottomFade_->setVisible(bar->value() < bar->maximum());
  topFade_->raise();
  bottomFade_->raise();
}

// AboutDetailSheet

AboutDetailSheet::AboutDetailSheet(const QString& title, QWidget* body, QWidget* parent)
    : QWidget(parent), body_(body) {
  setFixedWidth(kWidth);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* titleBar = insetRow(this);
  titleBar->addWidget(new DSAccentStripe(4, 16, this), 0, Qt::AlignVCenter);
  title_ = new TextLabel(title, TextStyle{tracked(notoSans(14, DSWeight::bold), 2), 0, DSColor::ink}, this);
  title_->setWrapping(false);
  titleBar->addWidget(title_, 0, Qt::AlignVCenter);
  titleBar->addStretch(1);
  column->addLayout(titleBar);
  column->addWidget(new EditorialRule(this));

  auto* padded = new QWidget;
  auto* bodyLayout = new QVBoxLayout(padded);
  bodyLayout->setContentsMargins(kInsetH, kInsetV, kInsetH, kInsetV);
  bodyLayout->setSpacing(0);
  bodyLayout->addWidget(body);
  scroll_ = new CappedScrollArea(padded, kMaxBodyHeight, this);
  column->addWidget(scroll_);
  column->addWidget(new EditorialRule(this));

  auto* footer = insetRow(this);
  footer->addStretch(1);
  //% "CLOSE"
  //: Button that closes an About detail sheet.
  close_ = new EditorialPillButton(qtTrId("settings.about.detail.close"), DSColor::inkSecondary, nullptr, this);
  close_->setAccessibleName(close_->text());
  connect(close_, &QAbstractButton::clicked, this, &AboutDetailSheet::closeRequested);
  footer->addWidget(close_);
  column->addLayout(footer);
}

void AboutDetailSheet::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paintSheetFace(painter, this);
}

}  // namespace murel
