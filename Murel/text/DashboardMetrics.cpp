#include "text/DashboardMetrics.h"

#include <unicode/measfmt.h>
#include <unicode/measunit.h>
#include <unicode/measure.h>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace murel {

DashboardMetrics DashboardMetrics::make(const UsageStatsStore& stats, const QDateTime& now, const QTimeZone& zone) {
  return make(
      Totals{stats.totalWords(), stats.totalCharacters(), stats.totalDictations(), stats.totalRecordingSeconds()},
      stats.daily(), now, zone);
}

DashboardMetrics DashboardMetrics::make(const Totals& totals, const QList<DailyUsage>& daily, const QDateTime& now,
                                        const QTimeZone& zone) {
  DashboardMetrics m;
  const double words = static_cast<double>(totals.words);
  const double minutesPerTypedWord = 1.0 / kTypingWordsPerMinute;
  if (totals.recordingSeconds > 0) {
    const double pace = words / (totals.recordingSeconds / 60.0);
    const double rounded = std::round(pace);
    // A pace past the 64-bit range (a few words over next to no recording time) is shown as absent.
    if (std::isfinite(rounded) && rounded < 9.2e18 && rounded > -9.2e18) m.averageWPM = static_cast<qint64>(rounded);
    m.timeSavedMinutes = pace > kTypingWordsPerMinute ? words * (minutesPerTypedWord - 1.0 / pace) : 0;
  } else {
    m.timeSavedMinutes = words * (minutesPerTypedWord - 1.0 / kDefaultWordsPerMinute);
  }
  if (!(m.timeSavedMinutes > 0)) m.timeSavedMinutes = 0;

  m.hasData = totals.dictations > 0;
  m.totalWords = totals.words;
  m.totalDictations = totals.dictations;
  m.keystrokesSaved = totals.characters;

  const QMap<QDate, qint64> byDay = wordsByDay(daily, zone);
  const QDate today = now.toTimeZone(zone).date();
  m.currentStreak = countStreakDays(today, byDay);
  m.heatmap = heatmapLevels(startOfWeek(today), today, byDay);
  return m;
}

QMap<QDate, qint64> DashboardMetrics::wordsByDay(const QList<DailyUsage>& daily, const QTimeZone& zone) {
  QMap<QDate, qint64> result;
  for (const DailyUsage& record : daily) {
    if (!record.day.isValid()) continue;
    result[record.day.toTimeZone(zone).date()] += record.words;
  }
  return result;
}

namespace {

bool hasWords(const QMap<QDate, qint64>& byDay, const QDate& day) { return byDay.value(day, 0) >= 1; }

}  // namespace

qint64 DashboardMetrics::countStreakDays(const QDate& today, const QMap<QDate, qint64>& byDay) {
  QDate cursor = today;
  if (!hasWords(byDay, cursor)) {
    cursor = today.addDays(-1);
    if (!cursor.isValid() || !hasWords(byDay, cursor)) return 0;
  }
  qint64 count = 0;
  while (cursor.isValid() && hasWords(byDay, cursor)) {
    ++count;
    cursor = cursor.addDays(-1);
  }
  return count;
}

QDate DashboardMetrics::startOfWeek(const QDate& date) {
  if (!date.isValid()) return date;
  return date.addDays(-(date.dayOfWeek() - 1));  // Qt numbers Monday 1 … Sunday 7
}

int DashboardMetrics::level(qint64 words) {
  if (words < 1) return 0;
  if (words < 50) return 1;
  if (words < 150) return 2;
  if (words < 350) return 3;
  return 4;
}

QList<std::array<int, 7>> DashboardMetrics::heatmapLevels(const QDate& weekStart, const QDate& today,
                                                          const QMap<QDate, qint64>& byDay) {
  QList<std::array<int, 7>> weeks;
  const QDate gridStart = weekStart.addDays(-7 * (kWeeks - 1));
  if (!gridStart.isValid()) return weeks;
  weeks.reserve(kWeeks);
  for (int w = 0; w < kWeeks; ++w) {
    std::array<int, 7> column{};
    for (int d = 0; d < 7; ++d) {
      const QDate day = gridStart.addDays(7 * w + d);
      const auto found = byDay.constFind(day);
      column[d] = (!day.isValid() || day > today || found == byDay.constEnd()) ? 0 : level(found.value());
    }
    weeks.append(column);
  }
  return weeks;
}

QString compactCountText(qint64 count, const QLocale& locale) {
  if (count <= 999) return locale.toString(count);
  if (count <= 999'999) return QStringLiteral("≈ ") + locale.toString(count / 1000) + QLatin1Char('K');
  // One decimal as printf rounds the binary value (1.25 gives 1.2, 1.35 gives
  // 1.4), then shown in the locale's format.
  std::array<char, 32> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), static_cast<double>(count) / 1'000'000.0,
                                 std::chars_format::fixed, 1)
                       .ptr;
  double millions = 0;
  std::from_chars(digits.data(), end, millions);
  const bool whole = millions == std::floor(millions);
  return QStringLiteral("≈ ") + locale.toString(millions, 'f', whole ? 0 : 1) + QLatin1Char('M');
}

QString timeSavedText(double minutes, const QLocale& locale) {
  const double rounded = std::round(minutes);
  const qint64 whole = std::isfinite(rounded) && rounded >= 1 ? static_cast<qint64>(std::min(rounded, 9e15)) : 0;
  UErrorCode status = U_ZERO_ERROR;
  const icu::Locale icuLocale(locale.name().toLatin1().constData());
  icu::MeasureFormat format(icuLocale, UMEASFMT_WIDTH_NARROW, status);
  std::vector<icu::Measure> measures;
  const qint64 hours = whole / 60;
  const qint64 rest = whole % 60;
  if (hours > 0)
    measures.emplace_back(icu::Formattable(static_cast<int64_t>(hours)), icu::MeasureUnit::createHour(status), status);
  if (rest > 0 || hours == 0)
    measures.emplace_back(icu::Formattable(static_cast<int64_t>(rest)), icu::MeasureUnit::createMinute(status), status);
  icu::UnicodeString text;
  icu::FieldPosition position(icu::FieldPosition::DONT_CARE);
  if (U_SUCCESS(status))
    format.formatMeasures(measures.data(), static_cast<int32_t>(measures.size()), text, position, status);
  if (U_FAILURE(status)) {
    // ICU without data for the locale: the same figures in plain ASCII units.
    QString fallback;
    if (hours > 0) fallback = locale.toString(hours) + QLatin1Char('h');
    if (rest > 0 || hours == 0)
      fallback += (fallback.isEmpty() ? QString() : QStringLiteral(" ")) + locale.toString(rest) + QLatin1Char('m');
    return fallback;
  }
  return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

}  // namespace murel
