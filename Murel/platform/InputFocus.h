#pragma once

#include <QtGlobal>

namespace murel {

// The desktop's keyboard focus, by native window id: what a panel that takes
// the keyboard for a moment needs in order to hand it back. Main thread only.
class InputFocus {
 public:
  // What holds the focus when no window does, kept so that it can be restored.
  static constexpr quint64 kNoWindow = 0;
  static constexpr quint64 kPointerRoot = 1;

  virtual ~InputFocus() = default;

  // The window that has the keyboard focus now, exactly as the server says.
  virtual quint64 focusedWindow() = 0;
  // Gives the keyboard focus to `window` (or kNoWindow, kPointerRoot); false
  // when the window cannot take it (gone or not mapped).
  virtual bool setFocusedWindow(quint64 window) = 0;
  // Whether `window` still exists (kNoWindow and kPointerRoot always do).
  virtual bool exists(quint64 window) = 0;
};

}  // namespace murel
