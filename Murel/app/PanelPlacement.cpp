#include "app/PanelPlacement.h"

#include <algorithm>

namespace murel {

namespace {

// Room between the icon and the popup, so the icon's highlight stays in sight.
constexpr int kGap = 4;

int clampInto(int start, int length, int low, int high) {
  // A popup longer than the room starts at the room's start.
  return std::max(low, std::min(start, high + 1 - length));
}

}  // namespace

ScreenEdge nearestScreenEdge(const QRect& icon, const QRect& screen) {
  const QPoint c = icon.center();
  const int toTop = c.y() - screen.top();
  const int toBottom = screen.bottom() - c.y();
  const int toLeft = c.x() - screen.left();
  const int toRight = screen.right() - c.x();
  const int nearest = std::min({toTop, toBottom, toLeft, toRight});
  // Horizontal trays are the common case; they win a tie.
  if (nearest == toBottom) return ScreenEdge::bottom;
  if (nearest == toTop) return ScreenEdge::top;
  return nearest == toLeft ? ScreenEdge::left : ScreenEdge::right;
}

QRect placeBesideTrayIcon(QSize size, const QRect& icon, const QRect& screen, const QRect& workArea) {
  const QRect area = workArea.isValid() ? workArea : screen;
  QRect place(QPoint(), size);
  switch (nearestScreenEdge(icon, screen)) {
    case ScreenEdge::bottom:
      place.moveBottom(std::min(icon.top() - kGap, area.bottom()));
      place.moveLeft(icon.center().x() - size.width() / 2);
      break;
    case ScreenEdge::top:
      place.moveTop(std::max(icon.bottom() + kGap, area.top()));
      place.moveLeft(icon.center().x() - size.width() / 2);
      break;
    case ScreenEdge::left:
      place.moveLeft(std::max(icon.right() + kGap, area.left()));
      place.moveTop(icon.center().y() - size.height() / 2);
      break;
    case ScreenEdge::right:
      place.moveRight(std::min(icon.left() - kGap, area.right()));
      place.moveTop(icon.center().y() - size.height() / 2);
      break;
  }
  place.moveLeft(clampInto(place.left(), size.width(), area.left(), area.right()));
  place.moveTop(clampInto(place.top(), size.height(), area.top(), area.bottom()));
  return place;
}

}  // namespace murel
