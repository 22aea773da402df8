#include "app/MediaPlaybackController.h"

#include "platform/MediaPlayers.h"
#include "runtime/Async.h"
#include "runtime/SystemLog.h"

#include <QCoroFuture>
#include <QFuture>
#include <QPromise>

#include <algorithm>

namespace murel {
namespace {

const Logger kMediaLog("mediaPlayback");
const Logger kNowPlayingLog("nowPlaying");

// Sends `command` to every player at once; returns those that took it and
// logs each one that did not.
QCoro::Task<QStringList> sendToEach(MediaPlayers* players, QStringList targets, bool pause) {
  std::vector<QCoro::Task<std::optional<QString>>> sends;
  sends.reserve(std::size_t(targets.size()));
  for (const QString& player : targets) sends.push_back(pause ? players->pause(player) : players->play(player));
  QStringList took;
  for (std::size_t i = 0; i < sends.size(); ++i) {
    const std::optional<QString> failure = co_await std::move(sends[i]);
    if (failure) {
      kMediaLog.error(*failure);
    } else {
      took.append(targets[qsizetype(i)]);
    }
  }
  co_return took;
}

// Resumes one main-loop turn later.
QCoro::Task<void> nextMainLoopTurn() {
  auto promise = std::make_shared<QPromise<void>>();
  QFuture<void> turn = promise->future();
  promise->start();
  postToMainLoop([promise] { promise->finish(); });
  co_await turn;
}

QCoro::Task<QStringList> pauseForRecording(MediaPlayers* players, CancellationToken token) {
  // The recording's start never waits for the bus: even sending the first
  // call happens after the caller has returned.
  auto turn = nextMainLoopTurn();
  co_await std::move(turn);
  auto query = players->playingPlayers();
  const MediaPlayers::Playing playing = co_await std::move(query);
  for (const QString& failure : playing.failures) kNowPlayingLog.error(failure);
  // Tested once, after the query: a stop that came meanwhile sends nothing.
  if (playing.players.isEmpty() || token.isCancelled()) co_return QStringList();
  auto sending = sendToEach(players, playing.players, true);
  const QStringList paused = co_await std::move(sending);
  if (!paused.isEmpty()) kMediaLog.info(QStringLiteral("Paused media playback for recording"));
  co_return paused;
}

QCoro::Task<void> resumeAfterPause(MediaPlayers* players, QCoro::Task<QStringList> pause) {
  const QStringList paused = co_await std::move(pause);
  if (paused.isEmpty()) co_return;
  auto sending = sendToEach(players, paused, false);
  const QStringList resumed = co_await std::move(sending);
  if (!resumed.isEmpty()) kMediaLog.info(QStringLiteral("Resumed media playback after recording"));
}

QCoro::Task<void> runToEnd(QCoro::Task<QStringList> pause) { co_await std::move(pause); }

}  // namespace

MediaPlaybackController::MediaPlaybackController(MediaPlayers& players) : players_(players) {}

MediaPlaybackController::~MediaPlaybackController() = default;

void MediaPlaybackController::beginPauseForRecording() {
  prune();
  if (pauseTask_) running_.push_back(runToEnd(std::move(pauseTask_->task)));
  CancellationToken token;
  pauseTask_.emplace(PendingPause{token, pauseForRecording(&players_, token)});
}

void MediaPlaybackController::resumeAfterRecording() {
  prune();
  if (!pauseTask_) return;
  PendingPause pending = std::move(*pauseTask_);
  pauseTask_.reset();
  pending.token.cancel();
  running_.push_back(resumeAfterPause(&players_, std::move(pending.task)));
}

int MediaPlaybackController::runningTasks() {
  prune();
  return int(running_.size()) + (pauseTask_ && !pauseTask_->task.isReady() ? 1 : 0);
}

void MediaPlaybackController::prune() {
  running_.erase(std::remove_if(running_.begin(), running_.end(), [](const auto& task) { return task.isReady(); }),
                 running_.end());
}

}  // namespace murel
