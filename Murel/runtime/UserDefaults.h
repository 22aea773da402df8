#pragma once

#include <QObject>
#include <QVariant>

#include <optional>

namespace murel {

// The application's typed key–value store ("user defaults"). It keeps the type
// of every value apart — bool, integer, double, string, data, array and
// dictionary — because stored records are data holding JSON and readers tell
// types apart. Every change is written at once, atomically, under
// $XDG_CONFIG_HOME/Murel/. Main thread only.
class UserDefaults : public QObject {
  Q_OBJECT

 public:
  // The process-wide instance, created on first use.
  static UserDefaults& shared();
  // Tests swap in an instance on a temporary file; nullptr restores the default.
  static void setSharedForTesting(UserDefaults* instance);

  explicit UserDefaults(const QString& filePath, QObject* parent = nullptr);

  const QString& filePath() const { return filePath_; }

  bool contains(const QString& key) const { return values_.contains(key); }
  // The stored value with its type: bool, qlonglong, double, QString,
  // QByteArray, QVariantList or QVariantMap; invalid when absent.
  QVariant value(const QString& key) const { return values_.value(key); }

  std::optional<bool> boolValue(const QString& key) const;
  // Integers, and doubles that hold a whole number.
  std::optional<qint64> integerValue(const QString& key) const;
  // Doubles and integers.
  std::optional<double> doubleValue(const QString& key) const;
  std::optional<QString> stringValue(const QString& key) const;
  std::optional<QByteArray> dataValue(const QString& key) const;
  std::optional<QVariantList> arrayValue(const QString& key) const;
  std::optional<QVariantMap> dictionaryValue(const QString& key) const;

  bool boolOr(const QString& key, bool fallback) const { return boolValue(key).value_or(fallback); }

  // Stores `value` (an invalid QVariant removes the key). Integer types are kept
  // as integers, floating types as doubles. Storing an equal value of the same
  // type changes nothing and notifies nobody.
  void setValue(const QString& key, const QVariant& value);
  void remove(const QString& key);

  // True when the last write reached the disk.
  bool lastWriteSucceeded() const { return lastWriteOk_; }

 Q_SIGNALS:
  void valueChanged(const QString& key);

 private:
  void load();
  void save();
  // The last file that was read or written whole, beside the file itself: a
  // damaged file falls back to it instead of to nothing.
  QString lastGoodPath() const;

  QString filePath_;
  QVariantMap values_;
  bool lastWriteOk_ = true;
};

}  // namespace murel
