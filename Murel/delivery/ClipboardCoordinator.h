#pragma once

#include "platform/Pasteboard.h"
#include "runtime/Clock.h"

#include <QCoroTask>
#include <QObject>

#include <chrono>
#include <optional>

namespace murel {

// The clipboard side of a delivery: a snapshot of the user's clipboard before
// our write, the write, and putting the snapshot back when nothing else has
// changed the clipboard since. Main thread only.
class ClipboardCoordinator : public QObject {
  Q_OBJECT

 public:
  // After a paste the target fetches our text from us, sometimes late: the
  // snapshot goes back only once it has, or this long after the paste at most.
  static constexpr std::chrono::milliseconds kFetchWaitLimit{1100};

  ClipboardCoordinator(Pasteboard& pasteboard, Clock& clock, QObject* parent = nullptr);

  // Replaces the snapshot with every readable format of the clipboard.
  void capture();
  // Puts `text` on the clipboard and notes the change count right after.
  void write(const QString& text);
  // Puts the snapshot back if the clipboard still holds our write, unchanged;
  // forgets the snapshot and the noted count in every case. With `pastedAt`
  // (on the clock), first waits until the paste target has fetched our text,
  // or until kFetchWaitLimit after the paste.
  QCoro::Task<void> restore(std::optional<Clock::Duration> pastedAt = std::nullopt);

  // Terminals paste the primary selection with Shift+Insert: lends it the text
  // of our last write, keeping what it held to give back.
  void lendPrimary();
  // Waits until the paste target has fetched our data since `pastedAt`, at
  // most until kFetchWaitLimit after it, then gives a lent primary selection
  // back. True when the target fetched: only then did the paste happen.
  QCoro::Task<bool> awaitFetch(Clock::Duration pastedAt);
  // Puts back what the primary selection held before lendPrimary(), if it
  // still holds our text.
  void givePrimaryBack();

  bool hasSnapshot() const { return snapshot_.has_value(); }
  Pasteboard& pasteboard() { return pasteboard_; }

 private:
  bool fetchedSince(Clock::Duration when) const { return lastFetch_ && *lastFetch_ >= when; }
  void restoreNow();
  bool servesOwnData();
  // Until the target fetched our data since `pastedAt`, kFetchWaitLimit at most.
  QCoro::Task<void> waitForFetch(Clock::Duration pastedAt);

  Pasteboard& pasteboard_;
  Clock& clock_;
  std::optional<QList<Pasteboard::Item>> snapshot_;
  std::optional<qint64> transcriptChangeCount_;
  std::optional<Clock::Duration> lastFetch_;
  QString lastWrite_;
  std::optional<QList<Pasteboard::Item>> primarySnapshot_;
};

}  // namespace murel
