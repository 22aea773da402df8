#include "onboarding/MicrophoneSelectionView.h"

#include "design/CoreComponents.h"
#include "design/Crossfade.h"
#include "design/EditorialComponents.h"
#include "design/Motion.h"
#include "design/OnboardingButtonStyle.h"
#include "design/Preview.h"
#include "design/Symbols.h"
#include "design/Text.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace murel {

namespace {

constexpr int kCheckColumn = 20;

// The selected row's checkmark, sized like a 12 px heavy glyph; nothing on
// other rows, whose column stays as wide.
class RowCheckmark : public QWidget {
 public:
  explicit RowCheckmark(QWidget* parent) : QWidget(parent) { setFixedWidth(kCheckColumn); }
  bool shown = false;

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!shown) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = Symbols::sideForPointSize(12);
    Symbols::paint(painter, QRectF((width() - side) / 2, (height() - side) / 2, side, side),
                   QStringLiteral("checkmark"), dsColor(DSColor::accent, this));
  }
};

}  // namespace

// EditorialDeviceRow

EditorialDeviceRow::EditorialDeviceRow(int index, const AudioDevice& device, bool isSelected, QWidget* parent)
    : QAbstractButton(parent), device_(device), isSelected_(isSelected) {
  setText(device.name);
  setCursor(Qt::PointingHandCursor);
  auto* content = new QWidget();
  auto* row = new QHBoxLayout(content);
  row->setContentsMargins(0, 20, 0, 20);
  row->setSpacing(20);
  numeral_ = new EditorialChapterNumeral(index, isSelected, false, content);
  name_ = new TextLabel(device.name, TextStyle{notoSans(16, DSWeight::bold), 2, DSColor::ink}, content);
  check_ = new RowCheckmark(content);
  row->addWidget(numeral_, 0, Qt::AlignVCenter);
  row->addWidget(name_, 1, Qt::AlignVCenter);
  row->addWidget(check_);
  hover_ = new EditorialRowHover(content, isSelected, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(hover_);
  setSelected(isSelected);
}

void EditorialDeviceRow::setSelected(bool selected, bool animated) {
  if (animated && selected != isSelected_) Crossfade::begin(this, kSelectionMs);
  isSelected_ = selected;
  numeral_->setActive(selected);
  name_->setColor(selected ? DSColor::accent : DSColor::ink);
  static_cast<RowCheckmark*>(check_)->shown = selected;
  check_->update();
  hover_->setActive(selected);
}

// MicrophoneSelectionView

MicrophoneSelectionView::MicrophoneSelectionView(AudioDeviceManager& manager, DeviceList devices, bool trayShown,
                                                 QWidget* parent)
    : OnboardingStep(parent), manager_(manager), devices_(std::move(devices)) {
  if (!devices_) devices_ = [this] { return manager_.devices(); };

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(48, 0, 48, 40);
  layout->setSpacing(0);
  layout->addSpacing(32);
  //% "Microphone"
  //: Title of the onboarding microphone selection screen.
  layout->addWidget(new TextLabel(qtTrId("onboarding.microphone.title"),
                                  TextStyle{notoSans(32, DSWeight::heavy), 2, DSColor::ink}, this));
  layout->addSpacing(8);
  //% "Pick the voice Murel listens to."
  //: Subtitle of the onboarding microphone selection screen.
  layout->addWidget(new TextLabel(qtTrId("onboarding.microphone.subtitle"),
                                  TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, this));
  layout->addSpacing(24);
  divider_ = new ThinDivider(this);
  layout->addWidget(divider_);

  auto* scroll = new QScrollArea(this);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setWidgetResizable(true);
  scroll->viewport()->setAutoFillBackground(false);
  auto* content = new QWidget();
  auto* contentLayout = new QVBoxLayout(content);
  contentLayout->setContentsMargins(0, 0, 0, 0);
  contentLayout->setSpacing(0);
  //% "No microphones found — connect one and it appears here."
  //: Empty state on the microphone selection screen when no input devices exist.
  empty_ = new TextLabel(qtTrId("onboarding.microphone.empty"), TextStyle{notoSansItalic(14), 4, DSColor::inkMuted},
                         content);
  empty_->setContentsMargins(0, 24, 0, 24);
  contentLayout->addWidget(empty_);
  list_ = new QWidget(content);
  listLayout_ = new QVBoxLayout(list_);
  listLayout_->setContentsMargins(0, 0, 0, 0);
  listLayout_->setSpacing(0);
  contentLayout->addWidget(list_);
  contentLayout->addStretch(1);
  scroll->setWidget(content);
  // The page shows through (setWidget turns the content's fill on).
  scroll->setAutoFillBackground(false);
  content->setAutoFillBackground(false);
  layout->addWidget(scroll, 1);

  //% "Change it later from the tray."
  //: Footnote reassuring the user the microphone can be changed later (from the tray icon's panel).
  const QString trayFootnote = qtTrId("onboarding.microphone.footnote");
  //% "Change it later in Murel's settings: open Murel again to reach them."
  //: Footnote reassuring the user the microphone can be changed later, on a desktop without a system tray.
  const QString noTrayFootnote = qtTrId("onboarding.microphone.footnote.noTray");
  footnote_ = new TextLabel(trayShown ? trayFootnote : noTrayFootnote,
                            TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, this);
  layout->addSpacing(20);
  layout->addWidget(footnote_);
  layout->addSpacing(20);

  //% "← BACK"
  //: Back button on the onboarding microphone selection screen.
  back_ = new OnboardingButtonStyle(qtTrId("onboarding.microphone.back"), false, this);
  //% "NEXT →"
  //: Next button on the onboarding microphone selection screen.
  next_ = new OnboardingButtonStyle(qtTrId("onboarding.microphone.next"), true, this);
  layout->addLayout(buttonRow(back_, next_));
  connect(back_, &QAbstractButton::clicked, this, &OnboardingStep::backRequested);
  connect(next_, &QAbstractButton::clicked, this, &OnboardingStep::continueRequested);

  connect(&manager_, &AudioDeviceManager::devicesChanged, this, &MicrophoneSelectionView::rebuildRows);
  connect(&manager_, &AudioDeviceManager::selectedDeviceUIDChanged, this, &MicrophoneSelectionView::refreshSelection);
  rebuildRows();

  fade_ = new Tween(
      isRunningForPreviews() ? 1 : 0,
      [this, scroll](qreal value) {
        Motion::setContentOpacity(divider_, value);
        Motion::setContentOpacity(scroll, value);
      },
      this);
  Motion::setContentOpacity(divider_, fade_->value());
  Motion::setContentOpacity(scroll, fade_->value());
}

qreal MicrophoneSelectionView::listOpacity() const { return fade_->value(); }

void MicrophoneSelectionView::showEvent(QShowEvent* event) {
  OnboardingStep::showEvent(event);
  // Nothing is written here: a stored microphone that is not plugged in stays
  // the user's choice, and the manager already falls back to System Default.
  fade_->animateTo(1, Motion::kPageEntrance);
}

void MicrophoneSelectionView::rebuildRows() {
  for (QWidget* widget : rows_) delete widget;
  for (QWidget* widget : rowDividers_) delete widget;
  rows_.clear();
  rowDividers_.clear();
  const QList<AudioDevice> devices = devices_();
  const quint32 selected = manager_.selectedDeviceID();
  int index = 0;
  for (const AudioDevice& device : devices) {
    auto* row = new EditorialDeviceRow(++index, device, device.id == selected, list_);
    const quint32 id = device.id;
    connect(row, &QAbstractButton::clicked, this, [this, id] { manager_.setSelectedDeviceID(id); });
    auto* divider = new ThinDivider(list_);
    listLayout_->addWidget(row);
    listLayout_->addWidget(divider);
    rows_ << row;
    rowDividers_ << divider;
  }
  empty_->setVisible(devices.isEmpty());
}

void MicrophoneSelectionView::refreshSelection() {
  const quint32 selected = manager_.selectedDeviceID();
  for (EditorialDeviceRow* row : rows_) row->setSelected(row->device().id == selected, true);
}

}  // namespace murel
