#pragma once

#include "runtime/Cancellation.h"
#include "runtime/Clock.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <optional>

namespace murel {

class KeySynthesizer;
class Pasteboard;
namespace x11 {
class Connection;
}

// Reads the text the user has selected in the focused application, for a
// voice edit: the selection the application offers directly, else a
// synthesized copy key watched on the clipboard. Main thread only.
//
// On X11 the direct read is PRIMARY in terminal emulators only: toolkits keep
// owning PRIMARY with the old text after the user deselects, so in ordinary
// windows only the copy key tells what is selected now. A terminal's highlight
// is PRIMARY, and stock xterm has no copy key (Ctrl+Shift+C is a ^C there).
class SelectionReader {
 public:
  // The focused application's selected text as it offers it: nothing when it
  // cannot be asked, an empty text when it has nothing selected.
  using DirectRead = std::function<std::optional<QString>()>;

  // The X11 direct read on `connection` (nothing without one): nothing in
  // ordinary windows; in a terminal emulator its PRIMARY selection, or an empty
  // text when it owns none. The connection must outlive the read.
  static DirectRead primarySelectionOfFocusedTerminal(x11::Connection* connection);

  SelectionReader(DirectRead directRead, Pasteboard& pasteboard, KeySynthesizer& keys,
                  Clock& clock = Clock::continuous());

  // The selected text; nothing when no non-empty selection could be read. Never throws.
  QCoro::Task<std::optional<QString>> readSelection(CancellationToken token = CancellationToken());
  std::optional<QString> readSelectionViaAccessibility();
  // The copy key, then the clipboard is watched for at most 470 ms (sleeps of
  // 10, 20, 40, then 80 ms until 400 ms are reached). The user's clipboard is
  // put back after the read. A change made by another program than the
  // focused one is the user's own copy: it is neither read nor undone.
  QCoro::Task<std::optional<QString>> readSelectionViaCopy(CancellationToken token = CancellationToken());

 private:
  DirectRead directRead_;
  Pasteboard& pasteboard_;
  KeySynthesizer& keys_;
  Clock& clock_;
};

}  // namespace murel
