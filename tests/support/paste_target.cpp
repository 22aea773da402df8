// A small X11 window that takes the keyboard focus and records the text it
// receives, for tests that check what reaches the focused application.
//
//   murel_paste_target <output-file> [--class <name>] [--primary <text>]
//                      [--copy <text>] [--fetch-delay <ms>]
//
// Once the window is mapped and focused it prints its window id (decimal) and a
// line feed on stdout. Every character typed into it (XLookupString; Return
// gives a line feed) is appended to <output-file> at once, and every key press
// is noted in <output-file>.keys as "<keysym name> <modifier state>".
// The paste key appends the CLIPBOARD text (UTF8_STRING): Ctrl+V or
// Ctrl+Shift+V, with no other modifier; a window posing as a terminal
// (--class xterm) behaves like stock xterm: Shift+Insert pastes PRIMARY and
// neither Ctrl+V nor Ctrl+Shift+V pastes anything, Ctrl+V there is a control
// character that adds nothing. --fetch-delay asks for the clipboard that many
// milliseconds after the paste key, like a slow application.
// --primary makes the program own PRIMARY with <text> through a hidden window
// of its own, as toolkits do; --copy makes the copy key (Ctrl+C, in a terminal
// Ctrl+Shift+C) put <text> on CLIPBOARD. Other Control combinations add nothing.
// --class sets WM_CLASS (name and class); the default is "murel-paste-target".
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

int gOut = -1;
int gKeys = -1;

void append(int fd, const char* text, size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}

using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s <output-file> [--class <name>] [--primary <text>] [--copy <text>] [--fetch-delay <ms>]\n",
                 argv[0]);
    return 2;
  }
  std::string windowClass = "murel-paste-target";
  std::optional<std::string> primaryText, copyText;
  int fetchDelayMs = 0;
  for (int i = 2; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--class") == 0)
      windowClass = argv[++i];
    else if (std::strcmp(argv[i], "--primary") == 0)
      primaryText = argv[++i];
    else if (std::strcmp(argv[i], "--copy") == 0)
      copyText = argv[++i];
    else if (std::strcmp(argv[i], "--fetch-delay") == 0)
      fetchDelayMs = std::atoi(argv[++i]);
  }
  const bool terminal = windowClass == "xterm";
  gOut = ::open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  gKeys = ::open((std::string(argv[1]) + ".keys").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (gOut < 0 || gKeys < 0) {
    std::perror("open");
    return 1;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "cannot open display\n");
    return 1;
  }
  const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 400, 200, 0, 0,
                                            WhitePixel(display, DefaultScreen(display)));
  XClassHint hint{windowClass.data(), windowClass.data()};
  XSetClassHint(display, window, &hint);
  XStoreName(display, window, "murel paste target");
  XSelectInput(display, window, KeyPressMask | StructureNotifyMask | FocusChangeMask);
  XMapRaised(display, window);
  // Selections are owned through a hidden window, as toolkits do.
  const Window selectionWindow = XCreateSimpleWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0, 0);

  const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  const Atom targetsAtom = XInternAtom(display, "TARGETS", False);
  const Atom mimeUtf8 = XInternAtom(display, "text/plain;charset=utf-8", False);
  const Atom property = XInternAtom(display, "MUREL_PASTE", False);
  bool ownsClipboard = false;
  std::optional<Clock::time_point> fetchAt;
  Time fetchTime = CurrentTime;
  Atom fetchSelection = clipboard;

  for (;;) {
    if (fetchAt && Clock::now() >= *fetchAt) {
      XConvertSelection(display, fetchSelection, utf8, property, window, fetchTime);
      XFlush(display);
      fetchAt.reset();
    }
    if (XPending(display) == 0) {
      int timeout = -1;
      if (fetchAt) {
        timeout = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(*fetchAt - Clock::now()).count() + 1);
        if (timeout < 0) timeout = 0;
      }
      pollfd fd{ConnectionNumber(display), POLLIN, 0};
      ::poll(&fd, 1, timeout);
      if (XPending(display) == 0) continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    switch (event.type) {
      case MapNotify:
        if (event.xmap.window != window) break;
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        if (primaryText) XSetSelectionOwner(display, XA_PRIMARY, selectionWindow, CurrentTime);
        XSync(display, False);
        std::printf("%lu\n", window);
        std::fflush(stdout);
        break;
      case KeyPress: {
        char text[64];
        KeySym sym = NoSymbol;
        const int n = XLookupString(&event.xkey, text, sizeof text, &sym, nullptr);
        const char* name = XKeysymToString(sym);
        const std::string line = std::string(name ? name : "?") + " " + std::to_string(event.xkey.state) + "\n";
        append(gKeys, line.data(), line.size());
        const unsigned mods = event.xkey.state & (ControlMask | ShiftMask | Mod1Mask | Mod4Mask);
        if (terminal && sym == XK_Insert && mods == ShiftMask) {
          // Stock xterm: Shift+Insert pastes PRIMARY.
          fetchSelection = XA_PRIMARY;
          fetchTime = event.xkey.time;
          fetchAt = Clock::now() + std::chrono::milliseconds(fetchDelayMs);
          break;
        }
        if (event.xkey.state & ControlMask) {
          // Stock xterm binds no paste key with Control: Ctrl+Shift+V is a stray ^V.
          const bool shortcut =
              terminal ? mods == (ControlMask | ShiftMask) : (mods == ControlMask || mods == (ControlMask | ShiftMask));
          if (!terminal && shortcut && (sym == XK_v || sym == XK_V)) {
            fetchSelection = clipboard;
            fetchTime = event.xkey.time;
            fetchAt = Clock::now() + std::chrono::milliseconds(fetchDelayMs);
          }
          if (shortcut && (sym == XK_c || sym == XK_C) && copyText) {
            XSetSelectionOwner(display, clipboard, selectionWindow, event.xkey.time);
            ownsClipboard = XGetSelectionOwner(display, clipboard) == selectionWindow;
          }
          break;
        }
        if (sym == XK_Return || sym == XK_KP_Enter) {
          append(gOut, "\n", 1);
        } else if (n > 0 && static_cast<unsigned char>(text[0]) >= 0x20) {
          append(gOut, text, static_cast<size_t>(n));
        }
        break;
      }
      case SelectionNotify: {
        if (event.xselection.property == None) break;
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, window, property, 0, 1 << 24, True, AnyPropertyType, &type, &format, &count,
                               &after, &data) == Success &&
            data) {
          if (format == 8) append(gOut, reinterpret_cast<const char*>(data), count);
          XFree(data);
        }
        break;
      }
      case SelectionClear:
        if (event.xselectionclear.selection == clipboard) ownsClipboard = false;
        if (event.xselectionclear.selection == XA_PRIMARY) primaryText.reset();
        break;
      case SelectionRequest: {
        const XSelectionRequestEvent& request = event.xselectionrequest;
        const std::string* served = nullptr;
        if (request.selection == XA_PRIMARY && primaryText) served = &*primaryText;
        if (request.selection == clipboard && ownsClipboard && copyText) served = &*copyText;
        XSelectionEvent reply{};
        reply.type = SelectionNotify;
        reply.display = display;
        reply.requestor = request.requestor;
        reply.selection = request.selection;
        reply.target = request.target;
        reply.time = request.time;
        reply.property = None;
        const Atom replyProperty = request.property != None ? request.property : request.target;
        if (served && request.target == targetsAtom) {
          const Atom list[] = {targetsAtom, utf8, mimeUtf8, XA_STRING};
          XChangeProperty(display, request.requestor, replyProperty, XA_ATOM, 32, PropModeReplace,
                          reinterpret_cast<const unsigned char*>(list), 4);
          reply.property = replyProperty;
        } else if (served && (request.target == utf8 || request.target == mimeUtf8 || request.target == XA_STRING)) {
          XChangeProperty(display, request.requestor, replyProperty, request.target == XA_STRING ? XA_STRING : utf8, 8,
                          PropModeReplace, reinterpret_cast<const unsigned char*>(served->data()),
                          static_cast<int>(served->size()));
          reply.property = replyProperty;
        }
        XSendEvent(display, request.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
        XFlush(display);
        break;
      }
      case DestroyNotify: return 0;
      default: break;
    }
  }
}
