#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

namespace murel {

class UserDefaults;

// One replacement rule of the user's dictionary.
struct DictionaryEntry {
  QUuid id;
  QString original;
  QString replacement;
};

// The user's dictionary, kept under "dictionaryEntries" as JSON data. Main thread only.
class DictionaryStore : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kKey = "dictionaryEntries";

  explicit DictionaryStore(UserDefaults& defaults, QObject* parent = nullptr);

  const QList<DictionaryEntry>& entries() const { return entries_; }
  // Replaces the list, notifies (even when unchanged) and saves.
  void setEntries(QList<DictionaryEntry> entries);

 Q_SIGNALS:
  void entriesChanged();

 private:
  void save();

  UserDefaults& defaults_;
  QList<DictionaryEntry> entries_;
};

}  // namespace murel
