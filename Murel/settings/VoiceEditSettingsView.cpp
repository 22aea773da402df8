#include "settings/VoiceEditSettingsView.h"

#include "app/SettingsNavigator.h"
#include "design/EditorialComponents.h"
#include "design/HotkeyComponents.h"
#include "design/Motion.h"
#include "design/SettingsComponents.h"
#include "design/Symbols.h"
#include "design/Text.h"
#include "hotkeys/HotKeyRecorder.h"
#include "hotkeys/HotKeyService.h"
#include "settings/ModeHotkeyField.h"
#include "speech/LanguageModelFile.h"
#include "text/VoiceEditPreferences.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace murel {

namespace {

QWidget* gap(int height, QWidget* parent) {
  auto* spacer = new QWidget(parent);
  spacer->setFixedHeight(height);
  return spacer;
}

// A symbol in one colour, centred in a fixed-width column.
class SymbolView : public QWidget {
 public:
  SymbolView(QString name, qreal pointSize, DSColor color, int width, QWidget* parent)
      : QWidget(parent), name_(std::move(name)), pointSize_(pointSize), color_(color) {
    setFixedWidth(width);
    setMinimumHeight(int(std::ceil(Symbols::sideForPointSize(pointSize_))));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = Symbols::sideForPointSize(pointSize_);
    Symbols::paint(painter, QRectF(QRectF(rect()).center() - QPointF(side / 2, side / 2), QSizeF(side, side)), name_,
                   dsColor(color_, this));
  }

 private:
  QString name_;
  qreal pointSize_;
  DSColor color_;
};

// The model-required notice: laid on the accent at 3 %.
class ModelRequiredNotice : public QWidget {
 public:
  ModelRequiredNotice(QWidget* button, QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(20, 16, 20, 16);
    row->setSpacing(16);
    row->addWidget(new SymbolView(QStringLiteral("sparkles"), 14, DSColor::accent, 24, this), 0, Qt::AlignVCenter);
    auto* text = new QVBoxLayout;
    text->setContentsMargins(0, 0, 0, 0);
    text->setSpacing(4);
    //% "Download the transformation model first"
    //: Title of the notice shown when voice edit is switched on without the language model.
    text->addWidget(new TextLabel(qtTrId("settings.voiceEdit.modelRequired.title"),
                                  TextStyle{notoSans(16, DSWeight::bold), 2, DSColor::ink}, this));
    //% "Voice Edit needs the transformation model to rewrite selected text on this computer."
    //: Message of the notice shown when voice edit is switched on without the language model.
    text->addWidget(new TextLabel(qtTrId("settings.voiceEdit.modelRequired.message"),
                                  TextStyle{notoSans(13), 4, DSColor::inkMuted}, this));
    row->addLayout(text, 1);
    button->setParent(this);
    row->addWidget(button, 0, Qt::AlignVCenter);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), dsColor(DSColor::accent, this, 0.03));
  }
};

// Covers its parent and takes every pointer event meant for what lies under
// it, while it is shown.
class InputShield : public QWidget {
 public:
  explicit InputShield(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_NoSystemBackground);
    parent->installEventFilter(this);
    setGeometry(parent->rect());
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return false;
  }
  void mousePressEvent(QMouseEvent* event) override { event->accept(); }
  void mouseReleaseEvent(QMouseEvent* event) override { event->accept(); }
  void mouseDoubleClickEvent(QMouseEvent* event) override { event->accept(); }
};

}  // namespace

VoiceEditSettingsView::VoiceEditSettingsView(Services services, QWidget* parent) : QWidget(parent), s_(services) {
  recorder_ = new HotKeyRecorder(s_.hotKeys, HotKeyRecorder::Target::commandEdit, s_.clock, this);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* page = new SettingsPageLayout(this);
  outer->addWidget(page);
  QWidget* column = page->column();

  //% "Voice Edit"
  //: Page header title for the Voice Edit settings pane.
  page->addContent(new SettingsCompactHeader(qtTrId("settings.voiceEdit.title"), column));
  auto* explanation = new QWidget(column);
  auto* explanationLayout = new QVBoxLayout(explanation);
  explanationLayout->setContentsMargins(4, 0, 0, 0);
  //% "select text in any app, start the shortcut and say how to change it, then stop recording. Make it shorter, friendlier, or translate it—Murel rewrites your selection in place."
  //: Explanation at the top of the Voice Edit settings pane.
  explanationLayout->addWidget(new TextLabel(qtTrId("settings.configuration.commandEdit.description"),
                                             TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, explanation));
  page->addContent(explanation);
  page->addContent(gap(24, column));

  //% "FEATURE"
  //: Card label above the voice-edit switch.
  auto* feature = new SettingsCardSection(qtTrId("settings.voiceEdit.feature.section"), column);
  toggle_ = new EditorialToggleButton(s_.preferences.isEnabled());
  //% "Enable Voice Edit"
  //: Row label of the voice-edit switch.
  feature->addRow(new SettingsRow(qtTrId("settings.voiceEdit.enable"),
                                  //% "allow Murel to read selected text when you use the Voice Edit shortcut."
                                  //: Row description of the voice-edit switch.
                                  qtTrId("settings.voiceEdit.enable.description"), false, toggle_, feature));
  //% "Go to Models"
  //: Button in the voice-edit model notice that opens the Models settings page.
  modelsButton_ = new EditorialPillButton(qtTrId("settings.voiceEdit.modelRequired.modelsButton"), DSColor::accent,
                                          [this] { openModelsPage(); });
  notice_ = new ModelRequiredNotice(modelsButton_, feature);
  feature->addRow(notice_);
  page->addContent(feature);
  page->addContent(gap(24, column));

  hotkeySection_ = new QWidget(column);
  auto* hotkeyColumn = new QVBoxLayout(hotkeySection_);
  hotkeyColumn->setContentsMargins(0, 0, 0, 0);
  hotkeyColumn->setSpacing(0);
  auto* hotkey = new SettingsCardSection(hotkeySectionTitle(), hotkeySection_);
  row_ = new HotkeyBindingRow(s_.hotKeys.commandEditCombo(), false);
  frame_ = new ListeningRowFrame(row_, hotkey);
  hotkey->addRow(frame_);
  hotkeyColumn->addWidget(hotkey);
  conflict_ = new HotkeyConflictNotice(hotkeySection_);
  hotkeyColumn->addWidget(conflict_);
  page->addContent(hotkeySection_);
  shield_ = new InputShield(hotkeySection_);

  // Only the user's flip asks for a change; the switch then shows the stored value.
  connect(toggle_, &QAbstractButton::clicked, this, [this](bool on) { setVoiceEditEnabled(on); });
  // While voice edit is off the card takes no input, from the pointer or the keyboard.
  connect(row_, &HotkeyBindingRow::clearClicked, this, [this] {
    if (s_.preferences.isEnabled()) clearVoiceEditHotkey();
  });
  connect(row_, &HotkeyBindingRow::rebindClicked, this, [this] {
    if (s_.preferences.isEnabled()) rebindVoiceEditHotkey();
  });
  connect(recorder_, &HotKeyRecorder::isRecordingChanged, this, &VoiceEditSettingsView::refresh);
  connect(recorder_, &HotKeyRecorder::didConflictChanged, this, &VoiceEditSettingsView::refresh);
  connect(&s_.hotKeys, &HotKeyService::commandEditComboChanged, this, &VoiceEditSettingsView::refresh);
  connect(&s_.preferences, &VoiceEditPreferences::isEnabledChanged, this, &VoiceEditSettingsView::refresh);
  refresh();
}

VoiceEditSettingsView::~VoiceEditSettingsView() {
  // The recorder outlives the row it reports to while the children go.
  recorder_->disconnect(this);
  recorder_->stopCapture();
}

void VoiceEditSettingsView::setVoiceEditEnabled(bool enabled) {
  if (enabled && !isGemmaModelInstalled()) {
    showModelRequired_ = true;
    refresh();
    return;
  }
  s_.preferences.setEnabled(enabled);
  s_.hotKeys.reloadRegistrations();
  refresh();
}

void VoiceEditSettingsView::openModelsPage() {
  showModelRequired_ = false;
  refresh();
  // Leaves the page; nothing else is stored on the way.
  s_.navigator.setSelectedTab(SettingsTab::models);
}

void VoiceEditSettingsView::clearVoiceEditHotkey() {
  s_.hotKeys.setCommandEditCombo(std::nullopt);
  s_.hotKeys.reloadRegistrations();
}

void VoiceEditSettingsView::rebindVoiceEditHotkey() {
  if (recorder_->isRecording()) return;
  recorder_->beginCapture();
}

qreal VoiceEditSettingsView::hotkeySectionOpacity() const {
  const auto* effect = qobject_cast<const QGraphicsOpacityEffect*>(hotkeySection_->graphicsEffect());
  return effect ? effect->opacity() : 1.0;
}

void VoiceEditSettingsView::refresh() {
  const bool enabled = s_.preferences.isEnabled();
  if (toggle_->isOn() != enabled) toggle_->setOn(enabled);
  notice_->setVisible(showModelRequired_);
  row_->setCombo(s_.hotKeys.commandEditCombo());
  row_->setRecording(recorder_->isRecording());
  frame_->setListening(recorder_->isRecording());
  conflict_->setVisible(recorder_->didConflict());
  Motion::setContentOpacity(hotkeySection_, enabled ? 1.0 : 0.5);
  shield_->setVisible(!enabled);
  shield_->raise();
}

}  // namespace murel
