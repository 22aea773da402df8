// The heads-up display on the rig's X server, driven the way the dictation
// session drives it: set the phase, show with a level closure, order out.
// Time for the waveform comes from a fake clock; everything else is real X11.
#include "app/HudPresentation.h"
#include "design/Appearance.h"
#include "design/ProgressComponents.h"
#include "design/Tokens.h"
#include "overlays/FloatingPanel.h"
#include "overlays/HudBars.h"
#include "overlays/HudWindowController.h"
#include "runtime/Localization.h"
#include "support/FakeClock.h"
#include "support/PasteTarget.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cmath>
#include <vector>

using namespace murel;
using murel::test::FakeClock;
using murel::test::waitUntil;
using Scheme = Appearance::Scheme;

namespace {

constexpr auto kSecond = std::chrono::seconds(1);

// A second X connection that looks at the server the way other clients do.
class XView {
 public:
  XView() : display_(XOpenDisplay(nullptr)) {}
  ~XView() {
    if (display_) XCloseDisplay(display_);
  }
  Display* display() const { return display_; }
  Window root() const { return DefaultRootWindow(display_); }

  struct Info {
    bool overrideRedirect = false;
    bool viewable = false;
    QRect geometry;  // in root coordinates
  };
  Info info(Window window) const {
    XSync(display_, False);
    Info result;
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display_, window, &attributes)) return result;
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display_, window, root(), 0, 0, &x, &y, &child);
    result.overrideRedirect = attributes.override_redirect;
    result.viewable = attributes.map_state == IsViewable;
    result.geometry = QRect(x, y, attributes.width, attributes.height);
    return result;
  }
  // The top-level windows of this process (other tests share the server)
  // that have `size` (any size when empty), and how many of them are mapped.
  std::pair<int, int> ownTopLevels(QSize size = {}) const {
    XSync(display_, False);
    const Atom pidAtom = XInternAtom(display_, "_NET_WM_PID", False);
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    int total = 0, mapped = 0;
    if (XQueryTree(display_, root(), &rootReturn, &parent, &children, &count)) {
      for (unsigned int i = 0; i < count; ++i) {
        if (windowPid(children[i], pidAtom) != long(QCoreApplication::applicationPid())) continue;
        XWindowAttributes a{};
        if (!XGetWindowAttributes(display_, children[i], &a)) continue;
        if (!size.isEmpty() && (a.width != size.width() || a.height != size.height())) continue;
        ++total;
        if (a.map_state == IsViewable) ++mapped;
      }
      XFree(children);
    }
    return {total, mapped};
  }

 private:
  long windowPid(Window window, Atom pidAtom) const {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(display_, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after,
                           &data) == Success &&
        data) {
      if (format == 32 && items == 1) pid = long(*reinterpret_cast<unsigned long*>(data));
      XFree(data);
    }
    return pid;
  }

  Display* display_;
};

unsigned long focusedWindow() {
  QProcess process;
  process.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")});
  if (!process.waitForFinished(10000)) return 0;
  return process.readAllStandardOutput().trimmed().toULong();
}

// A level source that counts its calls and plays back a list of readings.
struct Levels {
  std::vector<float> script;
  int calls = 0;
  ReadLevel reader() {
    return [this] {
      const float value = script.empty() ? 0.0f : script[std::size_t(calls) % script.size()];
      ++calls;
      return value;
    };
  }
};

QPoint expectedTopLeft(QSize panel) {
  const QRectF area = QGuiApplication::primaryScreen()->availableGeometry();
  return QPoint(int(std::lround(area.center().x() - panel.width() / 2.0)),
                int(std::lround(area.center().y() - panel.height() / 2.0)));
}

// Pixels compare as 8-bit RGB: tokens carry finer channels than the screen.
QRgb rgb(const QColor& color) { return color.rgb(); }
QRgb rgbAt(const QImage& image, int x, int y) { return image.pixel(x, y) | 0xff000000u; }

HudContentView* contentOf(const HudWindowController& controller) {
  return qobject_cast<HudContentView*>(controller.panel()->contentView());
}

class HudWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installTranslations(*QCoreApplication::instance());
    Fonts::registerBundled();
  }

  bool waitMapped(bool mapped) {
    return waitUntil([&] { return x.info(controller.panel()->winId()).viewable == mapped; });
  }

  XView x;
  FakeClock clock;
  HudPresentation presentation;
  Levels levels;
  HudWindowController controller{clock};
};

TEST_F(HudWindow, ShowsOneOverrideRedirectWindowCentredAndNeverTakesTheFocus) {
  murel::test::PasteTarget target;
  ASSERT_TRUE(target.isReady());
  ASSERT_TRUE(x.display());
  ASSERT_EQ(focusedWindow(), target.windowId());
  EXPECT_EQ(controller.panel(), nullptr);

  controller.show(presentation, levels.reader());
  ASSERT_NE(controller.panel(), nullptr);
  const WId window = controller.panel()->winId();
  ASSERT_TRUE(waitMapped(true));
  const XView::Info info = x.info(window);
  EXPECT_TRUE(info.overrideRedirect);
  EXPECT_EQ(info.geometry, QRect(expectedTopLeft(QSize(200, 40)), QSize(200, 40)));
  EXPECT_EQ(x.ownTopLevels(QSize(200, 40)), std::make_pair(1, 1));
  EXPECT_TRUE(controller.panel()->windowFlags() & Qt::WindowDoesNotAcceptFocus);
  QTest::qWait(100);
  EXPECT_EQ(focusedWindow(), target.windowId());

  // A click on the display leaves the focus where it was, and typing still
  // goes to the application being dictated into.
  const QPoint inside = info.geometry.center();
  ASSERT_TRUE(murel::test::xdotool({QStringLiteral("mousemove"), QString::number(inside.x()),
                                    QString::number(inside.y()), QStringLiteral("click"), QStringLiteral("1")}));
  QTest::qWait(200);
  EXPECT_EQ(focusedWindow(), target.windowId());
  EXPECT_FALSE(QGuiApplication::focusWindow());
  ASSERT_TRUE(murel::test::xdotool({QStringLiteral("type"), QStringLiteral("hud")}));
  EXPECT_TRUE(target.waitForSuffix(QStringLiteral("hud")));

  // One native window serves every showing.
  const int topLevels = x.ownTopLevels().first;
  for (int i = 0; i < 100; ++i) {
    controller.show(presentation, levels.reader());
    controller.panel()->orderOut();
  }
  controller.show(presentation, levels.reader());
  ASSERT_TRUE(waitMapped(true));
  EXPECT_EQ(controller.panel()->winId(), window);
  EXPECT_EQ(x.ownTopLevels().first, topLevels);
  // The views of earlier showings are gone.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(controller.panel()->findChildren<HudContentView*>().size(), 1);
  EXPECT_EQ(x.ownTopLevels(QSize(200, 40)), std::make_pair(1, 1));
  EXPECT_EQ(focusedWindow(), target.windowId());

  controller.panel()->orderOut();
  ASSERT_TRUE(waitMapped(false));
  EXPECT_EQ(x.ownTopLevels(QSize(200, 40)), std::make_pair(1, 0));
}

TEST_F(HudWindow, SamplesTheLevelThirtyTimesASecondOnlyWhileARecordingBarIsShown) {
  controller.show(presentation, levels.reader());
  ASSERT_TRUE(waitMapped(true));
  clock.advance(kSecond);
  EXPECT_EQ(levels.calls, 30);

  presentation.setPhase(HudPhase::editing);
  clock.advance(kSecond);
  EXPECT_EQ(levels.calls, 60);

  presentation.setPhase(HudPhase::transcribing);
  clock.advance(kSecond);
  EXPECT_EQ(levels.calls, 60);

  // Ordered out, nothing samples, whatever the phase.
  controller.panel()->orderOut();
  presentation.setPhase(HudPhase::recording);
  clock.advance(kSecond);
  EXPECT_EQ(levels.calls, 60);
  EXPECT_FALSE(controller.panel()->isVisible());

  controller.show(presentation, levels.reader());
  clock.advance(std::chrono::milliseconds(500));
  EXPECT_EQ(levels.calls, 75);
}

TEST_F(HudWindow, WaveformSlidesOverTheLast24ReadingsAndStartsFromSilenceOnEveryShow) {
  for (int i = 1; i <= 40; ++i) levels.script.push_back(float(i) / 100.0f);
  controller.show(presentation, levels.reader());
  auto* bar = qobject_cast<HudMinimalBarWaveContent*>(contentOf(controller)->bar());
  ASSERT_NE(bar, nullptr);
  MinimalBarWaveform* waveform = bar->waveform();
  EXPECT_EQ(waveform->levels(), (std::array<float, 24>{}));

  // Three readings in: 21 zeros, then the readings, newest last.
  clock.advance(MinimalBarWaveform::kInterval * 3);
  std::array<float, 24> expected{};
  expected[21] = 0.01f;
  expected[22] = 0.02f;
  expected[23] = 0.03f;
  EXPECT_EQ(waveform->levels(), expected);

  clock.advance(MinimalBarWaveform::kInterval * 27);
  for (std::size_t i = 0; i < 24; ++i) expected[i] = float(i + 7) / 100.0f;
  EXPECT_EQ(waveform->levels(), expected);

  // Showing again while visible: the same window, centred again, a fresh waveform.
  const WId window = controller.panel()->winId();
  controller.panel()->move(10, 10);
  controller.show(presentation, levels.reader());
  ASSERT_TRUE(waitMapped(true));
  EXPECT_EQ(controller.panel()->winId(), window);
  EXPECT_EQ(controller.panel()->pos(), expectedTopLeft(QSize(200, 40)));
  bar = qobject_cast<HudMinimalBarWaveContent*>(contentOf(controller)->bar());
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->waveform()->levels(), (std::array<float, 24>{}));
}

TEST_F(HudWindow, WaveformDrawsEachReadingAtItsHeightAndColour) {
  // Oldest first: the last six readings land in the last six bars.
  levels.script = {0.0f, 0.1f, 0.25f, 0.26f, 1.0f, 1.5f};
  controller.show(presentation, levels.reader());
  ASSERT_TRUE(waitMapped(true));
  auto* bar = qobject_cast<HudMinimalBarWaveContent*>(contentOf(controller)->bar());
  ASSERT_NE(bar, nullptr);
  clock.advance(MinimalBarWaveform::kInterval * 6);
  MinimalBarWaveform* waveform = bar->waveform();
  ASSERT_EQ(waveform->height(), 20);
  const QImage image = waveform->grab().toImage();
  const QRgb quiet = rgb(dsColor(DSColor::inkSecondary, waveform));
  const QRgb loud = rgb(dsColor(DSColor::accent, waveform));

  struct Drawn {
    QRgb color;
    int fullRows;  // rows wholly covered in the bar's column
  };
  // Heights 2, 2, 5, 5.2, 20, 30 (clipped to the canvas) centred on 20 rows.
  const std::vector<Drawn> drawn = {{quiet, 2}, {quiet, 2}, {quiet, 4}, {loud, 4}, {loud, 20}, {loud, 20}};
  for (std::size_t k = 0; k < drawn.size(); ++k) {
    SCOPED_TRACE(k);
    const std::size_t i = 18 + k;
    const QRectF rect = WaveformBars::bar(waveform->levels(), i, QSizeF(waveform->size())).rect;
    const int column = int(std::floor(rect.left() + 1));
    EXPECT_EQ(image.pixel(column, 10), drawn[k].color);
    int rows = 0;
    for (int y = 0; y < image.height(); ++y) rows += image.pixel(column, y) == drawn[k].color;
    EXPECT_EQ(rows, drawn[k].fullRows);
  }
  // The older, silent readings are 2-point quiet bars.
  const int first = int(std::floor(WaveformBars::bar(waveform->levels(), 0, QSizeF(waveform->size())).rect.left() + 1));
  EXPECT_EQ(image.pixel(first, 10), quiet);
  EXPECT_EQ(image.pixel(first, 8), image.pixel(first, 3));
}

TEST_F(HudWindow, PhaseChoosesTheBarWithItsLabelDotAndSpinner) {
  struct Case {
    HudPhase phase;
    QString label;
    DSColor dot;
    qreal lowOpacity;
    bool recordingBar;
  };
  const std::vector<Case> cases = {
      {HudPhase::recording, QStringLiteral("REC"), DSColor::accent, 0.3, true},
      {HudPhase::editing, QStringLiteral("EDIT"), DSColor::accent, 0.3, true},
      {HudPhase::transcribing, QStringLiteral("PROCESSING"), DSColor::inkSecondary, 0.08, false},
  };
  controller.show(presentation, levels.reader());
  ASSERT_TRUE(waitMapped(true));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label.toStdString());
    presentation.setPhase(c.phase);
    HudContentView* content = contentOf(controller);
    EXPECT_EQ(content->shownPhase(), c.phase);
    EXPECT_EQ(controller.panel()->size(), QSize(200, 40));
    QWidget* bar = content->bar();
    auto* recording = qobject_cast<HudMinimalBarWaveContent*>(bar);
    auto* processing = qobject_cast<HudProcessingBarContent*>(bar);
    ASSERT_EQ(recording != nullptr, c.recordingBar);
    ASSERT_EQ(processing != nullptr, !c.recordingBar);
    RecLabel* label = recording ? recording->label() : processing->label();
    MinimalBarRecordingDot* dot = recording ? recording->dot() : processing->dot();
    EXPECT_EQ(label->text(), c.label);
    EXPECT_EQ(label->style().color, DSColor::accent);
    EXPECT_EQ(label->style().font.pixelSize(), 10);
    EXPECT_EQ(dot->color(), c.dot);
    EXPECT_EQ(dot->size(), QSize(8, 8));
    // The pulse swings from the resting opacity up to full and back in 1.6 s.
    ASSERT_TRUE(dot->isPulsing());
    dot->setPulseTime(0);
    EXPECT_NEAR(dot->opacity(), c.lowOpacity, 1e-9);
    dot->setPulseTime(400);
    EXPECT_NEAR(dot->opacity(), (c.lowOpacity + 1.0) / 2, 0.01);
    dot->setPulseTime(800);
    EXPECT_NEAR(dot->opacity(), 1.0, 1e-9);
    dot->setPulseTime(1600 - 1);
    EXPECT_NEAR(dot->opacity(), c.lowOpacity, 0.01);
    // Content area: 168 points between the 16-point paddings.
    EXPECT_EQ(bar->geometry(), QRect(16, (40 - bar->height()) / 2, 168, bar->height()));
    EXPECT_EQ(dot->mapTo(controller.panel(), QPoint(0, 0)).x(), 16);
    if (recording) {
      // The waveform takes the rest of the row, 20 points high.
      const QRect wave = recording->waveform()->geometry();
      EXPECT_EQ(wave.height(), 20);
      EXPECT_EQ(wave.right(), 167);
      EXPECT_EQ(wave.width(), 168 - 8 - 8 - label->width() - 8);
      EXPECT_TRUE(recording->waveform()->isSampling());
    } else {
      // The spinner sits at the right end.
      EXPECT_EQ(processing->spinner()->size(), QSize(14, 14));
      EXPECT_EQ(processing->spinner()->geometry().right(), 167);
    }
  }
}

TEST_F(HudWindow, PhaseSetWhileHiddenShowsAtTheNextShowing) {
  // The first frame of a show after `transcribing` is the processing bar.
  presentation.setPhase(HudPhase::transcribing);
  controller.show(presentation, levels.reader());
  ASSERT_TRUE(waitMapped(true));
  EXPECT_NE(qobject_cast<HudProcessingBarContent*>(contentOf(controller)->bar()), nullptr);
  clock.advance(kSecond);
  EXPECT_EQ(levels.calls, 0);

  controller.panel()->orderOut();
  ASSERT_TRUE(waitMapped(false));
  presentation.setPhase(HudPhase::editing);
  QTest::qWait(50);
  EXPECT_FALSE(controller.panel()->isVisible());
  EXPECT_FALSE(x.info(controller.panel()->winId()).viewable);

  controller.show(presentation, levels.reader());
  ASSERT_TRUE(waitMapped(true));
  auto* bar = qobject_cast<HudMinimalBarWaveContent*>(contentOf(controller)->bar());
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->label()->text(), QStringLiteral("EDIT"));
}

// A phase change made from inside the level closure swaps the bar under the
// running tick; the old bar goes away only after the tick has finished.
TEST_F(HudWindow, PhaseChangeDuringATickIsSafe) {
  int reads = 0;
  controller.show(presentation, [this, &reads] {
    if (++reads == 3) presentation.setPhase(HudPhase::transcribing);
    return 0.5f;
  });
  ASSERT_TRUE(waitMapped(true));
  QPointer<QWidget> recordingBar = contentOf(controller)->bar();
  clock.advance(kSecond);
  EXPECT_EQ(reads, 3);
  EXPECT_NE(qobject_cast<HudProcessingBarContent*>(contentOf(controller)->bar()), nullptr);
  ASSERT_FALSE(recordingBar.isNull());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(recordingBar.isNull());
}

// Two dictations as the session runs them: a voice edit, then a plain one.
// The recorder stands in for the real one: its level is a stored value, 0
// while nothing is captured.
TEST_F(HudWindow, FollowsTheSessionThroughTwoDictations) {
  struct Recorder {
    bool capturing = false;
    float level = 0;
    int reads = 0;
  } recorder;
  const ReadLevel readLevel = [&recorder] {
    ++recorder.reads;
    return recorder.capturing ? recorder.level : 0.0f;
  };
  struct Session {
    HudPresentation& presentation;
    HudWindowController& hud;
    const ReadLevel& readLevel;
    Recorder& recorder;
    void start(bool voiceEdit) {
      presentation.setPhase(HudPhase::recording);
      recorder.capturing = true;
      hud.show(presentation, readLevel);
      if (voiceEdit) presentation.setPhase(HudPhase::editing);
    }
    void stop() {
      recorder.capturing = false;
      presentation.setPhase(HudPhase::transcribing);
    }
    void cleanUp() { hud.panel()->orderOut(); }
  } session{presentation, controller, readLevel, recorder};

  session.start(true);
  ASSERT_TRUE(waitMapped(true));
  auto* bar = qobject_cast<HudMinimalBarWaveContent*>(contentOf(controller)->bar());
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->label()->text(), QStringLiteral("EDIT"));
  recorder.level = 0.6f;
  clock.advance(MinimalBarWaveform::kInterval * 2);
  EXPECT_EQ(bar->waveform()->levels()[23], 0.6f);
  EXPECT_EQ(recorder.reads, 2);

  session.stop();
  EXPECT_NE(qobject_cast<HudProcessingBarContent*>(contentOf(controller)->bar()), nullptr);
  EXPECT_TRUE(controller.panel()->isVisible());
  clock.advance(kSecond);
  EXPECT_EQ(recorder.reads, 2);
  session.cleanUp();
  ASSERT_TRUE(waitMapped(false));

  const WId window = controller.panel()->winId();
  session.start(false);
  ASSERT_TRUE(waitMapped(true));
  EXPECT_EQ(controller.panel()->winId(), window);
  bar = qobject_cast<HudMinimalBarWaveContent*>(contentOf(controller)->bar());
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->label()->text(), QStringLiteral("REC"));
  EXPECT_EQ(bar->waveform()->levels()[23], 0.0f);
  clock.advance(MinimalBarWaveform::kInterval);
  EXPECT_EQ(bar->waveform()->levels()[23], 0.6f);
  session.stop();
  session.cleanUp();
  ASSERT_TRUE(waitMapped(false));
}

// Without a compositing manager (the rig has none) the corners are cut by a
// shape mask: what lay under them stays visible.
TEST_F(HudWindow, CornersAreTransparentWithoutACompositor) {
  ASSERT_FALSE(FloatingPanel::compositorRunning());
  controller.show(presentation, levels.reader());
  ASSERT_TRUE(waitMapped(true));
  FloatingPanel* panel = controller.panel();
  EXPECT_FALSE(panel->drawsWithAlpha());
  EXPECT_FALSE(panel->mask().isEmpty());
  const QRect area = panel->geometry();
  QScreen* screen = QGuiApplication::primaryScreen();
  QTest::qWait(100);
  const QImage shown = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
  panel->orderOut();
  ASSERT_TRUE(waitMapped(false));
  QTest::qWait(100);
  const QImage under = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
  for (const QPoint corner : {QPoint(0, 0), QPoint(199, 0), QPoint(0, 39), QPoint(199, 39), QPoint(2, 2)})
    EXPECT_EQ(shown.pixel(corner), under.pixel(corner)) << corner.x() << "," << corner.y();
  // Inside the capsule: the page colour, and the accent outline at the top.
  EXPECT_EQ(rgbAt(shown, 6, 20), rgb(dsColor(DSColor::background, panel)));
  EXPECT_EQ(rgbAt(shown, 100, 0), rgb(dsColor(DSColor::accent, panel)));
}

// Claiming the compositing-manager selection stands in for a compositor:
// the panel made then draws its corners with alpha and carries no mask, and
// goes back to the mask when the compositor leaves.
TEST_F(HudWindow, CornersAreDrawnWithAlphaUnderACompositor) {
  ASSERT_TRUE(x.display());
  const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(x.display()));
  const Atom selection = XInternAtom(x.display(), name.constData(), False);
  const Window owner = XCreateSimpleWindow(x.display(), x.root(), 0, 0, 1, 1, 0, 0, 0);
  XSetSelectionOwner(x.display(), selection, owner, CurrentTime);
  XSync(x.display(), False);
  ASSERT_TRUE(FloatingPanel::compositorRunning());

  controller.show(presentation, levels.reader());
  ASSERT_TRUE(waitMapped(true));
  EXPECT_TRUE(controller.panel()->drawsWithAlpha());
  EXPECT_TRUE(controller.panel()->testAttribute(Qt::WA_TranslucentBackground));
  EXPECT_TRUE(controller.panel()->mask().isEmpty());

  XDestroyWindow(x.display(), owner);
  XSync(x.display(), False);
  ASSERT_FALSE(FloatingPanel::compositorRunning());
  controller.panel()->orderOut();
  controller.show(presentation, levels.reader());
  ASSERT_TRUE(waitMapped(true));
  EXPECT_FALSE(controller.panel()->mask().isEmpty());
}

// Pictures of the three looks in both appearances, taken from the screen, in
// build/hud-screenshots/.
TEST_F(HudWindow, Screenshots) {
  const QString folder = murel::test::buildDir() + QStringLiteral("/hud-screenshots");
  ASSERT_TRUE(QDir().mkpath(folder));
  levels.script = {0.02f, 0.05f, 0.12f, 0.3f,  0.55f, 0.8f,  0.6f,  0.35f, 0.2f,  0.4f,  0.7f, 0.9f,
                   0.5f,  0.25f, 0.1f,  0.04f, 0.15f, 0.45f, 0.65f, 0.3f,  0.12f, 0.06f, 0.2f, 0.5f};
  struct Look {
    HudPhase phase;
    const char* name;
  };
  for (const Scheme scheme : {Scheme::Light, Scheme::Dark}) {
    for (const Look look : {Look{HudPhase::recording, "recording"}, Look{HudPhase::editing, "editing"},
                            Look{HudPhase::transcribing, "processing"}}) {
      presentation.setPhase(look.phase);
      controller.show(presentation, levels.reader());
      Appearance::setOverride(controller.panel(), scheme);
      ASSERT_TRUE(waitMapped(true));
      clock.advance(MinimalBarWaveform::kInterval * 24);
      QWidget* bar = contentOf(controller)->bar();
      for (auto* dot : bar->findChildren<MinimalBarRecordingDot*>()) dot->setPulseTime(800);
      for (auto* spinner : bar->findChildren<DSSpinner*>()) spinner->setSpinTime(100);
      QTest::qWait(150);
      const QRect area = controller.panel()->geometry().adjusted(-12, -12, 12, 12);
      const QImage shot =
          QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
      const QString file = QStringLiteral("%1/%2-%3.png")
                               .arg(folder, QLatin1String(look.name),
                                    scheme == Scheme::Dark ? QStringLiteral("dark") : QStringLiteral("light"));
      // Three times the size, pixels kept sharp, for looking at.
      const QImage large = shot.scaled(shot.size() * 3, Qt::IgnoreAspectRatio, Qt::FastTransformation);
      ASSERT_TRUE(large.save(file)) << file.toStdString();
      // The capsule in the appearance's page colour.
      EXPECT_EQ(rgbAt(shot, 12 + 6, 12 + 20), rgb(dsColor(DSColor::background, scheme)));
    }
  }
}

}  // namespace
