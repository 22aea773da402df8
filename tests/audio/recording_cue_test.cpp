#include "audio/AudioRecorder.h"
#include "audio/RecordingCuePlayer.h"
#include "platform/AudioCapture.h"
#include "platform/pulse/PulseAudio.h"
#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/PulseCuePlayback.h"
#include "runtime/AppPaths.h"
#include "runtime/DiagLog.h"
#include "support/AwaitTask.h"
#include "support/PulseRig.h"
#include "support/TestEnv.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

using murel::RecordingCue;
using murel::RecordingCuePlayer;
using murel::platform::PulseAudio;
using murel::platform::PulseCapture;
using murel::platform::PulseCuePlayback;
using namespace std::chrono_literals;

namespace {

// What a stretch of recorded output sounded like.
struct Heard {
  bool any = false;
  double spanSeconds = 0;  // first to last audible sample
  float peak = 0;
};

// The cues go to a sink of this test's own (through PULSE_SINK, read when the
// suite's connection is made), so sounds of other tests never mix in.
class RecordingCueTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!murel::test::pulseAvailable()) return;
    sinkName_ = QStringLiteral("cue_test_sink_%1").arg(QCoreApplication::applicationPid());
    sinkModule_ = murel::test::pactl(
        {QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=") + sinkName_});
    qputenv("PULSE_SINK", sinkName_.toUtf8());
    if (!sinkModule_) return;
    pulse_ = new PulseAudio();
    capture_ = new PulseCapture(*pulse_);
    // An idle null sink hands out its first output in blocks of seconds; one
    // capture kept running for the whole suite keeps it at a short latency.
    keeperLog_ = new murel::DiagLog(std::nullopt);
    keeper_ = new murel::AudioRecorder(*capture_, *keeperLog_);
    murel::test::awaitTask(
        keeper_->startRecording(*murel::test::sourceIndex(sinkName_ + QStringLiteral(".monitor")) + 1));
  }
  static void TearDownTestSuite() {
    delete keeper_;
    delete keeperLog_;
    delete capture_;
    delete pulse_;
    if (sinkModule_) murel::test::pactl({QStringLiteral("unload-module"), *sinkModule_});
  }

  void SetUp() override {
    if (!murel::test::pulseAvailable() || !sinkModule_) GTEST_SKIP() << "needs the rig's PulseAudio";
    diag = std::make_unique<murel::DiagLog>(std::nullopt);
    recorder = std::make_unique<murel::AudioRecorder>(*capture_, *diag);
  }

  static QString sound(const char* name) {
    return murel::AppPaths::resource(QStringLiteral("sounds/%1.wav").arg(QLatin1String(name)));
  }

  // Records the test sink's monitor around `act`, which gets the recording to
  // that point; returns what was heard after the moment `act` began.
  Heard listen(const std::function<void()>& act) {
    const quint32 monitor = *murel::test::sourceIndex(sinkName_ + QStringLiteral(".monitor")) + 1;
    const QString path = murel::test::awaitTask(recorder->startRecording(monitor));
    EXPECT_TRUE(murel::test::waitUntil([&] { return recorder->capturedFrames() > 4800; }));
    const uint64_t mark = recorder->capturedFrames();
    act();
    const uint64_t until = mark + 28800;  // well over half a second of output
    EXPECT_TRUE(murel::test::waitUntil([&] { return recorder->capturedFrames() >= until; }));
    murel::test::awaitTask(recorder->stopRecording());

    Heard heard;
    const auto samples = murel::test::readWav(path);
    if (!samples || samples->channels == 0) return heard;
    const size_t channels = static_cast<size_t>(samples->channels);
    const size_t frames = samples->data.size() / channels;
    const size_t window = static_cast<size_t>(samples->rate) / 100;  // 10 ms
    std::optional<size_t> first, last;
    for (size_t start = static_cast<size_t>(mark); start + window <= frames; start += window) {
      double sum = 0;
      for (size_t i = start * channels; i < (start + window) * channels; ++i) {
        sum += double(samples->data[i]) * samples->data[i];
        heard.peak = std::max(heard.peak, std::abs(samples->data[i]));
      }
      if (std::sqrt(sum / double(window * channels)) > 0.01) {
        if (!first) first = start;
        last = start + window;
      }
    }
    if (first) {
      heard.any = true;
      heard.spanSeconds = double(*last - *first) / samples->rate;
    }
    return heard;
  }

  static inline QString sinkName_;
  static inline std::optional<QString> sinkModule_;
  static inline murel::DiagLog* keeperLog_ = nullptr;
  static inline murel::AudioRecorder* keeper_ = nullptr;
  // The suite's connection to the sound server, made after PULSE_SINK is set.
  static inline PulseAudio* pulse_ = nullptr;
  static inline PulseCapture* capture_ = nullptr;
  std::unique_ptr<murel::DiagLog> diag;
  std::unique_ptr<murel::AudioRecorder> recorder;
};

}  // namespace

TEST_F(RecordingCueTest, BundledCuesLoadOffTheMainThreadAndAreHeard) {
  ASSERT_TRUE(QFileInfo::exists(sound("ListeningStart"))) << sound("ListeningStart").toStdString();
  ASSERT_TRUE(QFileInfo::exists(sound("ListeningStop")));
  RecordingCuePlayer* player = nullptr;
  PulseCuePlayback playback(*pulse_);
  murel::BundledCues cues(playback);
  std::thread loader([&] { player = &cues.player(); });
  loader.join();
  ASSERT_TRUE(player->hasSound(RecordingCue::Started));
  ASSERT_TRUE(player->hasSound(RecordingCue::Stopped));

  for (RecordingCue cue : {RecordingCue::Started, RecordingCue::Stopped}) {
    const Heard heard = listen([&] { player->play(cue); });
    EXPECT_TRUE(heard.any);
    EXPECT_GT(heard.spanSeconds, 0.1);  // the whole short tone, not a click
    EXPECT_LT(heard.spanSeconds, 0.4);
  }
}

TEST_F(RecordingCueTest, PlayingAgainRestartsTheCue) {
  PulseCuePlayback playback(*pulse_);
  RecordingCuePlayer player(sound("ListeningStart"), sound("ListeningStop"), playback);
  const Heard once = listen([&] { player.play(RecordingCue::Started); });
  ASSERT_TRUE(once.any);
  const Heard twice = listen([&] {
    player.play(RecordingCue::Started);
    // Played again once the first is audible, well before it ends.
    murel::test::waitUntil([&] { return recorder->currentLevel() >= 0.1f; }, 2s);
    std::this_thread::sleep_for(40ms);
    player.play(RecordingCue::Started);
  });
  ASSERT_TRUE(twice.any);
  // Longer by the gap, as loud as once: the second play started the sound over
  // instead of laying a second copy on top of it.
  EXPECT_GT(twice.spanSeconds, once.spanSeconds + 0.03) << "once " << once.spanSeconds;
  EXPECT_LT(twice.peak, once.peak * 1.2f) << "once " << once.peak;
}

TEST_F(RecordingCueTest, MissingSoundIsSilentAndTheOtherStillPlays) {
  PulseCuePlayback playback(*pulse_);
  RecordingCuePlayer player(sound("ListeningStart"),
                            murel::test::freshDir(QStringLiteral("none")) + QStringLiteral("/ListeningStop.wav"),
                            playback);
  EXPECT_TRUE(player.hasSound(RecordingCue::Started));
  EXPECT_FALSE(player.hasSound(RecordingCue::Stopped));
  EXPECT_FALSE(listen([&] { player.play(RecordingCue::Stopped); }).any);
  EXPECT_TRUE(listen([&] { player.play(RecordingCue::Started); }).any);
}
