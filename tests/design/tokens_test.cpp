#include "design/Tokens.h"
#include "design/Preview.h"
#include "runtime/AppPaths.h"

#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QWidget>

#include <gtest/gtest.h>

using namespace murel;
using Scheme = Appearance::Scheme;

namespace {

struct ColourCase {
  DSColor token;
  double light[4];
  double dark[4];
};

void expectRgba(const QColor& c, const double (&want)[4], const char* what) {
  EXPECT_NEAR(c.redF(), want[0], 2e-5) << what;    // QColor keeps 16 bits a channel
  EXPECT_NEAR(c.greenF(), want[1], 2e-5) << what;  // QColor keeps 16 bits a channel
  EXPECT_NEAR(c.blueF(), want[2], 2e-5) << what;   // QColor keeps 16 bits a channel
  EXPECT_NEAR(c.alphaF(), want[3], 2e-5) << what;  // QColor keeps 16 bits a channel
}

}  // namespace

TEST(DesignTokens, ThirteenColoursInBothAppearances) {
  const ColourCase cases[] = {
      {DSColor::background, {0.945, 0.925, 0.878, 1}, {0.04, 0.04, 0.04, 1}},
      {DSColor::ink, {0.12, 0.12, 0.12, 1}, {1, 1, 1, 1}},
      {DSColor::inkSecondary, {0.395, 0.395, 0.395, 1}, {0.8, 0.8, 0.8, 1}},
      {DSColor::inkMuted, {0.40, 0.38, 0.35, 1}, {0.54, 0.52, 0.48, 1}},
      {DSColor::accent, {0.47, 0.365, 0.094, 1}, {0.788, 0.663, 0.38, 1}},
      {DSColor::inkInverse, {0.945, 0.925, 0.878, 1}, {0.04, 0.04, 0.04, 1}},
      {DSColor::onAccent, {0.04, 0.04, 0.04, 1}, {0.04, 0.04, 0.04, 1}},
      {DSColor::success, {0.18, 0.42, 0.24, 1}, {0.31, 0.68, 0.41, 1}},
      {DSColor::warning, {0.85, 0.45, 0.10, 1}, {0.95, 0.55, 0.15, 1}},
      {DSColor::danger, {0.80, 0.15, 0.15, 1}, {0.92, 0.28, 0.28, 1}},
      {DSColor::surface, {0.91, 0.89, 0.84, 1}, {0.08, 0.08, 0.08, 1}},
      {DSColor::surfaceRaised, {0.875, 0.852, 0.80, 1}, {0.12, 0.12, 0.12, 1}},
      {DSColor::hairline, {0, 0, 0, 0.1}, {1, 1, 1, 0.1}},
  };
  ASSERT_EQ(std::size(cases), std::size_t(kDSColorCount));
  for (const ColourCase& c : cases) {
    expectRgba(dsColor(c.token, Scheme::Light), c.light, "light");
    expectRgba(dsColor(c.token, Scheme::Dark), c.dark, "dark");
  }
  // QColor keeps 16-bit channels: the 8-bit reference values still come out.
  EXPECT_EQ(dsColor(DSColor::accent, Scheme::Light).name(), QStringLiteral("#785d18"));
  EXPECT_EQ(dsColor(DSColor::hairline, Scheme::Dark).alpha(), 26);
}

TEST(DesignTokens, OpacityMultipliesIntoTheTokenAndWidgetOverridesWin) {
  QWidget outer;
  auto* inner = new QWidget(&outer);
  Appearance::setOverride(&outer, Scheme::Dark);
  EXPECT_EQ(dsColor(DSColor::background, inner), dsColor(DSColor::background, Scheme::Dark));
  EXPECT_NEAR(dsColor(DSColor::hairline, inner, 0.5).alphaF(), 0.05, 1e-3);
  EXPECT_NEAR(dsColor(DSColor::ink, inner, 0.03).alphaF(), 0.03, 1e-3);
  // The nearest override wins: a light panel inside a dark window.
  Appearance::setOverride(inner, Scheme::Light);
  EXPECT_EQ(dsColor(DSColor::ink, inner), dsColor(DSColor::ink, Scheme::Light));
  Appearance::setOverride(inner, std::nullopt);
  EXPECT_EQ(dsColor(DSColor::ink, inner), dsColor(DSColor::ink, Scheme::Dark));
}

TEST(DesignTokens, TwelveTextStylesFromTheBundledFaces) {
  ASSERT_TRUE(Fonts::registerBundled());
  struct Case {
    DSFont style;
    const char* family;
    int pixelSize;
    QFont::Weight weight;
    bool italic;
  };
  const Case cases[] = {
      {DSFont::display, "Monoton", 64, QFont::Normal, false},
      {DSFont::title, "Noto Sans", 32, QFont::ExtraBold, false},
      {DSFont::heading, "Noto Sans", 22, QFont::Bold, false},
      {DSFont::subheading, "Noto Sans", 16, QFont::Bold, false},
      {DSFont::label, "Noto Sans", 14, QFont::Medium, false},
      {DSFont::body, "Noto Sans", 13, QFont::Normal, false},
      {DSFont::bodyItalic, "Noto Sans", 14, QFont::Normal, true},
      {DSFont::captionItalic, "Noto Sans", 12, QFont::Normal, true},
      {DSFont::caption, "Noto Sans", 12, QFont::Normal, false},
      {DSFont::small, "Noto Sans", 11, QFont::Normal, false},
      {DSFont::micro, "Noto Sans", 10, QFont::Normal, false},
      {DSFont::tiny, "Noto Sans", 9, QFont::Normal, false},
  };
  ASSERT_EQ(std::size(cases), std::size_t(kDSFontCount));
  for (const Case& c : cases) {
    const QFont font = dsFont(c.style);
    SCOPED_TRACE(int(c.style));
    EXPECT_EQ(font.families(), QStringList{QString::fromLatin1(c.family)});
    EXPECT_EQ(font.pixelSize(), c.pixelSize);
    EXPECT_EQ(font.weight(), c.weight);
    EXPECT_EQ(font.italic(), c.italic);
    // The face really drawn is ours, not a fallback.
    EXPECT_EQ(QFontInfo(font).family(), QString::fromLatin1(c.family));
    EXPECT_EQ(QFontInfo(font).pixelSize(), c.pixelSize);
  }
  EXPECT_DOUBLE_EQ(tracked(dsFont(DSFont::caption), 1.5).letterSpacing(), 1.5);
}

// Each weight the design names is drawn from its own face, not synthesized
// from the nearest one (Black from Bold, Medium from Regular).
TEST(DesignTokens, EveryWeightHasItsOwnBundledFace) {
  ASSERT_TRUE(Fonts::registerBundled());
  const std::pair<DSWeight, const char*> cases[] = {
      {DSWeight::regular, "Regular"}, {DSWeight::medium, "Medium"},   {DSWeight::semibold, "SemiBold"},
      {DSWeight::bold, "Bold"},       {DSWeight::heavy, "ExtraBold"}, {DSWeight::black, "Black"},
  };
  QStringList bundled;
  for (const char* face : {"Medium", "SemiBold", "Bold", "ExtraBold", "Black"})
    bundled.append(AppPaths::resource(QStringLiteral("fonts/NotoSans-%1.ttf").arg(QLatin1String(face))));
  for (const QString& file : bundled) EXPECT_TRUE(QFileInfo(file).isFile()) << file.toStdString();
  qreal lastWidth = 0;
  for (const auto& [weight, style] : cases) {
    SCOPED_TRACE(style);
    const QFont font = notoSans(24, weight);
    EXPECT_EQ(QFontInfo(font).styleName(), QString::fromLatin1(style));
    // Heavier faces set the same word wider.
    const qreal width = QFontMetricsF(font).horizontalAdvance(QStringLiteral("1,250 words"));
    EXPECT_GT(width, lastWidth);
    lastWidth = width;
  }
}

TEST(DesignTokens, PreviewFlagIsExactlyOneAndComputedOnce) {
  const std::pair<const char*, bool> cases[] = {{"1", true},   {"0", false},  {"true", false}, {"01", false},
                                                {" 1", false}, {"1 ", false}, {"", false}};
  for (const auto& [value, expected] : cases) {
    QProcessEnvironment env;
    env.insert(QStringLiteral("XCODE_RUNNING_FOR_PREVIEWS"), QString::fromLatin1(value));
    EXPECT_EQ(previewFlagFromEnvironment(env), expected) << '"' << value << '"';
  }
  EXPECT_FALSE(previewFlagFromEnvironment(QProcessEnvironment()));

  const bool first = isRunningForPreviews();
  qputenv("XCODE_RUNNING_FOR_PREVIEWS", first ? "0" : "1");
  EXPECT_EQ(isRunningForPreviews(), first);
  qunsetenv("XCODE_RUNNING_FOR_PREVIEWS");
}
