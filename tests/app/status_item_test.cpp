// The tray item's own parts: where the panel goes beside an icon on each
// screen edge, and the icon drawn for light and dark panels (pictures in
// build/screenshots/menubar/).
#include "app/PanelPlacement.h"
#include "app/StatusItem.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

using namespace murel;

namespace {

const QRect kScreen(0, 0, 1920, 1080);
const QSize kPanel(360, 397);

struct Placement {
  const char* name;
  QRect icon;
  QRect workArea;
  ScreenEdge edge;
};

class PanelPlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(PanelPlacement, InsideTheWorkAreaOnTheSideAwayFromTheTray) {
  const Placement& c = GetParam();
  EXPECT_EQ(nearestScreenEdge(c.icon, kScreen), c.edge);
  const QRect place = placeBesideTrayIcon(kPanel, c.icon, kScreen, c.workArea);
  EXPECT_EQ(place.size(), kPanel);
  EXPECT_TRUE(c.workArea.contains(place)) << place.x() << "," << place.y();
  EXPECT_FALSE(place.intersects(c.icon)) << "the panel lies over the icon";
  switch (c.edge) {
    case ScreenEdge::bottom: EXPECT_LT(place.bottom(), c.icon.top()); break;
    case ScreenEdge::top: EXPECT_GT(place.top(), c.icon.bottom()); break;
    case ScreenEdge::left: EXPECT_GT(place.left(), c.icon.right()); break;
    case ScreenEdge::right: EXPECT_LT(place.right(), c.icon.left()); break;
  }
}

INSTANTIATE_TEST_SUITE_P(Edges, PanelPlacement,
                         ::testing::Values(
                             // The reported fault: a bottom tray, icon at the bottom right.
                             Placement{"bottomRight", QRect(1890, 1056, 24, 24), kScreen, ScreenEdge::bottom},
                             // The window manager keeps the tray's strip out of the work area.
                             Placement{"bottomStrut", QRect(1890, 1052, 24, 24), QRect(0, 0, 1920, 1048),
                                       ScreenEdge::bottom},
                             Placement{"topLeft", QRect(4, 0, 22, 22), kScreen, ScreenEdge::top},
                             Placement{"topMiddle", QRect(950, 2, 22, 22), QRect(0, 26, 1920, 1054), ScreenEdge::top},
                             Placement{"leftLow", QRect(0, 1000, 32, 32), kScreen, ScreenEdge::left},
                             Placement{"rightHigh", QRect(1896, 40, 24, 24), kScreen, ScreenEdge::right},
                             // A host's click point, taken as a square around it, in the very corner.
                             Placement{"hostCorner", QRect(1903, 1063, 32, 32), kScreen, ScreenEdge::bottom}),
                         [](const auto& info) { return std::string(info.param.name); });

double luminance(const QColor& color) {
  auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

double contrast(const QColor& a, const QColor& b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The glyph's colour: the mean of its solid pixels, as painted over the panel.
QColor glyphColour(const QImage& icon, const QColor& panel) {
  const QImage image = icon.convertToFormat(QImage::Format_ARGB32);
  double r = 0, g = 0, b = 0;
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor pixel = image.pixelColor(x, y);
      if (pixel.alphaF() < 0.5) continue;
      const double a = pixel.alphaF();
      r += pixel.redF() * a + panel.redF() * (1 - a);
      g += pixel.greenF() * a + panel.greenF() * (1 - a);
      b += pixel.blueF() * a + panel.blueF() * (1 - a);
      ++count;
    }
  if (count == 0) return panel;
  return QColor::fromRgbF(float(r / count), float(g / count), float(b / count));
}

struct Scheme {
  const char* name;
  bool dark;
  QColor panel;
};

class TrayIcon : public ::testing::TestWithParam<Scheme> {};

TEST_P(TrayIcon, GlyphStandsOutFromATypicalPanelOnATransparentGround) {
  const Scheme& scheme = GetParam();
  for (const int size : {16, 22}) {
    SCOPED_TRACE(size);
    const QImage icon = StatusItem::iconImage(size, scheme.dark);
    ASSERT_EQ(icon.size(), QSize(size, size));
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << "the corners show the panel";
    EXPECT_EQ(qAlpha(icon.pixel(size - 1, size - 1)), 0);
    EXPECT_GE(contrast(glyphColour(icon, scheme.panel), scheme.panel), 4.5);
  }
  // Every size the trays are offered, light and dark alike.
  const QList<QSize> sizes = StatusItem::icon(scheme.dark).availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(22, 22)));

  // The icon on its panel, enlarged eight times.
  const QString folder = test::buildDir() + QStringLiteral("/screenshots/menubar");
  QDir().mkpath(folder);
  QImage shot(3 * 22 * 8, 22 * 8, QImage::Format_RGB32);
  shot.fill(scheme.panel);
  QPainter painter(&shot);
  painter.drawImage(QRect(0, 0, 22 * 8, 22 * 8), StatusItem::iconImage(22, scheme.dark));
  painter.drawImage(QRect(22 * 8 + 40, 40, 16 * 6, 16 * 6), StatusItem::iconImage(16, scheme.dark));
  painter.drawImage(QRect(22 * 8 + 200, 60, 22, 22), StatusItem::iconImage(22, scheme.dark));
  painter.drawImage(QRect(22 * 8 + 240, 63, 16, 16), StatusItem::iconImage(16, scheme.dark));
  painter.end();
  EXPECT_TRUE(shot.save(folder + QStringLiteral("/tray-icon-%1.png").arg(QLatin1String(scheme.name))));
}

INSTANTIATE_TEST_SUITE_P(Schemes, TrayIcon,
                         ::testing::Values(Scheme{"light", false, QColor(0xef, 0xef, 0xef)},
                                           Scheme{"dark", true, QColor(0x2b, 0x2b, 0x2b)}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
