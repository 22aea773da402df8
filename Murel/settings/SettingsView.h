#pragma once

#include "app/SettingsNavigator.h"

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

namespace murel {

class AudioDeviceManager;
class TextLabel;
class Tween;

// What every settings page is built with, handed on by the window.
struct SettingsPageContext {
  SettingsNavigator& navigator;
  AudioDeviceManager& audioDeviceManager;
};

// The seam between the settings window and its pages: one builder per tab,
// filled in by the composition root. A page is plugged in by registering its
// builder; the window is never edited for it. A page is built afresh, as a
// child of `parent`, every time its tab is selected, and deleted when another
// tab is; whatever it must keep lives in the shared stores. A tab without a
// builder shows a placeholder page headed by the tab's title.
class SettingsPages {
 public:
  using Builder = std::function<QWidget*(const SettingsPageContext& context, QWidget* parent)>;

  void set(SettingsTab tab, Builder builder);
  bool has(SettingsTab tab) const;
  // The tab's page, or the placeholder when none is registered (or the builder made none).
  QWidget* build(SettingsTab tab, const SettingsPageContext& context, QWidget* parent) const;

 private:
  std::array<Builder, 10> builders_;
};

// The placeholder page: a settings page whose header is the tab's title.
QWidget* makePlaceholderSettingsPage(SettingsTab tab, QWidget* parent);

// One tab of the sidebar: icon and title in accent while selected (with a
// 2 px accent bar at the leading edge), else secondary ink turning to ink
// while the pointer is over it. The whole row takes the click.
class SettingsSidebarRow : public QAbstractButton {
  Q_OBJECT

 public:
  SettingsSidebarRow(SettingsTab tab, bool isSelected, QWidget* parent = nullptr);

  SettingsTab tab() const { return tab_; }
  bool isSelected() const { return selected_; }
  // Moves the selection colours and bar to the new state over 0.1 s.
  void setSelected(bool selected);
  bool isHovering() const { return isHovering_; }
  // The colour icon and title are drawn in right now.
  QColor contentColor() const;
  // The selection bar's colour right now (transparent when not selected).
  QColor barColor() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  QFont titleFont() const;

  SettingsTab tab_;
  bool selected_;
  bool isHovering_ = false;
  Tween* hover_;
  Tween* selection_;
};

// The settings window's content, 850 x 700: the sidebar (brand header, the ten
// tabs, the version footer), a 1 px hairline, and the selected tab's page.
// It follows the navigator: a write from anywhere switches the page and the
// sidebar at once (the new page fading in over 0.1 s), and a new view starts
// on the navigator's tab. It fades in over 0.2 s when first shown (content
// opacity, which needs no compositor).
class SettingsView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 850;
  static constexpr int kHeight = 700;
  static constexpr int kSidebarWidth = 220;

  SettingsView(SettingsNavigator& navigator, AudioDeviceManager& audioDeviceManager, const SettingsPages& pages,
               QWidget* parent = nullptr);

  SettingsNavigator& navigator() const { return context_.navigator; }
  QWidget* currentPage() const { return page_; }
  SettingsTab currentTab() const { return pageTab_; }
  QList<SettingsSidebarRow*> sidebarRows() const { return rows_; }
  QWidget* sidebar() const { return sidebar_; }
  QWidget* hairline() const { return hairline_; }
  QWidget* pageArea() const { return pageArea_; }
  TextLabel* versionLabel() const { return version_; }
  bool appeared() const { return appeared_; }
  // 0 before the fade-in, 1 at rest.
  qreal opacity() const;

  // "v" and the application's version, "v?" when it has none.
  static QString versionText();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // The standard close key closes the window, or first the sheet over it.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* makeSidebar();
  void select(SettingsTab tab);
  void showPage(SettingsTab tab);
  void applyOpacity(qreal opacity);

  SettingsPageContext context_;
  const SettingsPages& pages_;
  QWidget* sidebar_ = nullptr;
  QWidget* hairline_ = nullptr;
  QWidget* pageArea_ = nullptr;
  TextLabel* version_ = nullptr;
  QList<SettingsSidebarRow*> rows_;
  QPointer<QWidget> page_;
  SettingsTab pageTab_ = SettingsTab::dashboard;
  bool appeared_;
  Tween* fade_;
  Tween* pageFade_;
};

}  // namespace murel
