// The setup steps of the onboarding window (permissions and their guide,
// microphone, hotkey) in a real window on the rig's X server: clicks and keys
// through xdotool, waits on a fake clock, the rig's PulseAudio and X server as
// the real parts, and light and dark screenshots of every main state.
#include "audio/AudioDeviceManager.h"
#include "design/Crossfade.h"
#include "design/EditorialComponents.h"
#include "design/HotkeyComponents.h"
#include "design/Motion.h"
#include "design/OnboardingButtonStyle.h"
#include "design/Text.h"
#include "hotkeys/HotKeyRecorder.h"
#include "hotkeys/HotKeyService.h"
#include "onboarding/AccessibilityGuideView.h"
#include "onboarding/HotkeyRecordView.h"
#include "onboarding/MicrophoneSelectionView.h"
#include "onboarding/OnboardingContainerView.h"
#include "onboarding/PermissionsView.h"
#include "platform/pulse/MicrophonePermission.h"
#include "platform/x11/AccessibilityTrust.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "support/FakeClock.h"
#include "support/OnboardingRig.h"
#include "support/OwnXServer.h"
#include "support/PasteTarget.h"
#include "support/PulseRig.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVariantAnimation>

#include <gtest/gtest.h>

// Last: Xlib's macros would clash with the headers above.
#include <X11/Xlib.h>

using namespace murel;
using namespace std::chrono_literals;
using murel::test::FakeClock;
using murel::test::OnboardingRig;
using murel::test::waitUntil;
using murel::test::xdotool;
using MicStatus = platform::MicrophonePermissionStatus;

namespace {

// A microphone permission that answers what the test says; a request grants
// or refuses as told and the status follows.
class ScriptedPermission final : public platform::MicrophonePermission {
 public:
  MicStatus answer = MicStatus::Authorized;
  bool grantOnRequest = true;
  int requests = 0;

  MicStatus status() override { return answer; }
  QCoro::Task<bool> request() override {
    ++requests;
    answer = grantOnRequest ? MicStatus::Authorized : MicStatus::Denied;
    co_return grantOnRequest;
  }
};

// Deleted steps go with deleteLater; outside a running loop they wait.
template <typename T>
bool isDestroyed(const QPointer<T>& widget) {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return widget.isNull();
}

// The change of `widgets` just made cross-fades each over `ms`, ease-out, and
// ends (a widget that goes meanwhile takes its fade with it).
void expectCrossfade(std::initializer_list<QWidget*> widgets, int ms) {
  QList<QPointer<QWidget>> watched;
  for (QWidget* widget : widgets) {
    const Crossfade* fade = Crossfade::running(widget);
    ASSERT_NE(fade, nullptr) << "no cross-fade over " << widget->metaObject()->className();
    EXPECT_EQ(fade->tween()->animation()->duration(), ms);
    EXPECT_EQ(fade->tween()->animation()->easingCurve(), Motion::easeOut());
    watched << widget;
  }
  for (const QPointer<QWidget>& widget : watched)
    EXPECT_TRUE(waitUntil([&] { return !widget || Crossfade::running(widget) == nullptr; }));
}

class OnboardingSetup : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installTranslations(*QCoreApplication::instance());
    Fonts::registerBundled();
  }
  void SetUp() override { ASSERT_TRUE(OnboardingRig::movePointerAway()); }

  // The window with the given answers in place of the desktop's.
  OnboardingRig& makeRig(OnboardingRig::Parts parts = {}) {
    rig = std::make_unique<OnboardingRig>(clock, std::move(parts));
    return *rig;
  }
  // Answers of the test's own for both permissions.
  OnboardingRig& makeScriptedRig() {
    OnboardingRig::Parts parts;
    parts.microphonePermission = &permission;
    parts.isAccessibilityTrusted = [this] {
      ++trustChecks;
      return trusted;
    };
    return makeRig(std::move(parts));
  }
  // The step on screen, its layout settled (what it learns as it appears
  // resizes its rows a few event-loop turns later), so clicks land.
  template <typename View>
  View* open(int step) {
    if (!rig->open(step)) return nullptr;
    QTest::qWait(50);
    return qobject_cast<View*>(rig->container().currentStepView());
  }
  // Shots of the window as it is now; no raw text id and no other platform on it.
  void screenshots(const QString& name) {
    SCOPED_TRACE(name.toStdString());
    QCoreApplication::processEvents();
    const auto [light, dark] = rig->screenshots(name);
    EXPECT_EQ(light.size(), QSize(800, 600));
    EXPECT_NE(light, dark);
    const QRegularExpression id(QStringLiteral("^[A-Za-z0-9_]+(\\.[A-Za-z0-9_]+)+$"));
    for (const QString& text : visibleTexts()) {
      EXPECT_FALSE(id.match(text).hasMatch()) << text.toStdString();
      for (const char* word : {"Mac", "macOS", "menu bar", "System Settings"})
        EXPECT_FALSE(text.contains(QLatin1String(word))) << text.toStdString();
    }
  }
  // The container's texts and those of an overlay over the window.
  QStringList visibleTexts() const {
    QStringList texts = rig->visibleTexts();
    for (const TextLabel* label : rig->window().findChildren<TextLabel*>())
      if (label->isVisibleTo(&rig->window()) && !texts.contains(label->text())) texts << label->text();
    return texts;
  }

  FakeClock clock;
  ScriptedPermission permission;
  bool trusted = true;
  int trustChecks = 0;
  std::unique_ptr<OnboardingRig> rig;
};

// --- Permissions ---

TEST_F(OnboardingSetup, BothGrantedReadGrantedAtOnceWithNothingPolling) {
  makeScriptedRig();
  auto* view = open<PermissionsView>(1);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->micGranted());
  EXPECT_TRUE(view->accessGranted());
  EXPECT_TRUE(view->microphoneRow()->grantedPill()->isVisible());
  EXPECT_TRUE(view->accessibilityRow()->grantedPill()->isVisible());
  EXPECT_FALSE(view->accessibilityRow()->guideLink()->isVisible()) << "no guide once granted";
  EXPECT_TRUE(view->nextButton()->isEnabled());
  EXPECT_EQ(clock.pendingCount(), 0u);
  EXPECT_EQ(permission.requests, 0);
  ASSERT_TRUE(waitUntil([&] { return view->rowsOpacity() == 1; }));
  screenshots(QStringLiteral("permissions-granted"));

  ASSERT_TRUE(OnboardingRig::click(view->nextButton()));
  ASSERT_TRUE(waitUntil([&] { return rig->container().currentStep() == 2; }));
}

TEST_F(OnboardingSetup, AnUndeterminedMicrophoneIsAskedOnceAndNeverPolled) {
  const struct {
    const char* rule;
    bool grant;
    const char* label;  // the button afterwards
  } cases[] = {
      {"a grant shows GRANTED", true, nullptr},
      {"a refusal leaves the button and says why", false, "CONTINUE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    permission.answer = MicStatus::NotDetermined;
    permission.grantOnRequest = c.grant;
    permission.requests = 0;
    makeScriptedRig();
    auto* view = open<PermissionsView>(1);
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(view->micGranted());
    OnboardingButtonStyle* button = view->microphoneRow()->actionButton();
    EXPECT_EQ(button->text(), QStringLiteral("CONTINUE"));
    EXPECT_FALSE(view->nextButton()->isEnabled());
    if (c.grant) screenshots(QStringLiteral("permissions-microphone-undetermined"));
    ASSERT_TRUE(OnboardingRig::click(button));
    ASSERT_TRUE(waitUntil([&] { return permission.requests == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(view->micGranted(), c.grant);
    EXPECT_EQ(view->microphoneRow()->grantedPill()->isVisible(), c.grant);
    if (c.label) EXPECT_EQ(button->text(), QString::fromUtf8(c.label));
    EXPECT_EQ(view->microphoneRow()->problemText()->isVisible(), !c.grant);
    if (!c.grant) EXPECT_TRUE(view->microphoneRow()->problemText()->text().contains(QStringLiteral("sound server")));
    EXPECT_EQ(view->nextButton()->isEnabled(), c.grant);
    EXPECT_FALSE(view->isPollingMicrophone());
    EXPECT_EQ(clock.pendingCount(), 0u);
    EXPECT_EQ(permission.requests, 1);
  }
}

TEST_F(OnboardingSetup, ADeniedMicrophoneIsPolledEverySecondUntilGranted) {
  permission.answer = MicStatus::Denied;
  makeScriptedRig();
  rig->audioDevices().refreshDevices();
  auto* view = open<PermissionsView>(1);
  ASSERT_NE(view, nullptr);
  OnboardingButtonStyle* button = view->microphoneRow()->actionButton();
  // No settings page to open on this desktop: no button that would open nothing.
  EXPECT_EQ(button->text(), QStringLiteral("CONTINUE")) << "from the first paint";
  for (const QString& text : visibleTexts())
    EXPECT_FALSE(text.contains(QStringLiteral("SETTINGS"))) << text.toStdString();
  EXPECT_FALSE(view->microphoneRow()->problemText()->isVisible()) << "nothing said before CONTINUE";

  ASSERT_TRUE(OnboardingRig::click(button));
  ASSERT_TRUE(waitUntil([&] { return view->isPollingMicrophone(); }));
  EXPECT_TRUE(view->microphoneRow()->problemText()->isVisible());
  EXPECT_EQ(button->text(), QStringLiteral("CONTINUE"));
  screenshots(QStringLiteral("permissions-microphone-denied"));
  EXPECT_EQ(clock.pendingCount(), 1u);
  // Taps while polling replace the poll: one per permission, ever.
  for (int tap = 0; tap < 3; ++tap) {
    ASSERT_TRUE(OnboardingRig::click(button));
    QTest::qWait(50);
  }
  EXPECT_EQ(clock.pendingCount(), 1u);
  clock.advance(3s);
  EXPECT_FALSE(view->micGranted()) << "still denied";
  EXPECT_EQ(clock.pendingCount(), 1u);

  permission.answer = MicStatus::Authorized;
  clock.advance(999ms);
  EXPECT_FALSE(view->micGranted());
  clock.advance(1ms);
  EXPECT_TRUE(view->micGranted()) << "seen on the next tick";
  expectCrossfade({view->microphoneRow()}, 150);
  EXPECT_FALSE(view->microphoneRow()->problemText()->isVisible());
  EXPECT_EQ(rig->audioDevices().permissionStatus(), MicStatus::Authorized) << "the manager sees the grant too";
  EXPECT_FALSE(view->isPollingMicrophone());
  EXPECT_EQ(clock.pendingCount(), 0u) << "the poll stops itself";
  EXPECT_TRUE(view->nextButton()->isEnabled());
  EXPECT_EQ(permission.requests, 0) << "a denial is not asked again";
}

TEST_F(OnboardingSetup, UntrustedKeysArePolledUntilTheStepIsLeft) {
  trusted = false;
  makeScriptedRig();
  auto* view = open<PermissionsView>(1);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->micGranted());
  EXPECT_FALSE(view->accessGranted());
  EXPECT_FALSE(view->nextButton()->isEnabled());
  EXPECT_EQ(view->microphoneRow()->guideLink(), nullptr) << "the guide is the accessibility row's only";
  ASSERT_NE(view->accessibilityRow()->guideLink(), nullptr);
  EXPECT_TRUE(view->accessibilityRow()->guideLink()->isVisible());
  ASSERT_TRUE(waitUntil([&] { return view->rowsOpacity() == 1; }));
  screenshots(QStringLiteral("permissions-accessibility-untrusted"));

  ASSERT_TRUE(OnboardingRig::click(view->accessibilityRow()->actionButton()));
  ASSERT_TRUE(waitUntil([&] { return view->isPollingAccessibility(); }));
  ASSERT_TRUE(OnboardingRig::click(view->accessibilityRow()->actionButton()));
  QTest::qWait(50);
  EXPECT_EQ(clock.pendingCount(), 1u);
  const int checks = trustChecks;
  clock.advance(2s);
  EXPECT_EQ(trustChecks, checks + 2) << "one check a second";

  // ← BACK ends the poll with the step.
  QPointer<PermissionsView> left = view;
  ASSERT_TRUE(OnboardingRig::click(view->backButton()));
  ASSERT_TRUE(waitUntil([&] { return rig->container().currentStep() == 0; }));
  rig->container().finishTransition();
  EXPECT_TRUE(isDestroyed(left));
  const int afterLeaving = trustChecks;
  clock.advance(5s);
  EXPECT_EQ(trustChecks, afterLeaving) << "nothing polls once the step is gone";

  // Trust given later is seen by the next visit as it appears.
  trusted = true;
  auto* again = open<PermissionsView>(1);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->accessGranted());
  EXPECT_FALSE(again->accessibilityRow()->guideLink()->isVisible());
}

TEST_F(OnboardingSetup, TheRigsRealPartsGrantBoth) {
  makeRig();
  auto* view = open<PermissionsView>(1);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->micGranted()) << "PulseAudio answers";
  EXPECT_TRUE(view->accessGranted()) << "Xvfb has XTEST and XInput 2.2";
  EXPECT_TRUE(view->nextButton()->isEnabled());
  EXPECT_EQ(clock.pendingCount(), 0u);
}

// Points PULSE_SERVER at a socket path that nothing listens on yet; `answer`
// makes it the rig's server (a link to its socket). The rig's value comes back
// at the end.
class LateSoundServer {
 public:
  LateSoundServer()
      : rigServer_(qgetenv("PULSE_SERVER")),
        path_(test::freshDir(QStringLiteral("late-sound-server")) + QStringLiteral("/native")) {
    qputenv("PULSE_SERVER", "unix:" + path_.toLocal8Bit());
  }
  ~LateSoundServer() { qputenv("PULSE_SERVER", rigServer_); }
  LateSoundServer(const LateSoundServer&) = delete;
  LateSoundServer& operator=(const LateSoundServer&) = delete;

  bool answer() const {
    QString socket = QString::fromLocal8Bit(rigServer_);
    if (socket.startsWith(QStringLiteral("unix:"))) socket = socket.mid(5);
    return !socket.isEmpty() && QFile::link(socket, path_);
  }

 private:
  QByteArray rigServer_;
  QString path_;
};

TEST_F(OnboardingSetup, ASoundServerThatAnswersLateIsGrantedThroughTheDeviceManager) {
  LateSoundServer server;
  makeRig();
  EXPECT_NE(rig->audioDevices().permissionStatus(), MicStatus::Authorized);
  auto* view = open<PermissionsView>(1);
  ASSERT_NE(view, nullptr);
  EditorialPermissionRow* row = view->microphoneRow();
  EXPECT_FALSE(view->micGranted());
  EXPECT_EQ(row->actionButton()->text(), QStringLiteral("CONTINUE"));
  EXPECT_FALSE(row->problemText()->isVisible());

  // CONTINUE with no server: the row says why and what to do.
  ASSERT_TRUE(OnboardingRig::click(row->actionButton()));
  ASSERT_TRUE(waitUntil([&] { return row->problemText()->isVisible(); }));
  EXPECT_TRUE(row->problemText()->text().contains(QStringLiteral("can't reach the sound server")));
  EXPECT_TRUE(row->problemText()->text().contains(QStringLiteral("press CONTINUE again")));
  EXPECT_FALSE(view->micGranted());
  EXPECT_FALSE(view->nextButton()->isEnabled());
  ASSERT_TRUE(waitUntil([&] { return view->rowsOpacity() == 1; }));
  screenshots(QStringLiteral("permissions-no-sound-server"));

  // The server answers: one CONTINUE grants, and the manager is connected,
  // authorized and lists the rig's microphone.
  ASSERT_TRUE(server.answer());
  QTest::qWait(400);  // past any double-click interval
  ASSERT_TRUE(OnboardingRig::click(row->actionButton()));
  ASSERT_TRUE(waitUntil([&] { return view->micGranted(); }));
  EXPECT_TRUE(row->grantedPill()->isVisible());
  EXPECT_FALSE(row->problemText()->isVisible());
  EXPECT_EQ(rig->audioDevices().permissionStatus(), MicStatus::Authorized);
  ASSERT_TRUE(waitUntil([&] { return Crossfade::running(row) == nullptr; }));
  screenshots(QStringLiteral("permissions-sound-server-back"));

  ASSERT_TRUE(OnboardingRig::click(view->nextButton()));
  ASSERT_TRUE(waitUntil([&] { return rig->container().currentStep() == 2; }));
  rig->container().finishTransition();
  auto* microphones = qobject_cast<MicrophoneSelectionView*>(rig->container().currentStepView());
  ASSERT_NE(microphones, nullptr);
  QStringList names;
  for (const EditorialDeviceRow* device : microphones->rows()) names << device->device().name;
  EXPECT_TRUE(names.contains(QStringLiteral("Murel-Test-Microphone"))) << names.join(", ").toStdString();

  // Back: the step made afresh reads the manager's grant.
  QTest::qWait(400);
  ASSERT_TRUE(OnboardingRig::click(microphones->backButton()));
  ASSERT_TRUE(waitUntil([&] { return rig->container().currentStep() == 1; }));
  rig->container().finishTransition();
  auto* again = qobject_cast<PermissionsView*>(rig->container().currentStepView());
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->micGranted());
  EXPECT_TRUE(again->microphoneRow()->grantedPill()->isVisibleTo(again));
  EXPECT_FALSE(again->microphoneRow()->actionButton()->isVisibleTo(again)) << "GRANTED, not CONTINUE";
}

TEST_F(OnboardingSetup, ADisplayWithoutXtestIsNamedOnTheAccessibilityRow) {
  test::OwnXServer server({QStringLiteral("-extension"), QStringLiteral("XTEST")});
  ASSERT_FALSE(server.display().isEmpty());
  const QByteArray display = server.display().toLocal8Bit();
  ASSERT_TRUE(platform::checkKeyAccess(display.constData()).display);
  OnboardingRig::Parts parts;
  parts.isAccessibilityTrusted = [display] { return platform::checkKeyAccess(display.constData()).trusted(); };
  parts.keyAccess = [display] { return platform::checkKeyAccess(display.constData()); };
  makeRig(std::move(parts));
  auto* view = open<PermissionsView>(1);
  ASSERT_NE(view, nullptr);
  EditorialPermissionRow* row = view->accessibilityRow();
  EXPECT_FALSE(view->accessGranted());
  EXPECT_FALSE(row->problemText()->isVisible());

  ASSERT_TRUE(OnboardingRig::click(row->actionButton()));
  ASSERT_TRUE(waitUntil([&] { return row->problemText()->isVisible(); }));
  EXPECT_TRUE(row->problemText()->text().startsWith(QStringLiteral("This X server lacks XTEST.")))
      << row->problemText()->text().toStdString();
  EXPECT_TRUE(view->isPollingAccessibility()) << "still watching for it";
  EXPECT_TRUE(row->guideLink()->isVisible());
  ASSERT_TRUE(waitUntil([&] { return view->rowsOpacity() == 1; }));
  screenshots(QStringLiteral("permissions-no-xtest"));
}

TEST_F(OnboardingSetup, TheAccessibilityRowSaysWhatTheDesktopLacks) {
  using Report = platform::KeyAccessReport;
  const struct {
    const char* rule;
    Report report;
    QString says;
  } cases[] = {
      {"no X display", Report{}, QStringLiteral("No X display answers.")},
      {"both extensions missing", Report{true, false, false, false},
       QStringLiteral("This X server lacks XTEST and XInput 2.2.")},
      {"an old XInput", Report{true, true, false, false}, QStringLiteral("This X server lacks XInput 2.2.")},
      {"Wayland through XWayland", Report{true, false, true, true},
       QStringLiteral("This Wayland session's X server lacks XTEST.")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    OnboardingRig::Parts parts;
    parts.microphonePermission = &permission;
    parts.isAccessibilityTrusted = [] { return false; };
    parts.keyAccess = [report = c.report] { return report; };
    makeRig(std::move(parts));
    auto* view = open<PermissionsView>(1);
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(OnboardingRig::click(view->accessibilityRow()->actionButton()));
    ASSERT_TRUE(waitUntil([&] { return view->accessibilityRow()->problemText()->isVisible(); }));
    EXPECT_TRUE(view->accessibilityRow()->problemText()->text().startsWith(c.says))
        << view->accessibilityRow()->problemText()->text().toStdString();
  }
}

// --- The accessibility guide ---

TEST_F(OnboardingSetup, GuideLoopsItsClipFromTheFirstPicture) {
  trusted = false;
  makeScriptedRig();
  auto* view = open<PermissionsView>(1);
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(OnboardingRig::click(view->accessibilityRow()->guideLink()));
  ASSERT_TRUE(waitUntil([&] { return view->isShowingAccessibilityGuide(); }));
  AccessibilityGuideView* guide = view->accessibilityGuide();
  EXPECT_EQ(guide->width(), 480);
  EXPECT_EQ(guide->titleLabel()->text(), QStringLiteral("ENABLE ACCESSIBILITY"));
  ASSERT_NE(guide->stepText(1), nullptr);
  EXPECT_TRUE(guide->stepText(1)->text().contains(QStringLiteral("“CONTINUE”"))) << "names the button shown";
  EXPECT_TRUE(guide->stepText(1)->text().contains(QStringLiteral("XInput 2.2")));
  LoopingVideoPlayer* video = guide->videoPlayer();
  ASSERT_NE(video, nullptr) << "the clip is built into the resource folder";
  EXPECT_EQ(video->width() * 11, video->height() * 16);

  ASSERT_TRUE(waitUntil([&] { return video->framesShown() == 1; }));
  EXPECT_EQ(video->currentFrameIndex(), 0);
  const QImage first = video->currentFrame();
  ASSERT_FALSE(first.isNull());
  screenshots(QStringLiteral("accessibility-guide"));

  // One picture per tick of the clock, in order, then the first again.
  constexpr auto kFrame = std::chrono::nanoseconds(1'000'000'000LL / 15 + 1);
  bool changed = false;
  int shown = 1;
  std::chrono::nanoseconds elapsed{0};
  for (;;) {
    clock.advance(kFrame);
    elapsed += kFrame;
    ++shown;
    ASSERT_TRUE(waitUntil([&] { return video->framesShown() == shown; })) << shown;
    if (video->currentFrame() != first) changed = true;
    if (video->currentFrameIndex() == 0) break;
    ASSERT_EQ(video->currentFrameIndex(), shown - 1);
    ASSERT_LT(shown, 200) << "the clip never came round";
  }
  EXPECT_TRUE(changed) << "the pictures move";
  EXPECT_EQ(shown - 1, 60) << "4 s at 15 pictures a second";
  EXPECT_NEAR(std::chrono::duration<double>(elapsed).count(), 4.0, 0.01);
  EXPECT_EQ(video->currentFrame(), first) << "the loop starts over at the first picture";

  // CLOSE closes; the video stops with the sheet.
  QPointer<LoopingVideoPlayer> player = video;
  ASSERT_TRUE(OnboardingRig::click(guide->closeButton()));
  ASSERT_TRUE(waitUntil([&] { return !view->isShowingAccessibilityGuide(); }));
  EXPECT_TRUE(isDestroyed(player));
  clock.advance(1s);
  EXPECT_EQ(clock.pendingCount(), 0u) << "no picture waits for a closed sheet";

  // Opened again, it plays from the first picture.
  ASSERT_TRUE(OnboardingRig::click(view->accessibilityRow()->guideLink()));
  ASSERT_TRUE(waitUntil([&] { return view->isShowingAccessibilityGuide(); }));
  LoopingVideoPlayer* again = view->accessibilityGuide()->videoPlayer();
  ASSERT_TRUE(waitUntil([&] { return again->framesShown() == 1; }));
  EXPECT_EQ(again->currentFrameIndex(), 0);
  EXPECT_EQ(again->currentFrame(), first);
}

// At the window's 800×600 the clip and both steps are taller than the sheet's
// body: the body scrolls inside the sheet (wheel, as a user would) until each
// step's last line is in view, every line laid out; the sheet, its title and
// CLOSE stay inside the window, over the dimmed step.
TEST_F(OnboardingSetup, GuideStepsCanAllBeScrolledIntoViewAt800By600) {
  trusted = false;
  makeScriptedRig();
  auto* view = open<PermissionsView>(1);
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(rig->window().size(), QSize(800, 600));
  ASSERT_TRUE(OnboardingRig::click(view->accessibilityRow()->guideLink()));
  ASSERT_TRUE(waitUntil([&] { return view->isShowingAccessibilityGuide(); }));
  AccessibilityGuideView* guide = view->accessibilityGuide();
  ASSERT_NE(guide->videoPlayer(), nullptr);
  QCoreApplication::processEvents();
  const QRect inWindow(guide->mapTo(&rig->window(), QPoint()), guide->size());
  EXPECT_TRUE(rig->window().rect().contains(inWindow)) << "sheet cut by the window";
  const QRect close(guide->closeButton()->mapTo(guide, QPoint()), guide->closeButton()->size());
  EXPECT_GT(close.top(), guide->scrollArea()->geometry().bottom()) << "CLOSE sits under the body";
  EXPECT_GT(close.left(), guide->width() / 2) << "CLOSE sits at the trailing end";

  CappedScrollArea* scroll = guide->scrollArea();
  QWidget* viewport = scroll->viewport();
  // The part of `label` inside the viewport, in its own coordinates.
  const auto shown = [&](TextLabel* label) {
    return QRect(label->mapFrom(viewport, QPoint()), viewport->size()).intersected(label->rect());
  };
  for (int step : {1, 2}) {
    TextLabel* text = guide->stepText(step);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->height(), text->heightForWidth(text->width())) << "step " << step << " laid out in full";
  }
  EXPECT_LT(shown(guide->stepText(2)).height(), guide->stepText(2)->height()) << "the body fits: nothing to scroll";
  // The cut edge fades: there is more below.
  EXPECT_TRUE(guide->scrollArea()->bottomFade()->isVisible());
  EXPECT_FALSE(guide->scrollArea()->topFade()->isVisible());
  screenshots(QStringLiteral("accessibility-guide-top"));

  // Wheel down over the body until the last step's last line is shown.
  const QPoint over = viewport->mapToGlobal(viewport->rect().center());
  ASSERT_TRUE(xdotool({QStringLiteral("mousemove"), QString::number(over.x()), QString::number(over.y())}));
  for (int notch = 0; notch < 20 && shown(guide->stepText(2)).bottom() < guide->stepText(2)->height() - 1; ++notch) {
    ASSERT_TRUE(xdotool({QStringLiteral("click"), QStringLiteral("5")}));
    QTest::qWait(30);
  }
  for (int step : {1, 2}) {
    TextLabel* text = guide->stepText(step);
    EXPECT_EQ(shown(text), text->rect()) << "step " << step << " not wholly in view";
  }
  EXPECT_FALSE(guide->scrollArea()->bottomFade()->isVisible()) << "nothing more below";
  EXPECT_TRUE(guide->scrollArea()->topFade()->isVisible());
  screenshots(QStringLiteral("accessibility-guide-scrolled"));

  // And back up to the clip's top.
  for (int notch = 0; notch < 20 && scroll->verticalScrollBar()->value() > 0; ++notch) {
    ASSERT_TRUE(xdotool({QStringLiteral("click"), QStringLiteral("4")}));
    QTest::qWait(30);
  }
  EXPECT_EQ(scroll->verticalScrollBar()->value(), 0);
  ASSERT_TRUE(OnboardingRig::movePointerAway());
}

TEST_F(OnboardingSetup, GuideWithoutItsClipShowsTitleAndStepsAndClosesOncePerClick) {
  makeRig();
  ASSERT_TRUE(rig->open(1));
  auto* guide =
      new AccessibilityGuideView(clock, test::tempRoot() + QStringLiteral("/no-such-clip.mp4"), &rig->window());
  guide->move(160, 40);
  guide->show();
  guide->raise();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig->window()));
  EXPECT_EQ(guide->videoPlayer(), nullptr);
  EXPECT_EQ(guide->width(), 480);
  EXPECT_TRUE(guide->titleLabel()->isVisible());
  ASSERT_NE(guide->stepText(2), nullptr);
  EXPECT_TRUE(guide->stepText(1)->isVisible());
  EXPECT_TRUE(guide->stepText(2)->isVisible());
  EXPECT_EQ(guide->stepText(1)->height(), guide->stepText(1)->heightForWidth(guide->stepText(1)->width()))
      << "wrapped in full";
  screenshots(QStringLiteral("accessibility-guide-no-clip"));

  QSignalSpy closes(guide, &AboutDetailSheet::closeRequested);
  ASSERT_TRUE(OnboardingRig::click(guide->closeButton()));
  ASSERT_TRUE(waitUntil([&] { return closes.size() == 1; }));
  QTest::qWait(400);  // past any double-click interval
  ASSERT_TRUE(OnboardingRig::click(guide->closeButton()));
  ASSERT_TRUE(waitUntil([&] { return closes.size() == 2; }));
  QTest::qWait(50);
  EXPECT_EQ(closes.size(), 2);
  delete guide;
}

// --- Microphone ---

QStringList rowNames(const MicrophoneSelectionView* view) {
  QStringList names;
  for (const EditorialDeviceRow* row : view->rows()) names << row->device().name;
  return names;
}

TEST_F(OnboardingSetup, MicrophoneListFollowsPulseAudioAndStoresAPress) {
  makeRig();
  auto* view = open<MicrophoneSelectionView>(2);
  ASSERT_NE(view, nullptr);
  ASSERT_GE(view->rows().size(), 2);
  EXPECT_EQ(view->rows()[0]->device().id, 0u);
  EXPECT_EQ(view->rows()[0]->device().name, QStringLiteral("System Default"));
  EXPECT_EQ(view->rows()[0]->numeral()->text(), QStringLiteral("01"));
  EXPECT_TRUE(view->rows()[0]->isSelected());
  EXPECT_TRUE(rowNames(view).contains(QStringLiteral("Murel-Test-Microphone")))
      << rowNames(view).join(", ").toStdString();
  EXPECT_FALSE(view->emptyText()->isVisible());
  EXPECT_TRUE(view->nextButton()->isEnabled());
  ASSERT_TRUE(waitUntil([&] { return view->listOpacity() == 1; }));
  screenshots(QStringLiteral("microphone"));

  // Plugged in while shown: a new row.
  const int before = int(view->rows().size());
  test::PipeSource plugged(QStringLiteral("murel_onboarding_mic"), 16000, 1, QStringLiteral("Onboarding-Plugged-Mic"));
  ASSERT_TRUE(plugged.loaded());
  ASSERT_TRUE(waitUntil([&] { return rowNames(view).contains(QStringLiteral("Onboarding-Plugged-Mic")); }));
  EXPECT_EQ(view->rows().size(), before + 1);
  EditorialDeviceRow* row = nullptr;
  for (EditorialDeviceRow* candidate : view->rows())
    if (candidate->device().name == QStringLiteral("Onboarding-Plugged-Mic")) row = candidate;
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->numeral()->text(), QStringLiteral("%1").arg(view->rows().indexOf(row) + 1, 2, 10, QLatin1Char('0')));

  // A click stores its source name and ticks it.
  ASSERT_TRUE(OnboardingRig::click(row));
  ASSERT_TRUE(waitUntil([&] { return row->isSelected(); }));
  EXPECT_EQ(rig->defaults().stringValue(QLatin1String(AudioDeviceManager::kSelectedUIDKey)), plugged.name());
  EXPECT_FALSE(view->rows()[0]->isSelected());
  screenshots(QStringLiteral("microphone-picked"));

  // Unplugged: the row goes, System Default is ticked, the choice stays stored.
  plugged.unload();
  ASSERT_TRUE(waitUntil([&] { return !rowNames(view).contains(QStringLiteral("Onboarding-Plugged-Mic")); }));
  EXPECT_EQ(view->rows().size(), before);
  EXPECT_TRUE(view->rows()[0]->isSelected());
  EXPECT_EQ(rig->defaults().stringValue(QLatin1String(AudioDeviceManager::kSelectedUIDKey)), plugged.name());

  // Pressing System Default stores the empty choice.
  ASSERT_TRUE(OnboardingRig::click(view->rows()[0]));
  ASSERT_TRUE(waitUntil(
      [&] { return rig->defaults().stringValue(QLatin1String(AudioDeviceManager::kSelectedUIDKey)) == QString(); }));

  // A new choice cross-fades the mark from one row to the other. (Other
  // tests' microphones may come and go on the rig's server meanwhile, which
  // rebuilds the rows.)
  ASSERT_TRUE(waitUntil([&] { return Crossfade::running(view->rows()[0]) == nullptr; }));
  EditorialDeviceRow* second = view->rows()[1];
  rig->audioDevices().setSelectedDeviceID(second->device().id);
  ASSERT_TRUE(second->isSelected());
  expectCrossfade({second, view->rows()[0]}, 100);
}

TEST_F(OnboardingSetup, MicrophoneStepWritesNothingOnAppearance) {
  makeRig();
  const QString absent = QStringLiteral("alsa_input.unplugged-since-yesterday");
  rig->audioDevices().storeSelectedDeviceUID(absent);
  QSignalSpy writes(&rig->defaults(), &UserDefaults::valueChanged);
  auto* view = open<MicrophoneSelectionView>(2);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->rows()[0]->isSelected()) << "System Default stands in for the absent device";
  EXPECT_EQ(rig->defaults().stringValue(QLatin1String(AudioDeviceManager::kSelectedUIDKey)), absent);

  // An empty list (the real manager always has System Default): the empty
  // text, no rows, and still no write.
  auto* empty = new MicrophoneSelectionView(rig->audioDevices(), [] { return QList<AudioDevice>(); });
  empty->setAttribute(Qt::WA_DeleteOnClose);
  empty->resize(800, 540);
  empty->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(empty));
  EXPECT_TRUE(empty->rows().isEmpty());
  EXPECT_TRUE(empty->emptyText()->isVisible());
  EXPECT_EQ(empty->emptyText()->text(), QStringLiteral("No microphones found — connect one and it appears here."));
  EXPECT_TRUE(empty->nextButton()->isEnabled());
  for (const QList<QVariant>& write : writes)
    EXPECT_NE(write.value(0).toString(), QLatin1String(AudioDeviceManager::kSelectedUIDKey));
  EXPECT_EQ(rig->defaults().stringValue(QLatin1String(AudioDeviceManager::kSelectedUIDKey)), absent);
  empty->close();
}

// --- Hotkey ---

// Holds Alt+Space on the rig's X server, as another program would.
struct OtherClientGrab {
  Display* display = XOpenDisplay(nullptr);
  OtherClientGrab() {
    if (!display) return;
    XGrabKey(display, XKeysymToKeycode(display, XStringToKeysym("space")), Mod1Mask, DefaultRootWindow(display), False,
             GrabModeAsync, GrabModeAsync);
    XSync(display, False);
  }
  ~OtherClientGrab() {
    if (display) XCloseDisplay(display);
  }
};

TEST_F(OnboardingSetup, AFreshProfileGetsAltSpaceBound) {
  makeRig();
  EXPECT_FALSE(rig->defaults().contains(QStringLiteral("hotKeyCombo")));
  auto* view = open<HotkeyRecordView>(3);
  ASSERT_NE(view, nullptr);
  const auto stored = KeyCombo::fromRawValue(rig->defaults().stringValue(QStringLiteral("hotKeyCombo")).value_or(""));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->keyCode, 49u);
  EXPECT_EQ(stored->modifiers, KeyModifiers(KeyModifiers::option));
  EXPECT_EQ(view->keycaps()->labels(), (QStringList{QStringLiteral("Alt"), QStringLiteral("␣ SPACE")}));
  EXPECT_TRUE(rig->hotKeys().isRegistered());
  EXPECT_EQ(view->statusPill()->label(), QStringLiteral("BOUND"));
  EXPECT_EQ(view->statusPill()->leading(), EditorialStatusPill::Leading::checkmark);
  EXPECT_TRUE(view->rebindButton()->isVisible());
  EXPECT_FALSE(view->helperLine()->isVisible());
  EXPECT_TRUE(view->nextButton()->isEnabled());
  ASSERT_TRUE(waitUntil([&] { return view->contentOpacity() == 1; }));
  screenshots(QStringLiteral("hotkey-bound"));
}

TEST_F(OnboardingSetup, RebindRecordsTypedKeysAndEscapeChangesNothing) {
  makeRig();
  rig->hotKeys().setCurrentCombo(KeyCombo(Key::k, KeyModifiers::command | KeyModifiers::shift));
  auto* view = open<HotkeyRecordView>(3);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(rig->hotKeys().currentCombo(), KeyCombo(Key::k, KeyModifiers::command | KeyModifiers::shift))
      << "a stored hotkey stays";
  EXPECT_EQ(view->keycaps()->labels(), (QStringList{"Shift", "Super", "K"}));

  ASSERT_TRUE(OnboardingRig::click(view->rebindButton()));
  ASSERT_TRUE(waitUntil([&] { return view->recorder().isRecording(); }));
  EXPECT_EQ(view->statusPill()->label(), QStringLiteral("LISTENING…"));
  EXPECT_FALSE(view->rebindButton()->isVisible());
  EXPECT_TRUE(view->helperLine()->isVisible());
  EXPECT_EQ(view->helperLine()->text(), QStringLiteral("Press any key, with or without modifiers. Esc to cancel."));
  EXPECT_EQ(view->helperLine()->style().color, DSColor::inkMuted);
  EXPECT_FALSE(view->nextButton()->isEnabled());
  EXPECT_TRUE(view->backButton()->isEnabled());
  screenshots(QStringLiteral("hotkey-listening"));

  ASSERT_TRUE(xdotool({"key", "ctrl+shift+d"}));
  ASSERT_TRUE(waitUntil([&] { return !view->recorder().isRecording(); }));
  const std::optional<KeyCombo> recorded = rig->hotKeys().currentCombo();
  ASSERT_TRUE(recorded);
  EXPECT_EQ(recorded->keyCode, keyCode(Key::d));
  EXPECT_TRUE(recorded->modifiers.contains(KeyModifiers::leftControl) ||
              recorded->modifiers.contains(KeyModifiers::control));
  EXPECT_TRUE(recorded->modifiers.contains(KeyModifiers::leftShift) ||
              recorded->modifiers.contains(KeyModifiers::shift));
  EXPECT_EQ(KeyCombo::fromRawValue(rig->defaults().stringValue(QStringLiteral("hotKeyCombo")).value_or("")), recorded);
  EXPECT_EQ(view->statusPill()->label(), QStringLiteral("BOUND"));
  EXPECT_TRUE(view->nextButton()->isEnabled());
  EXPECT_FALSE(view->helperLine()->isVisible());

  ASSERT_TRUE(OnboardingRig::click(view->rebindButton()));
  ASSERT_TRUE(waitUntil([&] { return view->recorder().isRecording(); }));
  ASSERT_TRUE(xdotool({"key", "Escape"}));
  ASSERT_TRUE(waitUntil([&] { return !view->recorder().isRecording(); }));
  EXPECT_EQ(rig->hotKeys().currentCombo(), recorded);
  EXPECT_FALSE(view->helperLine()->isVisible()) << "no line under the row";
  EXPECT_EQ(view->statusPill()->label(), QStringLiteral("BOUND"));
}

TEST_F(OnboardingSetup, ACaptureTimesOutAfterFiveSecondsOnTheClock) {
  makeRig();
  auto* view = open<HotkeyRecordView>(3);
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(OnboardingRig::click(view->rebindButton()));
  ASSERT_TRUE(waitUntil([&] { return view->recorder().isRecording(); }));
  clock.advance(4999ms);
  EXPECT_TRUE(view->recorder().isRecording());
  clock.advance(1ms);
  EXPECT_FALSE(view->recorder().isRecording());
  expectCrossfade({view->statusBox(), view->helperBox()}, 150);
  EXPECT_TRUE(view->helperLine()->isVisible());
  EXPECT_EQ(view->helperLine()->text(), QStringLiteral("Timed out — click rebind to try again."));
  EXPECT_EQ(view->helperLine()->style().color, DSColor::warning);
  EXPECT_EQ(view->statusPill()->label(), QStringLiteral("BOUND"));
  EXPECT_TRUE(view->nextButton()->isEnabled());
  screenshots(QStringLiteral("hotkey-timeout"));
}

TEST_F(OnboardingSetup, AltSpaceHeldByAnotherClientIsUnavailable) {
  OtherClientGrab grab;
  ASSERT_NE(grab.display, nullptr);
  makeRig();
  auto* view = open<HotkeyRecordView>(3);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(rig->hotKeys().lastRegistrationError(), HotKeyService::kRegistrationFailed);
  EXPECT_TRUE(view->registrationUnavailable());
  EXPECT_EQ(view->statusPill()->label(), QStringLiteral("UNAVAILABLE"));
  EXPECT_EQ(view->statusPill()->tint(), DSColor::warning);
  EXPECT_TRUE(view->rebindButton()->isVisible());
  EXPECT_TRUE(view->helperLine()->isVisible());
  EXPECT_EQ(view->helperLine()->text(), qtTrId("hotkey.registrationFailed.helper"));
  EXPECT_FALSE(view->helperLine()->text().contains(QLatin1String("macOS")));
  EXPECT_EQ(view->helperLine()->style().color, DSColor::warning);
  EXPECT_FALSE(view->nextButton()->isEnabled());
  ASSERT_TRUE(waitUntil([&] { return view->contentOpacity() == 1; }));
  screenshots(QStringLiteral("hotkey-unavailable"));

  // Recording another combination retries the registration.
  ASSERT_TRUE(OnboardingRig::click(view->rebindButton()));
  ASSERT_TRUE(waitUntil([&] { return view->recorder().isRecording(); }));
  EXPECT_FALSE(view->helperLine()->text().contains(QLatin1String("bind"))) << "the recording hint while listening";
  ASSERT_TRUE(xdotool({"key", "ctrl+alt+j"}));
  ASSERT_TRUE(waitUntil([&] { return !view->recorder().isRecording(); }));
  EXPECT_TRUE(rig->hotKeys().isRegistered());
  EXPECT_EQ(view->statusPill()->label(), QStringLiteral("BOUND"));
  EXPECT_TRUE(view->nextButton()->isEnabled());
}

TEST_F(OnboardingSetup, TheChangeModeCombinationIsAConflict) {
  makeRig();
  rig->hotKeys().setChangeModeCombo(KeyCombo(Key::m, KeyModifiers::leftControl | KeyModifiers::leftShift));
  auto* view = open<HotkeyRecordView>(3);
  ASSERT_NE(view, nullptr);
  const std::optional<KeyCombo> before = rig->hotKeys().currentCombo();
  ASSERT_TRUE(OnboardingRig::click(view->rebindButton()));
  ASSERT_TRUE(waitUntil([&] { return view->recorder().isRecording(); }));
  ASSERT_TRUE(xdotool({"key", "ctrl+shift+m"}));
  ASSERT_TRUE(waitUntil([&] { return !view->recorder().isRecording(); }));
  EXPECT_TRUE(view->recorder().didConflict());
  EXPECT_EQ(rig->hotKeys().currentCombo(), before) << "nothing stored";
  EXPECT_EQ(view->helperLine()->text(), QStringLiteral("that shortcut is already in use."));
  EXPECT_EQ(view->helperLine()->style().color, DSColor::warning);
  EXPECT_EQ(view->statusPill()->label(), QStringLiteral("BOUND"));
  screenshots(QStringLiteral("hotkey-conflict"));
}

TEST_F(OnboardingSetup, PickerWritesTheModeAndLeavingMidCaptureResumesHotkeys) {
  makeRig();
  auto* view = open<HotkeyRecordView>(3);
  ASSERT_NE(view, nullptr);
  ActivationModePicker* picker = view->activationModePicker();
  ASSERT_TRUE(OnboardingRig::click(picker->segment(ActivationMode::toggle)));
  ASSERT_TRUE(waitUntil([&] { return rig->hotKeys().activationMode() == ActivationMode::toggle; }));
  EXPECT_EQ(rig->defaults().stringValue(QStringLiteral("activationMode")),
            activationModeRawValue(ActivationMode::toggle));
  QTest::qWait(400);
  ASSERT_TRUE(OnboardingRig::click(picker->segment(ActivationMode::holdToActivate)));
  ASSERT_TRUE(waitUntil([&] { return rig->hotKeys().activationMode() == ActivationMode::holdToActivate; }));
  EXPECT_EQ(picker->selection(), ActivationMode::holdToActivate);

  ASSERT_TRUE(OnboardingRig::click(view->rebindButton()));
  ASSERT_TRUE(waitUntil([&] { return view->recorder().isRecording(); }));
  EXPECT_TRUE(rig->hotKeys().isPaused());
  QPointer<HotkeyRecordView> left = view;
  ASSERT_TRUE(OnboardingRig::click(view->backButton()));
  ASSERT_TRUE(waitUntil([&] { return rig->container().currentStep() == 2; }));
  rig->container().finishTransition();
  EXPECT_TRUE(isDestroyed(left));
  EXPECT_FALSE(rig->hotKeys().isPaused()) << "the hotkeys are live again";
  EXPECT_TRUE(rig->hotKeys().isRegistered());
  EXPECT_EQ(clock.pendingCount(), 0u) << "no capture timeout left behind";
}

}  // namespace
