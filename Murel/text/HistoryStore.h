#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>

namespace murel {

class UserDefaults;

// One delivered text.
struct HistoryEntry {
  QUuid id;
  QString text;
  QDateTime timestamp;
};

// The delivered texts, newest first, at most 100 after every add; kept under
// "historyEntries", the on/off switch under "historyEnabled". Main thread only.
class HistoryStore : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled NOTIFY isEnabledChanged)

 public:
  static constexpr const char* kEntriesKey = "historyEntries";
  static constexpr const char* kEnabledKey = "historyEnabled";
  static constexpr qsizetype kLimit = 100;

  // `now` gives the time stamped on new entries (the system clock unless a test says otherwise).
  explicit HistoryStore(UserDefaults& defaults, std::function<QDateTime()> now = {}, QObject* parent = nullptr);

  const QList<HistoryEntry>& entries() const { return entries_; }
  // Replaces the list and notifies; does not save.
  void setEntries(QList<HistoryEntry> entries);

  bool isEnabled() const { return enabled_; }
  // Always stored; notifies only on a change. Turning it off keeps the entries.
  void setEnabled(bool enabled);

  // Records a delivered text at the front, unless recording is off or the text is empty.
  void add(const QString& text);
  void remove(const QUuid& id);
  void clear();

 Q_SIGNALS:
  void entriesChanged();
  void isEnabledChanged();

 private:
  void save();

  UserDefaults& defaults_;
  std::function<QDateTime()> now_;
  QList<HistoryEntry> entries_;
  bool enabled_ = true;
};

}  // namespace murel
