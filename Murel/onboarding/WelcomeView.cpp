#include "onboarding/WelcomeView.h"

#include "design/CoreComponents.h"
#include "design/Motion.h"
#include "design/OnboardingButtonStyle.h"
#include "design/Preview.h"
#include "design/Symbols.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "onboarding/PushTransition.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QVBoxLayout>

namespace murel {
namespace {

constexpr int kDotHeight = 6;
constexpr int kDotWidth = 6;
constexpr int kCurrentDotWidth = 22;
constexpr int kDotMs = 150;
constexpr int kCarouselHeight = 150;

// The carousel's box: the page on screen always fills it.
class CarouselBox : public QWidget {
 public:
  using QWidget::QWidget;
  QWidget* page = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    if (page) page->setGeometry(rect());
  }
};

}  // namespace

const QList<WelcomeMessage>& welcomeMessages() {
  static const QList<WelcomeMessage> messages = [] {
    return QList<WelcomeMessage>{
        //% "Stop typing.\nStart talking."
        //: Welcome carousel message 1 headline.
        {qtTrId("welcome.message.1.headline"),
         //% "Your words on screen at the speed of speech."
         //: Welcome carousel message 1 subline.
         qtTrId("welcome.message.1.subline")},
        //% "Talk 3× faster\nthan you type."
        //: Welcome carousel message 2 headline.
        {qtTrId("welcome.message.2.headline"),
         //% "Speech becomes text the moment you stop talking."
         //: Welcome carousel message 2 subline.
         qtTrId("welcome.message.2.subline")},
        //% "Your voice never\nleaves this computer."
        //: Welcome carousel message 3 headline.
        {qtTrId("welcome.message.3.headline"),
         //% "Transcribed locally. No cloud, no accounts."
         //: Welcome carousel message 3 subline.
         qtTrId("welcome.message.3.subline")},
        //% "Hold a key.\nSpeak. It's text."
        //: Welcome carousel message 4 headline.
        {qtTrId("welcome.message.4.headline"),
         //% "It lands right where your cursor is."
         //: Welcome carousel message 4 subline.
         qtTrId("welcome.message.4.subline")},
        //% "Dictation that gets\nout of your way."
        //: Welcome carousel message 5 headline.
        {qtTrId("welcome.message.5.headline"),
         //% "Built for keyboard-heavy work on the desktop."
         //: Welcome carousel message 5 subline.
         qtTrId("welcome.message.5.subline")},
    };
  }();
  return messages;
}

// WelcomePageDot

WelcomePageDot::WelcomePageDot(bool current, QWidget* parent)
    : QAbstractButton(parent),
      current_(current),
      emphasis_(new Tween(
          current ? 1 : 0,
          [this](qreal value) {
            setFixedWidth(qRound(kDotWidth + (kCurrentDotWidth - kDotWidth) * value));
            update();
          },
          this)) {
  setFixedSize(current ? kCurrentDotWidth : kDotWidth, kDotHeight);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
}

void WelcomePageDot::setCurrent(bool current) {
  if (current_ == current) return;
  current_ = current;
  emphasis_->animateTo(current ? 1 : 0, kDotMs, Motion::easeInOut());
}

QSize WelcomePageDot::sizeHint() const { return size(); }

void WelcomePageDot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor color =
      mixColors(dsColor(DSColor::inkSecondary, this, 0.5), dsColor(DSColor::accent, this), emphasis_->value());
  QPainterPath capsule;
  capsule.addRoundedRect(QRectF(rect()), height() / 2.0, height() / 2.0);
  painter.fillPath(capsule, color);
}

// WelcomeChevronButton

WelcomeChevronButton::WelcomeChevronButton(const QString& symbol, QWidget* parent)
    : QAbstractButton(parent), symbol_(symbol) {
  setFixedSize(20, 20);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
}

void WelcomeChevronButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal side = Symbols::sideForPointSize(12);
  QRectF box(0, 0, side, side);
  box.moveCenter(QRectF(rect()).center());
  Symbols::paint(painter, box, symbol_, dsColor(DSColor::inkSecondary, this));
}

// WelcomeView

WelcomeView::WelcomeView(Clock& clock, QWidget* parent) : OnboardingStep(parent), clock_(clock) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(48, 0, 48, 40);
  layout->setSpacing(0);

  auto* brand = new QVBoxLayout();
  brand->setContentsMargins(0, 24, 0, 0);
  brand->setSpacing(0);
  brand->addWidget(new DSAccentStripe(120, 6), 0, Qt::AlignLeft);
  brand->addSpacing(20);
  //% "welcome to"
  //: Lowercase eyebrow above the Murel brand mark on the welcome screen.
  brand->addWidget(new TextLabel(qtTrId("welcome.eyebrow"), TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}));
  brand->addSpacing(8);
  //% "Murel"
  auto* word = new TextLabel(qtTrId("Murel"), TextStyle{monoton(96), 0, DSColor::accent});
  word->setWrapping(false);
  brand->addWidget(word, 0, Qt::AlignLeft);
  layout->addLayout(brand);
  layout->addStretch(1);

  auto* box = new CarouselBox();
  box->setFixedHeight(kCarouselHeight);
  carousel_ = box;
  layout->addWidget(carousel_);
  layout->addStretch(1);

  auto* controls = new QHBoxLayout();
  controls->setSpacing(12);
  previous_ = new WelcomeChevronButton(QStringLiteral("chevron.left"));
  controls->addWidget(previous_);
  auto* dots = new QHBoxLayout();
  dots->setSpacing(8);
  for (int i = 0; i < welcomeMessages().size(); ++i) {
    auto* dot = new WelcomePageDot(i == 0);
    dots_.append(dot);
    dots->addWidget(dot, 0, Qt::AlignVCenter);
    connect(dot, &QAbstractButton::clicked, this, [this, i] { showMessage(i, i >= index_); });
  }
  controls->addLayout(dots);
  next_ = new WelcomeChevronButton(QStringLiteral("chevron.right"));
  controls->addWidget(next_);
  auto* controlsBox = new QWidget();
  controlsBox->setLayout(controls);
  controls->setContentsMargins(0, 0, 0, 0);
  //% "BEGIN →"
  //: Primary button advancing past the welcome screen.
  begin_ = new OnboardingButtonStyle(qtTrId("welcome.begin"), true);
  layout->addLayout(buttonRow(controlsBox, begin_));

  connect(previous_, &QAbstractButton::clicked, this, [this] { stepMessage(false); });
  connect(next_, &QAbstractButton::clicked, this, [this] { stepMessage(true); });
  connect(begin_, &QAbstractButton::clicked, this, &OnboardingStep::continueRequested);

  message_ = makeMessageView(0);
  box->page = message_;
}

WelcomeView::~WelcomeView() { cancelWait(); }

QWidget* WelcomeView::makeMessageView(int index) {
  const WelcomeMessage& message = welcomeMessages().at(index);
  auto* view = new QWidget(carousel_);
  auto* layout = new QVBoxLayout(view);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(16);
  layout->addWidget(new TextLabel(message.headline, TextStyle{notoSans(40, DSWeight::black), 2, DSColor::ink}));
  layout->addWidget(new TextLabel(message.subline, TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}));
  layout->addStretch(1);
  view->setGeometry(carousel_->rect());
  return view;
}

void WelcomeView::showMessage(int target, bool forward) {
  const int count = int(welcomeMessages().size());
  if (target == index_ || target < 0 || target >= count) return;
  forward_ = forward;
  index_ = target;
  for (int i = 0; i < dots_.size(); ++i) dots_[i]->setCurrent(i == index_);

  if (transition_) transition_->finish();
  QWidget* leaving = message_;
  message_ = makeMessageView(index_);
  static_cast<CarouselBox*>(carousel_)->page = message_;
  auto* push =
      new PushTransition(leaving, carousel_->rect(), message_, carousel_->rect(), forward_, kMessagePushMs, this);
  connect(push, &PushTransition::finished, push, &QObject::deleteLater);
  transition_ = push;
  push->start();
  restartWait();
}

void WelcomeView::stepMessage(bool next) {
  const int count = int(welcomeMessages().size());
  showMessage((index_ + (next ? 1 : -1) + count) % count, next);
}

void WelcomeView::showEvent(QShowEvent* event) {
  OnboardingStep::showEvent(event);
  restartWait();
}

void WelcomeView::hideEvent(QHideEvent* event) {
  OnboardingStep::hideEvent(event);
  cancelWait();
}

void WelcomeView::enterEvent(QEnterEvent* event) {
  OnboardingStep::enterEvent(event);
  setHovering(true);
}

void WelcomeView::leaveEvent(QEvent* event) {
  OnboardingStep::leaveEvent(event);
  setHovering(false);
}

void WelcomeView::setHovering(bool hovering) {
  if (hovering_ == hovering) return;
  hovering_ = hovering;
  restartWait();
}

void WelcomeView::restartWait() {
  cancelWait();
  if (isRunningForPreviews() || hovering_ || !isVisible()) return;
  pending_ = clock_.schedule(kAdvanceDelay, [this] {
    pending_ = 0;
    stepMessage(true);
  });
}

void WelcomeView::cancelWait() {
  if (pending_ == 0) return;
  clock_.cancel(pending_);
  pending_ = 0;
}

}  // namespace murel
