#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

namespace murel {

class UserDefaults;

// A spoken shortcut: the trigger phrase, said alone, delivers the expansion.
struct SnippetEntry {
  QUuid id;
  QString trigger;
  QString expansion;
};

// The user's snippets, kept under "snippetEntries" as JSON data. Main thread only.
class SnippetStore : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kKey = "snippetEntries";

  explicit SnippetStore(UserDefaults& defaults, QObject* parent = nullptr);

  const QList<SnippetEntry>& entries() const { return entries_; }
  // Replaces the list, notifies (even when unchanged) and saves.
  void setEntries(QList<SnippetEntry> entries);

 Q_SIGNALS:
  void entriesChanged();

 private:
  void save();

  UserDefaults& defaults_;
  QList<SnippetEntry> entries_;
};

}  // namespace murel
