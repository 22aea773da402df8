#include "runtime/UserDefaults.h"
#include "support/TestEnv.h"
#include "text/DashboardMetrics.h"

#include <gtest/gtest.h>

#include <memory>

using murel::DailyUsage;
using murel::DashboardMetrics;

namespace {

// Each calendar case runs in both zones; the New York week holds the spring change (Sunday 2026-03-08).
const QTimeZone kZones[] = {QTimeZone("UTC"), QTimeZone("America/New_York")};

QDateTime at(const QDate& date, const QTimeZone& zone, int hour = 12) { return QDateTime(date, QTime(hour, 0), zone); }

DailyUsage day(const QDate& date, const QTimeZone& zone, qint64 words) {
  return DailyUsage{date.startOfDay(zone), words, 1, 0};
}

const QDate kSunday(2026, 3, 8);
const QDate kMonday(2026, 3, 9);
const QDate kWednesday(2026, 3, 11);

}  // namespace

TEST(DashboardMetrics, PaceAndTimeSaved) {
  struct Case {
    const char* name;
    qint64 words;
    double seconds;
    std::optional<qint64> pace;
    double saved;
  };
  const Case cases[] = {
      {"empty", 0, 0, std::nullopt, 0},
      {"no recording time uses 150 wpm", 1000, 0, std::nullopt, 1000 * (0.025 - 1.0 / 150)},
      {"pace of the typing baseline saves nothing", 400, 600, 40, 0},
      {"just above the baseline", 410, 600, 41, 0.25},
      {"half rounds up", 241, 120, 121, 241 * (0.025 - 1 / 120.5)},
      {"below half rounds down", 602, 300, 120, 602 * (0.025 - 1 / 120.4)},
      {"slower than typing", 100, 600, 10, 0},
      {"pace past 64 bits is absent", 1'000'000'000'000, 1e-12, std::nullopt, 1'000'000'000'000 * 0.025},
  };
  for (const Case& c : cases) {
    const auto m = DashboardMetrics::make({c.words, c.words * 5, c.words > 0 ? 3 : 0, c.seconds}, {},
                                          at(kWednesday, kZones[0]), kZones[0]);
    EXPECT_EQ(m.averageWPM, c.pace) << c.name;
    EXPECT_NEAR(m.timeSavedMinutes, c.saved, 1e-6) << c.name;
    EXPECT_EQ(m.hasData, c.words > 0) << c.name;
    EXPECT_EQ(m.keystrokesSaved, c.words * 5) << c.name;
  }
  EXPECT_NEAR(DashboardMetrics::make({1000, 0, 1, 0}, {}, at(kWednesday, kZones[0]), kZones[0]).timeSavedMinutes, 18.33,
              0.01);
}

TEST(DashboardMetrics, EmptyStoreHasTwentySixBlankWeeks) {
  for (const QTimeZone& zone : kZones) {
    const auto m = DashboardMetrics::make({}, {}, at(kWednesday, zone), zone);
    EXPECT_FALSE(m.hasData);
    EXPECT_EQ(m.currentStreak, 0);
    ASSERT_EQ(m.heatmap.size(), 26);
    for (const auto& week : m.heatmap) EXPECT_EQ(week, (std::array<int, 7>{}));
  }
}

TEST(DashboardMetrics, DailyRecordsWithoutDictationsAreNoData) {
  const auto m =
      DashboardMetrics::make({0, 0, 0, 0}, {day(kWednesday, kZones[0], 50)}, at(kWednesday, kZones[0]), kZones[0]);
  EXPECT_FALSE(m.hasData);
}

TEST(DashboardMetrics, StreaksCountCalendarDays) {
  struct Case {
    const char* name;
    QList<int> daysAgo;  // days before "today" with words
    qint64 streak;
  };
  const Case cases[] = {
      {"today and two before", {0, 1, 2}, 3},
      {"yesterday and the day before", {1, 2}, 2},
      {"only two days ago", {2}, 0},
      {"gap breaks it", {0, 1, 3, 4}, 2},
  };
  // Today is the Monday after the spring change: yesterday is the 23-hour Sunday.
  for (const QTimeZone& zone : kZones) {
    for (const Case& c : cases) {
      QList<DailyUsage> daily;
      for (int ago : c.daysAgo) daily.append(day(kMonday.addDays(-ago), zone, 10));
      daily.append(day(kMonday.addDays(-10), zone, 0));  // a day with 0 words is like a missing one
      const auto m = DashboardMetrics::make({10, 10, 1, 0}, daily, at(kMonday, zone, 0), zone);
      EXPECT_EQ(m.currentStreak, c.streak) << c.name << " in " << zone.id().toStdString();
    }
  }
}

TEST(DashboardMetrics, HeatmapColumnsAndLevels) {
  for (const QTimeZone& zone : kZones) {
    SCOPED_TRACE(zone.id().toStdString());
    // Sunday: the whole current column is in the past or today.
    {
      QList<DailyUsage> daily;
      const qint64 words[] = {49, 50, 149, 150, 349, 350, 1};
      for (int d = 0; d < 7; ++d) daily.append(day(kMonday.addDays(-7 + d), zone, words[d]));
      daily.append(day(kSunday.addDays(-7 * 25 - 6), zone, 1));    // the grid's first Monday
      daily.append(day(kSunday.addDays(-7 * 25 - 7), zone, 500));  // the Sunday before: off the grid
      const auto m = DashboardMetrics::make({1, 1, 1, 0}, daily, at(kSunday, zone, 23), zone);
      ASSERT_EQ(m.heatmap.size(), 26);
      EXPECT_EQ(m.heatmap[25], (std::array<int, 7>{1, 2, 2, 3, 3, 4, 1}));
      EXPECT_EQ(m.heatmap[0], (std::array<int, 7>{1, 0, 0, 0, 0, 0, 0}));
    }
    // Monday: only the first cell of the current column can be lit.
    {
      QList<DailyUsage> daily;
      for (int d = 0; d < 7; ++d) daily.append(day(kMonday.addDays(d), zone, 400));
      daily.append(day(kSunday, zone, 60));
      const auto m = DashboardMetrics::make({1, 1, 1, 0}, daily, at(kMonday, zone, 1), zone);
      EXPECT_EQ(m.heatmap[25], (std::array<int, 7>{4, 0, 0, 0, 0, 0, 0}));
      EXPECT_EQ(m.heatmap[24][6], 2);
    }
  }
}

TEST(DashboardMetrics, RecordsOfOneCalendarDayAddUp) {
  const QTimeZone zone("America/New_York");
  // Two records written in other zones that start the same New York day.
  const QList<DailyUsage> daily = {{QDateTime(kWednesday, QTime(3, 0), QTimeZone("UTC")), 30, 1, 0},
                                   {QDateTime(kWednesday, QTime(9, 0), QTimeZone("UTC")), 30, 1, 0}};
  const auto byDay = DashboardMetrics::wordsByDay(daily, zone);
  EXPECT_EQ(byDay.value(kWednesday.addDays(-1)), 30);
  EXPECT_EQ(byDay.value(kWednesday), 30);
  const QList<DailyUsage> sameDay = {{QDateTime(kWednesday, QTime(13, 0), QTimeZone("UTC")), 30, 1, 0},
                                     {QDateTime(kWednesday, QTime(20, 0), QTimeZone("UTC")), 30, 1, 0}};
  const auto m = DashboardMetrics::make({60, 60, 2, 0}, sameDay, at(kWednesday, zone, 22), zone);
  EXPECT_EQ(m.heatmap[25][2], 2);  // 60 words: level 2, where each record alone is level 1
}

TEST(DashboardMetrics, WeeksStartOnMonday) {
  for (int d = 0; d < 7; ++d) EXPECT_EQ(DashboardMetrics::startOfWeek(kMonday.addDays(d)), kMonday);
  EXPECT_EQ(DashboardMetrics::startOfWeek(kSunday), kMonday.addDays(-7));
}

TEST(DashboardMetrics, MetricsOfTheStoreItself) {
  murel::UserDefaults defaults(murel::test::freshDir(QStringLiteral("dashboard_metrics")) + QStringLiteral("/d.json"));
  const QTimeZone zone("America/New_York");
  murel::UsageStatsStore store(defaults, zone);
  store.record(QStringLiteral("one two three"), at(kSunday, zone, 9), 0);
  store.record(QStringLiteral("four five"), at(kMonday, zone, 9), 1.5);
  const auto m = DashboardMetrics::make(store, at(kMonday, zone, 18), zone);
  EXPECT_TRUE(m.hasData);
  EXPECT_EQ(m.totalWords, 5);
  EXPECT_EQ(m.totalDictations, 2);
  EXPECT_EQ(m.averageWPM, 200);
  EXPECT_EQ(m.currentStreak, 2);
}

TEST(DashboardMetrics, CompactCountText) {
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  const std::pair<qint64, const char*> cases[] = {
      {0, "0"},
      {999, "999"},
      {1000, "≈ 1K"},
      {1999, "≈ 1K"},
      {999'999, "≈ 999K"},
      {1'000'000, "≈ 1M"},
      {1'500'000, "≈ 1.5M"},
      {2'000'000, "≈ 2M"},
      // One decimal as printf rounds the binary value: an exact half goes to
      // the even digit, others to the side the binary value lies on.
      {1'250'000, "≈ 1.2M"},
      {1'750'000, "≈ 1.8M"},
      {1'350'000, "≈ 1.4M"},
      {1'150'000, "≈ 1.1M"},
      {1'949'999, "≈ 1.9M"},
      {1'999'999, "≈ 2M"},
      {12'345'678'901, "≈ 12,345.7M"},
  };
  for (const auto& [count, text] : cases) EXPECT_EQ(murel::compactCountText(count, english), QString::fromUtf8(text));
  EXPECT_EQ(murel::compactCountText(1'500'000, QLocale(QLocale::German, QLocale::Germany)), QStringLiteral("≈ 1,5M"));
}

TEST(DashboardMetrics, TimeSavedText) {
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  const std::pair<double, const char*> cases[] = {
      {0, "0m"}, {0.4, "0m"}, {0.5, "1m"}, {45, "45m"}, {60, "1h"}, {90, "1h 30m"}, {119.6, "2h"}, {-3, "0m"},
  };
  for (const auto& [minutes, text] : cases)
    EXPECT_EQ(murel::timeSavedText(minutes, english), QString::fromUtf8(text)) << minutes;
}
