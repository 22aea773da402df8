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
  lastWrite_ = text;
}

void ClipboardCoordinator::lendPrimary() {
  if (!primarySnapshot_) primarySnapshot_ = pasteboard_.primaryItems();
  pasteboard_.writePrimaryText(lastWrite_);
}

bool ClipboardCoordinator::servesOwnData() {
  return pasteboard_.holdsOwnWrite() || (primarySnapshot_ && pasteboard_.holdsOwnPrimaryWrite());
}

QCoro::Task<void> ClipboardCoordinator::waitForFetch(Clock::Duration pastedAt) {
  const Clock::Duration deadline = pastedAt + kFetchWaitLimit;
  // Once neither selection serves our data, nobody can fetch it any more.
  while (!fetchedSince(pastedAt) && clock_.now() < deadline && servesOwnData()) {
    CancellationToken fetched;
    const auto connection = connect(
        &pasteboard_, &Pasteboard::ownDataFetched, this, [fetched] { fetched.cancel(); }, Qt::QueuedConnection);
    co_await clock_.sleep(deadline - clock_.now(), fetched);
    disconnect(connection);
  }
}

QCoro::Task<bool> ClipboardCoordinator::awaitFetch(Clock::Duration pastedAt) {
  auto wait = waitForFetch(pastedAt);
  co_await std::move(wait);
  givePrimaryBack();
  co_return fetchedSince(pastedAt);
}

void ClipboardCoordinator::givePrimaryBack() {
  if (primarySnapshot_ && pasteboard_.holdsOwnPrimaryWrite()) pasteboard_.writePrimaryItems(*primarySnapshot_);
  primarySnapshot_.reset();
}

QCoro::Task<void> ClipboardCoordinator::restore(std::optional<Clock::Duration> pastedAt) {
  if (pastedAt && snapshot_ && transcriptChangeCount_) {
    auto wait = waitForFetch(*pastedAt);
    co_await std::move(wait);
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
