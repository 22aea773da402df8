#include "runtime/SystemError.h"
#include "speech/AudioSampleLoader.h"
#include "speech/EngineError.h"

#include "support/MediaFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <cmath>

using namespace murel;
using test::runTool;

namespace {

double rms(const AudioSamples& s, size_t from = 0, size_t to = SIZE_MAX) {
  to = std::min(to, s.size());
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += double(s[i]) * s[i];
  return to > from ? std::sqrt(sum / double(to - from)) : 0;
}

class AudioSampleLoaderTest : public ::testing::Test {
 protected:
  QString dir = test::freshDir(QStringLiteral("loader"));
  QString path(const char* name) const { return dir + QLatin1Char('/') + QLatin1String(name); }
  void sox(const QStringList& args) { runTool(QStringLiteral("sox"), args); }
};

}  // namespace

TEST_F(AudioSampleLoaderTest, ResamplesAndDownmixesToSixteenKilohertzMono) {
  // 3 s of 48 kHz stereo: a 0.5-amplitude tone in both channels.
  sox({QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("48000"), QStringLiteral("-c"), QStringLiteral("2"),
       QStringLiteral("-b"), QStringLiteral("16"), path("stereo48k.wav"), QStringLiteral("synth"), QStringLiteral("3"),
       QStringLiteral("sine"), QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.5")});
  const AudioSamples samples = AudioSampleLoader::loadSamples(path("stereo48k.wav"));
  EXPECT_NEAR(double(samples.size()), 48000.0, 16.0);
  // The tone survives as a tone (RMS of a sine is amplitude/√2), not silence or clipping.
  EXPECT_GT(rms(samples, 1000, 47000), 0.2);
  EXPECT_LT(rms(samples, 1000, 47000), 0.75);
}

TEST_F(AudioSampleLoaderTest, SixteenKilohertzMonoFloatPassesThrough) {
  sox({QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"), QStringLiteral("1"),
       QStringLiteral("-e"), QStringLiteral("floating-point"), QStringLiteral("-b"), QStringLiteral("32"),
       path("mono16k.wav"), QStringLiteral("synth"), QStringLiteral("2.5"), QStringLiteral("sine"),
       QStringLiteral("300"), QStringLiteral("vol"), QStringLiteral("0.25")});
  sox({path("mono16k.wav"), QStringLiteral("-t"), QStringLiteral("f32"), path("mono16k.raw")});
  QFile raw(path("mono16k.raw"));
  ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
  const QByteArray bytes = raw.readAll();
  const auto* original = reinterpret_cast<const float*>(bytes.constData());

  const AudioSamples samples = AudioSampleLoader::loadSamples(path("mono16k.wav"));
  ASSERT_EQ(samples.size(), 40000u);
  double maxDiff = 0;
  for (size_t i = 0; i < samples.size(); ++i) maxDiff = std::max(maxDiff, double(std::fabs(samples[i] - original[i])));
  EXPECT_LT(maxDiff, 1e-6);
}

TEST_F(AudioSampleLoaderTest, CompressedFilesKeepTheirLength) {
  // MP3 (whisper.cpp's sample) and AAC in M4A, whose container durations are estimates.
  test::ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                QStringLiteral("sine=frequency=500:sample_rate=44100:duration=4.2"), QStringLiteral("-c:a"),
                QStringLiteral("aac"), path("tone.m4a")});
  runTool(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), path("speech.wav"),
                                        QStringLiteral("Dictation turns speech into text on this machine.")});
  for (const QString& file : {test::jfkSample(), path("tone.m4a"), path("speech.wav")}) {
    SCOPED_TRACE(file.toStdString());
    const double seconds = test::audioDuration(file);
    ASSERT_GT(seconds, 1.0);
    const AudioSamples samples = AudioSampleLoader::loadSamples(file);
    EXPECT_NEAR(double(samples.size()), seconds * 16000, seconds * 16000 * 0.01);
    EXPECT_GT(rms(samples), 0.01);
  }
}

TEST_F(AudioSampleLoaderTest, VideoFilesGiveTheirAudio) {
  test::makeVideo(path("clip.mp4"), 4.0, true);
  const AudioSamples samples = AudioSampleLoader::loadSamples(path("clip.mp4"));
  EXPECT_NEAR(double(samples.size()), 64000.0, 640.0);
}

TEST_F(AudioSampleLoaderTest, CutOffFilesGiveTheSamplesReadSoFar) {
  // A WAV whose header promises 3 s but whose data ends after about 1 s.
  sox({QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"), QStringLiteral("1"),
       QStringLiteral("-b"), QStringLiteral("16"), path("cut.wav"), QStringLiteral("synth"), QStringLiteral("3"),
       QStringLiteral("sine"), QStringLiteral("440")});
  ASSERT_TRUE(QFile::resize(path("cut.wav"), 44 + 16000 * 2));
  AudioSamples samples = AudioSampleLoader::loadSamples(path("cut.wav"));
  EXPECT_NEAR(double(samples.size()), 16000.0, 16.0);

  // A header that claims about 37 hours: the second of data that is really there.
  {
    QFile wav(path("cut.wav"));
    ASSERT_TRUE(wav.open(QIODevice::ReadWrite));
    const char huge[4] = {'\xf0', '\xff', '\xff', '\xff'};
    wav.seek(4);
    wav.write(huge, 4);
    wav.seek(40);
    wav.write(huge, 4);
  }
  samples = AudioSampleLoader::loadSamples(path("cut.wav"));
  EXPECT_NEAR(double(samples.size()), 16000.0, 16.0);
  EXPECT_LT(samples.capacity(), 2 * samples.size());

  // An MP3 cut in the middle of a frame.
  QFile::copy(test::jfkSample(), path("cut.mp3"));
  const qint64 half = QFileInfo(path("cut.mp3")).size() / 2 + 77;
  ASSERT_TRUE(QFile::resize(path("cut.mp3"), half));
  samples = AudioSampleLoader::loadSamples(path("cut.mp3"));
  const double full = test::audioDuration(test::jfkSample()) * 16000;
  EXPECT_GT(double(samples.size()), full * 0.4);
  EXPECT_LT(double(samples.size()), full * 0.6);
}

// Headers no real recording has are refused with a clear error before any
// resampler is set up (a 436 MHz rate alone used to cost seconds and ~480 MB).
TEST_F(AudioSampleLoaderTest, ForgedHeadersAreRefused) {
  sox({QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"), QStringLiteral("1"),
       QStringLiteral("-b"), QStringLiteral("16"), path("base.wav"), QStringLiteral("synth"), QStringLiteral("1"),
       QStringLiteral("sine"), QStringLiteral("440")});
  QFile base(path("base.wav"));
  ASSERT_TRUE(base.open(QIODevice::ReadOnly));
  const QByteArray wav = base.readAll();
  auto patched = [&](const char* name, int offset, QByteArray bytes) {
    QByteArray data = wav;
    data.replace(offset, bytes.size(), bytes);
    QFile out(path(name));
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(data);
    return path(name);
  };
  auto le32 = [](quint32 v) { return QByteArray(1, char(v)) + char(v >> 8) + char(v >> 16) + char(v >> 24); };
  struct Case {
    QString file;
    const char* message;
  };
  const Case cases[] = {
      {test::sourceDir() + QStringLiteral("/tests/fuzz/seeds/audio/rate-436617472hz.aiff"),
       "the sample rate of 436617472 Hz is not supported"},
      {patched("rate.wav", 24, le32(768000) + le32(768000 * 2)), "the sample rate of 768000 Hz is not supported"},
      {patched("channels.wav", 22,
               QByteArray("\xc8\x00", 2) + le32(16000) + le32(16000 * 400) + QByteArray("\x90\x01", 2)),
       "200 audio channels are not supported"},
      // 2^31 - 1 frames at 4 kHz claimed over 100 frames of data: about 149 hours.
      {test::sourceDir() + QStringLiteral("/tests/fuzz/seeds/audio/claims-149h.aiff"), "the recording is too long"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.toStdString());
    try {
      AudioSampleLoader::loadSamples(c.file);
      ADD_FAILURE() << "no error";
    } catch (const EngineError& e) {
      EXPECT_EQ(e.description(), QStringLiteral("Audio conversion failed: ") + QLatin1String(c.message));
    }
  }
  // At the limits themselves the file decodes.
  const AudioSamples top = AudioSampleLoader::loadSamples(patched("top.wav", 24, le32(384000) + le32(384000 * 2)));
  EXPECT_NEAR(double(top.size()), 16000.0 * 16000 / 384000, 16.0);
}

TEST_F(AudioSampleLoaderTest, AFileWithoutFramesGivesNoSamples) {
  sox({QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"), QStringLiteral("1"),
       QStringLiteral("-b"), QStringLiteral("16"), path("empty.wav"), QStringLiteral("trim"), QStringLiteral("0"),
       QStringLiteral("0")});
  EXPECT_TRUE(AudioSampleLoader::loadSamples(path("empty.wav")).empty());
}

TEST_F(AudioSampleLoaderTest, UnreadableFilesFailAtOpeningWithAFileError) {
  QFile text(path("notes.wav"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("These are meeting notes, not audio.\n");
  text.close();
  test::makeVideo(path("silent.mp4"), 1.0, false);
  for (const QString& file : {path("notes.wav"), path("missing.wav"), path("silent.mp4")}) {
    SCOPED_TRACE(file.toStdString());
    try {
      AudioSampleLoader::loadSamples(file);
      ADD_FAILURE() << "no error";
    } catch (const SystemError& e) {
      EXPECT_TRUE(e.description().contains(QFileInfo(file).fileName())) << e.description().toStdString();
    }
  }
}

TEST_F(AudioSampleLoaderTest, ConcurrentLoadsDoNotInteract) {
  QFile::copy(test::jfkSample(), path("a.mp3"));
  const AudioSamples reference = AudioSampleLoader::loadSamples(path("a.mp3"));
  auto a = QtConcurrent::run([&] { return AudioSampleLoader::loadSamples(path("a.mp3")); });
  auto b = QtConcurrent::run([&] { return AudioSampleLoader::loadSamples(test::jfkSample()); });
  EXPECT_EQ(a.result(), reference);
  EXPECT_EQ(b.result(), reference);
}

TEST(TranscriptionPipeline, StandardPipelineDecodesWithTheSampleLoader) {
  const TranscriptionPipeline pipeline = TranscriptionPipeline::standard();
  ASSERT_TRUE(pipeline.loadSamples);
  EXPECT_EQ(pipeline.loadSamples(test::jfkSample()), AudioSampleLoader::loadSamples(test::jfkSample()));
}
