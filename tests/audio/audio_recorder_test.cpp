#include "audio/AudioRecorder.h"
#include "platform/AudioCapture.h"
#include "platform/pulse/PulseAudio.h"
#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/SoundServer.h"
#include "runtime/AppPaths.h"
#include "runtime/Cancellation.h"
#include "runtime/DiagLog.h"
#include "support/AwaitTask.h"
#include "support/FakeClock.h"
#include "support/FullDisk.h"
#include "support/PulseRig.h"
#include "support/TestEnv.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cmath>

using murel::AudioRecorder;
using murel::RecorderError;
using murel::test::PipeSource;
using namespace std::chrono_literals;

namespace {

class AudioRecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!murel::test::pulseAvailable()) GTEST_SKIP() << "needs the rig's PulseAudio";
    QDir(murel::AppPaths::recordings()).removeRecursively();
    diag = std::make_unique<murel::DiagLog>(murel::test::freshDir(QStringLiteral("diag")));
    recorder = std::make_unique<AudioRecorder>(sound.capture(), *diag);
  }

  static quint32 idOf(const PipeSource& source) { return *source.index() + 1; }

  QString start(quint32 deviceID) { return murel::test::awaitTask(recorder->startRecording(deviceID)); }
  void stop() { murel::test::awaitTask(recorder->stopRecording()); }

  QStringList recordings() const {
    return QDir(murel::AppPaths::recordings()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
  }

  // Feeds `pcm` and waits until the recorder has received all of it.
  bool feedAndWait(PipeSource& source, const QByteArray& pcm) {
    const uint64_t before = recorder->capturedFrames();
    const uint64_t frames =
        static_cast<uint64_t>(pcm.size()) / static_cast<uint64_t>(source.bytesPerSample() * source.channels());
    if (!source.write(pcm)) return false;
    return murel::test::waitUntil([&] { return recorder->capturedFrames() >= before + frames; });
  }

  murel::platform::SoundServer sound;  // the rig's, outliving the recorder
  std::unique_ptr<murel::DiagLog> diag;
  std::unique_ptr<AudioRecorder> recorder;
};

}  // namespace

TEST_F(AudioRecorderTest, RecordsTheSourceFormatToA16BitWav) {
  PipeSource source(QStringLiteral("rec_stereo48"), 48000, 2);
  ASSERT_TRUE(source.loaded());
  QSignalSpy recordingChanged(recorder.get(), &AudioRecorder::isRecordingChanged);

  const QString path = start(idOf(source));
  EXPECT_TRUE(recorder->isRecording());
  // The time, then this process's id: two processes never share a file.
  static const QRegularExpression name(QStringLiteral("^recording_\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d_%1\\.wav$")
                                           .arg(QCoreApplication::applicationPid()));
  EXPECT_TRUE(name.match(QFileInfo(path).fileName()).hasMatch()) << path.toStdString();
  EXPECT_EQ(QFileInfo(path).absolutePath(), murel::AppPaths::recordings());

  ASSERT_TRUE(feedAndWait(source, murel::test::sineS16(48000, 2, 2.0, 440, 0.3)));
  stop();
  EXPECT_FALSE(recorder->isRecording());
  EXPECT_EQ(recordingChanged.count(), 2);
  EXPECT_EQ(recorder->droppedFrames(), 0u);

  const auto info = murel::test::soxi(path);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->bits, 16);
  EXPECT_EQ(info->channels, 2);
  EXPECT_EQ(info->rate, 48000);
  EXPECT_NEAR(info->seconds, 2.0, 0.2);

  // The samples themselves arrive intact: a 0.3 sine has an RMS of about 0.212.
  const auto samples = murel::test::readWav(path);
  ASSERT_TRUE(samples && !samples->data.empty());
  double sum = 0;
  for (float v : samples->data) sum += double(v) * v;
  EXPECT_NEAR(std::sqrt(sum / double(samples->data.size())), 0.3 / std::sqrt(2.0), 0.01);

  const QString log = diag->readAll();
  EXPECT_TRUE(log.contains(QStringLiteral("  audio  start  deviceID=%1 rate=48000 ch=2\n").arg(idOf(source))))
      << log.toStdString();
}

TEST_F(AudioRecorderTest, EverySourceFormatBecomes16BitPcm) {
  // Integer and float sources alike: the file is 16-bit, the samples and the
  // level come through unchanged (a 0.3 sine: RMS 0.212, level clamped to 1;
  // a 0.05 sine: RMS 0.035, level 0.35).
  // (s24-32 is one the server converts for us. Packed s24 is left out: the
  // pipe source of PulseAudio 16 aborts the server on it.)
  for (const char* format : {"s16le", "s32le", "float32le", "s24-32le"}) {
    SCOPED_TRACE(format);
    PipeSource source(QStringLiteral("rec_fmt_") + QLatin1String(format), 32000, 2, {}, QLatin1String(format));
    ASSERT_TRUE(source.loaded());
    const QString path = start(idOf(source));
    ASSERT_TRUE(feedAndWait(source, murel::test::sine(QLatin1String(format), 32000, 2, 0.5, 300, 0.05)));
    EXPECT_NEAR(recorder->currentLevel(), 0.05 / std::sqrt(2.0) * 10, 0.02);
    ASSERT_TRUE(feedAndWait(source, murel::test::sine(QLatin1String(format), 32000, 2, 0.5, 300, 0.3)));
    EXPECT_EQ(recorder->currentLevel(), 1.0f);
    stop();

    const auto info = murel::test::soxi(path);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->bits, 16);
    EXPECT_EQ(info->channels, 2);
    EXPECT_EQ(info->rate, 32000);
    EXPECT_NEAR(info->seconds, 1.0, 0.02);
    const auto samples = murel::test::readWav(path);
    ASSERT_TRUE(samples);
    double sum = 0;
    const size_t half = samples->data.size() / 2;
    for (size_t i = half; i < samples->data.size(); ++i) sum += double(samples->data[i]) * samples->data[i];
    EXPECT_NEAR(std::sqrt(sum / double(samples->data.size() - half)), 0.3 / std::sqrt(2.0), 0.005);
  }
}

TEST_F(AudioRecorderTest, LevelFollowsTheInput) {
  PipeSource source(QStringLiteral("rec_level"), 16000, 1);
  ASSERT_TRUE(source.loaded());
  EXPECT_EQ(recorder->currentLevel(), 0.0f);  // no capture yet
  start(idOf(source));

  struct Case {
    double amplitude;  // peak of a sine; RMS = peak / sqrt(2)
    float expected;
    float tolerance;
  };
  // A 0.05 RMS tone reads 0.5; full scale is clamped to 1; silence reads 0.
  for (const Case c : {Case{0.05 * std::sqrt(2.0), 0.5f, 0.03f}, Case{0.9, 1.0f, 0.0f}, Case{0.0, 0.0f, 0.0f},
                       Case{0.02 * std::sqrt(2.0), 0.2f, 0.02f}}) {
    SCOPED_TRACE(c.amplitude);
    ASSERT_TRUE(feedAndWait(source, murel::test::sineS16(16000, 1, 0.5, 400, c.amplitude)));
    EXPECT_NEAR(recorder->currentLevel(), c.expected, c.tolerance);
  }
  stop();
  EXPECT_EQ(recorder->currentLevel(), 0.0f);
}

TEST_F(AudioRecorderTest, LongFragmentsAreSplitNotDropped) {
  // Ten seconds in one burst: the server hands it over in pieces far larger than
  // one level block, and every frame must still reach the file.
  PipeSource source(QStringLiteral("rec_burst"), 48000, 1);
  ASSERT_TRUE(source.loaded());
  const QString path = start(idOf(source));
  ASSERT_TRUE(feedAndWait(source, murel::test::sineS16(48000, 1, 10.0, 300, 0.2)));
  stop();
  EXPECT_EQ(recorder->droppedFrames(), 0u);
  const auto info = murel::test::soxi(path);
  ASSERT_TRUE(info);
  EXPECT_NEAR(info->seconds, 10.0, 0.05);
}

TEST_F(AudioRecorderTest, DeviceLostIsReportedOnceAndTheFileStaysPlayable) {
  auto source = std::make_unique<PipeSource>(QStringLiteral("rec_unplug"), 44100, 1);
  ASSERT_TRUE(source->loaded());
  const quint32 id = idOf(*source);
  int lost = 0;
  recorder->setOnDeviceLost([&] { ++lost; });
  const QString path = start(id);
  ASSERT_TRUE(feedAndWait(*source, murel::test::sineS16(44100, 1, 1.0, 500, 0.3)));

  source.reset();  // unplugged mid-recording
  ASSERT_TRUE(murel::test::waitUntil([&] { return lost > 0; }));
  murel::test::waitUntil([] { return false; }, 300ms);  // any second report would have come by now
  EXPECT_EQ(lost, 1);
  EXPECT_TRUE(recorder->isRecording());  // the owner decides to stop
  stop();

  const auto info = murel::test::soxi(path);
  ASSERT_TRUE(info);
  EXPECT_NEAR(info->seconds, 1.0, 0.1);
  const QString log = diag->readAll();
  EXPECT_EQ(log.count(QStringLiteral("  audio  device lost  deviceID=%1\n").arg(id)), 1) << log.toStdString();
}

TEST_F(AudioRecorderTest, UnknownDeviceFailsAndLeavesNoFile) {
  try {
    start(0xFFFFFF);
    FAIL() << "start succeeded";
  } catch (const RecorderError& error) {
    EXPECT_EQ(error.kind(), RecorderError::Kind::OsStatus);
    EXPECT_EQ(error.stage(), QStringLiteral("choosing the input"));
    EXPECT_TRUE(error.description().startsWith(QStringLiteral("Audio error while choosing the input: ")))
        << error.description().toStdString();
  }
  EXPECT_FALSE(recorder->isRecording());
  EXPECT_EQ(recorder->currentLevel(), 0.0f);
  EXPECT_TRUE(recordings().isEmpty()) << recordings().join(QLatin1Char(' ')).toStdString();
}

TEST_F(AudioRecorderTest, AnUnwritableFileFailsAtFileCreation) {
  // Folders in the way of every name the next seconds can give.
  const QDateTime now = QDateTime::currentDateTime();
  for (int s = 0; s < 10; ++s) {
    QDir().mkpath(murel::AppPaths::recordings() + QStringLiteral("/recording_") +
                  QLocale::c().toString(now.addSecs(s), QStringLiteral("yyyy-MM-dd_HH-mm-ss")) + QLatin1Char('_') +
                  QString::number(QCoreApplication::applicationPid()) + QStringLiteral(".wav"));
  }
  const QStringList before = recordings();
  try {
    start(0);
    FAIL() << "start succeeded";
  } catch (const RecorderError& error) {
    EXPECT_EQ(error.kind(), RecorderError::Kind::FileCreationFailed);
    EXPECT_EQ(error.description(), QStringLiteral("Could not create the recording file: Is a directory"));
  }
  EXPECT_FALSE(recorder->isRecording());
  EXPECT_EQ(recordings(), before);
}

// The disk filled up before the press: the start is refused in the system's
// words, and neither a file nor half of one stays behind. With room again the
// next start records.
TEST_F(AudioRecorderTest, AFullDiskRefusesTheStartInWordsAndLeavesNoFile) {
  if (!murel::test::insidePrivateMounts()) return;
  ASSERT_TRUE(QDir().mkpath(murel::AppPaths::recordings()));
  const QString filler = murel::test::fillDisk(murel::AppPaths::appData());
  try {
    start(0);
    FAIL() << "started on a full disk";
  } catch (const RecorderError& error) {
    EXPECT_EQ(error.description(), QStringLiteral("Could not create the recording file: No space left on device"));
  }
  EXPECT_FALSE(recorder->isRecording());
  EXPECT_TRUE(recordings().isEmpty()) << recordings().join(QLatin1Char(' ')).toStdString();

  ASSERT_TRUE(QFile::remove(filler));
  const QString path = start(0);
  stop();
  EXPECT_TRUE(QFileInfo::exists(path));
}

// Speech is the user's alone whatever the umask: the folders 0700, the file 0600.
TEST_F(AudioRecorderTest, RecordingsAreTheUsersAlone) {
  const mode_t saved = ::umask(022);
  QDir(murel::AppPaths::appData()).removeRecursively();
  const QString path = start(0);
  stop();
  ::umask(saved);
  const auto mode = [](const QString& file) {
    struct stat info {};
    return ::stat(QFile::encodeName(file).constData(), &info) == 0 ? info.st_mode & 07777 : mode_t(0);
  };
  EXPECT_EQ(mode(path), mode_t(0600));
  for (const QString& dir : {murel::AppPaths::appData(), murel::AppPaths::recordings()}) {
    SCOPED_TRACE(dir.toStdString());
    EXPECT_EQ(mode(dir), mode_t(0700));
  }
}

TEST_F(AudioRecorderTest, NoRecordingsFolderFailsBeforeAnyAudioWork) {
  QDir().mkpath(murel::AppPaths::appData());
  QFile blocker(murel::AppPaths::recordings());  // a file where the folder belongs
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  try {
    start(0);
    FAIL() << "start succeeded";
  } catch (const murel::RecordingFolderError& error) {
    EXPECT_TRUE(error.description().startsWith(QStringLiteral("Could not create the folder \u201C") +
                                               murel::AppPaths::recordings()))
        << error.description().toStdString();
  }
  EXPECT_FALSE(recorder->isRecording());
  QFile::remove(murel::AppPaths::recordings());
}

TEST_F(AudioRecorderTest, SystemDefaultIsNeverAnOutputMonitor) {
  // A machine with speakers and no microphone: the server's default source is
  // the speakers' monitor.
  murel::test::PrivateServer server(murel::test::freshDir(QStringLiteral("server")),
                                    {QStringLiteral("module-null-sink sink_name=speakers")});
  ASSERT_TRUE(server.start());
  const QByteArray saved = qgetenv("PULSE_SERVER");
  qputenv("PULSE_SERVER", server.address().toUtf8());
  {
    murel::platform::PulseAudio pulse;
    ASSERT_EQ(pulse.defaultSourceName(), QStringLiteral("speakers.monitor"));
    murel::platform::PulseCapture capture(pulse);
    AudioRecorder noMic(capture, *diag);
    try {
      murel::test::awaitTask(noMic.startRecording(0));
      FAIL() << "recorded the speakers";
    } catch (const RecorderError& error) {
      EXPECT_EQ(error.stage(), QStringLiteral("choosing the input"));
    }
    EXPECT_TRUE(recordings().isEmpty());
  }
  qputenv("PULSE_SERVER", saved);
}

TEST_F(AudioRecorderTest, SystemDefaultRecordsTheDefaultSource) {
  const quint32 micID = *murel::test::sourceIndex(QStringLiteral("murel_test_mic")) + 1;
  const QString path = start(0);
  EXPECT_TRUE(recorder->isRecording());
  stop();
  EXPECT_TRUE(QFileInfo::exists(path));
  const QString log = diag->readAll();
  EXPECT_TRUE(log.contains(QStringLiteral("  audio  start  deviceID=%1 rate=16000 ch=1\n").arg(micID)))
      << log.toStdString();
}

TEST_F(AudioRecorderTest, StartStopSequences) {
  PipeSource source(QStringLiteral("rec_twice"), 16000, 1);
  ASSERT_TRUE(source.loaded());
  // Stopping with nothing running is harmless.
  stop();
  stop();
  EXPECT_FALSE(recorder->isRecording());

  // A second start closes the first file and begins another; within one second
  // both get the same name and the second replaces the first.
  const QString first = start(idOf(source));
  ASSERT_TRUE(feedAndWait(source, murel::test::sineS16(16000, 1, 0.5, 400, 0.3)));
  const QString second = start(idOf(source));
  EXPECT_TRUE(recorder->isRecording());
  ASSERT_TRUE(feedAndWait(source, murel::test::sineS16(16000, 1, 0.25, 400, 0.3)));
  stop();
  stop();
  EXPECT_FALSE(recorder->isRecording());
  EXPECT_TRUE(QFileInfo::exists(first));
  EXPECT_TRUE(QFileInfo::exists(second));
  const auto info = murel::test::soxi(second);
  ASSERT_TRUE(info);
  EXPECT_NEAR(info->seconds, 0.25, 0.05);
  if (first != second) {
    EXPECT_NEAR(murel::test::soxi(first)->seconds, 0.5, 0.05);
  }
}

TEST_F(AudioRecorderTest, AHungServerNeverHoldsTheMainThread) {
  // The start awaits the server's answers on the main loop: while a server that
  // stopped answering keeps it waiting, a stop or the recorder's end cancels
  // it, and the time-out (on the connection's clock) fails it. No file stays.
  const QString dir = murel::test::freshDir(QStringLiteral("hung"));
  murel::test::PrivateServer server(
      dir, {QStringLiteral("module-pipe-source source_name=hung_mic file=%1/mic format=s16le rate=16000 channels=1")
                .arg(dir)});
  ASSERT_TRUE(server.start());
  const QByteArray saved = qgetenv("PULSE_SERVER");
  qputenv("PULSE_SERVER", server.address().toUtf8());
  {
    murel::test::FakeClock clock;
    murel::platform::PulseAudio pulse(&clock);
    const auto mic = pulse.sourceByName(QStringLiteral("hung_mic"));
    ASSERT_TRUE(mic);
    murel::platform::PulseCapture capture(pulse);
    enum class Then { Stop, Destroy, TimeOut };
    for (const Then then : {Then::Stop, Then::Destroy, Then::TimeOut}) {
      SCOPED_TRACE(int(then));
      auto hung = std::make_unique<AudioRecorder>(capture, *diag);
      server.freeze(true);
      auto starting = hung->startRecording(mic->index + 1);
      EXPECT_FALSE(starting.isReady());
      std::optional<QCoro::Task<void>> stopping;
      if (then == Then::Stop) stopping = hung->stopRecording();
      if (then == Then::Destroy) hung.reset();
      if (then == Then::TimeOut) {
        clock.advance(std::chrono::seconds(3));
        try {
          murel::test::awaitTask(std::move(starting));
          ADD_FAILURE() << "started on a hung server";
        } catch (const RecorderError& error) {
          EXPECT_EQ(error.stage(), QStringLiteral("choosing the input")) << error.description().toStdString();
        }
        server.freeze(false);
      } else {
        server.freeze(false);
        EXPECT_THROW(murel::test::awaitTask(std::move(starting)), murel::OperationCancelled);
        if (stopping) murel::test::awaitTask(std::move(*stopping));
      }
      EXPECT_TRUE(recordings().isEmpty()) << recordings().join(QLatin1Char(' ')).toStdString();
      if (hung) EXPECT_FALSE(hung->isRecording());
    }
    // The connection is fine afterwards.
    AudioRecorder recorder(capture, *diag);
    const QString path = murel::test::awaitTask(recorder.startRecording(mic->index + 1));
    EXPECT_TRUE(recorder.isRecording());
    murel::test::awaitTask(recorder.stopRecording());
    EXPECT_TRUE(QFileInfo::exists(path));
  }
  qputenv("PULSE_SERVER", saved);
}

TEST(RecorderErrorText, FormatsStatusesAsCharactersOrDecimal) {
  struct Case {
    int32_t status;
    const char* formatted;
  };
  const Case cases[] = {
      {0x21646576, "'!dev'"},  // all four bytes printable
      {-50, "-50"},
      {5, "5"},
      {0x7E20417F, "2116043135"},  // one byte outside 0x20..0x7E
  };
  for (const Case& c : cases) EXPECT_EQ(RecorderError::formatStatus(c.status), QLatin1String(c.formatted));

  EXPECT_EQ(RecorderError::osStatus(-50, QStringLiteral("choosing the input")).description(),
            QStringLiteral("Audio error while choosing the input: -50 (-50)"));
  EXPECT_EQ(RecorderError::osStatus(0x21646576, QStringLiteral("connecting to the input")).description(),
            QStringLiteral("Audio error while connecting to the input: '!dev' (560227702)"));
  EXPECT_EQ(RecorderError::componentNotFound().description(), QStringLiteral("The sound server can't be reached"));
  EXPECT_EQ(RecorderError::fileCreationFailed().description(), QStringLiteral("Could not create recording file"));
  // An errno is named in words, never printed as a number.
  EXPECT_EQ(RecorderError::fileCreationFailed(ENOSPC).description(),
            QStringLiteral("Could not create the recording file: No space left on device"));
}
