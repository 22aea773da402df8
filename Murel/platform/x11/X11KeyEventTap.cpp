#include "platform/x11/X11KeyEventTap.h"

#include "platform/x11/SyntheticKeys.h"
#include "platform/x11/X11Keycodes.h"
#include "platform/x11/X11Lifeline.h"
#include "runtime/SystemLog.h"

#include <QThread>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace murel {
namespace {

const Logger kLog("hotkeys");

// Xlib reports errors to one process-wide handler; a grab batch installs this
// one for its duration and collects the errors of its own connection.
std::mutex gErrorMutex;
Display* gErrorDisplay = nullptr;
bool gErrorSeen = false;
XErrorHandler gPreviousHandler = nullptr;

int collectError(Display* display, XErrorEvent* error) {
  if (display == gErrorDisplay) {
    gErrorSeen = true;
    return 0;
  }
  return gPreviousHandler ? gPreviousHandler(display, error) : 0;
}

struct Grab {
  int keycode;
  unsigned mask;
  friend bool operator<(const Grab& a, const Grab& b) {
    return a.keycode != b.keycode ? a.keycode < b.keycode : a.mask < b.mask;
  }
};

}  // namespace

class X11KeyEventTap::Worker {
 public:
  using Post = std::function<void(const Delivery&)>;

  ~Worker() {
    if (thread_.joinable()) {
      {
        std::lock_guard lock(mutex_);
        stopping_ = true;
      }
      wake();
      thread_.join();
    }
    if (wakeFd_ >= 0) ::close(wakeFd_);
    // Closing syncs with the server: a lost one is never waited on (at logout
    // it may be gone or going); the process is ending with it anyway.
    if (display_ && !x11::serverLost()) XCloseDisplay(display_);
  }

  // Connects and prepares the connection; on success the thread runs.
  explicit Worker(Clock& clock) : clock_(clock) {}

  bool start(const QByteArray& displayName, Post post) {
    display_ = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display_) {
      kLog.error(QStringLiteral("cannot open the X display"));
      return false;
    }
    x11::watchConnection(display_);
    int event = 0, error = 0;
    if (!XQueryExtension(display_, "XInputExtension", &xiOpcode_, &event, &error)) {
      kLog.error(QStringLiteral("the X server lacks XInput"));
      return false;
    }
    int major = 2, minor = 2;
    if (XIQueryVersion(display_, &major, &minor) != Success || major < 2 || (major == 2 && minor < 2)) {
      kLog.error(QStringLiteral("the X server lacks XInput 2.2"));
      return false;
    }
    root_ = DefaultRootWindow(display_);
    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
    XISetMask(bits.data(), XI_RawKeyPress);
    XISetMask(bits.data(), XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(bits.size()), bits.data()};
    XISelectEvents(display_, root_, &mask, 1);
    // Held grabbed keys then repeat as presses only, not as release/press pairs.
    XkbSetDetectableAutoRepeat(display_, True, nullptr);
    findXTestKeyboard();
    readModifierMap();
    resyncWithKeyboard();
    XSync(display_, False);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) return false;
    post_ = std::move(post);
    thread_ = std::thread([this] { run(); });
    return true;
  }

  // Runs `fn` on the X thread and waits for it (bounded: the thread only ever
  // waits for the X server).
  template <class T>
  std::optional<T> call(std::function<T()> fn) {
    if (x11::serverLost()) return std::nullopt;  // the thread has ended
    auto task = std::make_shared<std::packaged_task<T()>>(std::move(fn));
    std::future<T> result = task->get_future();
    {
      std::lock_guard lock(mutex_);
      commands_.push_back([task] { (*task)(); });
    }
    wake();
    if (result.wait_for(std::chrono::seconds(3)) != std::future_status::ready) return std::nullopt;
    return result.get();
  }

  std::vector<quint32> setRegistrations(std::vector<HotKeyMatcher::Entry> entries, quint64 generation) {
    return call<std::vector<quint32>>([this, entries = std::move(entries), generation]() mutable {
             ungrabAll();
             generation_ = generation;
             resyncWithKeyboard();
             matcher_.reset(std::move(entries), heldModifierKeys());
             if (matcher_.isPaused()) return std::vector<quint32>{};
             return grabAll();
           })
        .value_or(std::vector<quint32>{});
  }

  void setPaused(bool paused) {
    call<bool>([this, paused] {
      if (paused == matcher_.isPaused()) return true;
      if (paused) {
        ungrabAll();
        matcher_.setPaused(true);
      } else {
        // Nothing was tracked meanwhile: read the keyboard as it is now.
        resyncWithKeyboard();
        matcher_.setHeldModifierKeys(heldModifierKeys());
        matcher_.setPaused(false);
        grabAll();
      }
      return true;
    });
  }

  std::atomic<qint64> longestDecisionNs{0};

 private:
  void wake() {
    const quint64 one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
  }

  void run() {
    const int xfd = ConnectionNumber(display_);
    for (;;) {
      std::deque<std::function<void()>> commands;
      {
        std::lock_guard lock(mutex_);
        if (stopping_) break;
        commands.swap(commands_);
      }
      for (auto& command : commands) command();
      while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        handle(event);
      }
      if (x11::serverLost()) return;
      pollfd fds[2] = {{xfd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
      if (fds[1].revents & POLLIN) {
        quint64 count = 0;
        [[maybe_unused]] const auto got = ::read(wakeFd_, &count, sizeof count);
      }
    }
    if (x11::serverLost()) return;
    ungrabAll();
    XSync(display_, False);
  }

  void handle(XEvent& event) {
    if (event.type == GenericEvent && event.xcookie.extension == xiOpcode_) {
      if (!XGetEventData(display_, &event.xcookie)) return;
      if (event.xcookie.evtype == XI_RawKeyPress || event.xcookie.evtype == XI_RawKeyRelease) {
        const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
        handleRaw(raw->detail, raw->sourceid, event.xcookie.evtype == XI_RawKeyPress);
      }
      XFreeEventData(display_, &event.xcookie);
    } else if (event.type == KeyPress || event.type == KeyRelease) {
      handleGrabbed(event.xkey, event.type == KeyPress);
    } else if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      // Grabs are by keycode and modifier bits: only a new modifier map changes them.
      if (event.xmapping.request == MappingModifier) {
        readModifierMap();
        if (!matcher_.isPaused() && !grabs_.empty()) {
          ungrabAll();
          grabAll();
        }
      }
    }
  }

  void handleRaw(int keycode, int sourceId, bool press) {
    if (keycode < 0 || keycode > 255) return;
    const auto k = static_cast<size_t>(keycode);
    if (sourceId == xtestKeyboard_ && x11::takeSyntheticKeyEvent(keycode, press)) {
      synthetic_[k] = press;  // our own paste or copy key: not the user's
      down_[k] = press;
      return;
    }
    track(k, press);
  }

  // One press or release of a key, seen as a raw event or, during our own
  // grab, as a core event; whichever comes second changes nothing.
  void track(size_t k, bool press) {
    if (!press && grabKey_ == k) grabKey_.reset();  // our grab ends with its key
    if (!press && !down_[k]) return;
    const int keycode = static_cast<int>(k);
    synthetic_[k] = false;
    const bool repeat = press && down_[k];
    down_[k] = press;
    if (!press) decision_[k] = -1;
    const std::optional<quint32> code = x11::virtualKeyCode(keycode);
    if (!code) {
      if (press && !repeat) decision_[k] = 0;
      return;
    }
    const std::optional<Key> key = keyFromCode(*code);
    const bool modifier = key && isModifierKey(*key);
    KeyEvent event;
    event.kind = modifier ? (press ? KeyEventKind::modifierDown : KeyEventKind::modifierUp)
                          : (press ? KeyEventKind::keyDown : KeyEventKind::keyUp);
    event.keyCode = *code;
    event.isRepeat = repeat;
    MatchOutcome outcome = matcher_.handle(event);
    if (press && !repeat) decision_[k] = outcome.handled ? 1 : 0;
    // Only hotkey events travel on: typed text never leaves this thread.
    if (!outcome.actions.empty()) post_(Delivery{event, std::move(outcome), generation_, clock_.now()});
  }

  // A key event of our grab has frozen the keyboard: swallow it or give it
  // back. A swallowed press keeps the grab synchronous until its key is
  // released, so that every key pressed meanwhile is decided here too and
  // goes on to the focused window (which ends our grab) unless it is a
  // hotkey or a repeat of the held one.
  void handleGrabbed(const XKeyEvent& key, bool press) {
    const auto began = std::chrono::steady_clock::now();
    const auto k = static_cast<size_t>(key.keycode & 0xff);
    // While our grab is active the server sends us these core events instead
    // of raw ones; the raw press that activated the grab came first.
    if (!synthetic_[k]) track(k, press);
    int mode = AsyncKeyboard;
    if (!press) {
      // Releases during the grab stay with us: giving one back would end the
      // grab and let the held hotkey's repeats through.
      if (grabKey_) mode = SyncKeyboard;
    } else if (!synthetic_[k] && decision_[k] == 1) {
      if (!grabKey_) grabKey_ = k;
      mode = SyncKeyboard;
    } else {
      mode = ReplayKeyboard;  // not ours: the focused window gets it
      grabKey_.reset();
    }
    XAllowEvents(display_, mode, CurrentTime);
    XFlush(display_);
    const qint64 took =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - began).count();
    qint64 longest = longestDecisionNs.load(std::memory_order_relaxed);
    while (took > longest && !longestDecisionNs.compare_exchange_weak(longest, took)) {
    }
  }

  void findXTestKeyboard() {
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display_, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
      if (devices[i].use == XISlaveKeyboard && std::strstr(devices[i].name, "XTEST")) {
        xtestKeyboard_ = devices[i].deviceid;
      }
    }
    XIFreeDeviceInfo(devices);
  }

  void readModifierMap() {
    modMask_.fill(0);
    XModifierKeymap* map = XGetModifierMapping(display_);
    if (!map) return;
    for (int mod = 0; mod < 8; ++mod) {
      for (int i = 0; i < map->max_keypermod; ++i) {
        const KeyCode code = map->modifiermap[mod * map->max_keypermod + i];
        if (code) modMask_[code] |= 1u << mod;
      }
    }
    XFreeModifiermap(map);
    const KeyCode numLock = XKeysymToKeycode(display_, XK_Num_Lock);
    numLockMask_ = numLock ? modMask_[numLock] : 0;
  }

  // The X modifier bits that a modifier key (by virtual code) sets.
  unsigned maskOf(quint32 virtualCode) const {
    unsigned mask = 0;
    for (int x : x11::xKeycodes(virtualCode)) mask |= modMask_[static_cast<size_t>(x)];
    return mask;
  }

  // Every X modifier state in which a press could match `wanted`.
  std::set<unsigned> statesFor(KeyModifiers wanted) const {
    using M = KeyModifiers;
    struct Classic {
      quint32 either, left, right;
      Key leftKey, rightKey;
    };
    static constexpr Classic classics[] = {
        {M::command, M::leftCommand, M::rightCommand, Key::leftCommand, Key::rightCommand},
        {M::option, M::leftOption, M::rightOption, Key::leftOption, Key::rightOption},
        {M::control, M::leftControl, M::rightControl, Key::leftControl, Key::rightControl},
        {M::shift, M::leftShift, M::rightShift, Key::leftShift, Key::rightShift},
    };
    std::set<unsigned> states{0};
    for (const Classic& c : classics) {
      const unsigned left = maskOf(keyCode(c.leftKey));
      const unsigned right = maskOf(keyCode(c.rightKey));
      std::set<unsigned> options;
      if (wanted.rawValue & c.either) {
        options = {left, right, left | right};
      } else {
        options = {((wanted.rawValue & c.left) ? left : 0u) | ((wanted.rawValue & c.right) ? right : 0u)};
      }
      std::set<unsigned> next;
      for (unsigned s : states) {
        for (unsigned o : options) next.insert(s | o);
      }
      states.swap(next);
    }
    std::set<unsigned> withLocks;
    for (unsigned s : states) {
      for (unsigned lock : {0u, unsigned(LockMask), numLockMask_, unsigned(LockMask) | numLockMask_}) {
        withLocks.insert(s | lock);
      }
    }
    return withLocks;
  }

  std::vector<quint32> grabAll() {
    std::vector<quint32> refused;
    std::lock_guard lock(gErrorMutex);
    gErrorDisplay = display_;
    gPreviousHandler = XSetErrorHandler(collectError);
    for (const HotKeyMatcher::Entry& entry : matcher_.entries()) {
      // No fn key on X11; and a lone modifier is watched, not grabbed.
      if (entry.combo.modifiers.rawValue & KeyModifiers::function) continue;
      const std::optional<Key> key = keyFromCode(entry.combo.keyCode);
      if (key && isModifierKey(*key)) continue;
      gErrorSeen = false;
      for (int x : x11::xKeycodes(entry.combo.keyCode)) {
        for (unsigned state : statesFor(entry.combo.modifiers)) {
          XGrabKey(display_, x, state, root_, False, GrabModeAsync, GrabModeSync);
          grabs_.insert({x, state});
        }
      }
      XSync(display_, False);
      if (gErrorSeen) refused.push_back(entry.id);
    }
    XSetErrorHandler(gPreviousHandler);
    gErrorDisplay = nullptr;
    if (!refused.empty()) kLog.error(QStringLiteral("another program holds %1 hotkey(s)").arg(refused.size()));
    return refused;
  }

  void ungrabAll() {
    grabKey_.reset();
    if (grabs_.empty()) return;
    std::lock_guard lock(gErrorMutex);
    gErrorDisplay = display_;
    gPreviousHandler = XSetErrorHandler(collectError);
    for (const Grab& grab : grabs_) XUngrabKey(display_, grab.keycode, grab.mask, root_);
    XSync(display_, False);
    XSetErrorHandler(gPreviousHandler);
    gErrorDisplay = nullptr;
    grabs_.clear();
  }

  // The real keyboard, read when the tracked state cannot be trusted.
  void resyncWithKeyboard() {
    char keys[32] = {};
    XQueryKeymap(display_, keys);
    for (size_t k = 0; k < 256; ++k) {
      down_[k] = (keys[k / 8] >> (k % 8)) & 1;
      if (!down_[k]) decision_[k] = -1;
    }
  }

  std::set<Key> heldModifierKeys() const {
    std::set<Key> held;
    for (size_t k = 0; k < 256; ++k) {
      if (!down_[k]) continue;
      const std::optional<quint32> code = x11::virtualKeyCode(static_cast<int>(k));
      const std::optional<Key> key = code ? keyFromCode(*code) : std::nullopt;
      if (key && isModifierKey(*key)) held.insert(*key);
    }
    return held;
  }

  Clock& clock_;
  Display* display_ = nullptr;
  Window root_ = 0;
  int xiOpcode_ = 0;
  int xtestKeyboard_ = -1;
  int wakeFd_ = -1;
  Post post_;
  std::thread thread_;
  std::mutex mutex_;
  std::deque<std::function<void()>> commands_;
  bool stopping_ = false;

  // X thread only.
  HotKeyMatcher matcher_;
  quint64 generation_ = 0;
  std::set<Grab> grabs_;
  std::array<unsigned, 256> modMask_{};
  unsigned numLockMask_ = 0;
  std::array<bool, 256> down_{};
  std::array<bool, 256> synthetic_{};
  std::optional<size_t> grabKey_;  // the key whose press activated our grab
  std::array<qint8, 256> decision_ = [] {
    std::array<qint8, 256> a{};
    a.fill(-1);
    return a;
  }();
};

X11KeyEventTap::X11KeyEventTap(Clock& clock, QByteArray displayName)
    : clock_(clock), displayName_(std::move(displayName)) {}

X11KeyEventTap::~X11KeyEventTap() { worker_.reset(); }

bool X11KeyEventTap::install(Sink sink) {
  Q_ASSERT(QThread::currentThread() == mainContext_.thread());
  sink_ = std::move(sink);
  if (worker_) return true;
  auto worker = std::make_unique<Worker>(clock_);
  const bool started = worker->start(displayName_, [this](const Delivery& delivery) {
    // From the X thread: on to the main thread, dropped if the tap is gone by then.
    QMetaObject::invokeMethod(
        &mainContext_,
        [this, delivery] {
          if (sink_) sink_(delivery);
        },
        Qt::QueuedConnection);
  });
  if (!started) return false;
  worker_ = std::move(worker);
  if (paused_) worker_->setPaused(true);
  return true;
}

std::vector<quint32> X11KeyEventTap::setRegistrations(const std::vector<HotKeyMatcher::Entry>& entries,
                                                      quint64 generation) {
  if (!worker_) return {};
  return worker_->setRegistrations(entries, generation);
}

void X11KeyEventTap::setPaused(bool paused) {
  paused_ = paused;
  if (worker_) worker_->setPaused(paused);
}

std::chrono::nanoseconds X11KeyEventTap::longestDecisionTime() const {
  return std::chrono::nanoseconds(worker_ ? worker_->longestDecisionNs.load() : 0);
}

void X11KeyEventTap::resetDecisionTimes() {
  if (worker_) worker_->longestDecisionNs.store(0);
}

}  // namespace murel
