#include "onboarding/CompletionView.h"

#include "design/Motion.h"
#include "design/OnboardingButtonStyle.h"
#include "design/Preview.h"
#include "design/Text.h"
#include "design/Tokens.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace murel {
namespace {

constexpr qreal kStripeWidth = 120;
constexpr qreal kStripeThickness = 6;
constexpr qreal kTitleRise = 20;

// The accent stripe, growing from its leading edge as `fraction` goes to 1.
class GrowingStripe : public QWidget {
 public:
  qreal fraction = 0;

  GrowingStripe() { setFixedSize(int(kStripeWidth), int(kStripeThickness)); }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (fraction <= 0) return;
    QPainter painter(this);
    painter.fillRect(QRectF(0, 0, kStripeWidth * fraction, kStripeThickness), dsColor(DSColor::accent, this));
  }
};

// The title, drawn `kTitleRise` px below its place and transparent at progress
// 0, in place and opaque at 1. The widget is that much taller than the text so
// the lowered title is never clipped; the detail below sits on that margin.
class RisingTitle : public QWidget {
 public:
  qreal progress = 0;

  explicit RisingTitle(const QString& text) : text_(text) {
    setAccessibleName(text);
    const QSizeF size = TextMetrics::size(text_, font(), 0);
    setFixedSize(int(std::ceil(size.width())), int(std::ceil(size.height() + kTitleRise)));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (progress <= 0) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(progress);
    const qreal drop = kTitleRise * (1 - progress);
    TextMetrics::draw(painter, QRectF(0, drop, width(), height() - kTitleRise), text_, font(), 0,
                      dsColor(DSColor::ink, this), Qt::AlignLeft, false);
  }

 private:
  static QFont font() { return monoton(96); }
  QString text_;
};

TextLabel* faded(TextLabel* label, qreal opacity) {
  TextStyle style = label->style();
  style.opacity = opacity;
  label->setStyle(style);
  return label;
}

}  // namespace

CompletionView::CompletionView(Clock& clock, bool trayShown, QWidget* parent)
    : OnboardingStep(parent),
      clock_(clock),
      titleRevealed_(isRunningForPreviews()),
      stripeVisible_(isRunningForPreviews()),
      detailsVisible_(isRunningForPreviews()) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(48, 0, 48, 40);
  layout->setSpacing(0);
  layout->addStretch(1);

  auto* stripe = new GrowingStripe();
  stripe_ = stripe;
  layout->addWidget(stripe_, 0, Qt::AlignLeft);
  layout->addSpacing(24);

  //% "you are"
  //: Lowercase eyebrow above the DONE title on the onboarding completion screen.
  eyebrow_ =
      new TextLabel(qtTrId("onboarding.completion.eyebrow"), TextStyle{notoSansItalic(14), 4, DSColor::inkMuted});
  layout->addWidget(eyebrow_);
  layout->addSpacing(8);

  //% "DONE."
  //: Large title on the onboarding completion screen.
  auto* title = new RisingTitle(qtTrId("onboarding.completion.title"));
  title_ = title;
  layout->addWidget(title_, 0, Qt::AlignLeft);

  //% "Murel lives in your system tray.\nPress your hotkey anywhere to dictate."
  //: Closing detail text on the onboarding completion screen.
  const QString trayDetail = qtTrId("onboarding.completion.detail");
  // Without a tray the icon never shows: say what opens Murel instead.
  //% "Press your hotkey anywhere to dictate.\nNo system tray shows Murel's icon here: open Murel again to reach its settings."
  //: Closing detail text on the onboarding completion screen when the desktop has no system tray.
  const QString noTrayDetail = qtTrId("onboarding.completion.detail.noTray");
  detail_ = new TextLabel(trayShown ? trayDetail : noTrayDetail, TextStyle{notoSansItalic(14), 4, DSColor::inkMuted});
  layout->addWidget(detail_);
  layout->addSpacing(32);

  auto* summary = new QHBoxLayout();
  summary->setSpacing(32);
  const auto addColumn = [&](const QString& label, const QString& description) {
    auto* column = new QVBoxLayout();
    column->setSpacing(8);
    auto* heading = new TextLabel(label, TextStyle{tracked(notoSans(10), 1.5), 2, DSColor::accent});
    auto* text = new TextLabel(description, TextStyle{notoSans(13), 4, DSColor::inkMuted});
    column->addWidget(heading);
    column->addWidget(text);
    column->addStretch(1);
    summary->addLayout(column, 1);
    summary_ << heading << text;
  };
  //% "FREE FOREVER"
  //: Heading for the free feature summary on the onboarding completion screen.
  addColumn(qtTrId("onboarding.completion.free.label"),
            //% "Hotkey dictation and simple transcription in any app."
            //: Summary of features that remain free on the onboarding completion screen.
            qtTrId("onboarding.completion.free.description"));
  //% "ALL FEATURES · FREE"
  //: Heading for the complete feature summary on the onboarding completion screen.
  addColumn(qtTrId("onboarding.completion.pro.label"),
            //% "Transformations, snippets, audio and video file transcription, and voice editing."
            //: Summary of included features on the onboarding completion screen.
            qtTrId("onboarding.completion.pro.description"));
  layout->addLayout(summary);
  layout->addStretch(1);

  //% "← BACK"
  //: Back button on the onboarding completion screen.
  back_ = new OnboardingButtonStyle(qtTrId("onboarding.completion.back"), false);
  //% "START →"
  //: Final button that dismisses onboarding and starts using the app.
  start_ = new OnboardingButtonStyle(qtTrId("onboarding.completion.start"), true);
  layout->addLayout(buttonRow(back_, start_));

  connect(back_, &QAbstractButton::clicked, this, &OnboardingStep::backRequested);
  connect(start_, &QAbstractButton::clicked, this, &OnboardingStep::finishRequested);

  titleTween_ = new Tween(
      titleRevealed_ ? 1 : 0,
      [title](qreal value) {
        title->progress = value;
        title->update();
      },
      this);
  stripeTween_ = new Tween(
      stripeVisible_ ? 1 : 0,
      [stripe](qreal value) {
        stripe->fraction = value;
        stripe->update();
      },
      this);
  detailsTween_ = new Tween(
      detailsVisible_ ? 1 : 0, [this](qreal value) { applyDetailsOpacity(value); }, this);
  title->progress = titleTween_->value();
  stripe->fraction = stripeTween_->value();
  applyDetailsOpacity(detailsTween_->value());
}

CompletionView::~CompletionView() {
  if (pending_) clock_.cancel(pending_);
}

void CompletionView::applyDetailsOpacity(qreal opacity) {
  faded(eyebrow_, opacity);
  faded(detail_, opacity);
  for (TextLabel* label : summary_) faded(label, opacity);
  back_->setOpacity(opacity);
  start_->setOpacity(opacity);
}

void CompletionView::showEvent(QShowEvent* event) {
  OnboardingStep::showEvent(event);
  if (revealStarted_) return;
  revealStarted_ = true;
  revealTitle();
  pending_ = clock_.schedule(kStripeDelay, [this] {
    pending_ = 0;
    revealStripe();
    pending_ = clock_.schedule(kDetailsDelay, [this] {
      pending_ = 0;
      revealDetails();
    });
  });
}

void CompletionView::hideEvent(QHideEvent* event) {
  OnboardingStep::hideEvent(event);
  // Off screen the reveal stops waiting: what is left of it happens at once.
  if (pending_ == 0) return;
  clock_.cancel(pending_);
  pending_ = 0;
  if (!stripeVisible_) revealStripe();
  revealDetails();
}

void CompletionView::revealTitle() {
  titleRevealed_ = true;
  titleTween_->animateTo(1, kTitleMs);
}

void CompletionView::revealStripe() {
  stripeVisible_ = true;
  stripeTween_->animateTo(1, kStripeMs);
}

void CompletionView::revealDetails() {
  detailsVisible_ = true;
  detailsTween_->animateTo(1, kDetailsMs);
}

}  // namespace murel
