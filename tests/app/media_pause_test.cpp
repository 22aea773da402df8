// Media pause and resume around a recording: the real dictation session (on
// the fakes of SessionRig), the real controller and MPRIS calls on the rig's
// session bus, against test players that answer late, wrongly or never.
#include "SessionRig.h"

#include "app/MediaPlaybackController.h"
#include "platform/dbus/MprisPlayers.h"
#include "support/FakeMprisPlayer.h"
#include "support/LogCapture.h"

#include <QDBusConnection>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;

namespace {

const QString kPaused = QStringLiteral("Paused media playback for recording");
const QString kResumed = QStringLiteral("Resumed media playback after recording");

struct PlayerSpec {
  QVariant status = QStringLiteral("Playing");
  bool errorReply = false;
  bool neverReply = false;
  std::chrono::milliseconds replyDelay{0};
};

// One recording with its players, controller and log.
struct MediaRig {
  explicit MediaRig(const QList<PlayerSpec>& specs, bool noBus = false)
      : mpris(noBus ? std::make_unique<MprisPlayers>(boundClock, QStringLiteral("unix:path=/nonexistent/murel-bus"))
                    : std::make_unique<MprisPlayers>(boundClock)),
        controller(*mpris),
        rig(&controller) {
    for (const PlayerSpec& spec : specs) {
      auto player = std::make_unique<FakeMprisPlayer>(spec.status);
      player->errorReply = spec.errorReply;
      player->neverReply = spec.neverReply;
      player->replyDelay = spec.replyDelay;
      players.push_back(std::move(player));
    }
    rig.prefs.pauseMediaWhileRecording = true;
  }

  int statusReads() const {
    int reads = 0;
    for (const auto& p : players) reads += p->statusReads;
    return reads;
  }
  bool idle() { return controller.runningTasks() == 0 && mpris->pendingCalls() == 0; }
  // Lets every call and task end, without moving the bound's clock.
  bool settle() {
    return waitUntil([this] { return idle(); });
  }

  LogCapture log;
  FakeClock boundClock;
  std::unique_ptr<MprisPlayers> mpris;
  MediaPlaybackController controller;
  SessionRig rig;
  std::vector<std::unique_ptr<FakeMprisPlayer>> players;
};

struct MediaRow {
  const char* name;
  QList<PlayerSpec> players;
  // Between the start and the stop of the recording.
  std::function<void(MediaRig&)> whileRecording;
  QList<int> pauses;  // per player
  QList<int> plays;
  QStringList mediaLines;  // infos and errors under "mediaPlayback"
  int nowPlayingErrors = 0;
  bool preference = true;
  bool noBus = false;
};

void waitForPause(MediaRig& m) {
  ASSERT_TRUE(waitUntil([&] { return m.players[0]->pauses == 1; }));
  ASSERT_TRUE(m.settle());
}

void waitForStatusRead(MediaRig& m) {
  ASSERT_TRUE(waitUntil([&] { return m.statusReads() == int(m.players.size()) && m.controller.runningTasks() == 0; }));
}

class MediaAroundRecording : public ::testing::TestWithParam<MediaRow> {};

TEST_P(MediaAroundRecording, PausesAndResumesOnlyWhatItPaused) {
  const MediaRow& row = GetParam();
  MediaRig m(row.players, row.noBus);
  for (const auto& player : m.players) ASSERT_TRUE(player->isOnBus());
  m.rig.prefs.pauseMediaWhileRecording = row.preference;

  m.rig.session.start();
  ASSERT_EQ(m.rig.session.phase(), DictationSession::Phase::recording);
  if (row.whileRecording) row.whileRecording(m);
  m.rig.session.stop();
  ASSERT_TRUE(m.settle());
  ASSERT_TRUE(m.rig.finish());

  QList<int> pauses, plays;
  for (const auto& player : m.players) {
    pauses.append(player->pauses);
    plays.append(player->plays);
  }
  EXPECT_EQ(pauses, row.pauses);
  EXPECT_EQ(plays, row.plays);
  EXPECT_EQ(m.log.messages(QStringLiteral("mediaPlayback")), row.mediaLines);
  int nowPlayingErrors = 0;
  for (const LogCapture::Line& line : m.log.lines()) {
    if (line.category == QStringLiteral("nowPlaying") && line.level == SystemLog::Level::Error) ++nowPlayingErrors;
  }
  EXPECT_EQ(nowPlayingErrors, row.nowPlayingErrors);
  if (!row.preference) EXPECT_EQ(m.statusReads(), 0) << "no bus traffic while the preference is off";
  EXPECT_EQ(m.controller.runningTasks(), 0);
  EXPECT_EQ(m.mpris->pendingCalls(), 0);
}

PlayerSpec playing() { return {}; }
PlayerSpec withStatus(QVariant status) { return {std::move(status)}; }

INSTANTIATE_TEST_SUITE_P(
    Rows, MediaAroundRecording,
    ::testing::Values(
        MediaRow{"playingLongRecording", {playing()}, waitForPause, {1}, {1}, {kPaused, kResumed}},
        MediaRow{"stopBeforeTheStatusAnswered",
                 {PlayerSpec{QStringLiteral("Playing"), false, false, 300ms}},
                 {},
                 {0},
                 {0},
                 {}},
        MediaRow{"nothingPlaying", {withStatus(QStringLiteral("Stopped"))}, waitForStatusRead, {0}, {0}, {}},
        MediaRow{"noPlayerAtAll", {}, {}, {}, {}, {}},
        MediaRow{"preferenceOff",
                 {playing()},
                 [](MediaRig&) { waitUntil([] { return false; }, 100ms); },
                 {0},
                 {0},
                 {},
                 0,
                 false},
        MediaRow{"twoPlayersOnePlaying",
                 {withStatus(QStringLiteral("Paused")), playing()},
                 [](MediaRig& m) {
                   ASSERT_TRUE(waitUntil([&] { return m.players[1]->pauses == 1; }));
                   ASSERT_TRUE(m.settle());
                 },
                 {0, 1},
                 {0, 1},
                 {kPaused, kResumed}},
        MediaRow{"statusPausedIsNotPlaying", {withStatus(QStringLiteral("Paused"))}, waitForStatusRead, {0}, {0}, {}},
        MediaRow{
            "statusInLowerCaseIsNotPlaying", {withStatus(QStringLiteral("playing"))}, waitForStatusRead, {0}, {0}, {}},
        MediaRow{"statusAsANumberIsNotPlaying", {withStatus(1)}, waitForStatusRead, {0}, {0}, {}, 1},
        MediaRow{"errorReplyIsNotPlaying",
                 {PlayerSpec{QStringLiteral("Playing"), true}},
                 waitForStatusRead,
                 {0},
                 {0},
                 {},
                 1},
        MediaRow{"neverAnsweringPlayerIsNotPlayingWithinTheBound",
                 {PlayerSpec{QStringLiteral("Playing"), false, true}},
                 [](MediaRig& m) {
                   ASSERT_TRUE(waitUntil([&] { return m.statusReads() == 1; }));
                   m.boundClock.advance(MprisPlayers::kCallBound);
                   ASSERT_TRUE(m.settle());
                 },
                 {0},
                 {0},
                 {},
                 1},
        MediaRow{"noBus", {}, {}, {}, {}, {}, 1, true, true}),
    [](const ::testing::TestParamInfo<MediaRow>& info) { return std::string(info.param.name); });

TEST(MediaAroundRecordingFixed, APlayerGoneBeforeTheStopGetsNoPlayAndOneErrorLine) {
  MediaRig m({playing()});
  m.rig.session.start();
  waitForPause(m);
  const QString unique = m.players[0]->uniqueName();
  m.players[0]->leaveBus();
  m.rig.session.stop();
  ASSERT_TRUE(m.settle());
  EXPECT_EQ(m.players[0]->plays, 0);
  EXPECT_EQ(m.log.messages(QStringLiteral("mediaPlayback")),
            QStringList({kPaused, QStringLiteral("The player %1 has left the bus; Play not sent").arg(unique)}));
}

TEST(MediaAroundRecordingFixed, AHungPlayerLeavesNothingPendingAfterFiftyRecordings) {
  MediaRig m({PlayerSpec{QStringLiteral("Playing"), false, true}});
  for (int i = 0; i < 50; ++i) {
    m.rig.session.start();
    ASSERT_TRUE(waitUntil([&] { return m.statusReads() == i + 1; }));
    m.rig.session.stop();
    ASSERT_TRUE(m.rig.finish());
  }
  EXPECT_GT(m.controller.runningTasks(), 0);
  m.boundClock.advance(MprisPlayers::kCallBound);
  ASSERT_TRUE(m.settle());
  EXPECT_EQ(m.controller.runningTasks(), 0);
  EXPECT_EQ(m.mpris->pendingCalls(), 0);
  EXPECT_EQ(m.players[0]->pauses, 0);
  EXPECT_EQ(m.log.messages(QStringLiteral("nowPlaying")).size(), 50);
}

TEST(MediaAroundRecordingFixed, ASecondBeginLetsTheFirstPauseRunUncancelled) {
  // Both queries are under way when the stop comes: the first pause was let
  // go, so it still pauses and is never played again; the second was
  // cancelled by the stop and sends nothing.
  MediaRig m({PlayerSpec{QStringLiteral("Playing"), false, false, 200ms}});
  m.controller.beginPauseForRecording();
  m.controller.beginPauseForRecording();
  m.controller.resumeAfterRecording();
  ASSERT_TRUE(m.settle());
  EXPECT_EQ(m.players[0]->statusReads, 2);
  EXPECT_EQ(m.players[0]->pauses, 1);
  EXPECT_EQ(m.players[0]->plays, 0);
}

}  // namespace
