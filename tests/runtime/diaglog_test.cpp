#include "runtime/DiagLog.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using murel::DiagLog;

namespace {

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

}  // namespace

TEST(DiagLog, LineFormatWithAndWithoutMessage) {
  const QString dir = murel::test::freshDir(QStringLiteral("diag"));
  DiagLog log(dir);
  log.log(QStringLiteral("session"), QStringLiteral("bootstrap"));
  log.log(QStringLiteral("engine"), QStringLiteral("loaded"), QStringLiteral("model=small ms=12"));
  const QString text = log.readAll();
  const QStringList lines = text.split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 3) << text.toStdString();
  EXPECT_TRUE(lines[2].isEmpty());  // every line ends with a line feed
  static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  "));
  EXPECT_TRUE(stamp.match(lines[0]).hasMatch()) << lines[0].toStdString();
  EXPECT_EQ(lines[0].mid(12), QStringLiteral("  session  bootstrap"));  // no trailing spaces
  EXPECT_EQ(lines[1].mid(12), QStringLiteral("  engine  loaded  model=small ms=12"));
  EXPECT_EQ(*log.filePath(), dir + QStringLiteral("/Logs/murel.log"));
}

TEST(DiagLog, KeepsCallOrderFromOneThread) {
  DiagLog log(murel::test::freshDir(QStringLiteral("order")));
  for (int i = 0; i < 200; ++i) log.log(QStringLiteral("c"), QStringLiteral("e"), QString::number(i));
  const QStringList lines = log.readAll().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 200);
  for (int i = 0; i < 200; ++i) EXPECT_TRUE(lines[i].endsWith(QStringLiteral("  ") + QString::number(i)));
}

TEST(DiagLog, RotatesAtTheLimitAndNotBelowIt) {
  struct Case {
    qint64 existingSize;
    bool rotates;
  };
  for (const Case c : {Case{DiagLog::kMaxBytes, true}, Case{DiagLog::kMaxBytes - 1, false}}) {
    const QString dir = murel::test::freshDir(QStringLiteral("rotate"));
    QDir().mkpath(dir + QStringLiteral("/Logs"));
    const QByteArray old(c.existingSize, 'x');
    writeFile(dir + QStringLiteral("/Logs/murel.log"), old);
    writeFile(dir + QStringLiteral("/Logs/murel.1.log"), "stale generation\n");
    DiagLog log(dir);
    log.log(QStringLiteral("audio"), QStringLiteral("start"));
    const QString text = log.readAll();
    const QByteArray current = readFile(dir + QStringLiteral("/Logs/murel.log"));
    const QByteArray previous = readFile(dir + QStringLiteral("/Logs/murel.1.log"));
    if (c.rotates) {
      EXPECT_EQ(previous, old);  // replaced, never appended to
      EXPECT_TRUE(current.endsWith("  audio  start\n"));
      EXPECT_LT(current.size(), 64);
      EXPECT_TRUE(text.startsWith(QString::fromLatin1(old)));
    } else {
      EXPECT_EQ(previous, QByteArray("stale generation\n"));
      EXPECT_GT(current.size(), DiagLog::kMaxBytes);
      EXPECT_TRUE(text.startsWith(QStringLiteral("stale generation\nxxx")));
    }
  }
}

TEST(DiagLog, ReadsWhatIsThere) {
  const QString dir = murel::test::freshDir(QStringLiteral("read"));
  DiagLog log(dir);
  EXPECT_EQ(log.readAll(), QString());
  writeFile(dir + QStringLiteral("/Logs/murel.log"), "new\n");
  EXPECT_EQ(log.readAll(), QStringLiteral("new\n"));
  writeFile(dir + QStringLiteral("/Logs/murel.1.log"), "old\n");
  EXPECT_EQ(log.readAll(), QStringLiteral("old\nnew\n"));
}

TEST(DiagLog, DamagedBytesDoNotHideTheRestOfTheFile) {
  const QString dir = murel::test::freshDir(QStringLiteral("utf8"));
  DiagLog log(dir);
  writeFile(dir + QStringLiteral("/Logs/murel.log"), QByteArray("before \xff\xfe after\n"));
  const QString text = log.readAll();
  EXPECT_TRUE(text.startsWith(QStringLiteral("before "))) << text.toStdString();
  EXPECT_TRUE(text.endsWith(QStringLiteral(" after\n")));
  EXPECT_TRUE(text.contains(QChar(0xFFFD)));
}

TEST(DiagLog, LogsFolderThatIsAFileMakesTheLogSilentlyInert) {
  const QString dir = murel::test::freshDir(QStringLiteral("blocked"));
  writeFile(dir + QStringLiteral("/Logs"), "not a folder");
  DiagLog log(dir);
  log.log(QStringLiteral("session"), QStringLiteral("start"));
  EXPECT_EQ(log.readAll(), QString());
  EXPECT_EQ(readFile(dir + QStringLiteral("/Logs")), QByteArray("not a folder"));
}

TEST(DiagLog, WithoutAFolderEverythingIsDropped) {
  DiagLog log(std::nullopt);
  log.log(QStringLiteral("a"), QStringLiteral("b"));
  EXPECT_EQ(log.readAll(), QString());
  EXPECT_FALSE(log.filePath().has_value());
}
