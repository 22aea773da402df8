#pragma once

#include "app/AppState.h"
#include "overlays/KeyablePanel.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QKeyEvent;

namespace murel {

class InputFocus;
class ModeSwitcherModel;

// The keyboard-driven mode switcher that the change-mode hotkey opens and
// closes: a card of the modes, centred on the screen in a panel that takes the
// keyboard, the list's model, and the caller's commit closure, all present
// exactly while it is open. While open, one application-wide event filter takes
// Return, keypad Enter, Escape and the four arrows (by Qt key, whatever the
// modifiers) so that no other handler sees them; other keys pass on. Return or
// Enter commits the highlighted mode, a click the clicked one; Escape or the
// hotkey again closes without a commit. The commit closure runs at most once
// per opening, with the panel still on screen. Main thread only.
class ModeSwitcherHudController final : public QObject, public ModeSwitching {
  Q_OBJECT

 public:
  static constexpr int kWidth = 280;

  explicit ModeSwitcherHudController(InputFocus& focus, QObject* parent = nullptr);
  ~ModeSwitcherHudController() override;

  // Closes an open switcher (ignoring the arguments, committing nothing);
  // otherwise opens it on `modes` with `activeID` ticked. An empty list opens nothing.
  void toggle(const QList<Mode>& modes, const QUuid& activeID, std::function<void(const Mode&)> onCommit) override;
  // Builds the card for `model` and puts it, centred and keyed, on screen.
  void present(std::shared_ptr<ModeSwitcherModel> model);
  // One key press while open: true when it was consumed.
  bool handleKey(const QKeyEvent& event);
  // Closes without committing; safe when nothing is open.
  void close();

  KeyablePanel* panel() const { return panel_; }
  ModeSwitcherModel* model() const { return model_.get(); }
  bool hasCommitClosure() const { return static_cast<bool>(onCommit_); }
  bool isKeyMonitorInstalled() const { return keyMonitor_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void installKeyMonitor();
  void commit(const Mode& mode);
  static bool isSwitcherKey(int key);

  InputFocus& focus_;
  QPointer<KeyablePanel> panel_;
  bool keyMonitor_ = false;
  std::shared_ptr<ModeSwitcherModel> model_;
  std::function<void(const Mode&)> onCommit_;
};

}  // namespace murel
