#include "platform/x11/X11KeyPressMonitor.h"

#include "platform/x11/X11Keycodes.h"
#include "platform/x11/X11Lifeline.h"
#include "runtime/SystemLog.h"

#include <QMetaObject>

#include <array>
#include <atomic>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

// Last: Xlib's macros would clash with the headers above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

namespace murel {

namespace {
const Logger kLog("keyMonitor");

constexpr quint64 kShift = 0x20000;
constexpr quint64 kControl = 0x40000;
constexpr quint64 kOption = 0x80000;
constexpr quint64 kCommand = 0x100000;
}  // namespace

class X11KeyPressMonitor::Worker {
 public:
  using Report = std::function<void(quint32, quint64)>;

  ~Worker() {
    if (thread_.joinable()) {
      stopping_ = true;
      const quint64 one = 1;
      [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
      thread_.join();
    }
    if (wakeFd_ >= 0) ::close(wakeFd_);
    // A lost server is never waited on: closing would sync with it.
    if (display_ && !x11::serverLost()) XCloseDisplay(display_);
  }

  bool start(const QByteArray& displayName, std::set<quint32> keys, Report report) {
    display_ = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display_) return false;
    x11::watchConnection(display_);
    int event = 0, error = 0;
    if (!XQueryExtension(display_, "XInputExtension", &xiOpcode_, &event, &error)) return false;
    int major = 2, minor = 0;
    if (XIQueryVersion(display_, &major, &minor) != Success || major < 2) return false;
    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
    XISetMask(bits.data(), XI_RawKeyPress);
    XISetMask(bits.data(), XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(bits.size()), bits.data()};
    XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
    // Modifiers already held when watching begins.
    char held[32] = {};
    XQueryKeymap(display_, held);
    for (int code = 8; code < 256; ++code) {
      if (held[code / 8] & (1 << (code % 8))) press(code, true);
    }
    XSync(display_, False);
    keys_ = std::move(keys);
    report_ = std::move(report);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) return false;
    thread_ = std::thread([this] { run(); });
    return true;
  }

 private:
  quint64 flagOf(int keycode) const {
    switch (XkbKeycodeToKeysym(display_, static_cast<KeyCode>(keycode), 0, 0)) {
      case XK_Shift_L:
      case XK_Shift_R: return kShift;
      case XK_Control_L:
      case XK_Control_R: return kControl;
      case XK_Alt_L:
      case XK_Alt_R:
      case XK_ISO_Level3_Shift: return kOption;
      case XK_Super_L:
      case XK_Super_R:
      case XK_Meta_L:
      case XK_Meta_R: return kCommand;
      default: return 0;
    }
  }

  // Modifier state from the raw events themselves, in their order: asking the
  // server later could already see a quickly released modifier gone.
  void press(int keycode, bool down) {
    if (keycode < 0 || keycode >= 256) return;
    if (flagOf(keycode) != 0) heldModifiers_[keycode] = down;
  }

  quint64 currentFlags() const {
    quint64 flags = 0;
    for (int code = 0; code < 256; ++code) {
      if (heldModifiers_[code]) flags |= flagOf(code);
    }
    return flags;
  }

  void run() {
    const int xfd = ConnectionNumber(display_);
    while (!stopping_) {
      while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type != GenericEvent || event.xcookie.extension != xiOpcode_) continue;
        if (!XGetEventData(display_, &event.xcookie)) continue;
        const bool isPress = event.xcookie.evtype == XI_RawKeyPress;
        if (isPress || event.xcookie.evtype == XI_RawKeyRelease) {
          const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
          press(raw->detail, isPress);
          if (isPress) {
            const std::optional<quint32> code = x11::virtualKeyCode(raw->detail);
            if (code && keys_.count(*code)) report_(*code, currentFlags());
          }
        }
        XFreeEventData(display_, &event.xcookie);
      }
      if (x11::serverLost()) break;
      pollfd fds[2] = {{xfd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    }
  }

  Display* display_ = nullptr;
  int xiOpcode_ = 0;
  int wakeFd_ = -1;
  std::set<quint32> keys_;
  Report report_;
  std::array<bool, 256> heldModifiers_{};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

X11KeyPressMonitor::X11KeyPressMonitor(std::set<quint32> keys, Handler handler, QByteArray displayName)
    : keys_(std::move(keys)), handler_(std::move(handler)), displayName_(std::move(displayName)) {}

X11KeyPressMonitor::~X11KeyPressMonitor() { worker_.reset(); }

bool X11KeyPressMonitor::start() {
  if (worker_) return true;
  auto worker = std::make_unique<Worker>();
  // The worker's thread ends before the context goes, and queued calls die with it.
  QObject* context = &mainContext_;
  Handler* handler = &handler_;
  const bool started = worker->start(displayName_, keys_, [context, handler](quint32 code, quint64 flags) {
    QMetaObject::invokeMethod(
        context,
        [handler, code, flags] {
          if (*handler) (*handler)(code, flags);
        },
        Qt::QueuedConnection);
  });
  if (!started) {
    kLog.error(QStringLiteral("cannot watch the keyboard for Escape"));
    return false;
  }
  worker_ = std::move(worker);
  return true;
}

}  // namespace murel
