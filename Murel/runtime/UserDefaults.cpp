#include "runtime/UserDefaults.h"

#include "runtime/DiagLog.h"

#include "runtime/AppPaths.h"
#include "runtime/PrivateFiles.h"
#include "runtime/SettingsWrites.h"
#include "runtime/SystemLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace murel {
namespace {

const Logger kLog("userDefaults");
UserDefaults* gOverride = nullptr;

// Normalises Qt's many numeric and container types to the seven stored kinds.
// Returns an invalid QVariant for values that cannot be stored.
QVariant normalise(const QVariant& v) {
  switch (v.metaType().id()) {
    case QMetaType::Bool: return v;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar: return QVariant::fromValue<qlonglong>(v.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float: return QVariant::fromValue<double>(v.toDouble());
    case QMetaType::QString:
    case QMetaType::QByteArray: return v;
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
      QVariantList out;
      for (const QVariant& item : v.toList()) {
        QVariant n = normalise(item);
        if (!n.isValid()) return {};
        out.append(n);
      }
      return out;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
      QVariantMap out;
      const QVariantMap in = v.toMap();
      for (auto it = in.begin(); it != in.end(); ++it) {
        QVariant n = normalise(it.value());
        if (!n.isValid()) return {};
        out.insert(it.key(), n);
      }
      return out;
    }
    default: return {};
  }
}

// Each value is written as a one-member object naming its kind, so reading it
// back restores the exact type (JSON alone cannot tell 1 from 1.0 or data from text).
QJsonValue encode(const QVariant& v) {
  switch (v.metaType().id()) {
    case QMetaType::Bool: return QJsonObject{{QStringLiteral("bool"), v.toBool()}};
    case QMetaType::LongLong: return QJsonObject{{QStringLiteral("int"), QString::number(v.toLongLong())}};
    case QMetaType::Double: {
      const double d = v.toDouble();
      if (std::isfinite(d)) return QJsonObject{{QStringLiteral("double"), d}};
      return QJsonObject{{QStringLiteral("double"), std::isnan(d)
                                                        ? QStringLiteral("nan")
                                                        : (d > 0 ? QStringLiteral("inf") : QStringLiteral("-inf"))}};
    }
    case QMetaType::QString: return QJsonObject{{QStringLiteral("string"), v.toString()}};
    case QMetaType::QByteArray:
      return QJsonObject{{QStringLiteral("data"), QString::fromLatin1(v.toByteArray().toBase64())}};
    case QMetaType::QVariantList: {
      QJsonArray arr;
      for (const QVariant& item : v.toList()) arr.append(encode(item));
      return QJsonObject{{QStringLiteral("array"), arr}};
    }
    case QMetaType::QVariantMap: {
      QJsonObject obj;
      const QVariantMap map = v.toMap();
      for (auto it = map.begin(); it != map.end(); ++it) obj.insert(it.key(), encode(it.value()));
      return QJsonObject{{QStringLiteral("dict"), obj}};
    }
    default: return QJsonValue();
  }
}

QVariant decode(const QJsonValue& j) {
  const QJsonObject o = j.toObject();
  if (o.size() != 1) return {};
  const QString kind = o.begin().key();
  const QJsonValue x = o.begin().value();
  if (kind == QLatin1String("bool") && x.isBool()) return x.toBool();
  if (kind == QLatin1String("int") && x.isString()) {
    bool ok = false;
    const qlonglong n = x.toString().toLongLong(&ok);
    return ok ? QVariant::fromValue<qlonglong>(n) : QVariant();
  }
  if (kind == QLatin1String("double")) {
    if (x.isDouble()) return QVariant::fromValue<double>(x.toDouble());
    const QString s = x.toString();
    if (s == QLatin1String("nan")) return QVariant::fromValue<double>(std::nan(""));
    if (s == QLatin1String("inf")) return QVariant::fromValue<double>(INFINITY);
    if (s == QLatin1String("-inf")) return QVariant::fromValue<double>(-INFINITY);
    return {};
  }
  if (kind == QLatin1String("string") && x.isString()) return x.toString();
  if (kind == QLatin1String("data") && x.isString()) return QByteArray::fromBase64(x.toString().toLatin1());
  if (kind == QLatin1String("array") && x.isArray()) {
    QVariantList out;
    for (const auto& item : x.toArray()) {
      QVariant d = decode(item);
      if (!d.isValid()) return {};
      out.append(d);
    }
    return out;
  }
  if (kind == QLatin1String("dict") && x.isObject()) {
    QVariantMap out;
    const QJsonObject obj = x.toObject();
    for (auto it = obj.begin(); it != obj.end(); ++it) {
      QVariant d = decode(it.value());
      if (!d.isValid()) return {};
      out.insert(it.key(), d);
    }
    return out;
  }
  return {};
}

bool sameTypedValue(const QVariant& a, const QVariant& b) {
  if (a.isValid() != b.isValid()) return false;
  if (!a.isValid()) return true;
  return encode(a) == encode(b);
}

}  // namespace

UserDefaults& UserDefaults::shared() {
  if (gOverride) return *gOverride;
  static UserDefaults* instance = new UserDefaults(AppPaths::config() + QStringLiteral("/defaults.json"));
  return *instance;
}

void UserDefaults::setSharedForTesting(UserDefaults* instance) { gOverride = instance; }

UserDefaults::UserDefaults(const QString& filePath, QObject* parent) : QObject(parent), filePath_(filePath) { load(); }

namespace {

// The values of a defaults file, or none when the file is not one.
std::optional<QJsonObject> parseDefaults(const QByteArray& bytes, QString* why = nullptr) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) {
    if (why) *why = error.error != QJsonParseError::NoError ? error.errorString() : QStringLiteral("not an object");
    return std::nullopt;
  }
  return doc.object().value(QStringLiteral("values")).toObject();
}

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A name no earlier backup has, even for two damaged loads in one second.
QString freshBackupName(const QString& filePath) {
  const QString stem = filePath + QStringLiteral(".damaged-") +
                       QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
  QString name = stem;
  for (int n = 2; QFile::exists(name); ++n) name = stem + QLatin1Char('-') + QString::number(n);
  return name;
}

}  // namespace

QString UserDefaults::lastGoodPath() const { return filePath_ + QStringLiteral(".last-good"); }

void UserDefaults::load() {
  QFile file(filePath_);
  if (!file.exists()) return;
  if (!file.open(QIODevice::ReadOnly)) {
    kLog.error(QStringLiteral("cannot read %1: %2").arg(filePath_, file.errorString()));
    return;
  }
  const QByteArray bytes = file.readAll();
  file.close();
  QString why;
  std::optional<QJsonObject> values = parseDefaults(bytes, &why);
  const bool damaged = !values;
  if (values) {
    // The file just read is sound: it is the copy to fall back to.
    if (readAll(lastGoodPath()) != bytes) PrivateFiles::writeAtomically(lastGoodPath(), bytes);
  } else {
    // Keep the damaged file for the user instead of overwriting it on the next
    // write, and carry on with the last good copy rather than with nothing.
    const QString backup = freshBackupName(filePath_);
    QFile::copy(filePath_, backup);
    values = parseDefaults(readAll(lastGoodPath()));
    const QString what = QStringLiteral("settings file is damaged (%1); kept as %2; %3")
                             .arg(why, QFileInfo(backup).fileName(),
                                  values ? QStringLiteral("using its last good copy")
                                         : QStringLiteral("no good copy, starting from defaults"));
    kLog.error(what);
    DiagLog::shared().log(QStringLiteral("defaults"), QStringLiteral("damaged"), what);
    if (!values) return;
  }
  for (auto it = values->begin(); it != values->end(); ++it) {
    QVariant v = decode(it.value());
    if (v.isValid()) {
      values_.insert(it.key(), v);
    } else {
      kLog.error(QStringLiteral("dropping unreadable stored value for key %1").arg(it.key()));
    }
  }
  // The damaged file is kept aside; the settings file itself becomes sound again.
  if (damaged) save();
}

void UserDefaults::save() {
  QJsonObject values;
  for (auto it = values_.begin(); it != values_.end(); ++it) values.insert(it.key(), encode(it.value()));
  QJsonObject root{{QStringLiteral("format"), 1}, {QStringLiteral("values"), values}};
  PrivateFiles::makeFolder(QFileInfo(filePath_).absolutePath());
  const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Compact);
  const std::optional<QString> failure = PrivateFiles::writeAtomically(filePath_, bytes);
  lastWriteOk_ = !failure;
  if (failure) {
    kLog.error(QStringLiteral("cannot write %1: %2").arg(filePath_, *failure));
    DiagLog::shared().log(QStringLiteral("defaults"), QStringLiteral("save failed"), *failure);
    SettingsWrites::of(*this).noteFailed(*failure);
    return;
  }
  // Only a file that was written whole becomes the copy to fall back to.
  if (const std::optional<QString> copyFailure = PrivateFiles::writeAtomically(lastGoodPath(), bytes)) {
    DiagLog::shared().log(QStringLiteral("defaults"), QStringLiteral("last good copy not saved"), *copyFailure);
  }
  SettingsWrites& writes = SettingsWrites::of(*this);
  if (writes.failure()) DiagLog::shared().log(QStringLiteral("defaults"), QStringLiteral("saved again"));
  writes.noteSaved();
}

void UserDefaults::setValue(const QString& key, const QVariant& value) {
  if (!value.isValid()) {
    remove(key);
    return;
  }
  const QVariant normalised = normalise(value);
  if (!normalised.isValid()) {
    kLog.fault(QStringLiteral("refusing to store a value of type %1 for key %2")
                   .arg(QString::fromLatin1(value.metaType().name()), key));
    return;
  }
  if (sameTypedValue(values_.value(key), normalised)) return;
  values_.insert(key, normalised);
  save();
  Q_EMIT valueChanged(key);
}

void UserDefaults::remove(const QString& key) {
  if (!values_.contains(key)) return;
  values_.remove(key);
  save();
  Q_EMIT valueChanged(key);
}

std::optional<bool> UserDefaults::boolValue(const QString& key) const {
  const QVariant v = values_.value(key);
  if (v.metaType().id() == QMetaType::Bool) return v.toBool();
  return std::nullopt;
}

std::optional<qint64> UserDefaults::integerValue(const QString& key) const {
  const QVariant v = values_.value(key);
  if (v.metaType().id() == QMetaType::LongLong) return v.toLongLong();
  if (v.metaType().id() == QMetaType::Double) {
    const double d = v.toDouble();
    if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.0e18) return static_cast<qint64>(d);
  }
  return std::nullopt;
}

std::optional<double> UserDefaults::doubleValue(const QString& key) const {
  const QVariant v = values_.value(key);
  if (v.metaType().id() == QMetaType::Double || v.metaType().id() == QMetaType::LongLong) return v.toDouble();
  return std::nullopt;
}

std::optional<QString> UserDefaults::stringValue(const QString& key) const {
  const QVariant v = values_.value(key);
  if (v.metaType().id() == QMetaType::QString) return v.toString();
  return std::nullopt;
}

std::optional<QByteArray> UserDefaults::dataValue(const QString& key) const {
  const QVariant v = values_.value(key);
  if (v.metaType().id() == QMetaType::QByteArray) return v.toByteArray();
  return std::nullopt;
}

std::optional<QVariantList> UserDefaults::arrayValue(const QString& key) const {
  const QVariant v = values_.value(key);
  if (v.metaType().id() == QMetaType::QVariantList) return v.toList();
  return std::nullopt;
}

std::optional<QVariantMap> UserDefaults::dictionaryValue(const QString& key) const {
  const QVariant v = values_.value(key);
  if (v.metaType().id() == QMetaType::QVariantMap) return v.toMap();
  return std::nullopt;
}

}  // namespace murel
