#pragma once

#include "platform/KeyEventTap.h"
#include "runtime/Async.h"
#include "runtime/Clock.h"

#include <set>

namespace murel::test {

// A key event tap driven by the test, for the hotkey logic that the X server
// cannot exercise (exact timing, keys X11 lacks). It matches on the calling
// thread like the real tap does on its own, and delivers one main-loop turn later.
class FakeKeyEventTap final : public KeyEventTap {
 public:
  explicit FakeKeyEventTap(Clock& eventClock) : clock(eventClock) {}

  bool install(Sink sink) override {
    sink_ = std::move(sink);
    ++installs;
    return installSucceeds;
  }
  std::vector<quint32> setRegistrations(const std::vector<HotKeyMatcher::Entry>& entries, quint64 generation) override {
    generation_ = generation;
    registered = entries;
    matcher_.reset(entries, keyboardModifiers);
    std::vector<quint32> refused;
    for (const auto& e : entries) {
      for (const KeyCombo& held : heldElsewhere) {
        if (held == e.combo) refused.push_back(e.id);
      }
    }
    return refused;
  }
  void setPaused(bool paused) override {
    if (!paused) matcher_.setHeldModifierKeys(keyboardModifiers);
    matcher_.setPaused(paused);
  }

  // Feeds one event; returns whether it would be swallowed.
  bool send(KeyEventKind kind, quint32 code, bool repeat = false) {
    if (kind == KeyEventKind::modifierDown) keyboardModifiers.insert(static_cast<Key>(code));
    if (kind == KeyEventKind::modifierUp) keyboardModifiers.erase(static_cast<Key>(code));
    const KeyEvent event{kind, code, repeat};
    MatchOutcome outcome = matcher_.handle(event);
    const bool handled = outcome.handled;
    if (!outcome.actions.empty()) {
      postToMainLoop([sink = sink_, d = Delivery{event, std::move(outcome), generation_, clock.now()}] {
        if (sink) sink(d);
      });
    }
    return handled;
  }
  bool down(Key key, bool repeat = false) {
    return send(isModifierKey(key) ? KeyEventKind::modifierDown : KeyEventKind::keyDown, keyCode(key), repeat);
  }
  bool up(Key key) { return send(isModifierKey(key) ? KeyEventKind::modifierUp : KeyEventKind::keyUp, keyCode(key)); }

  Clock& clock;  // stamps the events
  bool installSucceeds = true;
  int installs = 0;
  std::vector<HotKeyMatcher::Entry> registered;
  std::vector<KeyCombo> heldElsewhere;  // combinations another program holds
  std::set<Key> keyboardModifiers;      // the modifier keys physically down

 private:
  Sink sink_;
  HotKeyMatcher matcher_;
  quint64 generation_ = 0;
};

}  // namespace murel::test
