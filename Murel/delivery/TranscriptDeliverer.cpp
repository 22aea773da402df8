#include "delivery/TranscriptDeliverer.h"

#include "delivery/ClipboardCoordinator.h"
#include "platform/KeySynthesizer.h"
#include "runtime/DiagLog.h"
#include "runtime/SystemLog.h"
#include "text/HistoryStore.h"
#include "text/SnippetMatcher.h"
#include "text/UsageStatsStore.h"

#include <QDateTime>

namespace murel {
namespace {

const Logger kLog("deliverer");

}  // namespace

TranscriptDeliverer::Functions TranscriptDeliverer::standardFunctions(ClipboardCoordinator& coordinator,
                                                                      KeySynthesizer& keys, SnippetStore& snippets,
                                                                      HistoryStore& history, UsageStatsStore& usage) {
  Functions f;
  f.snippetEntries = [&snippets] { return snippets.entries(); };
  f.addToHistory = [&history](const QString& text) { history.add(text); };
  f.recordUsage = [&usage](const QString& text, double seconds) {
    usage.record(text, QDateTime::currentDateTime(), seconds);
  };
  f.captureClipboard = [&coordinator] { coordinator.capture(); };
  f.writeClipboard = [&coordinator](const QString& text) { coordinator.write(text); };
  f.restorePreviousClipboard = [&coordinator](std::optional<Clock::Duration> pastedAt) {
    return coordinator.restore(pastedAt);
  };
  f.paste = [&keys, &coordinator] { return pasteIntoFocus(keys, coordinator); };
  f.awaitFetch = [&coordinator](Clock::Duration pastedAt) { return coordinator.awaitFetch(pastedAt); };
  f.isTrusted = [&keys] { return keys.isTrusted(); };
  return f;
}

TranscriptDeliverer::TranscriptDeliverer(TranscriptProcessor processor, Functions functions, Clock& clock,
                                         DiagLog& diagLog)
    : processor_(std::move(processor)), fn_(std::move(functions)), clock_(clock), diagLog_(diagLog) {}

QCoro::Task<std::optional<QString>> TranscriptDeliverer::deliver(QString raw, Transformation transformation,
                                                                 bool autoPaste, bool restoreClipboard,
                                                                 double recordingSeconds, CancellationToken token) {
  const QList<SnippetEntry> snippets = fn_.snippetEntries ? fn_.snippetEntries() : QList<SnippetEntry>{};
  const std::optional<QString> expansion = SnippetMatcher::matchSnippet(raw, snippets);
  QString text;
  if (expansion) {
    kLog.info(QStringLiteral("Snippet triggered, delivering expansion verbatim"));
    text = *expansion;
  } else {
    text = co_await processor_.process(raw, transformation, token);
    // Dictated text stays out of the system log.
    kLog.info(QStringLiteral("Processed text: \"<private>\""));
  }
  if (text.isEmpty()) {
    kLog.info(QStringLiteral("Empty transcription, nothing copied"));
    co_return std::nullopt;
  }
  if (token.isCancelled()) throw OperationCancelled();
  if (autoPaste && restoreClipboard && fn_.captureClipboard) fn_.captureClipboard();
  if (fn_.writeClipboard) fn_.writeClipboard(text);
  if (!expansion) {
    if (fn_.addToHistory) fn_.addToHistory(text);
    if (fn_.recordUsage) fn_.recordUsage(text, recordingSeconds);
  }
  kLog.info(QStringLiteral("Copied to clipboard"));
  if (autoPaste) co_await pasteAfterWrite(restoreClipboard, token);
  co_return text;
}

QCoro::Task<std::optional<QString>> TranscriptDeliverer::deliverEditedText(QString text, bool autoPaste,
                                                                           bool restoreClipboard,
                                                                           CancellationToken token) {
  if (text.isEmpty()) co_return std::nullopt;
  if (token.isCancelled()) throw OperationCancelled();
  if (autoPaste && restoreClipboard && fn_.captureClipboard) fn_.captureClipboard();
  if (fn_.writeClipboard) fn_.writeClipboard(text);
  if (fn_.addToHistory) fn_.addToHistory(text);
  if (autoPaste) co_await pasteAfterWrite(restoreClipboard, token);
  co_return text;
}

QCoro::Task<void> TranscriptDeliverer::pasteAfterWrite(bool restoreClipboard, CancellationToken token) {
  const bool waited = co_await clock_.sleep(kPasteDelay, token);
  if (!waited || token.isCancelled()) {
    // Nothing was pasted: the user's clipboard goes back at once.
    if (restoreClipboard && fn_.restorePreviousClipboard) co_await fn_.restorePreviousClipboard(std::nullopt);
    throw OperationCancelled();
  }
  const Clock::Duration pastedAt = clock_.now();
  bool pasted = false;
  if (fn_.paste) pasted = co_await fn_.paste();
  bool fetched = pasted;
  if (pasted && fn_.awaitFetch) fetched = co_await fn_.awaitFetch(pastedAt);
  if (fetched) {
    if (restoreClipboard) {
      // A cancellation only cuts this wait short: the restore still follows.
      const Clock::Duration restoreAt = pastedAt + kRestoreDelay;
      if (clock_.now() < restoreAt) co_await clock_.sleep(restoreAt - clock_.now(), token);
      if (fn_.restorePreviousClipboard) co_await fn_.restorePreviousClipboard(pastedAt);
    }
    if (token.isCancelled()) throw OperationCancelled();
    kLog.info(QStringLiteral("Auto-pasted"));
    diagLog_.log(QStringLiteral("deliver"), QStringLiteral("pasted"));
  } else if (pasted) {
    // The key went out but nothing asked for the text: it stays on the
    // clipboard for the user to paste, and the earlier contents are not put back.
    if (token.isCancelled()) throw OperationCancelled();
    kLog.error(QStringLiteral("Paste key sent but the text was not fetched; transcript left on clipboard"));
    diagLog_.log(QStringLiteral("deliver"), QStringLiteral("paste not fetched"));
    if (onPasteUnavailable) onPasteUnavailable();
  } else {
    if (token.isCancelled()) throw OperationCancelled();
    kLog.error(QStringLiteral("Auto-paste unavailable; transcript left on clipboard"));
    const bool trusted = fn_.isTrusted && fn_.isTrusted();
    diagLog_.log(QStringLiteral("deliver"), QStringLiteral("paste unavailable"),
                 QStringLiteral("accessibility=") + (trusted ? QStringLiteral("true") : QStringLiteral("false")));
    if (onPasteUnavailable) onPasteUnavailable();
  }
}

QCoro::Task<bool> TranscriptDeliverer::pasteViaCommandV(KeySynthesizer& keys) {
  if (!keys.isTrusted()) co_return false;
  co_return keys.postKeyWithCommand(Key::v);
}

QCoro::Task<bool> TranscriptDeliverer::pasteIntoFocus(KeySynthesizer& keys, ClipboardCoordinator& coordinator) {
  if (!keys.isTrusted()) co_return false;
  if (!keys.isTerminalFocused()) co_return keys.postKeyWithCommand(Key::v);
  coordinator.lendPrimary();
  const bool posted = keys.postShiftInsert();
  if (!posted) coordinator.givePrimaryBack();
  co_return posted;
}

}  // namespace murel
