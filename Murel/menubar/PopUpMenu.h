#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>
#include <optional>

class QAction;
class QMenu;
class QWidget;

namespace murel {

class ModeStore;
class UserDefaults;

// Shows `menu` at the click that asked for it (global position), or at the
// top-left of `anchor`'s window without one; shows nothing when `anchor` is not
// in a window on screen. Returns once the menu has closed, after the chosen
// item's action has run. Main thread.
// Choice menus draw a checkmark on the current item only. A menu taller than
// kLongMenuMaxHeight (or its screen) scrolls in one column of that height, at
// the click's height beside the panel rather than over it.
void popUpMenu(QMenu& menu, QWidget* anchor, std::optional<QPoint> click);

inline constexpr int kLongMenuMaxHeight = 480;
// Where a long menu of `menu`'s full size opens for a click beside `panel`;
// none for a menu short enough to open at the click.
std::optional<QRect> longMenuPlace(QSize menu, QPoint click, const QRect& panel);

// An action carried by a menu item as its data; it goes away with the menu that
// owns it.
class MenuActionClosure : public QObject {
  Q_OBJECT

 public:
  MenuActionClosure(std::function<void()> run, QObject* owner) : QObject(owner), run(std::move(run)) {}

  const std::function<void()> run;
};

// The items of a choice menu hold their choice as data and are handed to one of
// these when chosen. The targets keep no state of their own; data of any other
// kind than expected is ignored.

// Data: a MenuActionClosure (as QObject*), which is run.
class ClosureMenuTarget : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;
  void invoke(const QAction* item);
};

// Data: a mode's id as an upper-case UUID text. The mode becomes the default one
// main-loop turn later, once the menu has closed.
class ModeMenuTarget : public QObject {
  Q_OBJECT

 public:
  explicit ModeMenuTarget(ModeStore& store, QObject* parent = nullptr) : QObject(parent), store_(store) {}
  void select(const QAction* item);

 private:
  ModeStore& store_;
};

// Data: a language code (or "auto"), stored under "whisperLanguage" at once.
class LanguageMenuTarget : public QObject {
  Q_OBJECT

 public:
  explicit LanguageMenuTarget(UserDefaults& defaults, QObject* parent = nullptr)
      : QObject(parent), defaults_(defaults) {}
  void select(const QAction* item);

 private:
  UserDefaults& defaults_;
};

// Adds an item titled `title` (shown as written: "&" is no mnemonic) with `data`,
// ticked when `checked`; choosing it calls `onChosen` with the item.
QAction* addChoiceItem(QMenu& menu, const QString& title, const QVariant& data, bool checked,
                       std::function<void(const QAction*)> onChosen);
// The title as shown, from an item that addChoiceItem made.
QString choiceTitle(const QAction* item);

}  // namespace murel
