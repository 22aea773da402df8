#include "delivery/SelectionReader.h"

#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "platform/x11/X11Connection.h"
#include "runtime/SystemLog.h"
#include "text/UsageStatsStore.h"

#include <QClipboard>
#include <QGuiApplication>

#include <algorithm>

namespace murel {
namespace {

const Logger kLog("selectionReader");

constexpr std::chrono::milliseconds kPrimaryReadBudget{200};
constexpr x11::XAtom kPrimary = 1;  // XA_PRIMARY

}  // namespace

SelectionReader::DirectRead SelectionReader::primarySelectionOfFocusedTerminal(x11::Connection* connection) {
  return [connection]() -> std::optional<QString> {
    if (!connection) return std::nullopt;
    const x11::XWindow focus = connection->focusedClientWindow();
    if (!isTerminalEmulator(connection->wmClass(focus))) return std::nullopt;
    const x11::XWindow owner = connection->selectionOwner(kPrimary);
    // Toolkits own the selection with a hidden window of their own: the
    // program that owns it is compared, not the window.
    if (!owner || !connection->sameClient(owner, focus)) return QString();
    if (connection->isOwnWindow(owner)) {
      if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        return app->clipboard()->text(QClipboard::Selection);
      }
      return QString();
    }
    return connection->text(kPrimary, std::chrono::steady_clock::now() + kPrimaryReadBudget).value_or(QString());
  };
}

SelectionReader::SelectionReader(DirectRead directRead, Pasteboard& pasteboard, KeySynthesizer& keys, Clock& clock)
    : directRead_(std::move(directRead)), pasteboard_(pasteboard), keys_(keys), clock_(clock) {}

std::optional<QString> SelectionReader::readSelectionViaAccessibility() {
  return directRead_ ? directRead_() : std::nullopt;
}

QCoro::Task<std::optional<QString>> SelectionReader::readSelection(CancellationToken token) {
  const std::optional<QString> direct = readSelectionViaAccessibility();
  if (direct) {
    if (!direct->isEmpty()) {
      kLog.info(QStringLiteral("Selection read via PRIMARY (%1 chars)").arg(UsageStatsStore::characterCount(*direct)));
      co_return direct;
    }
    // The application answered and has nothing selected; a copy key would
    // make many editors copy the whole line instead, and interrupt in a terminal.
    kLog.info(QStringLiteral("No selection: the focused window's selection is empty"));
    co_return std::nullopt;
  }
  co_return co_await readSelectionViaCopy(token);
}

QCoro::Task<std::optional<QString>> SelectionReader::readSelectionViaCopy(CancellationToken token) {
  if (!keys_.isTrusted()) co_return std::nullopt;
  const QList<Pasteboard::Item> userClipboard = pasteboard_.items();
  const qint64 noted = pasteboard_.changeCount();
  if (!keys_.postKeyWithCommand(Key::c)) co_return std::nullopt;
  std::chrono::milliseconds waited{0};
  std::chrono::milliseconds interval{10};
  while (pasteboard_.changeCount() == noted && waited < std::chrono::milliseconds(400)) {
    // A cancelled sleep ends at once; the loop then runs out without waiting.
    co_await clock_.sleep(interval, token);
    waited += interval;
    interval = std::min(interval * 2, std::chrono::milliseconds(80));
  }
  const qint64 afterCopy = pasteboard_.changeCount();
  if (afterCopy == noted) {
    kLog.info(QStringLiteral("No selection: Ctrl+C left the clipboard unchanged"));
    co_return std::nullopt;
  }
  if (!pasteboard_.ownerIsFocusedProgram()) {
    kLog.info(QStringLiteral("No selection: the clipboard was changed by another program, left as it is"));
    co_return std::nullopt;
  }
  const std::optional<QString> text = pasteboard_.text();
  kLog.info(
      QStringLiteral("Selection read via Ctrl+C (%1 chars)").arg(text ? UsageStatsStore::characterCount(*text) : 0));
  // The copy was ours, not the user's: their clipboard goes back, unless
  // something changed it again meanwhile.
  if (pasteboard_.changeCount() == afterCopy) pasteboard_.writeItems(userClipboard);
  if (text && !text->isEmpty()) co_return text;
  co_return std::nullopt;
}

}  // namespace murel
