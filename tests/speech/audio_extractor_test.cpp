#include "runtime/SystemError.h"
#include "speech/AudioExtractor.h"
#include "speech/AudioSampleLoader.h"

#include "support/AwaitTask.h"
#include "support/MediaFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QUuid>

#include <gtest/gtest.h>

using namespace murel;

namespace {

QStringList temporaryM4aFiles() { return QDir(QDir::tempPath()).entryList({QStringLiteral("*.m4a")}, QDir::Files); }

class AudioExtractorTest : public ::testing::Test {
 protected:
  QString dir = test::freshDir(QStringLiteral("extract"));
  QString path(const char* name) const { return dir + QLatin1Char('/') + QLatin1String(name); }
};

}  // namespace

TEST_F(AudioExtractorTest, CopiesTheAudioOfAVideoIntoATemporaryM4a) {
  test::makeVideo(path("clip.mp4"), 3.0, true);
  const QStringList before = temporaryM4aFiles();
  const QString first = test::awaitTask(AudioExtractor::extractAudio(path("clip.mp4")));
  const QString second = test::awaitTask(AudioExtractor::extractAudio(path("clip.mp4")));

  for (const QString& out : {first, second}) {
    const QFileInfo info(out);
    EXPECT_EQ(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    EXPECT_EQ(info.suffix(), QStringLiteral("m4a"));
    EXPECT_FALSE(QUuid::fromString(info.completeBaseName()).isNull()) << out.toStdString();
    EXPECT_NEAR(test::audioDuration(out), test::audioDuration(path("clip.mp4")), 0.1);
    EXPECT_NEAR(double(AudioSampleLoader::loadSamples(out).size()), 48000.0, 480.0);
  }
  EXPECT_NE(first, second);
  EXPECT_EQ(temporaryM4aFiles().size(), before.size() + 2);
  QFile::remove(first);
  QFile::remove(second);
}

TEST_F(AudioExtractorTest, AVideoWithoutAudioFailsAndLeavesNoFile) {
  test::makeVideo(path("silent.mp4"), 1.0, false);
  const QStringList before = temporaryM4aFiles();
  try {
    test::awaitTask(AudioExtractor::extractAudio(path("silent.mp4")));
    FAIL() << "no error";
  } catch (const AudioExtractorError& e) {
    EXPECT_EQ(e.kind(), AudioExtractorError::Kind::NoAudioTrack);
    EXPECT_STREQ(e.what(), "No audio track found in video file");
  }
  EXPECT_EQ(temporaryM4aFiles(), before);

  // Not a media file at all: the file error, and no file either.
  QFile text(path("notes.mp4"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("plain text");
  text.close();
  EXPECT_THROW(test::awaitTask(AudioExtractor::extractAudio(path("notes.mp4"))), SystemError);
  EXPECT_EQ(temporaryM4aFiles(), before);
}

TEST_F(AudioExtractorTest, CancellingStopsTheExportAndRemovesThePartialFile) {
  test::makeVideo(path("long.mp4"), 300.0, true);
  const QStringList before = temporaryM4aFiles();
  for (int delayMs : {-1, 30}) {
    SCOPED_TRACE(delayMs);
    CancellationToken cancel;
    if (delayMs < 0) {
      cancel.cancel();
    } else {
      QTimer::singleShot(delayMs, [cancel] { cancel.cancel(); });
    }
    try {
      test::awaitTask(AudioExtractor::extractAudio(path("long.mp4"), cancel));
      FAIL() << "not cancelled";
    } catch (const AudioExtractorError& e) {
      EXPECT_EQ(e.kind(), AudioExtractorError::Kind::ExportFailed);
      EXPECT_TRUE(e.isCancellation());
      EXPECT_TRUE(e.description().startsWith(QStringLiteral("Audio extraction failed: ")));
    }
    EXPECT_EQ(temporaryM4aFiles(), before);
  }
}

TEST(AudioExtractorErrors, Descriptions) {
  EXPECT_STREQ(AudioExtractorError::exportFailed(QStringLiteral("Disk full")).what(),
               "Audio extraction failed: Disk full");
  EXPECT_STREQ(AudioExtractorError::exportFailed(std::nullopt).what(), "Audio extraction failed: Unknown error");
  EXPECT_STREQ(AudioExtractorError::noAudioTrack().what(), "No audio track found in video file");
  EXPECT_STREQ(AudioExtractorError::exportSessionCreationFailed().what(), "Failed to create audio export session");
}

TEST(AudioExtractorTypes, VideosAreToldFromAudioByTheirType) {
  const struct {
    const char* name;
    bool video;
  } cases[] = {{"a.mp4", true},  {"b.MOV", true},   {"c.mkv", true},  {"d.webm", true},
               {"e.m4v", true},  {"f.m4a", false},  {"g.mp3", false}, {"h.wav", false},
               {"i.ogg", false}, {"j.flac", false}, {"k.txt", false}, {"noextension", false}};
  for (const auto& c : cases) EXPECT_EQ(AudioExtractor::isVideoFile(QLatin1String(c.name)), c.video) << c.name;
}
