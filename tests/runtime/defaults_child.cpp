// Reads or writes a user-defaults file in a process of its own, so tests see
// what really reaches the disk. Usage: defaults_child write|dump <file>
#include "runtime/UserDefaults.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTextStream>

#include <cmath>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3) return 2;
  murel::UserDefaults defaults(QString::fromLocal8Bit(argv[2]));
  const QString mode = QString::fromLocal8Bit(argv[1]);
  if (mode == QLatin1String("write")) {
    defaults.setValue(QStringLiteral("flag"), true);
    defaults.setValue(QStringLiteral("count"), qint64(9007199254740993LL));
    defaults.setValue(QStringLiteral("whole"), 2.0);
    defaults.setValue(QStringLiteral("ratio"), 0.25);
    defaults.setValue(QStringLiteral("name"), QStringLiteral("Grüße"));
    defaults.setValue(QStringLiteral("blob"), QByteArray("{\"a\":1}\x00\xff", 9));
    defaults.setValue(QStringLiteral("list"), QVariantList{1, 1.5, QStringLiteral("x"), false});
    defaults.setValue(QStringLiteral("map"), QVariantMap{{QStringLiteral("k"), QVariantList{QByteArray("d")}}});
    return defaults.lastWriteSucceeded() ? 0 : 1;
  }
  // dump: one "key type value" line per key, with the type Qt holds.
  QTextStream out(stdout);
  const QStringList keys = {QStringLiteral("flag"),  QStringLiteral("count"), QStringLiteral("whole"),
                            QStringLiteral("ratio"), QStringLiteral("name"),  QStringLiteral("blob"),
                            QStringLiteral("list"),  QStringLiteral("map")};
  for (const QString& key : keys) {
    const QVariant v = defaults.value(key);
    out << key << ' ' << v.metaType().name() << '\n';
  }
  out << "count=" << *defaults.integerValue(QStringLiteral("count")) << '\n';
  out << "blob=" << defaults.dataValue(QStringLiteral("blob"))->toHex() << '\n';
  out << "name=" << *defaults.stringValue(QStringLiteral("name")) << '\n';
  const QVariantList list = *defaults.arrayValue(QStringLiteral("list"));
  for (const QVariant& item : list) out << "item " << item.metaType().name() << '\n';
  const QVariantMap map = *defaults.dictionaryValue(QStringLiteral("map"));
  out << "nested " << map.value(QStringLiteral("k")).toList().value(0).metaType().name() << '\n';
  return 0;
}
