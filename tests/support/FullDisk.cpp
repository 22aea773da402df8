#include "support/FullDisk.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace murel::test {
namespace {

const char* const kInsideVariable = "MUREL_TEST_PRIVATE_MOUNTS";

// What keeps the outer run from making the namespace and a mount in it; empty when nothing does.
QString whyNotPermitted() {
  const QString probe = QDir::tempPath() + QStringLiteral("/murel-mount-probe");
  QDir().mkpath(probe);
  QProcess unshare;
  unshare.setProcessChannelMode(QProcess::MergedChannels);
  unshare.start(QStringLiteral("unshare"),
                {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
                 QStringLiteral("mount"), QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                 QStringLiteral("size=64k"), QStringLiteral("tmpfs"), probe});
  if (!unshare.waitForFinished(30000)) return QStringLiteral("unshare did not run");
  if (unshare.exitStatus() == QProcess::NormalExit && unshare.exitCode() == 0) return {};
  return QString::fromLocal8Bit(unshare.readAll()).trimmed();
}

}  // namespace

bool insidePrivateMounts(int kilobytes) {
  if (qEnvironmentVariableIsSet(kInsideVariable)) {
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
      const QByteArray folder = qgetenv(variable);
      const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0700";
      if (::mount("tmpfs", folder.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) != 0) {
        ADD_FAILURE() << "mount over " << folder.constData() << ": " << std::strerror(errno);
        return false;
      }
    }
    return true;
  }
  const QString why = whyNotPermitted();
  if (!why.isEmpty()) {
    // Recorded as the current test's skip (the macro returns from the lambda only).
    [&why] { GTEST_SKIP() << "needs a private mount namespace with a tmpfs (root): " << why.toStdString(); }();
    return false;
  }
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const QString filter =
      QString::fromLatin1(info->test_suite_name()) + QLatin1Char('.') + QString::fromLatin1(info->name());
  QProcess inner;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QString::fromLatin1(kInsideVariable), QStringLiteral("1"));
  inner.setProcessEnvironment(env);
  inner.setProcessChannelMode(QProcess::MergedChannels);
  inner.start(QStringLiteral("unshare"),
              {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
               QCoreApplication::applicationFilePath(), QStringLiteral("--gtest_filter=") + filter});
  if (!inner.waitForFinished(600000)) {
    inner.kill();
    inner.waitForFinished();
  }
  const std::string output = QString::fromLocal8Bit(inner.readAll()).toStdString();
  EXPECT_EQ(inner.exitStatus(), QProcess::NormalExit) << output;
  EXPECT_EQ(inner.exitCode(), 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
  return false;
}

QString fillDisk(const QString& folder) {
  const QString path = folder + QStringLiteral("/filler");
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    ADD_FAILURE() << "cannot create " << path.toStdString();
    return path;
  }
  const QByteArray block(4096, 'x');
  for (;;) {
    if (::write(fd, block.constData(), size_t(block.size())) >= 0) continue;
    if (errno != ENOSPC) ADD_FAILURE() << "filling the disk: " << std::strerror(errno);
    break;
  }
  // Whatever a page less would leave: down to the byte.
  while (::write(fd, "x", 1) == 1) {
  }
  ::close(fd);
  return path;
}

}  // namespace murel::test
