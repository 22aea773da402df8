#pragma once

#include "keys/KeyCombo.h"
#include "text/Transformation.h"

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace murel {

class UserDefaults;

// A named way of dictating: its transformation and, optionally, its own hotkey.
struct Mode {
  QUuid id;
  QString name;
  Transformation transformation;
  std::optional<KeyCombo> hotkey;
  bool isDefault = false;

  // A new default mode: "Default", raw, no hotkey, flagged default.
  static Mode makeDefault();

  // {"id":…,"name":…,"transformation":{…},"hotkey":{"keyCode":…,"modifiers":…},"isDefault":…};
  // "hotkey" left out when there is none.
  QByteArray toJsonText() const;
  static std::optional<Mode> fromJson(const QJsonValue& value);

  // Hotkeys compare by their stored text, names under canonical equivalence.
  friend bool operator==(const Mode& a, const Mode& b);
};

// The user's modes under "modes". Never empty after creation through its own
// operations; exactly one mode is flagged default unless a caller says otherwise.
// Main thread only.
class ModeStore : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kKey = "modes";
  // Where stored modes that could not be read at all are kept before the seeded
  // default replaces them, so the user's data can still be recovered.
  static constexpr const char* kBackupKey = "modes.unreadableBackup";

  explicit ModeStore(UserDefaults& defaults, QObject* parent = nullptr);

  const QList<Mode>& modes() const { return modes_; }
  // Notifies only when the list differs; does not save.
  void setModes(QList<Mode> modes);

  // The first flagged mode, else the first mode, else a fresh unsaved default.
  Mode defaultMode() const;

  void add(const Mode& mode);
  // Replaces the mode with the same id; nothing when there is none.
  void update(const Mode& mode);
  // Removes the mode unless it is the last one; a removed default passes its flag on.
  void remove(const QUuid& id);
  void setDefault(const QUuid& id);

 Q_SIGNALS:
  void modesChanged();

 private:
  void markDefault(const QUuid& id);
  void save();

  UserDefaults& defaults_;
  QList<Mode> modes_;
};

}  // namespace murel
