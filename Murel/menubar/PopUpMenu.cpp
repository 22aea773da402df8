#include "menubar/PopUpMenu.h"

#include "design/Tokens.h"
#include "runtime/UserDefaults.h"
#include "speech/EngineHost.h"
#include "text/ModeStore.h"

#include <QAction>
#include <QMenu>
#include <QPalette>
#include <QPointer>
#include <QUuid>

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
  applyPanelColours(menu, anchor);
  menu.exec(click.value_or(window->mapToGlobal(QPoint(0, 0))));
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
