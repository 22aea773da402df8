#include "delivery/ClipboardCoordinator.h"

namespace murel {

ClipboardCoordinator::ClipboardCoordinator(Pasteboard& pasteboard, Clock& clock, QObject* parent)
    : QObject(parent), pasteboard_(pasteboard), clock_(clock) {
  connect(&pasteboard_, &Pasteboard::ownDataFetched, this, [this] { lastFetch_ = clock_.now(); });
}

void ClipboardCoordinator::capture() { snapshot_ = pasteboard_.items(); }

void ClipboardCoordinator::write(const QString& text) {
  pasteboard_.writeText(text);
  transcriptChangeCount_ = pasteboard_.changeCount();
}

QCoro::Task<void> ClipboardCoordinator::restore(std::optional<Clock::Duration> pastedAt) {
  if (pastedAt && snapshot_ && transcriptChangeCount_) {
    const Clock::Duration deadline = *pastedAt + kFetchWaitLimit;
    while (!fetchedSince(*pastedAt) && clock_.now() < deadline && pasteboard_.holdsOwnWrite()) {
      CancellationToken fetched;
      const auto connection = connect(&pasteboard_, &Pasteboard::ownDataFetched, this, [fetched] { fetched.cancel(); },
                                      Qt::QueuedConnection);
      co_await clock_.sleep(deadline - clock_.now(), fetched);
      disconnect(connection);
    }
  }
  restoreNow();
}

void ClipboardCoordinator::restoreNow() {
  if (snapshot_ && transcriptChangeCount_ && pasteboard_.changeCount() == *transcriptChangeCount_ &&
      pasteboard_.holdsOwnWrite()) {
    pasteboard_.writeItems(*snapshot_);
  }
  snapshot_.reset();
  transcriptChangeCount_.reset();
}

}  // namespace murel
