#pragma once

#include "runtime/UserDefaults.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>
#include <utility>

// The JSON form of the user's stored records: compact, members in the order the
// record declares them, identifiers as upper-case UUID text and points in time
// as seconds since 2001-01-01 00:00:00 UTC.
namespace murel::stored {

// "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
QString uuidText(const QUuid& id);
// Only the plain 36-character form (either case) counts as an identifier.
std::optional<QUuid> uuidFrom(const QJsonValue& value);

// Both clamp to the years 1 to 9999 (an invalid date counts as the reference
// date), so any stored number reads as a date and writes back unchanged.
double referenceSeconds(const QDateTime& date);
QDateTime dateFromReferenceSeconds(double seconds);

// Compact JSON text of one value (string, number, bool, null, array or object).
QByteArray jsonText(const QJsonValue& value);

// Builds one object's text with its members in insertion order (QJsonObject sorts them).
class ObjectWriter {
 public:
  ObjectWriter& add(const char* key, const QJsonValue& value) { return addRaw(key, jsonText(value)); }
  ObjectWriter& addRaw(const char* key, const QByteArray& valueText);
  QByteArray text() const { return body_ + '}'; }

 private:
  QByteArray body_ = "{";
};

// "[a,b,c]" from the texts of the elements.
QByteArray arrayText(const QList<QByteArray>& elements);

// Typed members; none when missing or of another JSON type.
std::optional<QString> stringMember(const QJsonObject& object, const char* key);
std::optional<bool> boolMember(const QJsonObject& object, const char* key);
// A JSON number with an exact whole value that fits 64 bits.
std::optional<qint64> integerMember(const QJsonObject& object, const char* key);
std::optional<double> numberMember(const QJsonObject& object, const char* key);

// The top-level array stored as JSON data under `key`; none when there is no
// data, the data is not JSON, or its top level is not an array.
std::optional<QJsonArray> storedArray(const UserDefaults& defaults, const QString& key);

// One element of a stored list read leniently: the element, or none when it did
// not decode (a missing member, a wrong type, a bad identifier, null, a number…).
template <class T>
struct LenientDecodable {
  std::optional<T> value;

  static LenientDecodable decode(const QJsonValue& element,
                                 const std::function<std::optional<T>(const QJsonValue&)>& decodeElement) {
    return LenientDecodable{decodeElement(element)};
  }
};

// The elements of a stored array that can still be read: all of them when it
// parses, else each complete element before the damage (a truncated or partly
// garbled array). `complete` tells whether the whole value was read.
struct SalvagedArray {
  QJsonArray elements;
  bool complete = false;
};
SalvagedArray salvageArray(const UserDefaults& defaults, const QString& key);

// Keeps the stored value of `key` aside under "<key>.unreadableBackup" (never
// over an earlier, different backup) and says so in the diagnostics log.
// Returns the key it was kept under.
QString keepUnreadableAside(UserDefaults& defaults, const QString& key, const QString& what);

// Reads a stored list leniently: an element that fails to decode is dropped and
// the others keep their stored order; a damaged list keeps every element that
// can still be read. Whenever something was dropped, the stored value is kept
// aside first, since the next save keeps only the survivors.
template <class T>
QList<T> decodeLenientList(UserDefaults& defaults, const QString& key,
                           const std::function<std::optional<T>(const QJsonValue&)>& decodeElement) {
  QList<T> out;
  if (!defaults.contains(key)) return out;
  const SalvagedArray array = salvageArray(defaults, key);
  out.reserve(array.elements.size());
  int dropped = 0;
  for (const QJsonValue element : array.elements) {
    LenientDecodable<T> item = LenientDecodable<T>::decode(element, decodeElement);
    if (item.value)
      out.append(std::move(*item.value));
    else
      ++dropped;
  }
  if (!array.complete || dropped > 0) {
    keepUnreadableAside(defaults, key,
                        QStringLiteral("%1: %2 record(s) read, %3%4")
                            .arg(key)
                            .arg(out.size())
                            .arg(dropped)
                            .arg(array.complete ? QStringLiteral(" unreadable")
                                                : QStringLiteral(" unreadable and the list is damaged")));
  }
  return out;
}

}  // namespace murel::stored
