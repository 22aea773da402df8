// The main of every test binary: isolates the process's files in a temporary
// folder and creates the Qt application object the code under test expects.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <memory>

int main(int argc, char** argv) {
  QTemporaryDir root(QDir::tempPath() + QStringLiteral("/murel-test-XXXXXX"));
  if (!root.isValid()) return 2;
  const QByteArray base = root.path().toUtf8();
  qputenv("MUREL_TEST_ROOT", base);
  qputenv("HOME", base + "/home");
  qputenv("XDG_CONFIG_HOME", base + "/config");
  qputenv("XDG_DATA_HOME", base + "/data");
  qputenv("XDG_CACHE_HOME", base + "/cache");
  qputenv("XDG_STATE_HOME", base + "/state");
  // The temporary folder too, so tests that count temporary files see only their own.
  qputenv("TMPDIR", base + "/tmp");
  for (const char* sub : {"/home", "/config", "/data", "/cache", "/state", "/tmp"})
    QDir().mkpath(root.path() + QLatin1String(sub));

  ::testing::InitGoogleTest(&argc, argv);
  std::unique_ptr<QCoreApplication> app;
  if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
    app = std::make_unique<QApplication>(argc, argv);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  return RUN_ALL_TESTS();
}
