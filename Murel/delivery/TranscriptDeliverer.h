#pragma once

#include "runtime/Cancellation.h"
#include "runtime/Clock.h"
#include "runtime/DiagLog.h"
#include "text/SnippetStore.h"
#include "text/TranscriptProcessor.h"
#include "text/Transformation.h"

#include <QCoroTask>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace murel {

class ClipboardCoordinator;
class HistoryStore;
class KeySynthesizer;
class UsageStatsStore;

// Puts a finished text into the focused application: a snippet's expansion or
// the processed transcript goes to the clipboard, into the history and the
// usage statistics (not a snippet's expansion), is pasted 50 ms later with the
// paste key, and the user's earlier clipboard comes back 100 ms after the
// paste when nothing else changed the clipboard. A paste counts only once the
// target has fetched the text; otherwise the text stays on the clipboard and
// the owner is told. Main thread only.
//
// It reaches the stores, the clipboard and the keyboard only through the
// functions it is given.
class TranscriptDeliverer {
 public:
  static constexpr std::chrono::milliseconds kPasteDelay{50};
  static constexpr std::chrono::milliseconds kRestoreDelay{100};

  struct Functions {
    std::function<QList<SnippetEntry>()> snippetEntries;
    std::function<void(const QString& text)> addToHistory;
    std::function<void(const QString& text, double recordingSeconds)> recordUsage;
    std::function<void()> captureClipboard;
    std::function<void(const QString& text)> writeClipboard;
    // Puts the captured clipboard back when unchanged. `pastedAt` (on the
    // deliverer's clock) is when the paste key went out, if it did.
    std::function<QCoro::Task<void>(std::optional<Clock::Duration> pastedAt)> restorePreviousClipboard;
    // Sends the paste key; true when it was posted.
    std::function<QCoro::Task<bool>()> paste;
    // A fresh check whether keys may be synthesized (for the diagnostics line).
    std::function<bool()> isTrusted;
    // After the paste key: waits for the target to fetch the text (bounded);
    // true when it did. Without it a posted key counts as a paste.
    std::function<QCoro::Task<bool>(Clock::Duration pastedAt)> awaitFetch;
  };

  // The functions the application wires in: the shared stores, `coordinator`
  // and `keys`.
  static Functions standardFunctions(ClipboardCoordinator& coordinator, KeySynthesizer& keys, SnippetStore& snippets,
                                     HistoryStore& history, UsageStatsStore& usage);

  TranscriptDeliverer(TranscriptProcessor processor, Functions functions, Clock& clock = Clock::continuous(),
                      DiagLog& diagLog = DiagLog::shared());

  // Called when a paste was impossible; set by the dictation session.
  std::function<void()> onPasteUnavailable;

  // Delivers a dictation. Returns the delivered text, nothing when it was empty.
  // Throws what the processor throws (before anything is written) and
  // OperationCancelled when `token` is cancelled.
  QCoro::Task<std::optional<QString>> deliver(QString raw, Transformation transformation, bool autoPaste,
                                              bool restoreClipboard, double recordingSeconds,
                                              CancellationToken token = CancellationToken());
  // Delivers the final text of a voice edit over the still-selected text: no
  // snippets, processing or usage statistics.
  QCoro::Task<std::optional<QString>> deliverEditedText(QString text, bool autoPaste, bool restoreClipboard,
                                                        CancellationToken token = CancellationToken());

  // The paste key through `keys`; false without posting when not trusted.
  static QCoro::Task<bool> pasteViaCommandV(KeySynthesizer& keys);
  // The focused application's paste key: Shift+Insert with the text lent to
  // the primary selection in terminal emulators, the paste key elsewhere.
  static QCoro::Task<bool> pasteIntoFocus(KeySynthesizer& keys, ClipboardCoordinator& coordinator);

 private:
  QCoro::Task<void> pasteAfterWrite(bool restoreClipboard, CancellationToken token);

  TranscriptProcessor processor_;
  Functions fn_;
  Clock& clock_;
  DiagLog& diagLog_;
};

}  // namespace murel
