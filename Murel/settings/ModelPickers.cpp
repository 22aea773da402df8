#include "settings/ModelPickers.h"

#include "design/InputComponents.h"
#include "design/Symbols.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "runtime/UserDefaults.h"
#include "speech/EngineHost.h"
#include "speech/SpokenLanguage.h"

#include <QHideEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QShowEvent>

#include <cmath>

namespace murel {

namespace {

QFont faceFont() { return tracked(notoSans(12), 1.5); }

}  // namespace

// CapsuleMenuButton

CapsuleMenuButton::CapsuleMenuButton(QWidget* parent) : QAbstractButton(parent), menu_(new QMenu(this)) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setFocusPolicy(Qt::TabFocus);
  connect(this, &QAbstractButton::clicked, this, &CapsuleMenuButton::popUp);
}

void CapsuleMenuButton::setLabel(const QString& label) {
  if (label == text()) return;
  setText(label);
  updateGeometry();
  update();
}

void CapsuleMenuButton::setEntries(const QList<Entry>& entries) {
  entries_ = entries;
  rebuildMenu();
}

QSize CapsuleMenuButton::sizeHint() const { return CapsuleMenuFace::sizeHint(text()); }

bool CapsuleMenuButton::hitButton(const QPoint& pos) const {
  return isInteractive() && CapsuleMenuFace::contains(rect(), pos);
}

void CapsuleMenuButton::paintEvent(QPaintEvent*) { CapsuleMenuFace::paint(*this, text(), isDown()); }

bool CapsuleMenuButton::event(QEvent* event) {
  // The menu's colours are resolved when it is styled; an appearance change styles it again.
  if (event->type() == Appearance::changeEventType()) styleMenu();
  return QAbstractButton::event(event);
}

void CapsuleMenuButton::rebuildMenu() {
  menu_->clear();
  for (const Entry& entry : entries_) {
    QAction* action = menu_->addAction(entry.label);
    const QVariant value = entry.value;
    // One main-loop turn later: the pick may rebuild this menu, and the action
    // must outlive its own signal.
    connect(action, &QAction::triggered, this, [this, value] {
      QPointer<CapsuleMenuButton> self(this);
      QMetaObject::invokeMethod(
          this,
          [self, value] {
            if (self) Q_EMIT self->picked(value);
          },
          Qt::QueuedConnection);
    });
  }
  styleMenu();
  setCursor(isInteractive() ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void CapsuleMenuButton::styleMenu() {
  const auto css = [this](DSColor token, qreal opacity = 1.0) {
    return dsColor(token, this, opacity).name(QColor::HexArgb);
  };
  menu_->setFont(faceFont());
  menu_->setStyleSheet(
      QStringLiteral("QMenu { background: %1; color: %2; border: 1px solid %3; padding: 4px 0; }"
                     "QMenu::item { padding: 6px 16px 6px 16px; }"
                     "QMenu::item:selected { background: %4; }")
          .arg(css(DSColor::surfaceRaised), css(DSColor::ink), css(DSColor::hairline), css(DSColor::accent, 0.12)));
}

void CapsuleMenuButton::popUp() {
  if (!isInteractive()) return;
  styleMenu();
  menu_->popup(mapToGlobal(QPoint(0, height() + 4)));
}

// SpeechLanguagePicker

SpeechLanguagePicker::SpeechLanguagePicker(QStringList codes, bool autoDetect, UserDefaults& defaults, Clock& clock,
                                           QWidget* parent)
    : CapsuleMenuButton(parent), codes_(std::move(codes)), autoDetect_(autoDetect), defaults_(defaults), clock_(clock) {
  refreshLabel();
  connect(&defaults_, &UserDefaults::valueChanged, this, [this](const QString& key) {
    if (key == QLatin1String(kSpokenLanguageKey)) refreshLabel();
  });
  connect(this, &CapsuleMenuButton::picked, this, [this](const QVariant& code) {
    defaults_.setValue(QString::fromLatin1(kSpokenLanguageKey), code.toString());
  });
}

SpeechLanguagePicker::~SpeechLanguagePicker() { cancelOptions(); }

void SpeechLanguagePicker::refreshLabel() {
  setLabel(spokenLanguageLabel(codes_, autoDetect_, storedSpokenLanguage(defaults_)));
}

void SpeechLanguagePicker::showEvent(QShowEvent* event) {
  CapsuleMenuButton::showEvent(event);
  if (event->spontaneous() || isInteractive() || optionsTimer_) return;
  // The names of a hundred languages are looked up only once the row is on screen.
  optionsTimer_ = clock_.schedule(kOptionsDelay, [this] {
    optionsTimer_ = 0;
    QList<Entry> entries;
    for (const SpokenLanguageOption& option : spokenLanguageOptions(codes_, autoDetect_))
      entries.append({option.code, option.label});
    setEntries(entries);
  });
}

void SpeechLanguagePicker::hideEvent(QHideEvent* event) {
  CapsuleMenuButton::hideEvent(event);
  if (!event->spontaneous()) cancelOptions();
}

void SpeechLanguagePicker::cancelOptions() {
  if (optionsTimer_) clock_.cancel(optionsTimer_);
  optionsTimer_ = 0;
}

// ModelInactivityDelayPicker

QString inactivityDelayLabel(ModelInactivityDelay delay) {
  switch (delay) {
    case ModelInactivityDelay::never:
      //% "Never"
      return qtTrId("settings.models.auto_unload.delay.never");
    case ModelInactivityDelay::fifteenMinutes:
      //% "15 min"
      return qtTrId("settings.models.auto_unload.delay.15m");
    case ModelInactivityDelay::thirtyMinutes:
      //% "30 min"
      return qtTrId("settings.models.auto_unload.delay.30m");
    case ModelInactivityDelay::fortyFiveMinutes:
      //% "45 min"
      return qtTrId("settings.models.auto_unload.delay.45m");
    case ModelInactivityDelay::oneHour:
      //% "1 hr"
      return qtTrId("settings.models.auto_unload.delay.1h");
    case ModelInactivityDelay::twoHours:
      //% "2 hr"
      return qtTrId("settings.models.auto_unload.delay.2h");
  }
  return QString();
}

ModelInactivityDelayPicker::ModelInactivityDelayPicker(UserDefaults& defaults, QWidget* parent)
    : CapsuleMenuButton(parent), defaults_(defaults) {
  QList<Entry> entries;
  for (ModelInactivityDelay delay : model_inactivity_delay::allCases())
    entries.append({model_inactivity_delay::rawValue(delay), inactivityDelayLabel(delay)});
  setEntries(entries);
  refreshLabel();
  connect(&defaults_, &UserDefaults::valueChanged, this, [this](const QString& key) {
    if (key == QLatin1String(model_inactivity_delay::kKey)) refreshLabel();
  });
  connect(this, &CapsuleMenuButton::picked, this, [this](const QVariant& minutes) {
    defaults_.setValue(QString::fromLatin1(model_inactivity_delay::kKey), qint64(minutes.toInt()));
  });
}

void ModelInactivityDelayPicker::refreshLabel() {
  setLabel(inactivityDelayLabel(model_inactivity_delay::current(defaults_)));
}

}  // namespace murel
