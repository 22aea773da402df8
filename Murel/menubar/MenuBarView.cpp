#include "menubar/MenuBarView.h"

#include "app/AppState.h"
#include "app/SettingsNavigator.h"
#include "app/StatusItem.h"
#include "design/CoreComponents.h"
#include "design/OnboardingButtonStyle.h"
#include "design/Text.h"
#include "platform/Workspace.h"
#include "speech/SpeechModel.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace murel {

namespace {

// DISMISS: its label alone, in secondary ink, no outline.
class PlainTextButton : public QAbstractButton {
 public:
  PlainTextButton(const QString& label, QWidget* parent) : QAbstractButton(parent) {
    setText(label);
    setAccessibleName(label);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
  }
  QSize sizeHint() const override {
    const QSizeF size = TextMetrics::size(text(), menuBarSmallFont(), kMenuBarLineSpacing);
    return QSize(int(std::ceil(size.width())), int(std::ceil(size.height())));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    TextMetrics::draw(painter, rect(), text(), menuBarSmallFont(), kMenuBarLineSpacing,
                      dsColor(DSColor::inkSecondary, this), Qt::AlignLeft, false);
  }
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

QCoro::Task<void> retry(AppState* state) {
  auto task = state->retryAfterError();
  co_await std::move(task);
}

int installedModelCount() {
  int count = 0;
  for (const SpeechModelDescriptor& entry : SpeechModelDescriptor::catalog())
    if (entry.isModelInstalled()) ++count;
  return count;
}

}  // namespace

std::optional<QString> menuBarErrorMessage(const AppState& state) {
  if (state.status().is(AppStatus::Kind::error)) return state.status().message();
  return state.lastError();
}

// ---- MenuBarErrorCard

MenuBarErrorCard::MenuBarErrorCard(AppState& state, Workspace& workspace, QWidget* parent)
    : QWidget(parent), state_(state), workspace_(workspace) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(kPaddingX, kPaddingY, kPaddingX, kPaddingY);
  column->setSpacing(12);
  //% "ERROR"
  //: Heading above the error message in the menu bar.
  title_ = new TextLabel(qtTrId("menubar.error.title"),
                         TextStyle{menuBarSmallFont(), kMenuBarLineSpacing, DSColor::danger}, this);
  title_->setWrapping(false);
  column->addWidget(title_);
  message_ = new TextLabel(QString(), TextStyle{notoSans(13), 4, DSColor::ink}, this);
  column->addWidget(message_);

  auto* buttons = new QHBoxLayout();
  buttons->setSpacing(12);
  //% "OPEN SETTINGS"
  //: Button in the tray panel's error card that opens the desktop settings the error names.
  openSettings_ = new OnboardingButtonStyle(qtTrId("menubar.error.openSettings"), true, this);
  //% "RETRY"
  //: Button to retry after an error in the menu bar.
  retry_ = new OnboardingButtonStyle(qtTrId("menubar.error.retry"), true, this);
  //% "DISMISS"
  //: Button to dismiss the error message in the menu bar.
  dismiss_ = new PlainTextButton(qtTrId("menubar.error.dismiss"), this);
  for (OnboardingButtonStyle* button : {openSettings_, retry_}) button->setLabelFont(menuBarSmallFont());
  buttons->addWidget(openSettings_, 0, Qt::AlignVCenter);
  buttons->addWidget(retry_, 0, Qt::AlignVCenter);
  buttons->addWidget(dismiss_, 0, Qt::AlignVCenter);
  buttons->addStretch(1);
  column->addLayout(buttons);

  connect(openSettings_, &QAbstractButton::clicked, this, [this] {
    // Fire and forget: a link nothing can open leaves the card as it is.
    if (link_) workspace_.openURL(*link_);
  });
  connect(retry_, &QAbstractButton::clicked, this, [this] { QCoro::connect(retry(&state_), &state_, [] {}); });
  connect(dismiss_, &QAbstractButton::clicked, this, &MenuBarErrorCard::dismissError);
  refresh();
}

QString MenuBarErrorCard::message() const { return message_->text(); }

QList<QAbstractButton*> MenuBarErrorCard::visibleButtons() const {
  QList<QAbstractButton*> shown;
  for (QAbstractButton* button :
       {static_cast<QAbstractButton*>(openSettings_), static_cast<QAbstractButton*>(retry_), dismiss_})
    if (!button->isHidden()) shown.append(button);
  return shown;
}

void MenuBarErrorCard::refresh() {
  const std::optional<QString> error = menuBarErrorMessage(state_);
  link_ = state_.settingsDeepLink();
  openSettings_->setVisible(link_.has_value());
  message_->setText(error.value_or(QString()));
  // The message wraps at the card's fixed width and takes the height it needs.
  const int width = MenuBarView::kWidth - 2 * kPaddingX;
  // An empty message still takes its line.
  const int line = int(std::ceil(TextMetrics::size(QStringLiteral(" "), message_->style().font, 4).height()));
  message_->setFixedHeight(std::max(line, message_->heightForWidth(width)));
  setVisible(error.has_value());
  updateGeometry();
}

void MenuBarErrorCard::dismissError() {
  state_.setLastError(std::nullopt);
  state_.setSettingsDeepLink(std::nullopt);
  if (state_.status().is(AppStatus::Kind::error)) state_.setStatus(AppStatus::ready());
}

// ---- MenuBarView

MenuBarView::MenuBarView(Parts parts, Actions actions, bool isOnboardingComplete, QWidget* parent)
    : QWidget(parent), p_(parts), actions_(std::move(actions)), isOnboardingComplete_(isOnboardingComplete) {
  if (!actions_.quit) actions_.quit = [] { QCoreApplication::quit(); };
  setFixedWidth(kWidth);
  modeTarget_ = new ModeMenuTarget(p_.modes, this);
  closureTarget_ = new ClosureMenuTarget(this);
  languageTarget_ = new LanguageMenuTarget(p_.defaults, this);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  errorCard_ = new MenuBarErrorCard(p_.appState, p_.workspace, this);
  errorRule_ = new ThinDivider(this);
  modeRow_ = new MenuBarModeRow(p_.modes, *modeTarget_, this);
  modelRow_ = new MenuBarModelRow(p_.defaults, p_.appState, *closureTarget_, this);
  modelRule_ = new ThinDivider(this);
  languageRow_ = new MenuBarLanguageRow(p_.defaults, *languageTarget_, this);
  micRow_ = new MenuBarMicRow(p_.devices, *closureTarget_, this);
  //% "TRANSCRIBE FILE"
  //: Menu bar action row that opens the transcribe-a-file view.
  transcribeFile_ = new MenuBarActionRow(qtTrId("menubar.transcribeFile"), false, !isOnboardingComplete_, this);
  //% "SETTINGS"
  //: Menu bar action row that opens the Settings window.
  settings_ = new MenuBarActionRow(qtTrId("menubar.settings"), false, !isOnboardingComplete_, this);
  //% "CHECK FOR UPDATES…"
  //: Menu bar action row that checks for app updates.
  checkForUpdates_ = new MenuBarActionRow(qtTrId("menubar.checkForUpdates"), false, false, this);
  //% "SETUP GUIDE"
  //: Menu bar action row that opens the onboarding setup guide.
  setupGuide_ = new MenuBarActionRow(qtTrId("menubar.setupGuide"), false, false, this);
  //% "QUIT MUREL"
  //: Menu bar action row that quits the app.
  quit_ = new MenuBarActionRow(qtTrId("menubar.quit"), true, false, this);

  column->addWidget(errorCard_);
  column->addWidget(errorRule_);
  column->addWidget(modeRow_);
  column->addWidget(new ThinDivider(this));
  column->addWidget(modelRow_);
  column->addWidget(modelRule_);
  column->addWidget(languageRow_);
  column->addWidget(new ThinDivider(this));
  column->addWidget(micRow_);
  const QList<MenuBarActionRow*> actionRows{transcribeFile_, settings_, checkForUpdates_, setupGuide_, quit_};
  for (MenuBarActionRow* row : actionRows) {
    column->addWidget(new ThinDivider(this));
    column->addWidget(row);
  }
  // Shown once the scan after the first paint finds a choice.
  modelRow_->hide();
  modelRule_->hide();

  connect(transcribeFile_, &QAbstractButton::clicked, this, &MenuBarView::transcribeFile);
  connect(settings_, &QAbstractButton::clicked, this, &MenuBarView::openSettings);
  connect(checkForUpdates_, &QAbstractButton::clicked, this, [this] {
    closeMenuBarExtraWindows();
    if (actions_.checkForUpdates) actions_.checkForUpdates();
  });
  connect(setupGuide_, &QAbstractButton::clicked, this, [this] {
    if (actions_.openSetupGuide) actions_.openSetupGuide();
  });
  connect(quit_, &QAbstractButton::clicked, this, [this] { actions_.quit(); });

  for (auto signal : {&AppState::statusChanged, &AppState::lastErrorChanged, &AppState::settingsDeepLinkChanged})
    connect(&p_.appState, signal, this, &MenuBarView::refreshError);
  refreshError();
}

void MenuBarView::setOnboardingComplete(bool complete) {
  if (complete == isOnboardingComplete_) return;
  isOnboardingComplete_ = complete;
  transcribeFile_->setDisabled(!complete);
  settings_->setDisabled(!complete);
}

void MenuBarView::refreshError() {
  errorCard_->refresh();
  errorRule_->setVisible(!errorCard_->isHidden());
  updateGeometry();
}

void MenuBarView::transcribeFile() {
  if (!isOnboardingComplete_) return;
  p_.navigator.setSelectedTab(SettingsTab::transcribe);
  closeMenuBarExtraWindows();
  if (actions_.openSettings) actions_.openSettings();
}

void MenuBarView::openSettings() {
  if (!isOnboardingComplete_) return;
  closeMenuBarExtraWindows();
  if (actions_.openSettings) actions_.openSettings();
}

void MenuBarView::scanModelChoice() {
  const bool choice = installedModelCount() > 1;
  hasModelChoice_ = choice;
  modelRow_->setVisible(choice);
  modelRule_->setVisible(choice);
  updateGeometry();
  Q_EMIT modelChoiceScanned();
}

QList<QWidget*> MenuBarView::visibleItems() const {
  QList<QWidget*> items;
  for (int i = 0; i < layout()->count(); ++i)
    if (QWidget* widget = layout()->itemAt(i)->widget(); widget && !widget->isHidden()) items.append(widget);
  return items;
}

QSize MenuBarView::sizeHint() const {
  // The error message's height is fixed for the panel's width, so no height-for-width is needed.
  return QSize(kWidth, layout()->totalSizeHint().height());
}

void MenuBarView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), dsColor(DSColor::background, this));
  // Without a compositor X11 draws no shadow: a hairline keeps the panel's
  // edge apart from the windows under it. The rows only tint over it.
  painter.setPen(QPen(dsColor(DSColor::hairline, this), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  // The model files are looked at once per opening, after the panel is on
  // screen and never while laying it out.
  if (!scanQueued_) {
    scanQueued_ = true;
    QMetaObject::invokeMethod(this, &MenuBarView::scanModelChoice, Qt::QueuedConnection);
  }
}

}  // namespace murel
