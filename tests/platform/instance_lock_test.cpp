// The single-instance lock file, on real files and the kernel's locks.
#include "platform/xdg/InstanceLock.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

using murel::platform::InstanceLock;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

}  // namespace

// Held while its holder lives (its file names the holder); free again the
// moment the holder lets go, as when it dies.
TEST(InstanceLock, HeldForTheHoldersLifeOnly) {
  const QString path = murel::test::freshDir(QStringLiteral("lock")) + QStringLiteral("/run/murel.lock");
  auto first = std::make_unique<InstanceLock>(path);
  ASSERT_EQ(first->take(), InstanceLock::Claim::taken);
  InstanceLock second(path);
  EXPECT_EQ(second.take(), InstanceLock::Claim::heldElsewhere);
  EXPECT_EQ(second.holder(), QCoreApplication::applicationPid());
  first.reset();
  EXPECT_EQ(second.take(), InstanceLock::Claim::taken);
}

// A lock file that no live process holds is stale, whatever it says: a crash
// leaves its file behind, and the next launch takes it over.
TEST(InstanceLock, AStaleFileIsTakenOver) {
  struct Row {
    const char* rule;
    QByteArray content;
  };
  const Row rows[] = {
      {"the number of a process that is gone", QByteArray("999999999\n")},
      {"a damaged file", QByteArray("\x01garbage")},
      {"an empty file", QByteArray()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.rule);
    const QString path = murel::test::freshDir(QStringLiteral("stale")) + QStringLiteral("/murel.lock");
    writeFile(path, row.content);
    InstanceLock lock(path);
    EXPECT_EQ(lock.take(), InstanceLock::Claim::taken);
    EXPECT_EQ(lock.holder(), QCoreApplication::applicationPid());
  }
}

TEST(InstanceLock, NoPlaceForTheFileGuardsNothing) {
  const QString dir = murel::test::freshDir(QStringLiteral("blocked"));
  writeFile(dir + QStringLiteral("/run"), "a file where the folder belongs");
  InstanceLock lock(dir + QStringLiteral("/run/murel.lock"));
  EXPECT_EQ(lock.take(), InstanceLock::Claim::unavailable);
}
