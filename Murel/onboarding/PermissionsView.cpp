#include "onboarding/PermissionsView.h"

#include "audio/AudioDeviceManager.h"
#include "design/CoreComponents.h"
#include "design/Crossfade.h"
#include "design/EditorialComponents.h"
#include "design/Motion.h"
#include "design/OnboardingButtonStyle.h"
#include "design/Preview.h"
#include "design/Symbols.h"
#include "design/Text.h"
#include "onboarding/AccessibilityGuideView.h"
#include "onboarding/OnboardingContainerView.h"
#include "platform/pulse/MicrophonePermission.h"

#include <QCoroTask>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace murel {

using platform::MicrophonePermissionStatus;

namespace {

QFont guideFont() { return tracked(notoSans(10), 1.5); }
constexpr qreal kGuideSymbolPointSize = 11;
constexpr int kGuideSpacing = 4;

// "▶ Watch how to enable": a chrome-less link in the accent colour whose whole
// rectangle takes clicks.
class GuideLink : public QAbstractButton {
 public:
  explicit GuideLink(const QString& text, QWidget* parent = nullptr) : QAbstractButton(parent) {
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
  }

  QSize sizeHint() const override {
    const QSizeF label = TextMetrics::size(text(), guideFont(), 2);
    const qreal side = Symbols::sideForPointSize(kGuideSymbolPointSize);
    return QSize(int(std::ceil(side + kGuideSpacing + label.width())), int(std::ceil(std::max(side, label.height()))));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = dsColor(DSColor::accent, this);
    const qreal side = Symbols::sideForPointSize(kGuideSymbolPointSize);
    Symbols::paint(painter, QRectF(0, (height() - side) / 2, side, side), QStringLiteral("play.circle.fill"), color);
    const QSizeF label = TextMetrics::size(text(), guideFont(), 2);
    TextMetrics::draw(painter,
                      QRectF(side + kGuideSpacing, (height() - label.height()) / 2, label.width() + 1, label.height()),
                      text(), guideFont(), 2, color, Qt::AlignLeft, false);
  }
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// Covers the whole onboarding window while the guide is open: a dimmed page
// with the sheet in its middle. Escape closes it, as it closes any sheet.
class GuideOverlay : public QWidget {
 public:
  GuideOverlay(AccessibilityGuideView* sheet, QWidget* window) : QWidget(window) {
    setAttribute(Qt::WA_NoMousePropagation);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(sheet, 0, Qt::AlignCenter);
    setGeometry(window->rect());
    setFocusPolicy(Qt::StrongFocus);
  }
  std::function<void()> onEscape;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 90));
  }
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape && onEscape) {
      onEscape();
      return;
    }
    QWidget::keyPressEvent(event);
  }
  // Clicks on the dimmed page go nowhere: the page under the sheet is not live.
  void mousePressEvent(QMouseEvent*) override {}
};

}  // namespace

// EditorialPermissionRow

EditorialPermissionRow::EditorialPermissionRow(int index, const QString& label, const QString& description,
                                               const QString& actionLabel, bool hasGuide, QWidget* parent)
    : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 20, 0, 20);
  row->setSpacing(20);
  row->addWidget(new EditorialChapterNumeral(index, true, true, this), 0, Qt::AlignTop);

  auto* column = new QVBoxLayout();
  column->setSpacing(4);
  label_ = new TextLabel(label, TextStyle{notoSans(16, DSWeight::bold), 2, DSColor::ink}, this);
  description_ = new TextLabel(description, TextStyle{notoSans(13), 4, DSColor::inkSecondary}, this);
  problem_ = new TextLabel(QString(), TextStyle{notoSans(13), 4, DSColor::warning}, this);
  problem_->hide();
  column->addWidget(label_);
  column->addWidget(description_);
  column->addWidget(problem_);
  if (hasGuide) {
    //% "Watch how to enable"
    //: Accessibility row label that opens a short how-to video for the permission.
    guide_ = new GuideLink(qtTrId("onboarding.permissions.accessibility.guide"), this);
    column->addSpacing(4);
    column->addWidget(guide_, 0, Qt::AlignLeft);
    connect(guide_, &QAbstractButton::clicked, this, &EditorialPermissionRow::guideClicked);
  }
  row->addLayout(column, 1);

  action_ = new OnboardingButtonStyle(actionLabel, false, this);
  //% "GRANTED"
  //: Status pill shown when a permission has been granted.
  pill_ = new EditorialStatusPill(qtTrId("onboarding.permissions.granted"), EditorialStatusPill::Leading::checkmark,
                                  DSColor::accent, this);
  row->addWidget(action_, 0, Qt::AlignTop);
  row->addWidget(pill_, 0, Qt::AlignTop);
  pill_->hide();
  connect(action_, &QAbstractButton::clicked, this, &EditorialPermissionRow::grantClicked);
}

void EditorialPermissionRow::setGranted(bool granted, bool animated) {
  if (animated && granted != granted_) Crossfade::begin(this, Motion::kToggle);
  granted_ = granted;
  action_->setVisible(!granted);
  pill_->setVisible(granted);
  if (guide_) guide_->setVisible(!granted);
  if (granted) setProblem(QString());
}

void EditorialPermissionRow::setProblem(const QString& problem) {
  problem_->setText(problem);
  problem_->setVisible(!problem.isEmpty());
}

void EditorialPermissionRow::setActionLabel(const QString& label) {
  if (action_->text() == label) return;
  action_->setText(label);
  action_->updateGeometry();
}

// PermissionsView

PermissionsView::PermissionsView(const OnboardingEnvironment& environment, QWidget* parent)
    : OnboardingStep(parent), environment_(environment) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(48, 0, 48, 40);
  layout->setSpacing(0);
  layout->addSpacing(32);
  //% "Permissions"
  //: Title of the onboarding permissions screen.
  layout->addWidget(new TextLabel(qtTrId("onboarding.permissions.title"),
                                  TextStyle{notoSans(32, DSWeight::heavy), 2, DSColor::ink}, this));
  layout->addSpacing(8);
  //% "Grant access so Murel can record on command and insert transcribed text."
  //: Subtitle of the onboarding permissions screen.
  layout->addWidget(new TextLabel(qtTrId("onboarding.permissions.subtitle"),
                                  TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, this));
  layout->addSpacing(24);

  rows_ = new QWidget(this);
  auto* rows = new QVBoxLayout(rows_);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(0);
  //% "CONTINUE"
  //: Button that asks for a permission on the onboarding permissions screen.
  const QString grant = qtTrId("onboarding.permissions.continue");
  //% "Microphone"
  //: Microphone permission row title on the onboarding permissions screen.
  microphoneRow_ = new EditorialPermissionRow(
      1, qtTrId("onboarding.permissions.mic.label"),
      //% "Murel records only when you trigger a transcription. Audio never leaves this computer."
      //: Microphone permission row description on the onboarding permissions screen.
      qtTrId("onboarding.permissions.mic.description"), grant, false, rows_);
  //% "Accessibility"
  //: Accessibility permission row title on the onboarding permissions screen.
  accessibilityRow_ =
      new EditorialPermissionRow(2, qtTrId("onboarding.permissions.accessibility.label"),
                                 //% "Lets Murel insert transcribed text into any text field in any app."
                                 //: Accessibility permission row description on the onboarding permissions screen.
                                 qtTrId("onboarding.permissions.accessibility.description"), grant, true, rows_);
  rows->addWidget(new ThinDivider(rows_));
  rows->addWidget(microphoneRow_);
  rows->addWidget(new ThinDivider(rows_));
  rows->addWidget(accessibilityRow_);
  rows->addWidget(new ThinDivider(rows_));
  layout->addWidget(rows_);
  layout->addStretch(1);

  //% "← BACK"
  //: Back button on the onboarding permissions screen.
  back_ = new OnboardingButtonStyle(qtTrId("onboarding.permissions.back"), false, this);
  //% "NEXT →"
  //: Next button on the onboarding permissions screen.
  next_ = new OnboardingButtonStyle(qtTrId("onboarding.permissions.next"), true, this);
  next_->setEnabled(false);
  layout->addLayout(buttonRow(back_, next_));

  connect(back_, &QAbstractButton::clicked, this, &OnboardingStep::backRequested);
  connect(next_, &QAbstractButton::clicked, this, &OnboardingStep::continueRequested);
  connect(microphoneRow_, &EditorialPermissionRow::grantClicked, this, &PermissionsView::requestMicrophoneAccess);
  connect(accessibilityRow_, &EditorialPermissionRow::grantClicked, this, &PermissionsView::requestAccessibilityAccess);
  connect(accessibilityRow_, &EditorialPermissionRow::guideClicked, this, &PermissionsView::showAccessibilityGuide);

  rowsFade_ = new Tween(
      isRunningForPreviews() ? 1 : 0, [this](qreal value) { Motion::setContentOpacity(rows_, value); }, this);
  Motion::setContentOpacity(rows_, rowsFade_->value());
}

PermissionsView::~PermissionsView() {
  stopPolling();
  delete guideOverlay_.data();
}

qreal PermissionsView::rowsOpacity() const { return rowsFade_->value(); }

void PermissionsView::showEvent(QShowEvent* event) {
  OnboardingStep::showEvent(event);
  if (environment_.audioDevices.permissionStatus() == MicrophonePermissionStatus::Authorized) setMicGranted(true);
  if (environment_.isAccessibilityTrusted && environment_.isAccessibilityTrusted()) setAccessGranted(true);
  rowsFade_->animateTo(1, Motion::kPageEntrance);
}

void PermissionsView::hideEvent(QHideEvent* event) {
  OnboardingStep::hideEvent(event);
  stopPolling();
  closeAccessibilityGuide();
}

void PermissionsView::setMicGranted(bool granted, bool animated) {
  micGranted_ = granted;
  microphoneRow_->setGranted(granted, animated);
  next_->setEnabled(micGranted_ && accessGranted_);
}

void PermissionsView::setAccessGranted(bool granted, bool animated) {
  accessGranted_ = granted;
  accessibilityRow_->setGranted(granted, animated);
  next_->setEnabled(micGranted_ && accessGranted_);
}

void PermissionsView::microphoneAuthorized() {
  // The manager learns it too: its status, its connection to the server and
  // its device list are what the microphone step and a later visit read.
  environment_.audioDevices.refreshPermissionStatus();
  setMicGranted(true, true);
}

void PermissionsView::explainMicrophone() {
  // Linux has no microphone permission: "no" means the sound server did not answer.
  //% "Murel can't reach the sound server (PulseAudio or PipeWire). Start it, then press CONTINUE again."
  //: Shown on the microphone row of the onboarding permissions screen when the sound server does not answer.
  microphoneRow_->setProblem(qtTrId("onboarding.permissions.mic.soundServerUnreachable"));
}

void PermissionsView::explainAccessibility() {
  QString problem;
  if (!environment_.keyAccess) {
    //% "Murel hears your hotkey and types text through the X extensions XTEST and XInput 2.2, which this session doesn't offer. Log in to an X11 session that has them."
    //: Shown on the accessibility row of the onboarding permissions screen when keys can't be watched or typed.
    problem = qtTrId("onboarding.permissions.accessibility.unavailable");
  } else {
    const platform::KeyAccessReport report = environment_.keyAccess();
    QStringList missing;
    if (!report.xtest) missing << QStringLiteral("XTEST");
    if (!report.xinput22) missing << QStringLiteral("XInput 2.2");
    //% "%1 and %2"
    //: Two missing X extension names joined, on the onboarding permissions screen.
    const QString names = missing.size() == 2
                              ? qtTrId("onboarding.permissions.accessibility.missingBoth").arg(missing[0], missing[1])
                              : missing.value(0);
    if (!report.display) {
      //% "No X display answers. Murel hears your hotkey and types text through X11: log in to an X11 session, then open Murel again."
      //: Shown on the accessibility row of the onboarding permissions screen when no X display answers.
      problem = qtTrId("onboarding.permissions.accessibility.noDisplay");
    } else if (report.wayland) {
      //% "This Wayland session's X server lacks %1. Murel hears your hotkey and types text through X11 with XTEST and XInput 2.2: log in to an X11 session, then open Murel again."
      //: Shown on the accessibility row of the onboarding permissions screen in a Wayland session; %1 names the missing X extensions.
      problem = qtTrId("onboarding.permissions.accessibility.wayland").arg(names);
    } else if (!missing.isEmpty()) {
      //% "This X server lacks %1. Murel hears your hotkey and types text through the X extensions XTEST and XInput 2.2: use an X11 session whose server offers both."
      //: Shown on the accessibility row of the onboarding permissions screen; %1 names the missing X extensions.
      problem = qtTrId("onboarding.permissions.accessibility.missingExtensions").arg(names);
    }
  }
  accessibilityRow_->setProblem(problem);
}

void PermissionsView::requestMicrophoneAccess() {
  switch (environment_.microphonePermission.status()) {
    case MicrophonePermissionStatus::NotDetermined: {
      // The request answers for itself (and retries the sound server); no poll.
      auto request = environment_.audioDevices.requestPermission();
      QCoro::connect(std::move(request), this, [this](bool granted) {
        if (granted) {
          setMicGranted(true, true);
        } else {
          setMicGranted(false);
          explainMicrophone();
        }
      });
      return;
    }
    case MicrophonePermissionStatus::Authorized: microphoneAuthorized(); return;
    case MicrophonePermissionStatus::Restricted:
    case MicrophonePermissionStatus::Denied:
      // No settings page on this desktop to send the user to; watch for the change.
      explainMicrophone();
      startMicrophonePolling();
      return;
  }
}

void PermissionsView::requestAccessibilityAccess() {
  if (environment_.isAccessibilityTrusted && environment_.isAccessibilityTrusted()) {
    setAccessGranted(true, true);
    return;
  }
  explainAccessibility();
  startAccessibilityPolling();
}

void PermissionsView::schedulePoll(Clock::TimerId& poll, std::function<bool()> tick) {
  if (poll) environment_.clock.cancel(poll);
  poll = environment_.clock.schedule(kPollInterval, [this, &poll, tick = std::move(tick)]() mutable {
    poll = 0;
    if (!tick()) schedulePoll(poll, std::move(tick));
  });
}

void PermissionsView::startMicrophonePolling() {
  schedulePoll(microphonePoll_, [this] {
    if (environment_.microphonePermission.status() != MicrophonePermissionStatus::Authorized) return false;
    microphoneAuthorized();
    return true;
  });
}

void PermissionsView::startAccessibilityPolling() {
  schedulePoll(accessibilityPoll_, [this] {
    if (!environment_.isAccessibilityTrusted || !environment_.isAccessibilityTrusted()) return false;
    setAccessGranted(true, true);
    return true;
  });
}

void PermissionsView::stopPolling() {
  for (Clock::TimerId* poll : {&microphonePoll_, &accessibilityPoll_}) {
    if (*poll) environment_.clock.cancel(*poll);
    *poll = 0;
  }
}

void PermissionsView::showAccessibilityGuide() {
  if (guide_) return;
  // Over the whole onboarding content, header included.
  QWidget* host = window();
  for (QWidget* ancestor = parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
    if (qobject_cast<OnboardingContainerView*>(ancestor)) {
      host = ancestor;
      break;
    }
  }
  guide_ = new AccessibilityGuideView(environment_.clock);
  auto* overlay = new GuideOverlay(guide_, host);
  overlay->onEscape = [this] { closeAccessibilityGuide(); };
  guideOverlay_ = overlay;
  connect(guide_, &AboutDetailSheet::closeRequested, this, &PermissionsView::closeAccessibilityGuide);
  overlay->show();
  overlay->raise();
  overlay->setFocus();
}

void PermissionsView::closeAccessibilityGuide() {
  if (!guideOverlay_) return;
  // Hidden at once (the video stops with it), deleted once the click that
  // closed it has been handled.
  guideOverlay_->hide();
  guideOverlay_->deleteLater();
  guideOverlay_ = nullptr;
  guide_ = nullptr;
}

}  // namespace murel
