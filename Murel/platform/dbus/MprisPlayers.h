#pragma once

#include "platform/MediaPlayers.h"
#include "runtime/Clock.h"

#include <chrono>
#include <memory>

namespace murel {

// Media players over MPRIS: every `org.mpris.MediaPlayer2.*` name on the bus,
// its `PlaybackStatus`, and `Player.Pause` / `Player.Play`. Calls never block:
// each is sent asynchronously and given up after `kCallBound` on the clock, so
// a player that hangs costs one bound and leaves nothing waiting behind it.
// Main thread only; it must outlive the tasks it hands out.
class MprisPlayers final : public MediaPlayers {
 public:
  static constexpr Clock::Duration kCallBound = std::chrono::seconds(1);

  // On the session bus.
  explicit MprisPlayers(Clock& clock);
  // On the bus at `address` (a bus that is not there makes every query fail).
  MprisPlayers(Clock& clock, const QString& address);
  ~MprisPlayers() override;
  MprisPlayers(const MprisPlayers&) = delete;
  MprisPlayers& operator=(const MprisPlayers&) = delete;

  QCoro::Task<Playing> playingPlayers() override;
  QCoro::Task<std::optional<QString>> pause(QString player) override;
  QCoro::Task<std::optional<QString>> play(QString player) override;

  // Calls sent and neither answered nor given up yet.
  int pendingCalls() const;

 private:
  struct Private;
  QCoro::Task<std::optional<QString>> command(QString player, QString method);
  std::unique_ptr<Private> d_;
};

}  // namespace murel
