#pragma once

#include "platform/InputFocus.h"

namespace murel {

namespace x11 {
class Connection;
}

// The X input focus through the main thread's own X connection (not Qt's, so
// the requests carry the server's current time rather than Qt's last event
// time, which a focus change stamped earlier would make the server ignore).
class X11InputFocus final : public InputFocus {
 public:
  // `connection` may be null (no X server): then nothing has the focus and
  // nothing can take it.
  explicit X11InputFocus(x11::Connection* connection);

  quint64 focusedWindow() override;
  bool setFocusedWindow(quint64 window) override;
  bool exists(quint64 window) override;

 private:
  x11::Connection* connection_;
};

}  // namespace murel
