// The heads-up display's phase holder and the waveform's bar geometry.
#include "app/HudPresentation.h"
#include "overlays/HudBars.h"

#include <QImage>
#include <QPainter>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <vector>

using namespace murel;

TEST(HudPresentation, StartsRecordingAndNotifiesOnlyOnChange) {
  HudPresentation presentation;
  EXPECT_EQ(presentation.phase(), HudPhase::recording);
  QSignalSpy spy(&presentation, &HudPresentation::phaseChanged);

  presentation.setPhase(HudPhase::recording);
  EXPECT_EQ(spy.count(), 0);
  presentation.setPhase(HudPhase::transcribing);
  presentation.setPhase(HudPhase::transcribing);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).value<HudPhase>(), HudPhase::transcribing);
  presentation.setPhase(HudPhase::editing);
  EXPECT_EQ(spy.count(), 2);
  EXPECT_EQ(presentation.property("phase").value<HudPhase>(), HudPhase::editing);
}

TEST(WaveformBars, HeightAndColourFollowTheReading) {
  struct Case {
    float reading;
    qreal height;
    DSColor color;
  };
  // A 20-point canvas, as in the display.
  const std::vector<Case> cases = {
      {0.0f, 2.0, DSColor::inkSecondary},   // floor 0.05 → 1 point, raised to 2
      {0.1f, 2.0, DSColor::inkSecondary},   //
      {0.25f, 5.0, DSColor::inkSecondary},  // exactly 0.25 is still quiet
      {0.26f, 5.2, DSColor::accent},        //
      {1.0f, 20.0, DSColor::accent},        //
      {1.5f, 30.0, DSColor::accent},        // not limited, centred on the canvas
  };
  const QSizeF canvas(120, 20);
  std::vector<float> levels;
  for (const Case& c : cases) levels.push_back(c.reading);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].reading);
    const WaveformBars::Bar bar = WaveformBars::bar(levels, i, canvas);
    EXPECT_NEAR(bar.rect.height(), cases[i].height, 1e-5);
    EXPECT_NEAR(bar.rect.center().y(), 10.0, 1e-5);
    EXPECT_EQ(bar.rect.width(), 2.0);
    EXPECT_EQ(bar.color, cases[i].color);
  }
}

TEST(WaveformBars, BarsSpreadFromTheLeftEdgeToTheRightEdge) {
  // 24 bars over 144 points: the gap is (144 - 48) / 23.
  const std::vector<float> silence(24, 0.0f);
  const QSizeF canvas(144, 20);
  const qreal step = (144.0 - 48.0) / 23.0 + 2.0;
  for (std::size_t i = 0; i < silence.size(); ++i) {
    const WaveformBars::Bar bar = WaveformBars::bar(silence, i, canvas);
    EXPECT_NEAR(bar.rect.left(), step * qreal(i), 1e-9);
    EXPECT_EQ(bar.rect.height(), 2.0);
    EXPECT_EQ(bar.color, DSColor::inkSecondary);
  }
  EXPECT_NEAR(WaveformBars::bar(silence, 23, canvas).rect.right(), 144.0, 1e-9);

  // One reading is one bar at the left edge.
  const std::vector<float> one{0.5f};
  EXPECT_EQ(WaveformBars::bar(one, 0, canvas).rect, QRectF(0, 5, 2, 10));
}

TEST(WaveformBars, NoReadingsDrawNothing) {
  QImage image(120, 20, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    WaveformBars::paint(painter, {}, QSizeF(image.size()), nullptr);
  }
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) ASSERT_EQ(image.pixel(x, y), 0u) << x << "," << y;
}
