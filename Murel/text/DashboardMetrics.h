#pragma once

#include "text/UsageStatsStore.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QMap>
#include <QString>
#include <QTimeZone>

#include <array>
#include <optional>

namespace murel {

// The figures of the dashboard, computed afresh from the usage statistics at
// every redraw; nothing of it is stored. Days are calendar days of `zone`
// (stepped by date, never by 86,400 s) and weeks start on Monday whatever
// the locale.
struct DashboardMetrics {
  static constexpr double kTypingWordsPerMinute = 40;
  static constexpr double kDefaultWordsPerMinute = 150;
  static constexpr int kWeeks = 26;

  bool hasData = false;
  qint64 totalWords = 0;
  qint64 totalDictations = 0;
  qint64 keystrokesSaved = 0;
  // Rounded words per minute; absent without recording time, or when too large to count.
  std::optional<qint64> averageWPM;
  double timeSavedMinutes = 0;
  qint64 currentStreak = 0;
  // 26 weeks, oldest first, each Monday first; levels 0 to 4.
  QList<std::array<int, 7>> heatmap;

  struct Totals {
    qint64 words = 0;
    qint64 characters = 0;
    qint64 dictations = 0;
    double recordingSeconds = 0;
  };

  static DashboardMetrics make(const UsageStatsStore& stats, const QDateTime& now,
                               const QTimeZone& zone = QTimeZone::systemTimeZone());
  static DashboardMetrics make(const Totals& totals, const QList<DailyUsage>& daily, const QDateTime& now,
                               const QTimeZone& zone);

  // Words per calendar day of `zone`; records on the same day add up.
  static QMap<QDate, qint64> wordsByDay(const QList<DailyUsage>& daily, const QTimeZone& zone);
  // Consecutive days with words, ending today, or yesterday when today has none yet.
  static qint64 countStreakDays(const QDate& today, const QMap<QDate, qint64>& wordsByDay);
  // The Monday of the week holding `date`.
  static QDate startOfWeek(const QDate& date);
  static QList<std::array<int, 7>> heatmapLevels(const QDate& weekStart, const QDate& today,
                                                 const QMap<QDate, qint64>& wordsByDay);
  static int level(qint64 words);
};

// A count as the keystrokes tile shows it: "999", "≈ 1K", "≈ 1.5M".
QString compactCountText(qint64 count, const QLocale& locale = QLocale());
// Minutes in the locale's narrow hours and minutes ("0m", "45m", "1h 30m").
QString timeSavedText(double minutes, const QLocale& locale = QLocale());

}  // namespace murel
