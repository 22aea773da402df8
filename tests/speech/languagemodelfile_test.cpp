#include "speech/LanguageModelFile.h"

#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace murel;

namespace {

// Sparse: the exact catalogue size costs no disk space.
void writeSparse(const QString& path, qint64 size) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_TRUE(file.resize(size));
}

class LanguageModelFileTest : public ::testing::Test {
 protected:
  void SetUp() override { QDir(LanguageModelFile::directory()).removeRecursively(); }
  void TearDown() override { QDir(LanguageModelFile::directory()).removeRecursively(); }
};

}  // namespace

TEST_F(LanguageModelFileTest, LivesInTheModelsFolder) {
  EXPECT_EQ(LanguageModelFile::modelPath(),
            qEnvironmentVariable("XDG_DATA_HOME") + "/Murel/Models/TextEnhancement/gemma-4-E4B-it.litertlm");
  EXPECT_EQ(LanguageModelFile::partialPath(), LanguageModelFile::modelPath() + ".partial");
  EXPECT_EQ(LanguageModelFile::artifact().remoteURL.toString(),
            "https://huggingface.co/litert-community/gemma-4-E4B-it-litert-lm/resolve/main/"
            "gemma-4-E4B-it.litertlm?download=true");
  EXPECT_EQ(LanguageModelFile::artifact().filename, "gemma-4-E4B-it.litertlm");
  EXPECT_EQ(LanguageModelFile::artifact().sizeBytes, 3'659'530'240);
  EXPECT_FALSE(QFileInfo::exists(LanguageModelFile::directory()));  // computing it creates nothing
}

TEST_F(LanguageModelFileTest, InstalledOnlyAtTheExactSize) {
  EXPECT_FALSE(LanguageModelFile::isInstalled());
  for (qint64 size : {LanguageModelFile::kSizeBytes - 1, LanguageModelFile::kSizeBytes + 1, qint64(0)}) {
    writeSparse(LanguageModelFile::modelPath(), size);
    EXPECT_FALSE(LanguageModelFile::isInstalled()) << size;
  }
  writeSparse(LanguageModelFile::modelPath(), 3'659'530'240);
  EXPECT_TRUE(LanguageModelFile::isInstalled());

  QFile::remove(LanguageModelFile::modelPath());
  writeSparse(LanguageModelFile::partialPath(), LanguageModelFile::kSizeBytes);
  EXPECT_FALSE(LanguageModelFile::isInstalled());  // a partial download never counts
}

TEST_F(LanguageModelFileTest, RemoveDeletesModelThenPartial) {
  EXPECT_NO_THROW(LanguageModelFile::remove());  // nothing there: no error

  writeSparse(LanguageModelFile::partialPath(), 10);
  EXPECT_NO_THROW(LanguageModelFile::remove());
  EXPECT_FALSE(QFileInfo::exists(LanguageModelFile::partialPath()));

  writeSparse(LanguageModelFile::modelPath(), LanguageModelFile::kSizeBytes);
  writeSparse(LanguageModelFile::partialPath(), 10);
  LanguageModelFile::remove();
  EXPECT_FALSE(QFileInfo::exists(LanguageModelFile::modelPath()));
  EXPECT_FALSE(QFileInfo::exists(LanguageModelFile::partialPath()));

  // A model path that cannot be removed stops before the partial file.
  QDir().mkpath(LanguageModelFile::modelPath() + "/blocker");
  writeSparse(LanguageModelFile::partialPath(), 10);
  EXPECT_THROW(LanguageModelFile::remove(), LanguageModelFile::DeleteError);
  EXPECT_TRUE(QFileInfo::exists(LanguageModelFile::partialPath()));
}

TEST_F(LanguageModelFileTest, RuntimeCacheFolderIsCreated) {
  const QString cache = LanguageModelFile::runtimeCacheDirectory();
  EXPECT_EQ(cache, qEnvironmentVariable("XDG_CACHE_HOME") + "/Murel/LiteRTCache");
  EXPECT_TRUE(QFileInfo(cache).isDir());

  // With no caches folder at all, the temporary folder takes its place.
  const QByteArray home = qgetenv("HOME");
  const QByteArray cacheHome = qgetenv("XDG_CACHE_HOME");
  const QByteArray tmp = qgetenv("TMPDIR");
  const QString temp = murel::test::freshDir("tmp");
  qunsetenv("HOME");
  qunsetenv("XDG_CACHE_HOME");
  qputenv("TMPDIR", temp.toUtf8());
  const QString fallback = LanguageModelFile::runtimeCacheDirectory();
  qputenv("HOME", home);
  qputenv("XDG_CACHE_HOME", cacheHome);
  if (tmp.isEmpty()) {
    qunsetenv("TMPDIR");
  } else {
    qputenv("TMPDIR", tmp);
  }
  EXPECT_EQ(fallback, temp + "/LiteRTCache");
  EXPECT_TRUE(QFileInfo(fallback).isDir());
}
