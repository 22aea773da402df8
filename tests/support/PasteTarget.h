#pragma once

#include <QProcess>
#include <QString>

namespace murel::test {

// Runs the paste-target window (murel_paste_target) on the rig's display: it
// takes the keyboard focus and records the text typed or pasted into it.
class PasteTarget {
 public:
  struct Options {
    QString windowClass;   // "xterm" poses as a terminal
    QString primary;       // owns PRIMARY with this text (when not empty)
    QString copy;          // the copy key puts this text on CLIPBOARD (when not empty)
    int fetchDelayMs = 0;  // asks for the clipboard this long after the paste key
  };

  // Starts the window and waits until it is mapped and focused.
  explicit PasteTarget(const QString& windowClass = {});
  explicit PasteTarget(const Options& options);
  ~PasteTarget();
  PasteTarget(const PasteTarget&) = delete;
  PasteTarget& operator=(const PasteTarget&) = delete;

  bool isReady() const { return windowId_ != 0; }
  unsigned long windowId() const { return windowId_; }
  // Everything received so far.
  QString text() const;
  // Waits until the received text ends with `suffix`.
  bool waitForSuffix(const QString& suffix, int timeoutMs = 5000) const;
  // The key presses received, one "<keysym name> <modifier state>" per line.
  QStringList keys() const;

 private:
  QProcess process_;
  QString outputPath_;
  unsigned long windowId_ = 0;
};

// Runs xdotool with the given arguments and waits for it.
bool xdotool(const QStringList& arguments);

// Moves the pointer to the screen's top-left corner, off the rigs' windows:
// the display tests share one pointer, and a window opened under the spot
// where an earlier test left it would open with a control hovered.
bool parkPointer();

}  // namespace murel::test
