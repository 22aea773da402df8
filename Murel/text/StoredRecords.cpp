#include "text/StoredRecords.h"

#include "runtime/DiagLog.h"
#include "runtime/SystemLog.h"

#include <algorithm>
#include <cmath>

namespace murel::stored {
namespace {

// 2001-01-01T00:00:00Z in Unix milliseconds.
constexpr qint64 kReferenceEpochMs = 978307200000LL;
// Stored points in time are kept within years 1 to 9999 (Unix milliseconds), so
// a damaged or hand-edited value neither overflows on the way in nor on the way
// back out; the record that holds it is kept with the nearest representable date.
constexpr qint64 kEarliestMs = -62135596800000LL;  // 0001-01-01T00:00:00Z
constexpr qint64 kLatestMs = 253402300799999LL;    // 9999-12-31T23:59:59.999Z

qint64 clampedMs(qint64 ms) { return std::clamp(ms, kEarliestMs, kLatestMs); }

bool isHex(QChar c) {
  return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
         (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

}  // namespace

QString uuidText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

std::optional<QUuid> uuidFrom(const QJsonValue& value) {
  if (!value.isString()) return std::nullopt;
  const QString text = value.toString();
  if (text.size() != 36) return std::nullopt;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != QLatin1Char('-') : !isHex(text[i])) return std::nullopt;
  }
  return QUuid::fromString(text);
}

double referenceSeconds(const QDateTime& date) {
  if (!date.isValid()) return 0;
  return static_cast<double>(clampedMs(date.toMSecsSinceEpoch()) - kReferenceEpochMs) / 1000.0;
}

QDateTime dateFromReferenceSeconds(double seconds) {
  if (std::isnan(seconds)) seconds = 0;
  // Clamped as a double first: beyond ±9.2e15 s the milliseconds do not fit 64 bits.
  const double ms = std::clamp(seconds * 1000.0 + double(kReferenceEpochMs), double(kEarliestMs), double(kLatestMs));
  return QDateTime::fromMSecsSinceEpoch(clampedMs(std::llround(ms)), Qt::UTC);
}

QByteArray jsonText(const QJsonValue& value) {
  if (value.isObject()) return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
  if (value.isArray()) return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
  // Scalars: serialise inside a one-element array and drop the brackets.
  const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
  return wrapped.mid(1, wrapped.size() - 2);
}

ObjectWriter& ObjectWriter::addRaw(const char* key, const QByteArray& valueText) {
  if (body_.size() > 1) body_ += ',';
  body_ += jsonText(QJsonValue(QString::fromLatin1(key)));
  body_ += ':';
  body_ += valueText;
  return *this;
}

QByteArray arrayText(const QList<QByteArray>& elements) {
  QByteArray out = "[";
  for (qsizetype i = 0; i < elements.size(); ++i) {
    if (i) out += ',';
    out += elements[i];
  }
  out += ']';
  return out;
}

std::optional<QString> stringMember(const QJsonObject& object, const char* key) {
  const QJsonValue v = object.value(QLatin1String(key));
  if (!v.isString()) return std::nullopt;
  return v.toString();
}

std::optional<bool> boolMember(const QJsonObject& object, const char* key) {
  const QJsonValue v = object.value(QLatin1String(key));
  if (!v.isBool()) return std::nullopt;
  return v.toBool();
}

std::optional<qint64> integerMember(const QJsonObject& object, const char* key) {
  const QJsonValue v = object.value(QLatin1String(key));
  if (!v.isDouble()) return std::nullopt;
  const QVariant number = v.toVariant();
  if (number.metaType().id() == QMetaType::LongLong) return number.toLongLong();
  const double d = v.toDouble();
  if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) >= 9.2e18) return std::nullopt;
  return static_cast<qint64>(d);
}

std::optional<double> numberMember(const QJsonObject& object, const char* key) {
  const QJsonValue v = object.value(QLatin1String(key));
  if (!v.isDouble()) return std::nullopt;
  return v.toDouble();
}

std::optional<QJsonArray> storedArray(const UserDefaults& defaults, const QString& key) {
  const std::optional<QByteArray> data = defaults.dataValue(key);
  if (!data) return std::nullopt;
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(*data, &error);
  if (error.error != QJsonParseError::NoError || !doc.isArray()) return std::nullopt;
  return doc.array();
}

namespace {

// The end of the JSON value starting at `from` (just past it), or -1 when the
// text ends first. Only brackets and strings matter: the value itself is
// parsed afterwards.
qsizetype valueEnd(const QByteArray& text, qsizetype from) {
  int depth = 0;
  bool inString = false;
  for (qsizetype i = from; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
      continue;
    }
    if (c == '"')
      inString = true;
    else if (c == '[' || c == '{')
      ++depth;
    else if (c == ']' || c == '}') {
      if (--depth < 0) return i;  // the enclosing array's end
      if (depth == 0) return i + 1;
    } else if (depth == 0 && c == ',')
      return i;
  }
  return -1;
}

}  // namespace

SalvagedArray salvageArray(const UserDefaults& defaults, const QString& key) {
  SalvagedArray out;
  const std::optional<QByteArray> data = defaults.dataValue(key);
  if (!data) return out;
  if (const std::optional<QJsonArray> whole = storedArray(defaults, key)) {
    out.elements = *whole;
    out.complete = true;
    return out;
  }
  const QByteArray& text = *data;
  qsizetype i = text.indexOf('[');
  if (i < 0 || !text.left(i).trimmed().isEmpty()) return out;
  ++i;
  for (;;) {
    while (i < text.size() && QChar::isSpace(uchar(text[i]))) ++i;
    if (i >= text.size() || text[i] == ']') break;
    const qsizetype end = valueEnd(text, i);
    if (end < 0) break;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson('[' + text.mid(i, end - i) + ']', &error);
    if (error.error == QJsonParseError::NoError && doc.isArray() && doc.array().size() == 1) {
      out.elements.append(doc.array().at(0));
    }
    i = end;
    while (i < text.size() && QChar::isSpace(uchar(text[i]))) ++i;
    if (i < text.size() && text[i] == ',')
      ++i;
    else
      break;
  }
  return out;
}

QString keepUnreadableAside(UserDefaults& defaults, const QString& key, const QString& what) {
  const QVariant value = defaults.value(key);
  QString backupKey = key + QStringLiteral(".unreadableBackup");
  for (int n = 2; defaults.contains(backupKey) && defaults.value(backupKey) != value; ++n) {
    backupKey = key + QStringLiteral(".unreadableBackup") + QString::number(n);
  }
  defaults.setValue(backupKey, value);
  const QString message = what + QStringLiteral("; the stored value is kept under ") + backupKey;
  Logger("stores").error(message);
  DiagLog::shared().log(QStringLiteral("stores"), QStringLiteral("unreadable records"), message);
  return backupKey;
}

}  // namespace murel::stored
