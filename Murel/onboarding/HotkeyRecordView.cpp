#include "onboarding/HotkeyRecordView.h"

#include "design/CoreComponents.h"
#include "design/Crossfade.h"
#include "design/EditorialComponents.h"
#include "design/HotkeyComponents.h"
#include "design/Motion.h"
#include "design/OnboardingButtonStyle.h"
#include "design/Preview.h"
#include "design/Text.h"
#include "hotkeys/HotKeyRecorder.h"
#include "hotkeys/HotKeyService.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace murel {

HotkeyRecordView::HotkeyRecordView(const OnboardingEnvironment& environment, QWidget* parent)
    : OnboardingStep(parent), environment_(environment) {
  HotKeyService& hotKeys = environment_.hotKeys;
  recorder_ = new HotKeyRecorder(hotKeys, HotKeyRecorder::Target::toggleRecording, environment_.clock, this);

  // The content sits in its own widget so that its fade-in never fights the
  // container's push, which fades the step itself.
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* content = new QWidget(this);
  outer->addWidget(content);
  auto* layout = new QVBoxLayout(content);
  layout->setContentsMargins(48, 0, 48, 40);
  layout->setSpacing(0);
  layout->addSpacing(32);
  //% "Hotkey"
  //: Title of the onboarding hotkey recording screen.
  layout->addWidget(new TextLabel(qtTrId("onboarding.hotkey.title"),
                                  TextStyle{notoSans(32, DSWeight::heavy), 2, DSColor::ink}, content));
  layout->addSpacing(8);
  //% "One shortcut. Anywhere on the system."
  //: Subtitle of the onboarding hotkey recording screen.
  layout->addWidget(new TextLabel(qtTrId("onboarding.hotkey.subtitle"),
                                  TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, content));
  layout->addSpacing(40);

  auto* row = new QHBoxLayout();
  row->setSpacing(20);
  keycaps_ = new EditorialKeycapRow({}, 44, 36, 14, 22, content);
  row->addWidget(keycaps_, 0, Qt::AlignVCenter);
  row->addStretch(1);
  statusBox_ = new QWidget(content);
  auto* status = new QHBoxLayout(statusBox_);
  status->setContentsMargins(0, 0, 0, 0);
  status->setSpacing(12);
  pill_ = new EditorialStatusPill(QString(), EditorialStatusPill::Leading::none, DSColor::accent, statusBox_);
  //% "REBIND"
  //: Button to record a different hotkey.
  rebind_ = new EditorialPillButton(qtTrId("onboarding.hotkey.rebind"), DSColor::accent, nullptr, statusBox_);
  //% "RECORD"
  //: Button to begin recording a hotkey.
  record_ = new OnboardingButtonStyle(qtTrId("onboarding.hotkey.record"), true, statusBox_);
  status->addWidget(pill_, 0, Qt::AlignVCenter);
  status->addWidget(rebind_, 0, Qt::AlignVCenter);
  status->addWidget(record_, 0, Qt::AlignVCenter);
  row->addWidget(statusBox_, 0, Qt::AlignVCenter);
  layout->addLayout(row);
  layout->addSpacing(24);
  layout->addWidget(new ThinDivider(content));

  helperBox_ = new QWidget(content);
  auto* helper = new QVBoxLayout(helperBox_);
  helper->setContentsMargins(0, 20, 0, 0);
  helper_ = new TextLabel(QString(), TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, helperBox_);
  helper->addWidget(helper_);
  layout->addWidget(helperBox_);

  layout->addSpacing(20);
  picker_ = new ActivationModePicker(hotKeys.activationMode(), content);
  layout->addWidget(picker_);
  layout->addStretch(1);

  //% "← BACK"
  //: Back button on the onboarding hotkey recording screen.
  back_ = new OnboardingButtonStyle(qtTrId("onboarding.hotkey.back"), false, content);
  //% "NEXT →"
  //: Next button on the onboarding hotkey recording screen.
  next_ = new OnboardingButtonStyle(qtTrId("onboarding.hotkey.next"), true, content);
  layout->addLayout(buttonRow(back_, next_));

  connect(back_, &QAbstractButton::clicked, this, &OnboardingStep::backRequested);
  connect(next_, &QAbstractButton::clicked, this, &OnboardingStep::continueRequested);
  connect(rebind_, &QAbstractButton::clicked, this, &HotkeyRecordView::beginCapture);
  connect(record_, &QAbstractButton::clicked, this, &HotkeyRecordView::beginCapture);
  connect(picker_, &ActivationModePicker::picked, &hotKeys, &HotKeyService::setActivationMode);
  connect(&hotKeys, &HotKeyService::activationModeChanged, this,
          [this] { picker_->setSelection(environment_.hotKeys.activationMode()); });
  connect(&hotKeys, &HotKeyService::currentComboChanged, this, &HotkeyRecordView::refresh);
  connect(&hotKeys, &HotKeyService::isRegisteredChanged, this, &HotkeyRecordView::refresh);
  connect(&hotKeys, &HotKeyService::lastRegistrationErrorChanged, this, &HotkeyRecordView::refresh);
  connect(recorder_, &HotKeyRecorder::isRecordingChanged, this, &HotkeyRecordView::refresh);
  connect(recorder_, &HotKeyRecorder::didTimeoutChanged, this, &HotkeyRecordView::refresh);
  connect(recorder_, &HotKeyRecorder::didConflictChanged, this, &HotkeyRecordView::refresh);
  refresh();

  fade_ = new Tween(
      isRunningForPreviews() ? 1 : 0, [content](qreal value) { Motion::setContentOpacity(content, value); }, this);
  Motion::setContentOpacity(content, fade_->value());
}

HotkeyRecordView::~HotkeyRecordView() {
  // The recorder goes with the step (ending a capture, which resumes the
  // hotkeys); what it reports on the way out concerns widgets already gone.
  recorder_->disconnect(this);
}

qreal HotkeyRecordView::contentOpacity() const { return fade_->value(); }

void HotkeyRecordView::showEvent(QShowEvent* event) {
  OnboardingStep::showEvent(event);
  HotKeyService& hotKeys = environment_.hotKeys;
  if (!hotKeys.currentCombo()) hotKeys.setCurrentCombo(defaultCombo());
  hotKeys.reloadRegistrations();
  refresh();
  fade_->animateTo(1, Motion::kPageEntrance);
}

void HotkeyRecordView::hideEvent(QHideEvent* event) {
  OnboardingStep::hideEvent(event);
  // A hidden window hears no keys: a capture left running would only hold the
  // hotkeys paused until it timed out.
  recorder_->stopCapture();
}

void HotkeyRecordView::beginCapture() {
  if (!recorder_->isRecording()) recorder_->beginCapture();
}

bool HotkeyRecordView::registrationUnavailable() const {
  return environment_.hotKeys.lastRegistrationError().has_value() && !recorder_->isRecording();
}

QWidget* HotkeyRecordView::statusControl() const {
  if (record_->isVisibleTo(statusBox_)) return record_;
  return pill_;
}

void HotkeyRecordView::refresh() {
  const HotKeyService& hotKeys = environment_.hotKeys;
  const bool recording = recorder_->isRecording();
  const bool unavailable = registrationUnavailable();
  const bool registered = hotKeys.isRegistered();
  // The pill, REBIND and RECORD change together with these; so does the helper line.
  const int statusKey = (recording ? 1 : 0) | (unavailable ? 2 : 0) | (registered ? 4 : 0);
  if (statusKey_ >= 0 && statusKey != statusKey_) Crossfade::begin(statusBox_, Motion::kToggle);
  statusKey_ = statusKey;

  // Before the default is stored, Alt+Space is what will be.
  const QStringList labels = keycapLabels(hotKeys.currentCombo().value_or(defaultCombo()));
  if (labels != keycaps_->labels()) keycaps_->setLabels(labels);

  if (recording) {
    //% "LISTENING…"
    //: Status pill shown while recording a new hotkey.
    pill_->setLabel(qtTrId("onboarding.hotkey.status.listening"));
    pill_->setLeading(EditorialStatusPill::Leading::none);
    pill_->setTint(DSColor::accent);
  } else if (unavailable) {
    //% "UNAVAILABLE"
    //: Status pill shown when the chosen hotkey could not be registered.
    pill_->setLabel(qtTrId("onboarding.hotkey.status.unavailable"));
    pill_->setLeading(EditorialStatusPill::Leading::none);
    pill_->setTint(DSColor::warning);
  } else if (registered) {
    //% "BOUND"
    //: Status pill shown when a hotkey is successfully bound.
    pill_->setLabel(qtTrId("onboarding.hotkey.status.bound"));
    pill_->setLeading(EditorialStatusPill::Leading::checkmark);
    pill_->setTint(DSColor::accent);
  }
  const bool showsPill = recording || unavailable || registered;
  pill_->setVisible(showsPill);
  rebind_->setVisible(!recording && showsPill);
  record_->setVisible(!showsPill);

  QString helperText;
  DSColor helperColor = DSColor::inkMuted;
  if (recording) {
    //% "Press any key, with or without modifiers. Esc to cancel."
    //: Helper text shown while recording a hotkey.
    helperText = qtTrId("onboarding.hotkey.helper.recording");
  } else if (recorder_->didConflict()) {
    // One entry with the settings pages' conflict notice.
    helperText = qtTrId("settings.modes.editor.hotkey.conflict");
  } else if (unavailable) {
    // One entry with the configuration page's notice.
    helperText = qtTrId("hotkey.registrationFailed.helper");
  } else if (recorder_->didTimeout()) {
    //% "Timed out — click rebind to try again."
    //: Helper text shown when hotkey recording timed out.
    helperText = qtTrId("onboarding.hotkey.helper.timeout");
  }
  if (!recording && (unavailable || recorder_->didTimeout() || recorder_->didConflict()))
    helperColor = DSColor::warning;
  if (helperText != helper_->text() || helperColor != helper_->style().color)
    Crossfade::begin(helperBox_, Motion::kToggle);
  helper_->setText(helperText);
  helper_->setColor(helperColor);
  helperBox_->setVisible(!helperText.isEmpty());

  next_->setEnabled(registered && !recording);
}

}  // namespace murel
