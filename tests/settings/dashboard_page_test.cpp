// The dashboard tab in a real settings window: the empty state, the six tiles,
// the heatmap's fills sampled from screenshots, and live redraws on a new dictation.
#include "design/SettingsComponents.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "settings/DashboardSettingsView.h"
#include "support/SettingsWindowRig.h"
#include "support/TestEnv.h"
#include "text/UsageStatsStore.h"

#include <QCoreApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <memory>

using namespace murel;
using Scheme = Appearance::Scheme;

namespace {

QString wordsText(int count) {
  QStringList words;
  for (int i = 0; i < count; ++i) words.append(QStringLiteral("word"));
  return words.join(QLatin1Char(' '));
}

QColor over(const QColor& top, const QColor& bottom) {
  const qreal a = top.alphaF();
  return QColor::fromRgbF(top.redF() * a + bottom.redF() * (1 - a), top.greenF() * a + bottom.greenF() * (1 - a),
                          top.blueF() * a + bottom.blueF() * (1 - a));
}

QColor expectedFill(int level, Scheme scheme) {
  const qreal opacity[] = {0.06, 0.3, 0.55, 0.78, 1.0};
  QColor fill = dsColor(level == 0 ? DSColor::ink : DSColor::accent, scheme);
  fill.setAlphaF(fill.alphaF() * opacity[level]);
  return over(fill, dsColor(DSColor::surface, scheme));
}

bool near(const QColor& a, const QColor& b) {
  return std::abs(a.red() - b.red()) <= 4 && std::abs(a.green() - b.green()) <= 4 && std::abs(a.blue() - b.blue()) <= 4;
}

// A Wednesday at noon: the current week has two past days, today and four future days.
const QDateTime kNow(QDate(2026, 6, 17), QTime(12, 0));

class DashboardPage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(installTranslations(*QCoreApplication::instance())); }

  void SetUp() override {
    defaults_ =
        std::make_unique<UserDefaults>(test::freshDir(QStringLiteral("dashboard_page")) + QStringLiteral("/d.json"));
    stats_ = std::make_unique<UsageStatsStore>(*defaults_);
  }

  void open() {
    pages_.set(SettingsTab::dashboard, [this](const SettingsPageContext&, QWidget* parent) -> QWidget* {
      return new DashboardSettingsView(
          *stats_, [] { return kNow; }, parent);
    });
    rig_ = std::make_unique<test::SettingsWindowRig>(SettingsTab::dashboard, pages_);
    page_ = qobject_cast<DashboardSettingsView*>(rig_->view().currentPage());
    ASSERT_NE(page_, nullptr);
  }

  QString value(DashboardSettingsView::Tile tile) const { return page_->tile(tile)->valueText()->text(); }

  std::unique_ptr<UserDefaults> defaults_;
  std::unique_ptr<UsageStatsStore> stats_;
  SettingsPages pages_;
  std::unique_ptr<test::SettingsWindowRig> rig_;
  DashboardSettingsView* page_ = nullptr;
};

}  // namespace

TEST_F(DashboardPage, EmptyUntilTheFirstDictationThenLive) {
  // An empty text counts nothing; the store has no dictation.
  stats_->record(QStringLiteral("   "), kNow, 3);
  open();
  QStringList texts = test::visibleTexts(page_);
  EXPECT_TRUE(texts.contains(QStringLiteral("Dashboard")));
  EXPECT_TRUE(texts.contains(QStringLiteral("No dictations yet")));
  EXPECT_TRUE(texts.contains(QStringLiteral("hold your hotkey and speak — your stats appear here.")));
  EXPECT_FALSE(texts.contains(QStringLiteral("TIME SAVED")));
  EXPECT_FALSE(page_->dataSection()->isVisible());
  EXPECT_TRUE(test::rawKeysAmong(texts).isEmpty()) << test::rawKeysAmong(texts).join(u' ').toStdString();
  test::settingsScreenshot(rig_->window(), QStringLiteral("dashboard-empty"), Scheme::Light);
  test::settingsScreenshot(rig_->window(), QStringLiteral("dashboard-empty"), Scheme::Dark);

  // A dictation while the page is open: the tiles come without reopening, in one redraw.
  const int before = page_->redrawCount();
  stats_->record(wordsText(1000), kNow.addSecs(-60), 0);
  test::settle(50);
  EXPECT_EQ(page_->redrawCount(), before + 1);
  EXPECT_TRUE(page_->dataSection()->isVisible());
  EXPECT_FALSE(page_->emptyCard()->isVisible());
  texts = test::visibleTexts(page_);
  for (const char* label : {"TIME SAVED", "vs typing", "WORDS DICTATED", "all time", "DICTATIONS", "KEYSTROKES SAVED",
                            "AVG PACE", "CURRENT STREAK", "ACTIVITY · LAST 26 WEEKS"})
    EXPECT_TRUE(texts.contains(QString::fromUtf8(label))) << label;
  EXPECT_EQ(value(DashboardSettingsView::pace), QStringLiteral("—"));
  EXPECT_EQ(value(DashboardSettingsView::timeSaved), timeSavedText(1000 * (0.025 - 1.0 / 150)));
  EXPECT_EQ(value(DashboardSettingsView::words), QLocale().toString(1000));
  EXPECT_EQ(value(DashboardSettingsView::dictations), QStringLiteral("1"));
  EXPECT_EQ(value(DashboardSettingsView::keystrokes), compactCountText(4999));
  EXPECT_EQ(value(DashboardSettingsView::streak), QStringLiteral("1 days"));
  EXPECT_TRUE(test::rawKeysAmong(texts).isEmpty()) << test::rawKeysAmong(texts).join(u' ').toStdString();

  stats_->record(wordsText(20), kNow, 6);
  test::settle(50);
  EXPECT_EQ(value(DashboardSettingsView::dictations), QStringLiteral("2"));
  EXPECT_EQ(value(DashboardSettingsView::pace), QLocale().toString(10200) + QStringLiteral(" wpm"));
}

TEST_F(DashboardPage, HeatmapCellsHaveTheirLevelsFill) {
  // 26 weeks of data: the day's words cycle through the five levels.
  const int words[] = {0, 10, 60, 200, 400};
  const QDate gridStart = kNow.date().addDays(-(kNow.date().dayOfWeek() - 1) - 175);
  for (QDate day = gridStart; day <= kNow.date(); day = day.addDays(1)) {
    const int n = words[gridStart.daysTo(day) % 5];
    if (n > 0) stats_->record(wordsText(n), QDateTime(day, QTime(9, 0)), n / 2.0);
  }
  open();
  const DashboardHeatmap* heatmap = page_->heatmap();
  EXPECT_EQ(heatmap->size(), QSize(438, 115));
  ASSERT_EQ(heatmap->weeks().size(), 26);
  for (Scheme scheme : {Scheme::Light, Scheme::Dark}) {
    const QImage shot(test::settingsScreenshot(rig_->window(), QStringLiteral("dashboard-full"), scheme));
    ASSERT_FALSE(shot.isNull());
    for (int w = 0; w < 26; ++w) {
      for (int d = 0; d < 7; ++d) {
        const QDate day = gridStart.addDays(7 * w + d);
        const int level = day > kNow.date() ? 0 : DashboardMetrics::level(words[gridStart.daysTo(day) % 5]);
        ASSERT_EQ(heatmap->weeks()[w][d], level) << w << "," << d;
        const QPoint at = heatmap->mapTo(&rig_->window(), DashboardHeatmap::cellRect(w, d).center());
        const QColor got = shot.pixelColor(at * shot.devicePixelRatio());
        EXPECT_TRUE(near(got, expectedFill(level, scheme)))
            << "week " << w << " day " << d << " level " << level << " got " << got.name().toStdString() << " want "
            << expectedFill(level, scheme).name().toStdString();
      }
    }
  }
  // Wednesday: Thursday to Sunday of the current week are drawn as empty days.
  EXPECT_EQ(heatmap->weeks()[25][3], 0);
  EXPECT_EQ(heatmap->weeks()[25][6], 0);
}

TEST_F(DashboardPage, WideValuesShrinkThenCut) {
  stats_->record(wordsText(5), kNow, 0);
  open();
  DashboardValueText* value = page_->tile(DashboardSettingsView::words)->valueText();
  value->setText(QStringLiteral("1,234,567,890"));
  EXPECT_DOUBLE_EQ(value->fittedPixelSize(), 32);
  value->setText(QString(40, QLatin1Char('8')));
  test::settle(20);
  EXPECT_DOUBLE_EQ(value->fittedPixelSize(), 32 * 0.6);
  EXPECT_EQ(value->height(), value->sizeHint().height());  // still one line
}
