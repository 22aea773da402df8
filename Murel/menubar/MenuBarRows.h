#pragma once

#include "design/Tokens.h"
#include "menubar/PopUpMenu.h"

#include <QAbstractButton>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QMenu;

namespace murel {

class AppState;
class AudioDeviceManager;
class ModeStore;
class Tween;
class UserDefaults;
struct LanguageSupport;
struct SpeechModelDescriptor;

// A full-width row of the tray panel: 20 px side and 12 px top and bottom
// padding, a faint ink tint fading in under the pointer. The whole row takes
// clicks, and remembers where the last one was so a menu opens there.
class MenuBarRowButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit MenuBarRowButton(QWidget* parent = nullptr);

  bool isHovering() const { return isHovering_; }

  static constexpr int kPaddingX = 20;
  static constexpr int kPaddingY = 12;

 protected:
  // Whether the tint follows the pointer (the action rows' stays off while disabled).
  virtual bool showsHover() const { return true; }
  void paintHover(QPainter& painter);
  std::optional<QPoint> lastClick() const { return lastClick_; }

  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  void setHovering(bool hovering);

  bool isHovering_ = false;
  Tween* hover_;
  std::optional<QPoint> lastClick_;
};

// A caption on the left and the current choice in an outlined pill with a
// chevron on the right; a click opens the choice menu under the pointer.
class MenuBarPickerRow : public MenuBarRowButton {
  Q_OBJECT

 public:
  MenuBarPickerRow(const QString& caption, const QString& accessibleLabel, DSColor pillColor,
                   QWidget* parent = nullptr);

  QString caption() const { return text(); }
  // The pill's full text (it is cut at its end when the row is too narrow).
  QString pillText() const { return pillText_; }
  // What the pill shows now, cut to the space it has.
  QString shownPillText() const;
  QRectF pillRect() const;

  // A new menu of the choices, current state read now.
  virtual std::unique_ptr<QMenu> buildMenu() = 0;
  // The row's action: builds the menu and shows it; returns once it has closed.
  virtual void showMenu();

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  // Sets the pill text and the value read out with the row.
  void setPill(const QString& shown, const QString& accessibleValue);
  void paintEvent(QPaintEvent* event) override;

 private:
  QString pillText_;
  DSColor pillColor_;
};

// The active mode (the store's default mode, upper-cased, in accent) and the
// menu of every mode, ticked on the default one.
class MenuBarModeRow : public MenuBarPickerRow {
  Q_OBJECT

 public:
  MenuBarModeRow(ModeStore& store, ModeMenuTarget& target, QWidget* parent = nullptr);
  std::unique_ptr<QMenu> buildMenu() override;

 private:
  void refresh();

  ModeStore& store_;
  ModeMenuTarget& target_;
};

// The chosen speech model, followed through "selectedWhisperModel"; the menu
// lists the installed models in catalogue order.
class MenuBarModelRow : public MenuBarPickerRow {
  Q_OBJECT

 public:
  MenuBarModelRow(UserDefaults& defaults, AppState& state, ClosureMenuTarget& target, QWidget* parent = nullptr);
  std::unique_ptr<QMenu> buildMenu() override;

 private:
  void refresh();

  UserDefaults& defaults_;
  AppState& state_;
  ClosureMenuTarget& target_;
};

// What the language row offers for a model's languages and the stored selection.
struct LanguageChoices {
  bool isSelectable = false;
  // The language the engine is given: the resolved code, else "auto".
  QString effective;
  // The menu's codes in order: "auto" first when the model detects, then its codes.
  QStringList codes;
};
LanguageChoices languageChoices(const LanguageSupport& support, const QString& selection);

// The spoken language the engine will be given, upper-cased. Only a model whose
// languages can be chosen has a menu; otherwise the row is disabled.
class MenuBarLanguageRow : public MenuBarPickerRow {
  Q_OBJECT

 public:
  MenuBarLanguageRow(UserDefaults& defaults, LanguageMenuTarget& target, QWidget* parent = nullptr);
  std::unique_ptr<QMenu> buildMenu() override;
  void showMenu() override;

  LanguageChoices choices() const;

 private:
  void refresh();

  UserDefaults& defaults_;
  LanguageMenuTarget& target_;
};

// The microphone, upper-cased; the menu lists the devices, System Default first.
class MenuBarMicRow : public MenuBarPickerRow {
  Q_OBJECT

 public:
  MenuBarMicRow(AudioDeviceManager& devices, ClosureMenuTarget& target, QWidget* parent = nullptr);
  std::unique_ptr<QMenu> buildMenu() override;

 private:
  QString currentDeviceName() const;
  void refresh();

  AudioDeviceManager& devices_;
  ClosureMenuTarget& target_;
};

// One of the panel's five actions: its label alone. Disabled, it is dimmed and
// takes neither the pointer's tint nor presses; a destructive row's label turns
// red under the pointer.
class MenuBarActionRow : public MenuBarRowButton {
  Q_OBJECT

 public:
  MenuBarActionRow(const QString& label, bool isDestructive, bool isDisabled, QWidget* parent = nullptr);

  bool isDestructive() const { return isDestructive_; }
  bool isDisabled() const { return !isEnabled(); }
  void setDisabled(bool disabled);
  // The label's colour token and opacity as painted now.
  std::pair<DSColor, qreal> labelColor() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  bool showsHover() const override { return isEnabled(); }
  void paintEvent(QPaintEvent* event) override;

 private:
  bool isDestructive_;
};

// The fonts of the panel: 12 px captions with 1.5 tracking, and the 10 px
// small capitals of pills, the error title and the card's buttons, also
// tracked 1.5.
QFont menuBarCaptionFont();
QFont menuBarSmallFont();
inline constexpr qreal kMenuBarLineSpacing = 2;

}  // namespace murel
