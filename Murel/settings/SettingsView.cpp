#include "settings/SettingsView.h"

#include "design/CoreComponents.h"
#include "design/EditorialComponents.h"
#include "design/Motion.h"
#include "design/Preview.h"
#include "design/SettingsComponents.h"
#include "design/Symbols.h"
#include "design/Text.h"

#include <QCoreApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace murel {

namespace {

constexpr int kRowLeading = 14;
constexpr int kRowTrailing = 20;
constexpr int kRowVertical = 8;
constexpr int kIconFrame = 16;
constexpr qreal kIconSize = 14;
constexpr int kRowSpacing = 12;
constexpr int kBarWidth = 2;

// A 1 px vertical rule in the hairline colour.
class VerticalHairline : public QWidget {
 public:
  explicit VerticalHairline(QWidget* parent) : QWidget(parent) {
    setFixedWidth(1);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), dsColor(DSColor::hairline, this));
  }
};

std::size_t slot(SettingsTab tab) { return static_cast<std::size_t>(tab); }

}  // namespace

// SettingsPages

void SettingsPages::set(SettingsTab tab, Builder builder) { builders_[slot(tab)] = std::move(builder); }

bool SettingsPages::has(SettingsTab tab) const { return bool(builders_[slot(tab)]); }

QWidget* SettingsPages::build(SettingsTab tab, const SettingsPageContext& context, QWidget* parent) const {
  if (const Builder& builder = builders_[slot(tab)]) {
    if (QWidget* page = builder(context, parent)) return page;
  }
  return makePlaceholderSettingsPage(tab, parent);
}

QWidget* makePlaceholderSettingsPage(SettingsTab tab, QWidget* parent) {
  auto* page = new SettingsPageLayout(parent);
  page->addContent(new SettingsCompactHeader(settingsTabTitle(tab), page));
  return page;
}

// SettingsSidebarRow

SettingsSidebarRow::SettingsSidebarRow(SettingsTab tab, bool isSelected, QWidget* parent)
    : QAbstractButton(parent),
      tab_(tab),
      selected_(isSelected),
      hover_(new Tween(
          0, [this](qreal) { update(); }, this)),
      selection_(new Tween(
          isSelected ? 1 : 0, [this](qreal) { update(); }, this)) {
  setText(settingsTabTitle(tab));
  setAccessibleName(text());
  setObjectName(settingsTabRawValue(tab));
  setFocusPolicy(Qt::TabFocus);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setCursor(Qt::ArrowCursor);
}

void SettingsSidebarRow::setSelected(bool selected) {
  if (selected == selected_) return;
  selected_ = selected;
  selection_->animateTo(selected ? 1 : 0, Motion::kHover);
}

QFont SettingsSidebarRow::titleFont() const { return tracked(notoSans(12), 2); }

QColor SettingsSidebarRow::contentColor() const {
  const QColor resting = mixColors(dsColor(DSColor::inkSecondary, this), dsColor(DSColor::ink, this), hover_->value());
  return mixColors(resting, dsColor(DSColor::accent, this), selection_->value());
}

QColor SettingsSidebarRow::barColor() const { return dsColor(DSColor::accent, this, selection_->value()); }

QSize SettingsSidebarRow::sizeHint() const {
  const QSizeF title = TextMetrics::size(text(), titleFont(), 0);
  const int content = std::max(kIconFrame, int(std::ceil(title.height())));
  const int width = kRowLeading + kIconFrame + kRowSpacing + int(std::ceil(title.width())) + kRowTrailing;
  return QSize(width, kRowVertical + content + kRowVertical);
}

void SettingsSidebarRow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (selection_->value() > 0) painter.fillRect(QRect(0, 0, kBarWidth, height()), barColor());
  const QColor color = contentColor();
  const QRectF inner = QRectF(rect()).adjusted(kRowLeading, kRowVertical, -kRowTrailing, -kRowVertical);
  const QRectF iconBox(inner.left() + (kIconFrame - kIconSize) / 2, inner.center().y() - kIconSize / 2, kIconSize,
                       kIconSize);
  Symbols::paintImage(painter, iconBox, AppIcon::resourcePath(settingsTabIcon(tab_)), color);
  const QFont font = titleFont();
  const QSizeF title = TextMetrics::size(text(), font, 0);
  const QRectF titleRect(inner.left() + kIconFrame + kRowSpacing, inner.center().y() - title.height() / 2,
                         inner.right() - (inner.left() + kIconFrame + kRowSpacing), title.height());
  TextMetrics::draw(painter, titleRect, text(), font, 0, color, Qt::AlignLeft, false);
}

void SettingsSidebarRow::enterEvent(QEnterEvent* event) {
  QAbstractButton::enterEvent(event);
  isHovering_ = true;
  hover_->animateTo(1, Motion::kHover);
}

void SettingsSidebarRow::leaveEvent(QEvent* event) {
  QAbstractButton::leaveEvent(event);
  isHovering_ = false;
  hover_->animateTo(0, Motion::kHover);
}

// SettingsView

SettingsView::SettingsView(SettingsNavigator& navigator, AudioDeviceManager& audioDeviceManager,
                           const SettingsPages& pages, QWidget* parent)
    : QWidget(parent),
      context_{navigator, audioDeviceManager},
      pages_(pages),
      appeared_(isRunningForPreviews()),
      fade_(new Tween(
          appeared_ ? 1 : 0, [this](qreal value) { applyOpacity(value); }, this)),
      pageFade_(new Tween(
          1, [this](qreal value) { Motion::setContentOpacity(pageArea_, value); }, this)) {
  setObjectName(QStringLiteral("SettingsView"));
  setFixedSize(kWidth, kHeight);
  auto* stack = new QHBoxLayout(this);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(0);
  sidebar_ = makeSidebar();
  stack->addWidget(sidebar_);
  hairline_ = new VerticalHairline(this);
  stack->addWidget(hairline_);
  pageArea_ = new QWidget(this);
  auto* pageLayout = new QVBoxLayout(pageArea_);
  pageLayout->setContentsMargins(0, 0, 0, 0);
  pageLayout->setSpacing(0);
  stack->addWidget(pageArea_, 1);

  showPage(navigator.selectedTab());
  connect(&navigator, &SettingsNavigator::selectedTabChanged, this, [this](SettingsTab tab) {
    for (SettingsSidebarRow* row : std::as_const(rows_)) row->setSelected(row->tab() == tab);
    showPage(tab);
  });
  applyOpacity(fade_->value());
  // The desktop's close key (Ctrl+W) reaches whichever widget has the focus,
  // in this window or in a sheet over it: watch for it application-wide.
  QCoreApplication::instance()->installEventFilter(this);
}

bool SettingsView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !static_cast<QKeyEvent*>(event)->matches(QKeySequence::Close))
    return QWidget::eventFilter(watched, event);
  auto* target = qobject_cast<QWidget*>(watched);
  if (!target || !isVisible()) return false;
  QWidget* own = window();
  QWidget* keyWindow = target->window();
  if (keyWindow == own) {
    own->close();
    return true;
  }
  // A sheet or alert over this window closes first, as Escape closes it.
  auto* dialog = qobject_cast<QDialog*>(keyWindow);
  if (dialog && dialog->parentWidget() && dialog->parentWidget()->window() == own) {
    dialog->reject();
    return true;
  }
  return false;
}

QWidget* SettingsView::makeSidebar() {
  auto* sidebar = new QWidget(this);
  sidebar->setObjectName(QStringLiteral("sidebar"));
  sidebar->setFixedWidth(kSidebarWidth);
  auto* column = new QVBoxLayout(sidebar);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* header = new QHBoxLayout;
  header->setContentsMargins(20, 16, 20, 16);
  header->setSpacing(12);
  header->addWidget(new DSAccentStripe(4, 16, sidebar), 0, Qt::AlignVCenter);
  //% "MUREL"
  //: The brand mark at the top of the settings sidebar.
  auto* brand =
      new TextLabel(qtTrId("MUREL"), TextStyle{tracked(notoSans(14, DSWeight::bold), 2), 0, DSColor::ink}, sidebar);
  brand->setWrapping(false);
  header->addWidget(brand, 0, Qt::AlignVCenter);
  header->addStretch(1);
  //% "settings"
  //: Lowercase tag shown next to the Murel brand mark in the settings sidebar header.
  auto* subtitle = new TextLabel(qtTrId("settings.nav.brand.subtitle"),
                                 TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, sidebar);
  subtitle->setWrapping(false);
  header->addWidget(subtitle, 0, Qt::AlignVCenter);
  column->addLayout(header);
  column->addWidget(new EditorialRule(sidebar));

  const SettingsTab selected = context_.navigator.selectedTab();
  for (SettingsTab tab : allSettingsTabs()) {
    auto* row = new SettingsSidebarRow(tab, tab == selected, sidebar);
    connect(row, &QAbstractButton::clicked, this, [this, tab] { select(tab); });
    rows_.append(row);
    column->addWidget(row);
    column->addWidget(new EditorialRule(sidebar));
  }
  column->addStretch(1);
  column->addWidget(new EditorialRule(sidebar));

  auto* footer = new QHBoxLayout;
  footer->setContentsMargins(20, 12, 20, 12);
  version_ = new TextLabel(versionText(), TextStyle{tracked(notoSans(9), 1), 2, DSColor::inkSecondary}, sidebar);
  version_->setWrapping(false);
  footer->addWidget(version_);
  footer->addStretch(1);
  column->addLayout(footer);
  return sidebar;
}

QString SettingsView::versionText() {
  const QString version = QCoreApplication::applicationVersion();
  return QStringLiteral("v") + (version.isEmpty() ? QStringLiteral("?") : version);
}

qreal SettingsView::opacity() const { return fade_->value(); }

void SettingsView::select(SettingsTab tab) {
  // The navigator ignores the tab already selected, so a click on the selected row changes nothing.
  context_.navigator.setSelectedTab(tab);
}

void SettingsView::showPage(SettingsTab tab) {
  if (page_) {
    // Later, not now: the switch may come from inside the page (a "go to" button).
    QWidget* old = page_;
    pageArea_->layout()->removeWidget(old);
    old->hide();
    old->deleteLater();
    // The new page fades in, as a change of tab does.
    pageFade_->jumpTo(0);
    pageFade_->animateTo(1, Motion::kHover);
  }
  pageTab_ = tab;
  page_ = pages_.build(tab, context_, pageArea_);
  page_->setObjectName(QStringLiteral("page-") + settingsTabRawValue(tab));
  static_cast<QVBoxLayout*>(pageArea_->layout())->addWidget(page_, 1);
  page_->show();
}

void SettingsView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), dsColor(DSColor::background, this));
}

void SettingsView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (appeared_) return;
  appeared_ = true;
  fade_->animateTo(1, Motion::kPageEntrance);
}

void SettingsView::applyOpacity(qreal opacity) { Motion::setContentOpacity(this, opacity); }

}  // namespace murel
