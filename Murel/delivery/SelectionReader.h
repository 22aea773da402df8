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

// Reads the text the user has selected in the focused application, for a
// voice edit: the selection the application offers directly, else a
// synthesized copy key watched on the clipboard. Main thread only.
class SelectionReader {
 public:
  // The focused application's selected text as it offers it: nothing when it
  // cannot be asked, an empty text when it has nothing selected.
  using DirectRead = std::function<std::optional<QString>()>;

  // The X11 direct read: the PRIMARY selection, when its owner is the program
  // of the focused window.
  static DirectRead primarySelectionOfFocusedClient();

  SelectionReader(DirectRead directRead, Pasteboard& pasteboard, KeySynthesizer& keys,
                  Clock& clock = Clock::continuous());

  // The selected text; nothing when no non-empty selection could be read. Never throws.
  QCoro::Task<std::optional<QString>> readSelection(CancellationToken token = CancellationToken());
  std::optional<QString> readSelectionViaAccessibility();
  // The copy key, then the clipboard is watched for at most 470 ms (sleeps of
  // 10, 20, 40, then 80 ms until 400 ms are reached). The user's clipboard is
  // put back after the read.
  QCoro::Task<std::optional<QString>> readSelectionViaCopy(CancellationToken token = CancellationToken());

 private:
  DirectRead directRead_;
  Pasteboard& pasteboard_;
  KeySynthesizer& keys_;
  Clock& clock_;
};

}  // namespace murel
