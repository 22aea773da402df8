#pragma once

#include <QWidget>

namespace murel {

// A floating panel: a frameless, stay-on-top tool window that the window
// manager never sees (override-redirect on X11), so it neither takes the
// keyboard focus nor activates the application, and sits on every desktop.
// Its corners are rounded with `cornerRadius`: drawn with alpha when a
// compositing manager runs, cut by a shape mask when none does. The native
// window is made once and reused for every showing.
class FloatingPanel : public QWidget {
  Q_OBJECT

 public:
  explicit FloatingPanel(qreal cornerRadius, QWidget* parent = nullptr);

  // Puts `view` in the panel in place of the previous one (which is deleted)
  // and sizes the panel to the view's size hint.
  void setContentView(QWidget* view);
  QWidget* contentView() const { return content_; }

  // Moves the panel so that its centre lands on the centre of the primary
  // screen's available area; leaves it where it is when there is no screen.
  void centreOnPrimaryScreen();
  // Maps the panel on top of every other window without activating anything.
  void orderFrontRegardless();
  // Unmaps the panel; it stays ready for the next showing.
  void orderOut();

  // True when the panel draws with an alpha channel (a compositing manager
  // ran when it was made); otherwise its corners are a shape mask.
  bool drawsWithAlpha() const { return alpha_; }
  // Whether a compositing manager owns the X screen's `_NET_WM_CM_S<n>` selection.
  static bool compositorRunning();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void updateShape();

  qreal cornerRadius_;
  bool alpha_ = false;
  QWidget* content_ = nullptr;
};

}  // namespace murel
