#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimeZone>

namespace murel {

class UserDefaults;

// The figures of one calendar day.
struct DailyUsage {
  QDateTime day;  // midnight that starts the day, in the store's time zone
  qint64 words = 0;
  qint64 dictations = 0;
  double recordingSeconds = 0;
};

// Running totals and per-day figures of what the user dictated, kept under
// "usageStats"; days older than 370 days are dropped. Main thread only.
class UsageStatsStore : public QObject {
  Q_OBJECT
  Q_PROPERTY(qint64 totalWords READ totalWords NOTIFY totalWordsChanged)
  Q_PROPERTY(qint64 totalCharacters READ totalCharacters NOTIFY totalCharactersChanged)
  Q_PROPERTY(qint64 totalDictations READ totalDictations NOTIFY totalDictationsChanged)
  Q_PROPERTY(double totalRecordingSeconds READ totalRecordingSeconds NOTIFY totalRecordingSecondsChanged)

 public:
  static constexpr const char* kKey = "usageStats";
  static constexpr int kRetentionDays = 370;

  // Days are calendar days in `timeZone`, taken once (the system's by default).
  explicit UsageStatsStore(UserDefaults& defaults, const QTimeZone& timeZone = QTimeZone::systemTimeZone(),
                           QObject* parent = nullptr);

  qint64 totalWords() const { return totalWords_; }
  qint64 totalCharacters() const { return totalCharacters_; }
  qint64 totalDictations() const { return totalDictations_; }
  double totalRecordingSeconds() const { return totalRecordingSeconds_; }
  const QList<DailyUsage>& daily() const { return daily_; }

  // Counts one delivered text; a text without words is not counted at all.
  void record(const QString& text, const QDateTime& date, double recordingSeconds);

  // Runs of characters without the Unicode White_Space property.
  static qint64 wordCount(const QString& text);
  // User-perceived characters (extended grapheme clusters).
  static qint64 characterCount(const QString& text);

 Q_SIGNALS:
  void totalWordsChanged();
  void totalCharactersChanged();
  void totalDictationsChanged();
  void totalRecordingSecondsChanged();
  void dailyChanged();

 private:
  void load();
  void prune(const QDate& day);
  void save();

  UserDefaults& defaults_;
  QTimeZone timeZone_;
  qint64 totalWords_ = 0;
  qint64 totalCharacters_ = 0;
  qint64 totalDictations_ = 0;
  double totalRecordingSeconds_ = 0;
  QList<DailyUsage> daily_;
};

}  // namespace murel
