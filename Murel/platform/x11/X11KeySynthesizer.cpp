#include "platform/x11/X11KeySynthesizer.h"

#include "platform/x11/SyntheticKeys.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Keycodes.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <vector>

namespace murel {
namespace {

void send(Display* display, int keycode, bool press, bool announce = true) {
  if (announce) x11::announceSyntheticKeyEvent(keycode, press);
  XTestFakeKeyEvent(display, static_cast<unsigned>(keycode), press ? True : False, CurrentTime);
}

// The modifier keys that are down now (lock keys aside: their state is not a held key).
std::vector<int> heldModifierKeycodes(Display* display) {
  std::vector<int> held;
  char keys[32] = {};
  XQueryKeymap(display, keys);
  XModifierKeymap* map = XGetModifierMapping(display);
  if (!map) return held;
  for (int i = 0; i < 8 * map->max_keypermod; ++i) {
    const KeyCode code = map->modifiermap[i];
    if (!code || !((keys[code / 8] >> (code % 8)) & 1)) continue;
    const KeySym sym = XkbKeycodeToKeysym(display, code, 0, 0);
    if (sym == XK_Caps_Lock || sym == XK_Shift_Lock || sym == XK_Num_Lock || sym == XK_Scroll_Lock) continue;
    bool seen = false;
    for (int h : held) seen = seen || h == code;
    if (!seen) held.push_back(code);
  }
  XFreeModifiermap(map);
  return held;
}

}  // namespace

bool isTerminalEmulator(const QList<QByteArray>& wmClass) {
  static const QList<QByteArray> terminals{"xterm",
                                           "uxterm",
                                           "urxvt",
                                           "rxvt",
                                           "gnome-terminal",
                                           "gnome-terminal-server",
                                           "konsole",
                                           "xfce4-terminal",
                                           "mate-terminal",
                                           "lxterminal",
                                           "qterminal",
                                           "tilix",
                                           "terminator",
                                           "alacritty",
                                           "kitty",
                                           "wezterm",
                                           "org.wezfurlong.wezterm",
                                           "st",
                                           "st-256color",
                                           "terminology",
                                           "sakura",
                                           "guake",
                                           "tilda",
                                           "termite",
                                           "foot",
                                           "eterm",
                                           "aterm",
                                           "roxterm",
                                           "cool-retro-term",
                                           "deepin-terminal",
                                           "io.elementary.terminal",
                                           "kgx",
                                           "org.gnome.console",
                                           "yakuake",
                                           "terminal",
                                           "x-terminal-emulator",
                                           "ptyxis",
                                           "org.gnome.ptyxis",
                                           "contour",
                                           "hyper",
                                           "tabby",
                                           "lxterm",
                                           "xiterm",
                                           "kterm",
                                           "mlterm"};
  for (const QByteArray& name : wmClass) {
    if (terminals.contains(name.toLower())) return true;
  }
  return false;
}

X11KeySynthesizer::X11KeySynthesizer(x11::Connection* connection) : connection_(connection) {}

bool X11KeySynthesizer::isTrusted() {
  return connection_ && connection_->isOpen() && connection_->hasXTest() && connection_->hasXInput22();
}

bool X11KeySynthesizer::postKeyWithCommand(Key key) {
  if (!connection_ || !connection_->isOpen() || !connection_->hasXTest()) return false;
  Display* display = connection_->display();
  // Applications match shortcuts by the letter, so the key is looked up in the
  // current layout; a layout without the letter gets the key at its place.
  KeySym letter = NoSymbol;
  if (key == Key::v) letter = XK_v;
  if (key == Key::c) letter = XK_c;
  int keycode = letter != NoSymbol ? XKeysymToKeycode(display, letter) : 0;
  if (!keycode) {
    const std::vector<int> placed = x11::xKeycodes(keyCode(key));
    if (placed.empty()) return false;
    keycode = placed.front();
  }
  const int control = XKeysymToKeycode(display, XK_Control_L);
  const int shift = XKeysymToKeycode(display, XK_Shift_L);
  const bool terminal = isTerminalFocused();
  if (!control || (terminal && !shift)) return false;
  return terminal ? postChord({control, shift}, keycode) : postChord({control}, keycode);
}

bool X11KeySynthesizer::isTerminalFocused() {
  if (!connection_ || !connection_->isOpen()) return false;
  return isTerminalEmulator(connection_->wmClass(connection_->focusedClientWindow()));
}

bool X11KeySynthesizer::postShiftInsert() {
  if (!connection_ || !connection_->isOpen() || !connection_->hasXTest()) return false;
  Display* display = connection_->display();
  const int shift = XKeysymToKeycode(display, XK_Shift_L);
  const int insert = XKeysymToKeycode(display, XK_Insert);
  if (!shift || !insert) return false;
  return postChord({shift}, insert);
}

bool X11KeySynthesizer::postChord(const std::vector<int>& modifiers, int keycode) {
  Display* display = connection_->display();
  const std::vector<int> held = heldModifierKeycodes(display);
  for (int code : held) send(display, code, false);
  // A key this synthesizer pressed again for the user, and the user then let
  // go of, stays down on the XTEST device; a press there would count as a
  // repeat and be dropped. A release first clears it (the desktop sees nothing).
  for (int code : modifiers) send(display, code, false, false);
  for (int code : modifiers) send(display, code, true);
  send(display, keycode, true);
  send(display, keycode, false);
  for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) send(display, *it, false);
  for (int code : held) send(display, code, true);
  XSync(display, False);
  return true;
}

}  // namespace murel
