#include "text/UsageStatsStore.h"

#include "runtime/UnicodeText.h"

#include "runtime/UserDefaults.h"
#include "text/StoredRecords.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <cmath>
#include <limits>
#include <memory>

namespace murel {
namespace {

std::optional<DailyUsage> decodeDay(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  const std::optional<double> day = stored::numberMember(o, "day");
  const std::optional<qint64> words = stored::integerMember(o, "words");
  const std::optional<qint64> dictations = stored::integerMember(o, "dictations");
  const std::optional<double> seconds = stored::numberMember(o, "recordingSeconds");
  if (!day || !words || !dictations || !seconds) return std::nullopt;
  return DailyUsage{stored::dateFromReferenceSeconds(*day), *words, *dictations, *seconds};
}

// Stored counts come from a file that may be damaged or edited: they stop at the
// largest count rather than overflow.
qint64 saturatingAdd(qint64 total, qint64 add) {
  qint64 sum = 0;
  return __builtin_add_overflow(total, add, &sum) ? std::numeric_limits<qint64>::max() : sum;
}

}  // namespace

UsageStatsStore::UsageStatsStore(UserDefaults& defaults, const QTimeZone& timeZone, QObject* parent)
    : QObject(parent), defaults_(defaults), timeZone_(timeZone.isValid() ? timeZone : QTimeZone::systemTimeZone()) {
  load();
}

void UsageStatsStore::load() {
  const std::optional<QByteArray> data = defaults_.dataValue(QLatin1String(kKey));
  if (!data) return;
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(*data, &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return;
  const QJsonObject o = doc.object();
  // Each figure is read on its own: one missing or damaged figure starts from
  // zero without taking the others with it.
  totalWords_ = stored::integerMember(o, "totalWords").value_or(0);
  totalCharacters_ = stored::integerMember(o, "totalCharacters").value_or(0);
  totalDictations_ = stored::integerMember(o, "totalDictations").value_or(0);
  totalRecordingSeconds_ = stored::numberMember(o, "totalRecordingSeconds").value_or(0.0);
  const QJsonValue days = o.value(QLatin1String("daily"));
  if (days.isArray()) {
    for (const auto& d : days.toArray()) {
      if (std::optional<DailyUsage> usage = decodeDay(d)) daily_.append(*usage);
    }
  }
}

qint64 UsageStatsStore::wordCount(const QString& text) {
  qint64 words = 0;
  bool inWord = false;
  for (qsizetype i = 0; i < text.size();) {
    char32_t c = text[i].unicode();
    qsizetype step = 1;
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      c = QChar::surrogateToUcs4(text[i], text[i + 1]);
      step = 2;
    }
    const bool white = u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE);
    if (!white && !inWord) ++words;
    inWord = !white;
    i += step;
  }
  return words;
}

qint64 UsageStatsStore::characterCount(const QString& text) { return graphemeCount(text); }

void UsageStatsStore::record(const QString& text, const QDateTime& date, double recordingSeconds) {
  const qint64 words = wordCount(text);
  if (words == 0) return;
  const qint64 characters = characterCount(text);
  // Not a number, negative or endless: nothing recorded (an endless total could never be stored again).
  const double seconds = (!std::isfinite(recordingSeconds) || recordingSeconds < 0) ? 0.0 : recordingSeconds;

  totalWords_ = saturatingAdd(totalWords_, words);
  Q_EMIT totalWordsChanged();
  totalCharacters_ = saturatingAdd(totalCharacters_, characters);
  Q_EMIT totalCharactersChanged();
  totalDictations_ = saturatingAdd(totalDictations_, 1);
  Q_EMIT totalDictationsChanged();
  totalRecordingSeconds_ += seconds;
  Q_EMIT totalRecordingSecondsChanged();

  const QDate day = date.toTimeZone(timeZone_).date();
  bool found = false;
  for (DailyUsage& d : daily_) {
    if (d.day.toTimeZone(timeZone_).date() != day) continue;
    d.words = saturatingAdd(d.words, words);
    d.dictations = saturatingAdd(d.dictations, 1);
    d.recordingSeconds += seconds;
    found = true;
    break;
  }
  if (!found) daily_.append(DailyUsage{day.startOfDay(timeZone_), words, 1, seconds});
  Q_EMIT dailyChanged();

  prune(day);
  save();
}

void UsageStatsStore::prune(const QDate& day) {
  const QDateTime cutoff = day.addDays(-kRetentionDays).startOfDay(timeZone_);
  if (!cutoff.isValid()) return;
  daily_.removeIf([&cutoff](const DailyUsage& d) { return d.day < cutoff; });
  Q_EMIT dailyChanged();
}

void UsageStatsStore::save() {
  QList<QByteArray> days;
  days.reserve(daily_.size());
  for (const DailyUsage& d : daily_) {
    days.append(stored::ObjectWriter()
                    .add("day", stored::referenceSeconds(d.day))
                    .add("words", d.words)
                    .add("dictations", d.dictations)
                    .add("recordingSeconds", d.recordingSeconds)
                    .text());
  }
  const QByteArray snapshot = stored::ObjectWriter()
                                  .add("totalWords", totalWords_)
                                  .add("totalCharacters", totalCharacters_)
                                  .add("totalDictations", totalDictations_)
                                  .add("totalRecordingSeconds", totalRecordingSeconds_)
                                  .addRaw("daily", stored::arrayText(days))
                                  .text();
  defaults_.setValue(QLatin1String(kKey), snapshot);
}

}  // namespace murel
