// The defaults file: every value read from any file is written back and read
// again with the same type and value.
#include "runtime/UserDefaults.h"

#include "FuzzSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

using namespace murel;

namespace {

bool sameValue(const QVariant& a, const QVariant& b) {
  if (a.metaType() != b.metaType()) return false;
  switch (a.metaType().id()) {
    case QMetaType::Double: {
      const double x = a.toDouble(), y = b.toDouble();
      return (std::isnan(x) && std::isnan(y)) || (x == y && std::signbit(x) == std::signbit(y));
    }
    case QMetaType::QVariantList: {
      const QVariantList x = a.toList(), y = b.toList();
      if (x.size() != y.size()) return false;
      for (qsizetype i = 0; i < x.size(); ++i) {
        if (!sameValue(x[i], y[i])) return false;
      }
      return true;
    }
    case QMetaType::QVariantMap: {
      const QVariantMap x = a.toMap(), y = b.toMap();
      if (x.keys() != y.keys()) return false;
      for (auto it = x.begin(); it != x.end(); ++it) {
        if (!sameValue(it.value(), y.value(it.key()))) return false;
      }
      return true;
    }
    default: return a == b;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString path = fuzz::workDir() + QStringLiteral("/defaults.json");
  QFile::remove(path);
  const QByteArray input = fuzz::bytes(data, size);
  {
    QFile file(path);
    fuzz::check(file.open(QIODevice::WriteOnly) && file.write(input) == input.size(), "cannot write the input file");
  }
  const QStringList keys = QJsonDocument::fromJson(input).object().value(QStringLiteral("values")).toObject().keys();

  UserDefaults first(path);
  // A new key makes the store write every value it read.
  first.setValue(QStringLiteral("fuzz.written"), true);
  if (!first.lastWriteSucceeded()) return 0;
  UserDefaults second(path);
  for (const QString& key : keys) {
    fuzz::check(first.contains(key) == second.contains(key), "a key survives writing", key);
    fuzz::check(sameValue(first.value(key), second.value(key)), "a value survives writing", key);
  }
  fuzz::check(second.boolValue(QStringLiteral("fuzz.written")) == true, "the new key was written");
  return 0;
}
