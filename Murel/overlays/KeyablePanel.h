#pragma once

#include "overlays/FloatingPanel.h"

namespace murel {

class InputFocus;

// A floating panel that may take the keyboard: still frameless, stay-on-top
// and outside the window manager's reach, but once mapped it takes the X input
// focus, remembering the window that had it. Ordered out, it gives the focus
// back to that window when the panel still holds it and the window still
// exists, so the next paste lands where the user was typing. There is no
// keyboard grab: the user may click into another application meanwhile.
class KeyablePanel : public FloatingPanel {
  Q_OBJECT

 public:
  KeyablePanel(InputFocus& focus, qreal cornerRadius, QWidget* parent = nullptr);
  ~KeyablePanel() override;

  // Remembers the focused window, maps the panel on top and takes the focus
  // as soon as the server shows it.
  void makeKeyAndOrderFront();
  // Gives the focus back (see above) and unmaps the panel.
  void orderOutGivingFocusBack();

  // The window that had the focus when the panel was ordered front.
  quint64 previousFocus() const { return previousFocus_; }
  // Whether the panel has taken the focus since it was ordered front.
  bool tookFocus() const { return tookFocus_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void takeFocus();

  InputFocus& focus_;
  quint64 previousFocus_ = 0;
  bool wantsFocus_ = false;
  bool tookFocus_ = false;
};

}  // namespace murel
