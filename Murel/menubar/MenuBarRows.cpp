#include "menubar/MenuBarRows.h"

#include "app/AppState.h"
#include "audio/AudioDeviceManager.h"
#include "design/Motion.h"
#include "design/Symbols.h"
#include "design/Text.h"
#include "runtime/UserDefaults.h"
#include "speech/EngineHost.h"
#include "speech/SpeechModel.h"
#include "text/ModeStore.h"

#include <QCoroTask>
#include <QFontMetricsF>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace murel {

namespace {

constexpr qreal kRowSpacing = 16;
constexpr qreal kSpacerMin = 12;
constexpr qreal kPillPaddingX = 12;
constexpr qreal kPillPaddingY = 4;
constexpr qreal kPillSpacing = 8;
constexpr qreal kChevronSize = 9;

qreal lineHeight(const QFont& font) {
  return TextMetrics::size(QStringLiteral("Ag"), font, kMenuBarLineSpacing).height();
}

QCoro::Task<void> selectModelQuietly(AppState* state, const SpeechModelDescriptor* model) {
  try {
    auto select = state->selectSpeechModel(*model);
    co_await std::move(select);
  } catch (...) {
    // The model went away meanwhile: the stored choice stays as it was.
  }
}

}  // namespace

QFont menuBarCaptionFont() { return tracked(notoSans(12), 1.5); }
// The outer tracking of 2 around these texts does not add to their own 1.5:
// a text's own tracking wins over one applied around it.
QFont menuBarSmallFont() { return tracked(notoSans(10), 1.5); }

// ---- MenuBarRowButton

MenuBarRowButton::MenuBarRowButton(QWidget* parent)
    : QAbstractButton(parent),
      hover_(new Tween(
          0, [this](qreal) { update(); }, this)) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFocusPolicy(Qt::NoFocus);
}

void MenuBarRowButton::setHovering(bool hovering) {
  if (hovering == isHovering_) return;
  isHovering_ = hovering;
  hover_->animateTo(hovering ? 1 : 0, Motion::kHover);
}

void MenuBarRowButton::enterEvent(QEnterEvent* event) {
  QAbstractButton::enterEvent(event);
  if (showsHover()) setHovering(true);
}

void MenuBarRowButton::leaveEvent(QEvent* event) {
  QAbstractButton::leaveEvent(event);
  if (showsHover()) setHovering(false);
}

void MenuBarRowButton::mouseReleaseEvent(QMouseEvent* event) {
  lastClick_ = event->globalPosition().toPoint();
  QAbstractButton::mouseReleaseEvent(event);
  // A later click through the keyboard or a test has no position.
  lastClick_.reset();
}

void MenuBarRowButton::paintHover(QPainter& painter) {
  if (!showsHover() || hover_->value() <= 0) return;
  painter.fillRect(rect(), dsColor(DSColor::ink, this, 0.03 * hover_->value()));
}

// ---- MenuBarPickerRow

MenuBarPickerRow::MenuBarPickerRow(const QString& caption, const QString& accessibleLabel, DSColor pillColor,
                                   QWidget* parent)
    : MenuBarRowButton(parent), pillColor_(pillColor) {
  setText(caption);
  setAccessibleName(accessibleLabel);
  connect(this, &QAbstractButton::clicked, this, [this] { showMenu(); });
}

void MenuBarPickerRow::setPill(const QString& shown, const QString& accessibleValue) {
  setAccessibleDescription(accessibleValue);
  if (shown == pillText_) return;
  pillText_ = shown;
  updateGeometry();
  update();
}

void MenuBarPickerRow::showMenu() {
  std::unique_ptr<QMenu> menu = buildMenu();
  if (menu) popUpMenu(*menu, this, lastClick());
}

QSize MenuBarPickerRow::sizeHint() const {
  const qreal caption = TextMetrics::size(text(), menuBarCaptionFont(), kMenuBarLineSpacing).width();
  const qreal pillHeight = lineHeight(menuBarSmallFont()) + 2 * kPillPaddingY;
  const qreal height = std::max(lineHeight(menuBarCaptionFont()), pillHeight) + 2 * kPaddingY;
  const qreal pill = TextMetrics::size(pillText_, menuBarSmallFont(), kMenuBarLineSpacing).width() + 2 * kPillPaddingX +
                     kPillSpacing + kChevronSize;
  return QSize(int(std::ceil(2 * kPaddingX + caption + 2 * kRowSpacing + kSpacerMin + pill)), int(std::ceil(height)));
}

QRectF MenuBarPickerRow::pillRect() const {
  const QFont font = menuBarSmallFont();
  const qreal caption = TextMetrics::size(text(), menuBarCaptionFont(), kMenuBarLineSpacing).width();
  const qreal room = width() - 2 * kPaddingX - caption - 2 * kRowSpacing - kSpacerMin;
  const qreal fixed = 2 * kPillPaddingX + kPillSpacing + kChevronSize;
  const qreal textWidth = std::min(TextMetrics::size(pillText_, font, kMenuBarLineSpacing).width(), room - fixed);
  const qreal pillWidth = std::max(fixed, textWidth + fixed);
  const qreal pillHeight = lineHeight(font) + 2 * kPillPaddingY;
  return QRectF(width() - kPaddingX - pillWidth, (height() - pillHeight) / 2, pillWidth, pillHeight);
}

QString MenuBarPickerRow::shownPillText() const {
  const qreal room = pillRect().width() - 2 * kPillPaddingX - kPillSpacing - kChevronSize;
  // Measured whole first: eliding a text that fits can still cut it by rounding.
  if (TextMetrics::size(pillText_, menuBarSmallFont(), kMenuBarLineSpacing).width() <= room + 0.5) return pillText_;
  return QFontMetricsF(menuBarSmallFont()).elidedText(pillText_, Qt::ElideRight, room);
}

void MenuBarPickerRow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  paintHover(painter);

  const QFont captionFont = menuBarCaptionFont();
  const QSizeF caption = TextMetrics::size(text(), captionFont, kMenuBarLineSpacing);
  TextMetrics::draw(painter, QRectF(QPointF(kPaddingX, (height() - caption.height()) / 2), caption), text(),
                    captionFont, kMenuBarLineSpacing, dsColor(DSColor::ink, this), Qt::AlignLeft, false);

  const QRectF pill = pillRect();
  QPainterPath capsule;
  const QRectF outline = pill.adjusted(0.5, 0.5, -0.5, -0.5);
  capsule.addRoundedRect(outline, outline.height() / 2, outline.height() / 2);
  painter.setPen(QPen(dsColor(DSColor::hairline, this), 1.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(capsule);

  const QFont font = menuBarSmallFont();
  const QString shown = shownPillText();
  const QSizeF label = TextMetrics::size(shown, font, kMenuBarLineSpacing);
  TextMetrics::draw(painter,
                    QRectF(QPointF(pill.left() + kPillPaddingX, pill.center().y() - label.height() / 2), label), shown,
                    font, kMenuBarLineSpacing, dsColor(pillColor_, this), Qt::AlignLeft, false);
  const qreal side = Symbols::sideForPointSize(kChevronSize);
  const QRectF chevron(pill.right() - kPillPaddingX - side, pill.center().y() - side / 2, side, side);
  Symbols::paint(painter, chevron, QStringLiteral("chevron.down"), dsColor(DSColor::inkSecondary, this));
}

// ---- MenuBarModeRow

MenuBarModeRow::MenuBarModeRow(ModeStore& store, ModeMenuTarget& target, QWidget* parent)
    : MenuBarPickerRow(
          //% "MODE"
          //: Label for the active-mode picker row in the menu bar.
          qtTrId("menubar.mode"),
          //% "Mode"
          //: Accessibility label for the active-mode picker row in the menu bar.
          qtTrId("menubar.mode.accessibilityLabel"), DSColor::accent, parent),
      store_(store),
      target_(target) {
  connect(&store_, &ModeStore::modesChanged, this, &MenuBarModeRow::refresh);
  refresh();
}

void MenuBarModeRow::refresh() {
  const Mode active = store_.defaultMode();
  setPill(active.name.toUpper(), active.name);
}

std::unique_ptr<QMenu> MenuBarModeRow::buildMenu() {
  auto menu = std::make_unique<QMenu>();
  const QUuid active = store_.defaultMode().id;
  ModeMenuTarget* target = &target_;
  for (const Mode& mode : store_.modes()) {
    addChoiceItem(*menu, mode.name, mode.id.toString(QUuid::WithoutBraces).toUpper(), mode.id == active,
                  [target](const QAction* item) { target->select(item); });
  }
  return menu;
}

// ---- MenuBarModelRow

MenuBarModelRow::MenuBarModelRow(UserDefaults& defaults, AppState& state, ClosureMenuTarget& target, QWidget* parent)
    : MenuBarPickerRow(
          //% "MODEL"
          //: Label for the speech model picker row in the menu bar.
          qtTrId("menubar.model"),
          //% "Speech model"
          //: Accessibility label for the speech model picker row in the menu bar.
          qtTrId("menubar.model.accessibilityLabel"), DSColor::ink, parent),
      defaults_(defaults),
      state_(state),
      target_(target) {
  connect(&defaults_, &UserDefaults::valueChanged, this, [this](const QString& key) {
    if (key == QLatin1String(kSelectedSpeechModelKey)) refresh();
  });
  refresh();
}

void MenuBarModelRow::refresh() {
  const QString name = selectedSpeechModel(defaults_).displayName.text();
  setPill(name, name);
}

std::unique_ptr<QMenu> MenuBarModelRow::buildMenu() {
  auto menu = std::make_unique<QMenu>();
  ClosureMenuTarget* target = &target_;
  for (const SpeechModelDescriptor& entry : SpeechModelDescriptor::catalog()) {
    if (!entry.isModelInstalled()) continue;
    // Catalogue entries live for the process, so the closure may hold one.
    auto* closure = new MenuActionClosure(
        [state = &state_, model = &entry] { QCoro::connect(selectModelQuietly(state, model), state, [] {}); },
        menu.get());
    const bool selected = entry.id == selectedSpeechModel(defaults_).id;
    addChoiceItem(*menu, entry.displayName.text(), QVariant::fromValue<QObject*>(closure), selected,
                  [target](const QAction* item) { target->invoke(item); });
  }
  return menu;
}

// ---- MenuBarLanguageRow

LanguageChoices languageChoices(const LanguageSupport& support, const QString& selection) {
  LanguageChoices choices;
  choices.isSelectable = support.kind == LanguageSupport::Kind::Selectable;
  choices.effective = support.resolveLanguage(selection).value_or(QStringLiteral("auto"));
  if (choices.isSelectable) {
    if (support.autoDetect) choices.codes.append(QStringLiteral("auto"));
    choices.codes += support.codes;
  }
  return choices;
}

MenuBarLanguageRow::MenuBarLanguageRow(UserDefaults& defaults, LanguageMenuTarget& target, QWidget* parent)
    : MenuBarPickerRow(
          //% "LANGUAGE"
          //: Label for the language picker row in the menu bar.
          qtTrId("menubar.language"),
          //% "Language"
          //: Accessibility label for the language picker row in the menu bar.
          qtTrId("menubar.language.accessibilityLabel"), DSColor::ink, parent),
      defaults_(defaults),
      target_(target) {
  connect(&defaults_, &UserDefaults::valueChanged, this, [this](const QString& key) {
    if (key == QLatin1String(kSelectedSpeechModelKey) || key == QLatin1String(kSpokenLanguageKey)) refresh();
  });
  refresh();
}

LanguageChoices MenuBarLanguageRow::choices() const {
  const QString selection =
      defaults_.stringValue(QString::fromLatin1(kSpokenLanguageKey)).value_or(QStringLiteral("auto"));
  return languageChoices(selectedSpeechModel(defaults_).capabilities.languages, selection);
}

void MenuBarLanguageRow::refresh() {
  const LanguageChoices now = choices();
  const QString name = languageDisplayName(now.effective);
  setPill(name.toUpper(), name);
  // Disabled widgets still see the pointer come and go, so the tint follows it.
  setEnabled(now.isSelectable);
}

std::unique_ptr<QMenu> MenuBarLanguageRow::buildMenu() {
  const LanguageChoices now = choices();
  if (!now.isSelectable) return nullptr;
  auto menu = std::make_unique<QMenu>();
  LanguageMenuTarget* target = &target_;
  for (const QString& code : now.codes) {
    addChoiceItem(*menu, languageDisplayName(code), code, code == now.effective,
                  [target](const QAction* item) { target->select(item); });
  }
  return menu;
}

void MenuBarLanguageRow::showMenu() {
  if (!choices().isSelectable) return;
  MenuBarPickerRow::showMenu();
}

// ---- MenuBarMicRow

MenuBarMicRow::MenuBarMicRow(AudioDeviceManager& devices, ClosureMenuTarget& target, QWidget* parent)
    : MenuBarPickerRow(
          //% "MICROPHONE"
          //: Label for the microphone picker row in the menu bar.
          qtTrId("menubar.microphone"),
          //% "Microphone"
          //: Accessibility label for the microphone picker row in the menu bar.
          qtTrId("menubar.microphone.accessibilityLabel"), DSColor::ink, parent),
      devices_(devices),
      target_(target) {
  connect(&devices_, &AudioDeviceManager::devicesChanged, this, &MenuBarMicRow::refresh);
  connect(&devices_, &AudioDeviceManager::selectedDeviceUIDChanged, this, &MenuBarMicRow::refresh);
  refresh();
}

QString MenuBarMicRow::currentDeviceName() const {
  const QList<AudioDevice>& list = devices_.devices();
  const quint32 selected = devices_.selectedDeviceID();
  for (const AudioDevice& device : list)
    if (device.id == selected) return device.name;
  return list.isEmpty() ? QString() : list.constFirst().name;
}

void MenuBarMicRow::refresh() {
  const QString name = currentDeviceName();
  setPill(name.toUpper(), name);
}

std::unique_ptr<QMenu> MenuBarMicRow::buildMenu() {
  auto menu = std::make_unique<QMenu>();
  const quint32 selected = devices_.selectedDeviceID();
  ClosureMenuTarget* target = &target_;
  for (const AudioDevice& device : devices_.devices()) {
    auto* closure = new MenuActionClosure(
        [manager = QPointer<AudioDeviceManager>(&devices_), id = device.id] {
          if (manager) manager->setSelectedDeviceID(id);
        },
        menu.get());
    addChoiceItem(*menu, device.name, QVariant::fromValue<QObject*>(closure), device.id == selected,
                  [target](const QAction* item) { target->invoke(item); });
  }
  return menu;
}

// ---- MenuBarActionRow

MenuBarActionRow::MenuBarActionRow(const QString& label, bool isDestructive, bool isDisabled, QWidget* parent)
    : MenuBarRowButton(parent), isDestructive_(isDestructive) {
  setText(label);
  setAccessibleName(label);
  setEnabled(!isDisabled);
}

void MenuBarActionRow::setDisabled(bool disabled) {
  setEnabled(!disabled);
  update();
}

std::pair<DSColor, qreal> MenuBarActionRow::labelColor() const {
  if (!isEnabled()) return {DSColor::inkSecondary, 0.5};
  if (isDestructive_ && isHovering()) return {DSColor::danger, 1.0};
  return {DSColor::ink, 1.0};
}

QSize MenuBarActionRow::sizeHint() const {
  const QSizeF label = TextMetrics::size(text(), menuBarCaptionFont(), kMenuBarLineSpacing);
  return QSize(int(std::ceil(label.width() + 2 * kPaddingX + kRowSpacing + kSpacerMin)),
               int(std::ceil(lineHeight(menuBarCaptionFont()) + 2 * kPaddingY)));
}

void MenuBarActionRow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  paintHover(painter);
  const auto [token, opacity] = labelColor();
  const QFont font = menuBarCaptionFont();
  const QSizeF label = TextMetrics::size(text(), font, kMenuBarLineSpacing);
  TextMetrics::draw(painter, QRectF(QPointF(kPaddingX, (height() - label.height()) / 2), label), text(), font,
                    kMenuBarLineSpacing, dsColor(token, this, opacity), Qt::AlignLeft, false);
}

}  // namespace murel
