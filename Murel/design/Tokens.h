#pragma once

#include "design/Appearance.h"

#include <QColor>
#include <QFont>

class QWidget;

namespace murel {

// The palette. Twelve tokens follow the appearance, `onAccent` is the same in
// both. Components store tokens, never resolved colours, and resolve them while
// painting so that an appearance change needs nothing but a repaint.
enum class DSColor {
  background,
  ink,
  inkSecondary,
  inkMuted,
  accent,
  inkInverse,
  onAccent,
  success,
  warning,
  danger,
  surface,
  surfaceRaised,
  hairline,
};
inline constexpr int kDSColorCount = 13;

// The colour of a token in a given appearance.
QColor dsColor(DSColor token, Appearance::Scheme scheme);
// The colour of a token as `widget` draws it now, with an optional opacity
// multiplied into its alpha.
QColor dsColor(DSColor token, const QWidget* widget, qreal opacity = 1.0);

// `a` blended towards `b` by `t` (0...1), alpha included: what an animated
// change of colour shows on its way.
QColor mixColors(const QColor& a, const QColor& b, qreal t);

// The type scale, in declaration order.
enum class DSFont {
  display,
  title,
  heading,
  subheading,
  label,
  body,
  bodyItalic,
  captionItalic,
  caption,
  small,
  micro,
  tiny,
};
inline constexpr int kDSFontCount = 12;

// Font weights as the design names them.
enum class DSWeight { regular, medium, semibold, bold, heavy, black };

// The font of a style, sized in pixels.
QFont dsFont(DSFont style);
// Fonts outside the scale, built from the same families.
QFont notoSans(qreal pixelSize, DSWeight weight = DSWeight::regular);
QFont notoSansItalic(qreal pixelSize, DSWeight weight = DSWeight::regular);
QFont monoton(qreal pixelSize);
// Returns `font` with the given letter tracking in pixels.
QFont tracked(QFont font, qreal tracking);

QFont::Weight qtWeight(DSWeight weight);

namespace Fonts {
// The family names the bundled files register under.
QString notoSansFamily();
QString monotonFamily();
// Registers the bundled font files from the resource folder. Safe to call
// more than once; returns false (and logs) when a file is missing or unreadable,
// in which case Qt's fallback font is drawn.
bool registerBundled();
}  // namespace Fonts

}  // namespace murel
