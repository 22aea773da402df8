#include "runtime/UserDefaults.h"
#include "runtime/DiagLog.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <sys/stat.h>

using murel::UserDefaults;

namespace {

QString runChild(const QStringList& args) {
  QProcess p;
  p.start(murel::test::buildDir() + QStringLiteral("/bin/defaults_child"), args);
  EXPECT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace

TEST(UserDefaults, EveryTypeSurvivesANewProcessWithItsType) {
  const QString file = murel::test::freshDir(QStringLiteral("defaults")) + QStringLiteral("/Murel/defaults.json");
  runChild({QStringLiteral("write"), file});
  const QString dump = runChild({QStringLiteral("dump"), file});
  EXPECT_TRUE(dump.startsWith(
      QStringLiteral("flag bool\ncount qlonglong\nwhole double\nratio double\nname QString\nblob QByteArray\n"
                     "list QVariantList\nmap QVariantMap\ncount=9007199254740993\n")))
      << dump.toStdString();
  EXPECT_TRUE(dump.contains(QStringLiteral("blob=7b2261223a317d00ff\n"))) << dump.toStdString();
  EXPECT_TRUE(dump.contains(QStringLiteral("name=Grüße\n")));
  EXPECT_TRUE(dump.contains(QStringLiteral("item qlonglong\nitem double\nitem QString\nitem bool\n")));
  EXPECT_TRUE(dump.contains(QStringLiteral("nested QByteArray\n")));
}

TEST(UserDefaults, NotifiesOnlyRealChanges) {
  const QString file = murel::test::freshDir(QStringLiteral("signals")) + QStringLiteral("/d.json");
  UserDefaults defaults(file);
  QSignalSpy spy(&defaults, &UserDefaults::valueChanged);
  defaults.setValue(QStringLiteral("showHud"), true);
  defaults.setValue(QStringLiteral("showHud"), true);
  EXPECT_EQ(spy.count(), 1);
  defaults.setValue(QStringLiteral("delay"), 30);
  defaults.setValue(QStringLiteral("delay"), qint64(30));
  EXPECT_EQ(spy.count(), 2);
  // Same number, other type: readers tell them apart, so it is a change.
  defaults.setValue(QStringLiteral("delay"), 30.0);
  EXPECT_EQ(spy.count(), 3);
  EXPECT_EQ(defaults.value(QStringLiteral("delay")).metaType().id(), QMetaType::Double);
  defaults.remove(QStringLiteral("missing"));
  EXPECT_EQ(spy.count(), 3);
  defaults.remove(QStringLiteral("delay"));
  EXPECT_EQ(spy.count(), 4);
  EXPECT_EQ(spy.at(3).at(0).toString(), QStringLiteral("delay"));
}

TEST(UserDefaults, TypedReadersRefuseOtherTypes) {
  UserDefaults defaults(murel::test::freshDir(QStringLiteral("typed")) + QStringLiteral("/d.json"));
  defaults.setValue(QStringLiteral("s"), QStringLiteral("true"));
  defaults.setValue(QStringLiteral("d"), 15.0);
  EXPECT_FALSE(defaults.boolValue(QStringLiteral("s")).has_value());
  EXPECT_FALSE(defaults.dataValue(QStringLiteral("s")).has_value());
  EXPECT_EQ(defaults.integerValue(QStringLiteral("d")), 15);
  defaults.setValue(QStringLiteral("d"), 15.5);
  EXPECT_FALSE(defaults.integerValue(QStringLiteral("d")).has_value());
  EXPECT_FALSE(defaults.stringValue(QStringLiteral("absent")).has_value());
}

TEST(UserDefaults, DamagedFileIsKeptAsideNotOverwritten) {
  const QString dir = murel::test::freshDir(QStringLiteral("damaged"));
  const QString file = dir + QStringLiteral("/d.json");
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("{\"values\": {\"modes\": ");
  }
  UserDefaults defaults(file);
  EXPECT_FALSE(defaults.contains(QStringLiteral("modes")));
  defaults.setValue(QStringLiteral("x"), 1);
  const QStringList backups = QDir(dir).entryList({QStringLiteral("d.json.damaged-*")});
  ASSERT_EQ(backups.size(), 1);
  QFile kept(dir + QLatin1Char('/') + backups.first());
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), QByteArray("{\"values\": {\"modes\": "));
}

// One damaged write must not reset every setting: the last good copy beside the
// file comes back, the settings file is sound again, and damaged files met one
// after the other each keep a backup of their own.
TEST(UserDefaults, DamagedFileFallsBackToItsLastGoodCopy) {
  const QString dir = murel::test::freshDir(QStringLiteral("last-good"));
  const QString file = dir + QStringLiteral("/d.json");
  {
    UserDefaults defaults(file);
    defaults.setValue(QStringLiteral("launchAtLoginDefaultApplied"), true);
    defaults.setValue(QStringLiteral("hotKeyCombo"), qint64(97));
  }
  const auto damage = [&](const QByteArray& bytes) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  };
  for (const QByteArray& bytes :
       {QByteArray("{\"format\":1,\"values\":{\"launchAtLo"), QByteArray("[]"), QByteArray("\0\0\0\0", 4)}) {
    SCOPED_TRACE(bytes.toStdString());
    damage(bytes);
    UserDefaults defaults(file);
    EXPECT_EQ(defaults.boolValue(QStringLiteral("launchAtLoginDefaultApplied")), true);
    EXPECT_EQ(defaults.integerValue(QStringLiteral("hotKeyCombo")), 97);
    // Sound again on disk, without waiting for a change.
    EXPECT_EQ(UserDefaults(file).integerValue(QStringLiteral("hotKeyCombo")), 97);
  }
  EXPECT_EQ(QDir(dir).entryList({QStringLiteral("d.json.damaged-*")}).size(), 3);

  // The last good copy follows every write.
  {
    UserDefaults defaults(file);
    defaults.setValue(QStringLiteral("hotKeyCombo"), qint64(98));
  }
  damage("{");
  EXPECT_EQ(UserDefaults(file).integerValue(QStringLiteral("hotKeyCombo")), 98);

  // Both damaged: the defaults start empty, and both files stay for the user.
  damage("{");
  {
    QFile good(file + QStringLiteral(".last-good"));
    ASSERT_TRUE(good.open(QIODevice::WriteOnly | QIODevice::Truncate));
    good.write("{\"val");
  }
  EXPECT_FALSE(UserDefaults(file).contains(QStringLiteral("hotKeyCombo")));
  EXPECT_EQ(QDir(dir).entryList({QStringLiteral("d.json.damaged-*")}).size(), 5);
}

// What Murel keeps is the user's alone whatever the umask: every folder it
// makes 0700, its settings (and their last good copy) and its log 0600; a
// settings file left readable by an older version is tightened at its next save.
TEST(PrivateFiles, SettingsAndLogAreTheUsersAloneWhateverTheUmask) {
  const mode_t file = 0600;
  const mode_t folder = 0700;
  const auto mode = [](const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : mode_t(0);
  };
  const mode_t saved = ::umask(022);
  const QString root = murel::test::freshDir(QStringLiteral("private"));

  const QString settings = root + QStringLiteral("/config/Murel/defaults.json");
  {
    UserDefaults defaults(settings);
    defaults.setValue(QStringLiteral("k"), 1);
  }
  murel::DiagLog log(root + QStringLiteral("/data/Murel"));
  log.log(QStringLiteral("test"), QStringLiteral("line"));
  log.readAll();

  const QString older = root + QStringLiteral("/older.json");
  {
    UserDefaults defaults(older);
    defaults.setValue(QStringLiteral("k"), 1);
    ASSERT_EQ(::chmod(QFile::encodeName(older).constData(), 0644), 0);
    defaults.setValue(QStringLiteral("k"), 2);
  }
  ::umask(saved);

  for (const QString& path : {settings, settings + QStringLiteral(".last-good"), *log.filePath(), older}) {
    SCOPED_TRACE(path.toStdString());
    EXPECT_EQ(mode(path), file);
  }
  for (const QString& path : {root + QStringLiteral("/config"), root + QStringLiteral("/config/Murel"),
                              root + QStringLiteral("/data/Murel/Logs")}) {
    SCOPED_TRACE(path.toStdString());
    EXPECT_EQ(mode(path), folder);
  }
}
