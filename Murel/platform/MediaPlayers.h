#pragma once

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <optional>

namespace murel {

// The desktop's media players: which of them are playing, and the pause and
// play commands, each addressed to one player by its unique bus name (a name
// that is never reused, so a command cannot reach a player that took its
// place). Every call is bounded in time and none throws: what went wrong
// comes back as text for the caller's log. Main thread only.
class MediaPlayers {
 public:
  struct Playing {
    QStringList players;   // unique bus names, each once
    QStringList failures;  // one line per step that failed or did not answer
  };

  virtual ~MediaPlayers() = default;

  // The players whose playback status is exactly "Playing".
  virtual QCoro::Task<Playing> playingPlayers() = 0;
  // Nothing when the player took the command, else what went wrong.
  virtual QCoro::Task<std::optional<QString>> pause(QString player) = 0;
  virtual QCoro::Task<std::optional<QString>> play(QString player) = 0;
};

}  // namespace murel
