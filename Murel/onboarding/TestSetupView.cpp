#include "onboarding/TestSetupView.h"

#include "app/AppState.h"
#include "design/CoreComponents.h"
#include "design/Crossfade.h"
#include "design/EditorialComponents.h"
#include "design/Motion.h"
#include "design/OnboardingButtonStyle.h"
#include "design/Preview.h"
#include "design/Text.h"
#include "hotkeys/HotKeyService.h"
#include "keys/ActivationMode.h"
#include "keys/KeyCombo.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QVBoxLayout>

namespace murel {
namespace {

// The activation mode's short label in an accent capsule outline.
class ModePill : public QWidget {
 public:
  explicit ModePill(TextLabel* label) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 4, 12, 4);
    layout->addWidget(label);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(dsColor(DSColor::accent, this), 1));
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
  }
};

// The bar beside the output: accent once a transcript arrived, hairline before.
class OutputBar : public QWidget {
 public:
  OutputBar() { setFixedWidth(3); }
  void setLit(bool lit) {
    if (lit_ == lit) return;
    lit_ = lit;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), dsColor(lit_ ? DSColor::accent : DSColor::hairline, this));
  }

 private:
  bool lit_ = false;
};

// A thin bar in the page's ink that says there is more: only its handle is
// drawn, in the colours of the appearance shown.
class ThinScrollBar : public QScrollBar {
 public:
  ThinScrollBar() : QScrollBar(Qt::Vertical) { setFixedWidth(8); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(dsColor(DSColor::ink, this, isSliderDown() || underMouse() ? 0.45 : 0.25));
    const QRectF pill = QRectF(handle).adjusted(1, 1, -1, -1);
    painter.drawRoundedRect(pill, pill.width() / 2, pill.width() / 2);
  }
};

}  // namespace

OutputScrollArea::OutputScrollArea(QWidget* parent) : QScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBar(new ThinScrollBar());
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setWidgetResizable(true);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
}

QSize OutputScrollArea::sizeHint() const { return QSize(0, TestSetupView::kOutputMinHeight); }

TestSetupView::TestSetupView(AppState& appState, QWidget* parent)
    : OnboardingStep(parent), appState_(appState), hotKeys_(appState.hotKeys()), appeared_(isRunningForPreviews()) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  content_ = new QWidget();
  outer->addWidget(content_);

  auto* layout = new QVBoxLayout(content_);
  layout->setContentsMargins(48, 0, 48, 40);
  layout->setSpacing(0);
  layout->addSpacing(32);
  //% "Test"
  //: Title of the onboarding test setup screen.
  layout->addWidget(
      new TextLabel(qtTrId("onboarding.test.title"), TextStyle{notoSans(32, DSWeight::heavy), 2, DSColor::ink}));
  layout->addSpacing(8);
  //% "Press your hotkey. Say a line. See it appear."
  //: Subtitle of the onboarding test setup screen.
  layout->addWidget(
      new TextLabel(qtTrId("onboarding.test.subtitle"), TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}));
  layout->addSpacing(32);

  auto* hotkey = new QHBoxLayout();
  hotkey->setSpacing(20);
  keycaps_ = new EditorialKeycapRow({}, 44, 36, 14, 20);
  hotkey->addWidget(keycaps_, 0, Qt::AlignVCenter);
  hotkey->addStretch(1);
  modeLabel_ = new TextLabel(QString(), TextStyle{tracked(notoSans(10), 1.5), 2, DSColor::accent});
  modeLabel_->setWrapping(false);
  hotkey->addWidget(new ModePill(modeLabel_), 0, Qt::AlignVCenter);
  layout->addLayout(hotkey);

  layout->addSpacing(24);
  layout->addWidget(new ThinDivider());
  layout->addSpacing(20);
  status_ = new TextLabel(QString(), TextStyle{notoSansItalic(14), 4, DSColor::inkMuted});
  layout->addWidget(status_);

  layout->addSpacing(24);
  //% "OUTPUT"
  //: Label above the transcription output box on the test screen.
  layout->addWidget(new TextLabel(qtTrId("onboarding.test.outputLabel"),
                                  TextStyle{tracked(notoSans(10), 3.5), 2, DSColor::inkSecondary}));
  layout->addSpacing(12);
  // The box takes the room down to the buttons and scrolls a longer
  // transcript inside it; a word wider than the box breaks anywhere.
  auto* boxFrame = new QWidget();
  auto* box = new QHBoxLayout(boxFrame);
  box->setContentsMargins(0, 0, 0, 0);
  box->setSpacing(12);
  auto* bar = new OutputBar();
  bar_ = bar;
  box->addWidget(bar_);
  output_ = new TextLabel(QString(), TextStyle{notoSansItalic(14), 4, DSColor::inkMuted, 0.3});
  box->addWidget(output_, 1, Qt::AlignTop);
  boxFrame->setMinimumHeight(kOutputMinHeight);
  auto* boxContent = new QWidget();
  auto* boxColumn = new QVBoxLayout(boxContent);
  // Room between the text and the scroll bar.
  boxColumn->setContentsMargins(0, 0, 12, 0);
  boxColumn->addWidget(boxFrame);
  boxColumn->addStretch(1);
  outputScroll_ = new OutputScrollArea();
  outputScroll_->setWidget(boxContent);
  // The page shows through (setWidget turns the content's fill on).
  outputScroll_->setAutoFillBackground(false);
  outputScroll_->viewport()->setAutoFillBackground(false);
  boxContent->setAutoFillBackground(false);
  layout->addWidget(outputScroll_, 1);
  layout->addSpacing(16);

  //% "← BACK"
  //: Back button on the onboarding test setup screen.
  back_ = new OnboardingButtonStyle(qtTrId("onboarding.test.back"), false);
  continue_ = new OnboardingButtonStyle(QString(), true);
  layout->addLayout(buttonRow(back_, continue_));

  connect(back_, &QAbstractButton::clicked, this, &OnboardingStep::backRequested);
  connect(continue_, &QAbstractButton::clicked, this, &OnboardingStep::continueRequested);
  connect(&appState_, &AppState::statusChanged, this, &TestSetupView::refresh);
  connect(&appState_, &AppState::transcriptionDelivered, this, &TestSetupView::transcriptArrived);
  connect(&hotKeys_, &HotKeyService::currentComboChanged, this, &TestSetupView::refreshHotkey);
  connect(&hotKeys_, &HotKeyService::activationModeChanged, this, [this] {
    refreshHotkey();
    refresh();
  });

  fade_ = new Tween(
      appeared_ ? 1 : 0, [this](qreal value) { Motion::setContentOpacity(content_, value); }, this);
  Motion::setContentOpacity(content_, fade_->value());
  refreshHotkey();
  refresh();
}

TestSetupView::~TestSetupView() { restoreEffects(); }

// ---- Effects on the application ----

void TestSetupView::showEvent(QShowEvent* event) {
  OnboardingStep::showEvent(event);
  applyEffects();
  if (!appeared_) {
    appeared_ = true;
    fade_->animateTo(1, kFadeInMs);
  }
}

void TestSetupView::hideEvent(QHideEvent* event) {
  OnboardingStep::hideEvent(event);
  restoreEffects();
}

void TestSetupView::applyEffects() {
  effectsApplied_ = true;
  appState_.setAutoPaste(false);
  appState_.setSuppressHud(true);
  appState_.setupHotkeyObservation();
}

void TestSetupView::restoreEffects() {
  if (!effectsApplied_) return;
  effectsApplied_ = false;
  appState_.setAutoPaste(true);
  appState_.setSuppressHud(false);
}

// ---- Result ----

void TestSetupView::transcriptArrived(const QString& text) {
  // Only dictations made while the step is on screen count.
  if (testResult_ || !effectsApplied_) return;
  testResult_ = text;
  refresh();
}

bool TestSetupView::isBusy() const {
  const AppStatus& status = appState_.status();
  return status.is(AppStatus::Kind::recording) || status.is(AppStatus::Kind::transcribing);
}

QString TestSetupView::testStatusText() const {
  const AppStatus& status = appState_.status();
  switch (status.kind()) {
    case AppStatus::Kind::loading:
    case AppStatus::Kind::ready:
      if (hasSucceeded())
        //% "Your setup is working."
        //: Status text confirming the setup works after a successful test.
        return qtTrId("onboarding.test.status.working");
      //% "Ready when you are."
      //: Default status text prompting the user to test their hotkey.
      return qtTrId("onboarding.test.status.idle");
    case AppStatus::Kind::recording:
      if (hotKeys_.activationMode() == ActivationMode::holdToActivate)
        //% "Listening… release to transcribe."
        //: Status text while recording in hold-to-activate mode on the test screen.
        return qtTrId("onboarding.test.status.recording.hold");
      //% "Recording… press your hotkey again to stop."
      //: Status text while recording in toggle mode on the test screen.
      return qtTrId("onboarding.test.status.recording.toggle");
    case AppStatus::Kind::transcribing:
      //% "Transcribing…"
      //: Status text while transcribing on the test screen.
      return qtTrId("onboarding.test.status.transcribing");
    case AppStatus::Kind::error: return status.message();
  }
  return {};
}

DSColor TestSetupView::statusColor() const {
  switch (appState_.status().kind()) {
    case AppStatus::Kind::recording:
    case AppStatus::Kind::transcribing: return DSColor::accent;
    case AppStatus::Kind::error: return DSColor::danger;
    default: return DSColor::inkMuted;
  }
}

// ---- Screen ----

void TestSetupView::refreshHotkey() {
  // Without a stored hotkey the step shows the one the hotkey step proposes.
  const KeyCombo combo = hotKeys_.currentCombo().value_or(KeyCombo(49, KeyModifiers(KeyModifiers::option)));
  keycaps_->setLabels(keycapLabels(combo));
  modeLabel_->setText(activationModeShortLabel(hotKeys_.activationMode()));
}

void TestSetupView::refresh() {
  const QString statusText = testStatusText();
  const DSColor color = statusColor();
  if (statusText != status_->text() || color != status_->style().color) Crossfade::begin(status_, Motion::kToggle);
  status_->setText(statusText);
  status_->setColor(color);
  auto* bar = static_cast<OutputBar*>(bar_);
  bar->setLit(hasSucceeded());
  if (hasSucceeded()) {
    //% "“%1”"
    //: The transcript of the trial dictation, in quotes.
    output_->setText(qtTrId("onboarding.test.result").arg(*testResult_));
    output_->setStyle(TextStyle{notoSansItalic(14), 4, DSColor::ink});
  } else {
    output_->setText(QStringLiteral("“…”"));
    output_->setStyle(TextStyle{notoSansItalic(14), 4, DSColor::inkMuted, 0.3});
  }
  if (hasSucceeded()) {
    //% "NEXT →"
    //: Next button on the test screen shown after a successful test.
    continue_->setText(qtTrId("onboarding.test.next"));
  } else {
    //% "SKIP →"
    //: Skip button on the test screen shown before a successful test.
    continue_->setText(qtTrId("onboarding.test.skip"));
  }
  continue_->updateGeometry();
  const bool busy = isBusy();
  back_->setEnabled(!busy);
  continue_->setEnabled(!busy);
}

}  // namespace murel
