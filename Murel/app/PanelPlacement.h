#pragma once

#include <QRect>
#include <QSize>

namespace murel {

// The screen edge a tray sits on.
enum class ScreenEdge { top, bottom, left, right };

// The screen edge nearest the icon's centre: a tray lies along one of them.
ScreenEdge nearestScreenEdge(const QRect& icon, const QRect& screen);

// Where a popup of `size` opens beside the tray `icon`: on the side away from
// the tray's edge of `screen`, centred on the icon along that edge, always
// inside `workArea` and, where the work area leaves room, never over the icon.
QRect placeBesideTrayIcon(QSize size, const QRect& icon, const QRect& screen, const QRect& workArea);

}  // namespace murel
