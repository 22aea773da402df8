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
  void SetUp() override { QDir(gemmaModelDirectory()).removeRecursively(); }
  void TearDown() override { QDir(gemmaModelDirectory()).removeRecursively(); }
};

}  // namespace

TEST_F(LanguageModelFileTest, LivesInTheModelsFolder) {
  EXPECT_EQ(gemmaModelPath(),
            qEnvironmentVariable("XDG_DATA_HOME") + "/Murel/Models/TextEnhancement/gemma-4-E4B-it.litertlm");
  EXPECT_EQ(gemmaModelPartialPath(), gemmaModelPath() + ".partial");
  EXPECT_EQ(gemmaModelArtifact().remoteURL.toString(),
            "https://huggingface.co/litert-community/gemma-4-E4B-it-litert-lm/resolve/main/"
            "gemma-4-E4B-it.litertlm?download=true");
  EXPECT_EQ(gemmaModelArtifact().filename, "gemma-4-E4B-it.litertlm");
  EXPECT_EQ(gemmaModelArtifact().sizeBytes, 3'659'530'240);
  EXPECT_FALSE(QFileInfo::exists(gemmaModelDirectory()));  // computing it creates nothing
}

TEST_F(LanguageModelFileTest, InstalledOnlyAtTheExactSize) {
  EXPECT_FALSE(isGemmaModelInstalled());
  for (qint64 size : {kGemmaModelSizeBytes - 1, kGemmaModelSizeBytes + 1, qint64(0)}) {
    writeSparse(gemmaModelPath(), size);
    EXPECT_FALSE(isGemmaModelInstalled()) << size;
  }
  writeSparse(gemmaModelPath(), 3'659'530'240);
  EXPECT_TRUE(isGemmaModelInstalled());

  QFile::remove(gemmaModelPath());
  writeSparse(gemmaModelPartialPath(), kGemmaModelSizeBytes);
  EXPECT_FALSE(isGemmaModelInstalled());  // a partial download never counts
}

TEST_F(LanguageModelFileTest, RemoveDeletesModelThenPartial) {
  EXPECT_NO_THROW(deleteGemmaModel());  // nothing there: no error

  writeSparse(gemmaModelPartialPath(), 10);
  EXPECT_NO_THROW(deleteGemmaModel());
  EXPECT_FALSE(QFileInfo::exists(gemmaModelPartialPath()));

  writeSparse(gemmaModelPath(), kGemmaModelSizeBytes);
  writeSparse(gemmaModelPartialPath(), 10);
  deleteGemmaModel();
  EXPECT_FALSE(QFileInfo::exists(gemmaModelPath()));
  EXPECT_FALSE(QFileInfo::exists(gemmaModelPartialPath()));

  // A model path that cannot be removed stops before the partial file.
  QDir().mkpath(gemmaModelPath() + "/blocker");
  writeSparse(gemmaModelPartialPath(), 10);
  try {
    deleteGemmaModel();
    ADD_FAILURE() << "no error for a model file that could not be removed";
  } catch (const SystemError& error) {
    // Worded like a speech model's file that could not be removed.
    EXPECT_TRUE(error.description().startsWith(QStringLiteral("“gemma-4-E4B-it.litertlm” couldn’t be removed: ")))
        << error.description().toStdString();
  }
  EXPECT_TRUE(QFileInfo::exists(gemmaModelPartialPath()));
}

TEST_F(LanguageModelFileTest, RuntimeCacheFolderIsCreated) {
  const QString cache = liteRTCacheDirectory();
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
  const QString fallback = liteRTCacheDirectory();
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
