#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

namespace murel::Symbols {

// Paints the named symbol ("checkmark", "chevron.down", ...), tinted with
// `color`, fitted into `box` with its aspect ratio kept. Symbols are our own
// SVG files in the resource folder's "symbols/". Returns false when the
// symbol is unknown (nothing is drawn).
bool paint(QPainter& painter, const QRectF& box, const QString& name, const QColor& color);

// Same for any SVG image of the resource folder given by its path below it.
bool paintImage(QPainter& painter, const QRectF& box, const QString& resourcePath, const QColor& color);

// The side of the square a symbol takes at a given font size: symbols stand in
// for glyphs and are sized like the capitals of that font.
qreal sideForPointSize(qreal pointSize);

}  // namespace murel::Symbols
