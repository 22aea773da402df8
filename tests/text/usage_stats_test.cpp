#include "runtime/UserDefaults.h"
#include "support/TestEnv.h"
#include "text/UsageStatsStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using murel::DailyUsage;
using murel::UsageStatsStore;
using murel::UserDefaults;

namespace {

std::unique_ptr<UserDefaults> freshDefaults(const char* name) {
  return std::make_unique<UserDefaults>(murel::test::freshDir(QString::fromLatin1(name)) + QStringLiteral("/d.json"));
}

QDateTime at(const char* local, const QTimeZone& zone) {
  QDateTime t = QDateTime::fromString(QString::fromLatin1(local), Qt::ISODate);
  t.setTimeZone(zone);
  return t;
}

double referenceSeconds(const QDateTime& t) { return t.toMSecsSinceEpoch() / 1000.0 - 978'307'200.0; }

QJsonObject storedSnapshot(const UserDefaults& d) {
  return QJsonDocument::fromJson(d.dataValue(QStringLiteral("usageStats")).value_or(QByteArray())).object();
}

const QTimeZone kNewYork("America/New_York");

}  // namespace

TEST(UsageStats, CountsWordsAndCharacters) {
  struct Case {
    QString text;
    qint64 words, characters;
  };
  const Case cases[] = {
      {QStringLiteral("hello  world"), 2, 12},
      {QStringLiteral("  one\ttwo\nthree  "), 3, 17},
      {QStringLiteral("a\u00a0b\u2003c"), 3, 5},                  // no-break and em spaces separate words
      {QStringLiteral("\U0001F44D\U0001F3FD ok e\u0301"), 3, 6},  // a toned emoji and e + accent: one character each
      {QStringLiteral("\r\n"), 0, 1},
      {QString(), 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UsageStatsStore::wordCount(c.text), c.words) << c.text.toStdString();
    EXPECT_EQ(UsageStatsStore::characterCount(c.text), c.characters) << c.text.toStdString();
  }
}

TEST(UsageStats, RecordsTotalsAndStoresThem) {
  auto defaults = freshDefaults("usage");
  UsageStatsStore store(*defaults, kNewYork);
  QSignalSpy words(&store, &UsageStatsStore::totalWordsChanged);
  QSignalSpy daily(&store, &UsageStatsStore::dailyChanged);

  store.record(QStringLiteral(" \n \t"), at("2026-06-01T10:00:00", kNewYork), 4);
  EXPECT_FALSE(defaults->contains(QStringLiteral("usageStats")));
  EXPECT_EQ(store.totalDictations(), 0);

  store.record(QStringLiteral("hello  world"), at("2026-06-01T10:00:00", kNewYork), 2.5);
  store.record(QStringLiteral("again"), at("2026-06-01T18:00:00", kNewYork), -3);
  store.record(QStringLiteral("nan"), at("2026-06-01T19:00:00", kNewYork), std::nan(""));
  EXPECT_EQ(store.totalWords(), 4);
  EXPECT_EQ(store.totalCharacters(), 20);
  EXPECT_EQ(store.totalDictations(), 3);
  EXPECT_DOUBLE_EQ(store.totalRecordingSeconds(), 2.5);
  EXPECT_EQ(words.count(), 3);
  EXPECT_GE(daily.count(), 3);
  ASSERT_EQ(store.daily().size(), 1);
  EXPECT_EQ(store.daily()[0].words, 4);
  EXPECT_EQ(store.daily()[0].dictations, 3);
  EXPECT_DOUBLE_EQ(store.daily()[0].recordingSeconds, 2.5);

  const QByteArray data = *defaults->dataValue(QStringLiteral("usageStats"));
  const double dayStart = referenceSeconds(at("2026-06-01T00:00:00", kNewYork));
  EXPECT_EQ(data, QByteArray(R"({"totalWords":4,"totalCharacters":20,"totalDictations":3,"totalRecordingSeconds":2.5,)"
                             R"("daily":[{"day":)") +
                      QByteArray::number(static_cast<qint64>(dayStart)) +
                      R"(,"words":4,"dictations":3,"recordingSeconds":2.5}]})");
}

TEST(UsageStats, BucketsByCalendarDayAcrossMidnightAndDaylightSaving) {
  auto defaults = freshDefaults("usage-days");
  UsageStatsStore store(*defaults, kNewYork);
  const char* moments[] = {
      "2026-03-07T23:59:00",  // Saturday
      "2026-03-08T00:01:00",  // just after midnight: a new day, the 23-hour day of the spring change
      "2026-03-08T01:59:00",
      "2026-03-08T03:00:00",  // after the clocks went forward
      "2026-03-08T23:59:00",
      "2026-11-01T00:30:00",  // the 25-hour day of the autumn change
      "2026-11-01T01:30:00", "2026-11-01T23:30:00",
  };
  for (const char* m : moments) store.record(QStringLiteral("word"), at(m, kNewYork), 1);

  struct Day {
    const char* midnight;
    qint64 dictations;
  };
  const Day expected[] = {{"2026-03-07T00:00:00", 1}, {"2026-03-08T00:00:00", 4}, {"2026-11-01T00:00:00", 3}};
  ASSERT_EQ(store.daily().size(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(store.daily()[i].day, at(expected[i].midnight, kNewYork)) << expected[i].midnight;
    EXPECT_EQ(store.daily()[i].dictations, expected[i].dictations) << expected[i].midnight;
  }
  // Midnight is 05:00 UTC in winter and 04:00 UTC in summer time.
  EXPECT_EQ(store.daily()[1].day.toUTC().time().hour(), 5);
  EXPECT_EQ(store.daily()[2].day.toUTC().time().hour(), 4);

  // The same moments in another time zone fall on other days.
  auto other = freshDefaults("usage-tokyo");
  UsageStatsStore tokyo(*other, QTimeZone("Asia/Tokyo"));
  tokyo.record(QStringLiteral("word"), at("2026-03-07T23:59:00", kNewYork), 1);
  tokyo.record(QStringLiteral("word"), at("2026-03-08T00:01:00", kNewYork), 1);
  EXPECT_EQ(tokyo.daily().size(), 1);
}

TEST(UsageStats, KeepsThreeHundredSeventyDaysAndMatchesDaysNotMoments) {
  auto defaults = freshDefaults("usage-prune");
  const QDate today(2026, 7, 15);
  QJsonArray days;
  for (int back : {371, 370, 369}) {
    days.append(QJsonObject{{"day", referenceSeconds(today.addDays(-back).startOfDay(kNewYork))},
                            {"words", 1},
                            {"dictations", 1},
                            {"recordingSeconds", 1.0}});
  }
  // An entry stamped in the middle of today is still today's.
  days.append(QJsonObject{{"day", referenceSeconds(QDateTime(today, QTime(13, 0), kNewYork))},
                          {"words", 5},
                          {"dictations", 2},
                          {"recordingSeconds", 0.5}});
  const QJsonObject snapshot{{"totalWords", 8},
                             {"totalCharacters", 40},
                             {"totalDictations", 5},
                             {"totalRecordingSeconds", 3.5},
                             {"daily", days}};
  defaults->setValue(QStringLiteral("usageStats"), QJsonDocument(snapshot).toJson());

  UsageStatsStore store(*defaults, kNewYork);
  ASSERT_EQ(store.daily().size(), 4);
  EXPECT_EQ(store.totalWords(), 8);
  store.record(QStringLiteral("two words"), QDateTime(today, QTime(20, 0), kNewYork), 1);
  ASSERT_EQ(store.daily().size(), 3);
  EXPECT_EQ(store.daily()[0].day, today.addDays(-370).startOfDay(kNewYork));
  EXPECT_EQ(store.daily()[2].words, 7);
  EXPECT_EQ(store.daily()[2].dictations, 3);
  EXPECT_EQ(store.totalWords(), 10);
  EXPECT_EQ(storedSnapshot(*defaults).value(QStringLiteral("daily")).toArray().size(), 3);
}

TEST(UsageStats, LoadsWhatCanBeRead) {
  struct Case {
    const char* name;
    QByteArray data;
    qint64 words, characters, dictations;
    double seconds;
    qsizetype days;
  };
  const QByteArray day = R"({"day":800000000,"words":3,"dictations":1,"recordingSeconds":2})";
  const Case cases[] = {
      {"complete",
       R"({"totalWords":3,"totalCharacters":9,"totalDictations":1,"totalRecordingSeconds":2,"daily":[)" + day + "]}", 3,
       9, 1, 2, 1},
      {"not JSON", "{totalWords:3", 0, 0, 0, 0, 0},
      {"not an object", "[1,2]", 0, 0, 0, 0, 0},
      // A missing figure starts from zero on its own; the others are kept.
      {"missing totalCharacters",
       R"({"totalWords":3,"totalDictations":1,"totalRecordingSeconds":2,"daily":[)" + day + "]}", 3, 0, 1, 2, 1},
      {"missing daily", R"({"totalWords":3,"totalCharacters":9,"totalDictations":1,"totalRecordingSeconds":2})", 3, 9,
       1, 2, 0},
      {"damaged day",
       R"({"totalWords":3,"totalCharacters":9,"totalDictations":1,"totalRecordingSeconds":2,"daily":[{"day":1},)" +
           day + "]}",
       3, 9, 1, 2, 1},
  };
  for (const Case& c : cases) {
    auto defaults = freshDefaults("usage-load");
    defaults->setValue(QStringLiteral("usageStats"), c.data);
    UsageStatsStore store(*defaults, kNewYork);
    EXPECT_EQ(store.totalWords(), c.words) << c.name;
    EXPECT_EQ(store.totalCharacters(), c.characters) << c.name;
    EXPECT_EQ(store.totalDictations(), c.dictations) << c.name;
    EXPECT_DOUBLE_EQ(store.totalRecordingSeconds(), c.seconds) << c.name;
    EXPECT_EQ(store.daily().size(), c.days) << c.name;
    EXPECT_EQ(*defaults->dataValue(QStringLiteral("usageStats")), c.data) << c.name;  // loading writes nothing
  }
}
