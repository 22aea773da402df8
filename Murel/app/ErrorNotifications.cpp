#include "app/ErrorNotifications.h"

#include "app/AppState.h"
#include "platform/DesktopNotifier.h"

#include <QCoroTask>

namespace murel {
namespace {

const QString kRetry = QStringLiteral("retry");
const QString kDismiss = QStringLiteral("dismiss");

}  // namespace

ErrorNotifications::ErrorNotifications(AppState& state, DesktopNotifier& notifier, std::function<bool()> isTrayShown,
                                       QObject* parent)
    : QObject(parent), state_(state), notifier_(notifier), isTrayShown_(std::move(isTrayShown)) {
  connect(&state_, &AppState::statusChanged, this, &ErrorNotifications::refresh);
  connect(&state_, &AppState::lastErrorChanged, this, &ErrorNotifications::refresh);
  connect(&notifier_, &DesktopNotifier::actionInvoked, this, &ErrorNotifications::handleAction);
  connect(&state_, &AppState::pressRefused, this, &ErrorNotifications::noticeRefusedPress);
}

std::optional<QString> ErrorNotifications::shownError(const AppState& state) {
  if (state.status().is(AppStatus::Kind::error)) return state.status().message();
  return state.lastError();
}

void ErrorNotifications::refresh() {
  const std::optional<QString> error = shownError(state_);
  if (!error) {
    if (noticed_) notifier_.withdraw();
    noticed_.reset();
    return;
  }
  if (error == noticed_) return;
  if (isTrayShown_ && isTrayShown_()) {
    // The card shows it; a notice left from before would only repeat an old error.
    if (noticed_) notifier_.withdraw();
    noticed_.reset();
    return;
  }
  show(*error);
}

void ErrorNotifications::noticeRefusedPress(const QString& error) {
  // Also beside a tray: the card waits in a closed panel while the user, who
  // just pressed the hotkey, looks at another window.
  if (noticed_ == error) return;
  show(error);
}

void ErrorNotifications::show(const QString& error) {
  noticed_ = error;
  //% "ERROR"
  //: Heading above the error message in the menu bar.
  const QString title = qtTrId("menubar.error.title");
  //% "RETRY"
  //: Button to retry after an error in the menu bar.
  const QString retry = qtTrId("menubar.error.retry");
  //% "DISMISS"
  //: Button to dismiss the error message in the menu bar.
  const QString dismiss = qtTrId("menubar.error.dismiss");
  notifier_.show({title, error, {{kRetry, retry}, {kDismiss, dismiss}}});
}

void ErrorNotifications::handleAction(const QString& key) {
  // The notice goes through refresh once the error state is cleared, so an
  // error that is cleared in steps is never noticed twice.
  if (key == kRetry) {
    // Runs on by itself; the state lives as long as this object's owner.
    QCoro::connect(state_.retryAfterError(), this, [] {});
  } else if (key == kDismiss) {
    state_.dismissError();
  }
}

}  // namespace murel
