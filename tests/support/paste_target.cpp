// A small X11 window that takes the keyboard focus and records the text it
// receives, for tests that check what reaches the focused application.
//
//   murel_paste_target <output-file> [--class <name>]
//
// Once the window is mapped and focused it prints its window id (decimal) and a
// line feed on stdout. Every character typed into it (XLookupString; Return
// gives a line feed) is appended to <output-file> at once. Ctrl+V and
// Ctrl+Shift+V paste: the CLIPBOARD text (UTF8_STRING) is appended. Other
// Control combinations add nothing. --class sets WM_CLASS (name and class),
// e.g. "xterm" to pose as a terminal; the default is "murel-paste-target".
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int gOut = -1;

void append(const char* text, size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(gOut, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <output-file> [--class <name>]\n", argv[0]);
    return 2;
  }
  std::string windowClass = "murel-paste-target";
  for (int i = 2; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--class") == 0) windowClass = argv[++i];
  }
  gOut = ::open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (gOut < 0) {
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

  const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  const Atom property = XInternAtom(display, "MUREL_PASTE", False);

  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    switch (event.type) {
      case MapNotify:
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        XSync(display, False);
        std::printf("%lu\n", window);
        std::fflush(stdout);
        break;
      case KeyPress: {
        char text[64];
        KeySym sym = NoSymbol;
        const int n = XLookupString(&event.xkey, text, sizeof text, &sym, nullptr);
        if (event.xkey.state & ControlMask) {
          if (sym == XK_v || sym == XK_V) XConvertSelection(display, clipboard, utf8, property, window, event.xkey.time);
          break;
        }
        if (sym == XK_Return || sym == XK_KP_Enter) {
          append("\n", 1);
        } else if (n > 0 && static_cast<unsigned char>(text[0]) >= 0x20) {
          append(text, static_cast<size_t>(n));
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
          if (format == 8) append(reinterpret_cast<const char*>(data), count);
          XFree(data);
        }
        break;
      }
      case DestroyNotify: return 0;
      default: break;
    }
  }
}
