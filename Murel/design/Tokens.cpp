#include "design/Tokens.h"

#include "runtime/AppPaths.h"
#include "runtime/SystemLog.h"

#include <QFontDatabase>
#include <QWidget>

#include <array>

namespace murel {
namespace {

struct Rgba {
  double r, g, b, a;
};
struct TokenValues {
  Rgba light, dark;
};

// Indexed by DSColor.
constexpr std::array<TokenValues, kDSColorCount> kPalette{{
    {{0.945, 0.925, 0.878, 1}, {0.04, 0.04, 0.04, 1}},   // background
    {{0.12, 0.12, 0.12, 1}, {1.0, 1.0, 1.0, 1}},         // ink
    {{0.395, 0.395, 0.395, 1}, {0.8, 0.8, 0.8, 1}},      // inkSecondary
    {{0.40, 0.38, 0.35, 1}, {0.54, 0.52, 0.48, 1}},      // inkMuted
    {{0.47, 0.365, 0.094, 1}, {0.788, 0.663, 0.38, 1}},  // accent
    {{0.945, 0.925, 0.878, 1}, {0.04, 0.04, 0.04, 1}},   // inkInverse
    {{0.04, 0.04, 0.04, 1}, {0.04, 0.04, 0.04, 1}},      // onAccent
    {{0.18, 0.42, 0.24, 1}, {0.31, 0.68, 0.41, 1}},      // success
    {{0.85, 0.45, 0.10, 1}, {0.95, 0.55, 0.15, 1}},      // warning
    {{0.80, 0.15, 0.15, 1}, {0.92, 0.28, 0.28, 1}},      // danger
    {{0.91, 0.89, 0.84, 1}, {0.08, 0.08, 0.08, 1}},      // surface
    {{0.875, 0.852, 0.80, 1}, {0.12, 0.12, 0.12, 1}},    // surfaceRaised
    {{0.0, 0.0, 0.0, 0.1}, {1.0, 1.0, 1.0, 0.1}},        // hairline
}};

struct StyleDef {
  enum Face { Noto, NotoItalic, Display } face;
  int size;
  DSWeight weight;
};

// Indexed by DSFont.
constexpr std::array<StyleDef, kDSFontCount> kStyles{{
    {StyleDef::Display, 64, DSWeight::regular},     // display (no weight applied)
    {StyleDef::Noto, 32, DSWeight::heavy},          // title
    {StyleDef::Noto, 22, DSWeight::bold},           // heading
    {StyleDef::Noto, 16, DSWeight::bold},           // subheading
    {StyleDef::Noto, 14, DSWeight::medium},         // label
    {StyleDef::Noto, 13, DSWeight::regular},        // body
    {StyleDef::NotoItalic, 14, DSWeight::regular},  // bodyItalic
    {StyleDef::NotoItalic, 12, DSWeight::regular},  // captionItalic
    {StyleDef::Noto, 12, DSWeight::regular},        // caption
    {StyleDef::Noto, 11, DSWeight::regular},        // small
    {StyleDef::Noto, 10, DSWeight::regular},        // micro
    {StyleDef::Noto, 9, DSWeight::regular},         // tiny
}};

QFont makeFont(const QString& family, qreal pixelSize) {
  QFont font;
  font.setFamilies({family});
  font.setPixelSize(qMax(1, qRound(pixelSize)));
  font.setKerning(true);
  return font;
}

}  // namespace

QColor dsColor(DSColor token, Appearance::Scheme scheme) {
  const TokenValues& values = kPalette[static_cast<std::size_t>(token)];
  const Rgba& c = scheme == Appearance::Scheme::Dark ? values.dark : values.light;
  return QColor::fromRgbF(float(c.r), float(c.g), float(c.b), float(c.a));
}

QColor dsColor(DSColor token, const QWidget* widget, qreal opacity) {
  QColor color = dsColor(token, Appearance::schemeFor(widget));
  if (opacity != 1.0) color.setAlphaF(float(color.alphaF() * qBound(0.0, opacity, 1.0)));
  return color;
}

QColor mixColors(const QColor& a, const QColor& b, qreal t) {
  auto lerp = [t](float x, float y) { return float(x + (y - x) * t); };
  return QColor::fromRgbF(lerp(a.redF(), b.redF()), lerp(a.greenF(), b.greenF()), lerp(a.blueF(), b.blueF()),
                          lerp(a.alphaF(), b.alphaF()));
}

QFont::Weight qtWeight(DSWeight weight) {
  switch (weight) {
    case DSWeight::regular: return QFont::Normal;
    case DSWeight::medium: return QFont::Medium;
    case DSWeight::semibold: return QFont::DemiBold;
    case DSWeight::bold: return QFont::Bold;
    case DSWeight::heavy: return QFont::ExtraBold;
    case DSWeight::black: return QFont::Black;
  }
  return QFont::Normal;
}

QFont notoSans(qreal pixelSize, DSWeight weight) {
  QFont font = makeFont(Fonts::notoSansFamily(), pixelSize);
  font.setWeight(qtWeight(weight));
  return font;
}

QFont notoSansItalic(qreal pixelSize, DSWeight weight) {
  QFont font = notoSans(pixelSize, weight);
  font.setItalic(true);
  return font;
}

QFont monoton(qreal pixelSize) { return makeFont(Fonts::monotonFamily(), pixelSize); }

QFont tracked(QFont font, qreal tracking) {
  font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
  return font;
}

QFont dsFont(DSFont style) {
  const StyleDef& spec = kStyles[static_cast<std::size_t>(style)];
  switch (spec.face) {
    case StyleDef::Display: return monoton(spec.size);
    case StyleDef::NotoItalic: return notoSansItalic(spec.size, spec.weight);
    case StyleDef::Noto: break;
  }
  return notoSans(spec.size, spec.weight);
}

namespace Fonts {

QString notoSansFamily() { return QStringLiteral("Noto Sans"); }
QString monotonFamily() { return QStringLiteral("Monoton"); }

bool registerBundled() {
  static const Logger log("design");
  static bool done = false;
  static bool allLoaded = false;
  if (done) return allLoaded;
  done = true;
  allLoaded = true;
  // One file per weight the design names: without its own face a weight is
  // drawn synthesized from the nearest one (Black as Bold, Medium as Regular).
  static constexpr const char* kFiles[] = {
      "fonts/NotoSans-Regular.ttf",  "fonts/NotoSans-Italic.ttf",  "fonts/NotoSans-Medium.ttf",
      "fonts/NotoSans-SemiBold.ttf", "fonts/NotoSans-Bold.ttf",    "fonts/NotoSans-ExtraBold.ttf",
      "fonts/NotoSans-Black.ttf",    "fonts/Monoton-Regular.woff",
  };
  for (const char* file : kFiles) {
    const QString path = AppPaths::resource(QLatin1String(file));
    if (QFontDatabase::addApplicationFont(path) < 0) {
      log.error(QStringLiteral("cannot load the font %1").arg(path));
      allLoaded = false;
    }
  }
  return allLoaded;
}

}  // namespace Fonts
}  // namespace murel
