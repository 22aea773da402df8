#include "menubar/PopUpMenu.h"

#include "design/Tokens.h"
#include "runtime/UserDefaults.h"
#include "speech/EngineHost.h"
#include "text/ModeStore.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleOption>
#include <QUuid>

#include <algorithm>

namespace murel {

namespace {

// The menu in the panel's colours, so that a dark panel does not open a light menu.
void applyPanelColours(QMenu& menu, const QWidget* anchor) {
  QPalette palette = menu.palette();
  for (const auto group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::Window, dsColor(DSColor::background, anchor));
    palette.setColor(group, QPalette::Base, dsColor(DSColor::background, anchor));
    palette.setColor(group, QPalette::WindowText, dsColor(DSColor::ink, anchor));
    palette.setColor(group, QPalette::Text, dsColor(DSColor::ink, anchor));
    palette.setColor(group, QPalette::ButtonText, dsColor(DSColor::ink, anchor));
    palette.setColor(group, QPalette::Highlight, dsColor(DSColor::accent, anchor));
    palette.setColor(group, QPalette::HighlightedText, dsColor(DSColor::onAccent, anchor));
  }
  palette.setColor(QPalette::Disabled, QPalette::Window, dsColor(DSColor::background, anchor));
  palette.setColor(QPalette::Disabled, QPalette::Text, dsColor(DSColor::inkSecondary, anchor));
  menu.setPalette(palette);
}

// The look of a choice menu: one exclusive choice, so the current item carries
// a checkmark and the others nothing (a box on every item reads as a list of
// independent switches); a list too long for its room scrolls in one column.
class ChoiceMenuStyle final : public QProxyStyle {
 public:
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element != PE_IndicatorCheckBox || !qobject_cast<const QMenu*>(widget)) {
      QProxyStyle::drawPrimitive(element, option, painter, widget);
      return;
    }
    if (!(option->state & State_On)) return;
    const QRectF box = QRectF(option->rect).adjusted(1, 1, -1, -1);
    const QColor ink =
        option->palette.color((option->state & State_Selected) ? QPalette::HighlightedText : QPalette::Text);
    QPainterPath tick;
    tick.moveTo(box.left() + box.width() * 0.18, box.top() + box.height() * 0.54);
    tick.lineTo(box.left() + box.width() * 0.42, box.top() + box.height() * 0.78);
    tick.lineTo(box.left() + box.width() * 0.84, box.top() + box.height() * 0.24);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(ink, std::max(1.5, box.width() / 8), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(tick);
    painter->restore();
  }
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_Menu_Scrollable) return 1;
    if (hint == SH_Menu_FillScreenWithScroll) return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

QStyle* choiceMenuStyle() {
  // One for the process, owned by the application so it goes before Qt does.
  static QPointer<ChoiceMenuStyle> style;
  if (!style) {
    style = new ChoiceMenuStyle();
    style->setParent(qApp);
  }
  return style;
}

// Places a long menu once Qt has sized it for the whole screen: bounded to
// `target`, at the click's height beside the panel.
class LongMenuPlacer final : public QObject {
 public:
  LongMenuPlacer(QMenu& menu, QRect target) : QObject(&menu), target_(target) { menu.installEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // The show event comes before the window is mapped, so it never appears elsewhere first.
    if (event->type() == QEvent::Show) static_cast<QMenu*>(watched)->setGeometry(target_);
    return QObject::eventFilter(watched, event);
  }

 private:
  QRect target_;
};

// A UUID as the mode menu writes it: 36 characters, hexadecimal with hyphens.
std::optional<QUuid> uuidFromText(const QString& text) {
  if (text.size() != 36) return std::nullopt;
  const QUuid id = QUuid::fromString(text);
  if (id.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000")) return std::nullopt;
  return id;
}

}  // namespace

void popUpMenu(QMenu& menu, QWidget* anchor, std::optional<QPoint> click) {
  QWidget* window = anchor ? anchor->window() : nullptr;
  if (!window || !window->isVisible()) return;
  menu.setStyle(choiceMenuStyle());
  applyPanelColours(menu, anchor);
  const QPoint at = click.value_or(window->mapToGlobal(QPoint(0, 0)));
  if (const std::optional<QRect> place = longMenuPlace(menu.sizeHint(), at, window->frameGeometry())) {
    menu.setMaximumHeight(place->height());
    new LongMenuPlacer(menu, *place);
  }
  menu.exec(at);
}

std::optional<QRect> longMenuPlace(QSize menu, QPoint click, const QRect& panel) {
  const QScreen* screen = QGuiApplication::screenAt(click);
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return std::nullopt;
  const QRect area = screen->availableGeometry();
  const int bound = std::min(kLongMenuMaxHeight, area.height());
  if (menu.height() <= bound) return std::nullopt;
  // Beside the panel on the side with room, so the panel stays in sight.
  int x = panel.right() + 1;
  if (x + menu.width() - 1 > area.right()) x = panel.left() - menu.width();
  x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - menu.width()));
  const int y = std::clamp(click.y(), area.top(), area.bottom() + 1 - bound);
  return QRect(x, y, menu.width(), bound);
}

void ClosureMenuTarget::invoke(const QAction* item) {
  if (!item) return;
  // Only an object of ours, never a pointer forged from other data.
  const QVariant data = item->data();
  if (data.typeId() != QMetaType::QObjectStar) return;
  if (auto* closure = qobject_cast<MenuActionClosure*>(data.value<QObject*>()); closure && closure->run) closure->run();
}

void ModeMenuTarget::select(const QAction* item) {
  if (!item) return;
  const QVariant data = item->data();
  if (data.typeId() != QMetaType::QString) return;
  const std::optional<QUuid> id = uuidFromText(data.toString());
  if (!id) return;
  // After the menu has closed; nothing is held but the store, which outlives the panel.
  QMetaObject::invokeMethod(
      &store_,
      [store = QPointer<ModeStore>(&store_), id = *id] {
        if (store) store->setDefault(id);
      },
      Qt::QueuedConnection);
}

void LanguageMenuTarget::select(const QAction* item) {
  if (!item) return;
  const QVariant data = item->data();
  if (data.typeId() != QMetaType::QString) return;
  defaults_.setValue(QString::fromLatin1(kSpokenLanguageKey), data.toString());
}

QAction* addChoiceItem(QMenu& menu, const QString& title, const QVariant& data, bool checked,
                       std::function<void(const QAction*)> onChosen) {
  QString shown = title;
  shown.replace(QLatin1Char('&'), QLatin1String("&&"));
  QAction* item = menu.addAction(shown);
  item->setData(data);
  item->setCheckable(true);
  item->setChecked(checked);
  // Choosing an item never unticks it: the tick shows the current choice,
  // which only the target changes.
  QObject::connect(item, &QAction::triggered, item, [item, onChosen = std::move(onChosen)] {
    item->setChecked(true);
    onChosen(item);
  });
  return item;
}

QString choiceTitle(const QAction* item) {
  QString title = item->text();
  title.replace(QLatin1String("&&"), QLatin1String("&"));
  return title;
}

}  // namespace murel
