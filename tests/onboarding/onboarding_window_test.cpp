// The onboarding window in a real window on the rig's X server: the flow
// through its seven screens with xdotool clicks, the welcome carousel and the
// completion reveal on a fake clock, and finishing through the application.
#include "app/MurelApp.h"
#include "app/StatusItem.h"
#include "design/CoreComponents.h"
#include "design/OnboardingButtonStyle.h"
#include "design/Text.h"
#include "hotkeys/HotKeyService.h"
#include "onboarding/CompletionView.h"
#include "onboarding/MicrophoneSelectionView.h"
#include "onboarding/OnboardingContainerView.h"
#include "onboarding/OnboardingScene.h"
#include "onboarding/PushTransition.h"
#include "onboarding/WelcomeView.h"
#include "platform/pulse/SoundServer.h"
#include "platform/xdg/LoginItem.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "support/FakeClock.h"
#include "support/FakeKeyEventTap.h"
#include "support/OnboardingRig.h"
#include "support/TestEnv.h"

#include <QPointer>
#include <QTest>
#include <QVariantAnimation>

#include <gtest/gtest.h>

using namespace murel;
using namespace std::chrono_literals;
using murel::test::FakeClock;
using murel::test::FakeDesktopComposition;
using murel::test::OnboardingRig;
using murel::test::waitUntil;

namespace {

// Holds a push at its middle and reports where the entering and the leaving
// widget are then, relative to their resting places; the push then ends.
struct PushSample {
  int enteringOffset = 0;
  int leavingOffset = 0;
};

PushSample sampleAtMiddle(PushTransition* push, QRect enteringRest, QRect leavingRest) {
  PushSample sample;
  if (!push) return sample;
  push->animation()->pause();
  push->animation()->setCurrentTime(push->animation()->duration() / 2);
  if (push->entering()) sample.enteringOffset = push->entering()->x() - enteringRest.x();
  if (push->leaving()) sample.leavingOffset = push->leaving()->x() - leavingRest.x();
  push->finish();
  return sample;
}

// Deleted steps go with deleteLater (they may be inside their own click
// handler); outside a running event loop those deletions wait to be sent.
template <typename T>
bool isDestroyed(const QPointer<T>& widget) {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return widget.isNull();
}

// A step's "NEXT →"-like (primary, "→") or "← BACK"-like (secondary, "←") button.
const QWidget* navigationButton(const QWidget* step, bool forward) {
  if (!step) return nullptr;
  const OnboardingButtonStyle* found = nullptr;
  for (const OnboardingButtonStyle* button : step->findChildren<OnboardingButtonStyle*>()) {
    if (!button->isVisibleTo(step) || button->isPrimary() != forward) continue;
    if (forward ? !button->text().endsWith(QStringLiteral("→")) : !button->text().startsWith(QStringLiteral("←")))
      continue;
    found = button;
  }
  return found;
}

class Onboarding : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installTranslations(*QCoreApplication::instance());
    Fonts::registerBundled();
  }
  void SetUp() override { ASSERT_TRUE(OnboardingRig::movePointerAway()); }

  OnboardingContainerView& container() { return rig.container(); }
  template <typename View>
  View* stepView() {
    return qobject_cast<View*>(container().currentStepView());
  }
  // Clicks and waits until the flow shows `step`; the push is then held at
  // its middle, sampled, and ended.
  PushSample clickAndSample(const QWidget* button, int step) {
    PushSample sample;
    QRect enteringRest, leavingRest;
    const QRect before = container().currentStepView() ? container().currentStepView()->geometry() : QRect();
    bool sampled = false;
    auto connection = QObject::connect(&container(), &OnboardingContainerView::currentStepChanged, [&] {
      if (sampled) return;
      sampled = true;
      PushTransition* push = container().transition();
      enteringRest = push && push->entering() ? push->entering()->geometry() : QRect();
      // At the start of the push the entering widget sits one width away.
      if (push && push->entering())
        enteringRest.translate(container().width() * (container().navigatingForward() ? -1 : 1), 0);
      leavingRest = before;
      sample = sampleAtMiddle(push, enteringRest, leavingRest);
    });
    EXPECT_TRUE(OnboardingRig::click(button));
    EXPECT_TRUE(waitUntil([&] { return container().currentStep() == step; }));
    QObject::disconnect(connection);
    QCoreApplication::processEvents();
    return sample;
  }

  FakeClock clock;
  OnboardingRig rig{clock};
};

TEST_F(Onboarding, WalksForwardAndBackThroughSevenScreens) {
  ASSERT_TRUE(rig.open());
  EXPECT_EQ(rig.window().size(), QSize(800, 600));
  EXPECT_EQ(container().size(), QSize(800, 600));
  // The welcome step: no header, the whole window.
  ASSERT_NE(stepView<WelcomeView>(), nullptr);
  EXPECT_FALSE(container().header()->isVisible());
  EXPECT_EQ(container().currentStepView()->geometry(), QRect(0, 0, 800, 600));

  // Back on the first step changes nothing.
  container().goToPreviousStep();
  EXPECT_EQ(container().currentStep(), 0);
  EXPECT_TRUE(container().navigatingForward());
  EXPECT_EQ(container().transition(), nullptr);

  // BEGIN → pushes step 1 in from the right, the welcome step out to the left.
  PushSample push = clickAndSample(stepView<WelcomeView>()->beginButton(), 1);
  EXPECT_GT(push.enteringOffset, 100);
  EXPECT_LT(push.enteringOffset, 700);
  EXPECT_LT(push.leavingOffset, -100);
  EXPECT_TRUE(container().header()->isVisible());
  const int headerBottom = container().header()->geometry().bottom();
  EXPECT_GT(headerBottom, 40);
  EXPECT_EQ(container().currentStepView()->geometry(), QRect(0, headerBottom + 1, 800, 600 - headerBottom - 1));

  // Forward through the middle steps to the completion step (on the rig both
  // permissions are granted and Alt+Space registers, so every NEXT → is live).
  for (int step = 1; step <= 5; ++step) {
    SCOPED_TRACE(step);
    EXPECT_EQ(container().stepCounter()->text(), QStringLiteral("%1/07").arg(step + 1, 2, 10, QLatin1Char('0')));
    const QWidget* next = navigationButton(container().currentStepView(), true);
    ASSERT_NE(next, nullptr);
    // The permissions and hotkey steps turn NEXT → on once their checks have
    // run; the speech-model step lets nobody on before a model is loaded (none
    // here), so the flow itself passes it.
    if (!waitUntil([&] { return next->isEnabled(); }, std::chrono::milliseconds(step == 4 ? 300 : 10000))) {
      ASSERT_EQ(step, 4);
      container().goToNextStep();
      container().finishTransition();
      continue;
    }
    push = clickAndSample(next, step + 1);
    EXPECT_GT(push.enteringOffset, 100);
    EXPECT_LT(push.leavingOffset, -100);
  }
  EXPECT_EQ(container().stepCounter()->text(), QStringLiteral("07/07"));
  auto* completion = stepView<CompletionView>();
  ASSERT_NE(completion, nullptr);
  clock.advance(1s);
  ASSERT_TRUE(waitUntil([&] { return completion->backButton()->opacity() == 1; }));

  // Back again: each earlier step comes in from the left as a new widget.
  QPointer<QWidget> left = completion;
  push = clickAndSample(completion->backButton(), 5);
  EXPECT_LT(push.enteringOffset, -100);
  EXPECT_GT(push.leavingOffset, 100);
  EXPECT_FALSE(container().navigatingForward());
  EXPECT_TRUE(isDestroyed(left)) << "a step left is destroyed";
  for (int step = 5; step >= 1; --step) {
    SCOPED_TRACE(step);
    const QWidget* back = navigationButton(container().currentStepView(), false);
    ASSERT_NE(back, nullptr);
    push = clickAndSample(back, step - 1);
    EXPECT_LT(push.enteringOffset, -100);
    EXPECT_GT(push.leavingOffset, 100);
  }
  EXPECT_FALSE(container().header()->isVisible());
  ASSERT_NE(stepView<WelcomeView>(), nullptr);
  EXPECT_EQ(container().currentStepView()->geometry(), QRect(0, 0, 800, 600));
  EXPECT_EQ(stepView<WelcomeView>()->index(), 0);
}

TEST_F(Onboarding, TheCounterShowsTheStepLeftWhileTheHeaderFadesOut) {
  ASSERT_TRUE(rig.open(2));
  EXPECT_EQ(container().stepCounter()->text(), QStringLiteral("03/07"));
  container().goToPreviousStep();
  EXPECT_EQ(container().stepCounter()->text(), QStringLiteral("02/07")) << "the step arrived at";
  container().finishTransition();

  // Back to the welcome step: the header goes, reading the step it leaves.
  container().goToPreviousStep();
  PushTransition* push = container().transition();
  ASSERT_NE(push, nullptr);
  push->animation()->pause();
  push->animation()->setCurrentTime(push->animation()->duration() / 2);
  EXPECT_TRUE(container().header()->isVisible());
  EXPECT_EQ(container().stepCounter()->text(), QStringLiteral("02/07"));
  container().finishTransition();
  EXPECT_FALSE(container().header()->isVisible());

  // And in again from the welcome step: 02/07 from the first frame.
  container().goToNextStep();
  EXPECT_EQ(container().stepCounter()->text(), QStringLiteral("02/07"));
  container().finishTransition();
}

TEST_F(Onboarding, WithoutATrayTheTextsSayHowToReachMurel) {
  const struct {
    const char* rule;
    bool tray;
    QString footnote;
    QString detail;
  } cases[] = {
      {"a tray shows the icon", true, QStringLiteral("Change it later from the tray."),
       QStringLiteral("Murel lives in your system tray.\nPress your hotkey anywhere to dictate.")},
      {"no tray", false, QStringLiteral("Change it later in Murel's settings: open Murel again to reach them."),
       QStringLiteral("Press your hotkey anywhere to dictate.\nNo system tray shows Murel's icon here: open Murel "
                      "again to reach its settings.")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    OnboardingRig::Options options;
    options.isTrayHostAvailable = [tray = c.tray] { return tray; };
    OnboardingRig trayRig(clock, std::move(options));
    ASSERT_TRUE(trayRig.open(2));
    auto* microphones = qobject_cast<MicrophoneSelectionView*>(trayRig.container().currentStepView());
    ASSERT_NE(microphones, nullptr);
    EXPECT_EQ(microphones->footnote()->text(), c.footnote);
    ASSERT_TRUE(trayRig.open(6));
    auto* completion = qobject_cast<CompletionView*>(trayRig.container().currentStepView());
    ASSERT_NE(completion, nullptr);
    EXPECT_EQ(completion->detail()->text(), c.detail);
    clock.advance(1s);
    ASSERT_TRUE(waitUntil([&] { return completion->detail()->style().opacity == 1; }));
    trayRig.screenshots(QStringLiteral("completion-") + (c.tray ? QStringLiteral("tray") : QStringLiteral("no-tray")));
    // Two lines, neither cut nor wrapped further.
    const TextLabel* detail = completion->detail();
    EXPECT_EQ(
        detail->height(),
        int(std::ceil(TextMetrics::size(detail->text(), detail->style().font, detail->style().lineSpacing).height())));
  }
}

TEST_F(Onboarding, StepsAreMadeAfreshAndReopeningStartsAtWelcome) {
  ASSERT_TRUE(rig.open(2));
  QPointer<QWidget> second = container().currentStepView();
  container().goToNextStep();
  container().finishTransition();
  container().goToPreviousStep();
  container().finishTransition();
  EXPECT_EQ(container().currentStep(), 2);
  EXPECT_NE(container().currentStepView(), second.data());
  EXPECT_TRUE(isDestroyed(second));

  // A step index past the last shows the header over nothing.
  ASSERT_TRUE(rig.open(6));
  container().goToNextStep();
  container().finishTransition();
  EXPECT_EQ(container().currentStep(), 7);
  EXPECT_EQ(container().currentStepView(), nullptr);
  EXPECT_TRUE(container().header()->isVisible());

  // Closed half-way and opened again: the welcome step, no header.
  rig.window().close();
  ASSERT_TRUE(rig.open());
  EXPECT_EQ(container().currentStep(), 0);
  EXPECT_FALSE(container().header()->isVisible());
  ASSERT_NE(stepView<WelcomeView>(), nullptr);
}

TEST_F(Onboarding, CarouselTurnsEveryFiveSecondsOnTheClock) {
  ASSERT_TRUE(rig.open());
  auto* welcome = stepView<WelcomeView>();
  ASSERT_NE(welcome, nullptr);
  ASSERT_FALSE(welcome->isHovering());
  EXPECT_EQ(clock.pendingCount(), 1u);
  clock.advance(4999ms);
  EXPECT_EQ(welcome->index(), 0);
  clock.advance(1ms);
  EXPECT_EQ(welcome->index(), 1);
  EXPECT_TRUE(welcome->forward());
  const QRect box = welcome->carousel()->rect();
  PushSample push = sampleAtMiddle(welcome->messageTransition(), box, box);
  EXPECT_GT(push.enteringOffset, 50) << "message 2 enters from the right";
  EXPECT_LT(push.leavingOffset, -50);
  EXPECT_EQ(clock.pendingCount(), 1u) << "a fresh wait after every turn";

  struct Move {
    const char* rule;
    std::function<void()> act;
    int from;
    int to;
    bool forward;
  };
  const Move moves[] = {
      {"a dot to the right enters from the right", [&] { QTest::mouseClick(welcome->dot(4), Qt::LeftButton); }, 1, 4,
       true},
      {"next on message 5 wraps to 1 from the right", [&] { QTest::mouseClick(welcome->nextButton(), Qt::LeftButton); },
       4, 0, true},
      {"previous on message 1 wraps to 5 from the left",
       [&] { QTest::mouseClick(welcome->previousButton(), Qt::LeftButton); }, 0, 4, false},
      {"a dot to the left enters from the left", [&] { QTest::mouseClick(welcome->dot(2), Qt::LeftButton); }, 4, 2,
       false},
      {"the automatic turn always goes forward", [&] { clock.advance(5s); }, 2, 3, true},
  };
  for (const Move& move : moves) {
    SCOPED_TRACE(move.rule);
    ASSERT_EQ(welcome->index(), move.from);
    move.act();
    EXPECT_EQ(welcome->index(), move.to);
    EXPECT_EQ(welcome->forward(), move.forward);
    EXPECT_TRUE(welcome->dot(move.to)->isCurrent());
    push = sampleAtMiddle(welcome->messageTransition(), box, box);
    if (move.forward)
      EXPECT_GT(push.enteringOffset, 50);
    else
      EXPECT_LT(push.enteringOffset, -50);
  }

  // 4 s into a wait a chevron or another dot starts it again; the current dot
  // leaves it running.
  clock.advance(4s);
  QTest::mouseClick(welcome->nextButton(), Qt::LeftButton);
  EXPECT_EQ(welcome->index(), 4);
  clock.advance(4s);
  QTest::mouseClick(welcome->dot(1), Qt::LeftButton);
  EXPECT_EQ(welcome->index(), 1);
  clock.advance(4999ms);
  EXPECT_EQ(welcome->index(), 1);
  if (PushTransition* running = welcome->messageTransition()) running->finish();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_EQ(welcome->messageTransition(), nullptr);
  const bool forwardBefore = welcome->forward();
  QTest::mouseClick(welcome->dot(1), Qt::LeftButton);
  EXPECT_EQ(welcome->forward(), forwardBefore);
  EXPECT_EQ(welcome->messageTransition(), nullptr) << "no animation for the current dot";
  clock.advance(1ms);
  EXPECT_EQ(welcome->index(), 2) << "the running wait was left alone";
  welcome->messageTransition()->finish();
}

TEST_F(Onboarding, CarouselHoldsStillUnderThePointer) {
  ASSERT_TRUE(rig.open());
  auto* welcome = stepView<WelcomeView>();
  ASSERT_NE(welcome, nullptr);
  clock.advance(3s);
  ASSERT_TRUE(OnboardingRig::movePointerTo(welcome->carousel()));
  ASSERT_TRUE(waitUntil([&] { return welcome->isHovering(); }));
  EXPECT_EQ(clock.pendingCount(), 0u) << "nothing pending while the pointer rests on the step";
  clock.advance(60s);
  EXPECT_EQ(welcome->index(), 0);

  ASSERT_TRUE(OnboardingRig::movePointerAway());
  ASSERT_TRUE(waitUntil([&] { return !welcome->isHovering(); }));
  clock.advance(4999ms);
  EXPECT_EQ(welcome->index(), 0) << "a full wait after the pointer leaves";
  clock.advance(1ms);
  EXPECT_EQ(welcome->index(), 1);

  // A real click on the next chevron turns the page (the pointer then rests on it).
  ASSERT_TRUE(OnboardingRig::click(welcome->nextButton()));
  ASSERT_TRUE(waitUntil([&] { return welcome->index() == 2; }));
  EXPECT_TRUE(welcome->isHovering());
  EXPECT_EQ(clock.pendingCount(), 0u);

  // Leaving the step ends its wait: nothing is left on the clock.
  ASSERT_TRUE(OnboardingRig::movePointerAway());
  ASSERT_TRUE(waitUntil([&] { return clock.pendingCount() == 1u; }));
  QPointer<WelcomeView> gone = welcome;
  container().goToNextStep();
  container().finishTransition();
  EXPECT_EQ(clock.pendingCount(), 0u);
  EXPECT_TRUE(isDestroyed(gone));
  clock.advance(10s);
}

TEST_F(Onboarding, CompletionRevealsInStagesOnTheClock) {
  ASSERT_TRUE(rig.open(6));
  auto* view = stepView<CompletionView>();
  ASSERT_NE(view, nullptr);
  struct Stage {
    std::chrono::milliseconds at;
    bool title, stripe, details;
  };
  const Stage stages[] = {
      {0ms, true, false, false},  {199ms, true, false, false}, {200ms, true, true, false},
      {349ms, true, true, false}, {350ms, true, true, true},
  };
  std::chrono::milliseconds now = 0ms;
  for (const Stage& stage : stages) {
    SCOPED_TRACE(stage.at.count());
    clock.advance(stage.at - now);
    now = stage.at;
    EXPECT_EQ(view->titleRevealed(), stage.title);
    EXPECT_EQ(view->stripeVisible(), stage.stripe);
    EXPECT_EQ(view->detailsVisible(), stage.details);
    if (!stage.details) EXPECT_EQ(view->eyebrow()->style().opacity, 0.0) << "the eyebrow comes with the details";
  }
  EXPECT_EQ(clock.pendingCount(), 0u) << "nothing left once the reveal has ended";
  ASSERT_TRUE(waitUntil([&] { return view->startButton()->opacity() == 1 && view->detail()->style().opacity == 1; }));

  // The detail keeps its two lines.
  const TextLabel* detail = view->detail();
  const QSizeF twoLines = TextMetrics::size(detail->text(), detail->style().font, detail->style().lineSpacing);
  EXPECT_EQ(detail->text().count(QLatin1Char('\n')), 1);
  EXPECT_EQ(detail->height(), int(std::ceil(twoLines.height())));

  // Left half-way through the reveal: the step goes with its timer, and
  // coming back replays the reveal from the start.
  container().goToPreviousStep();
  container().finishTransition();
  container().goToNextStep();
  container().finishTransition();
  QPointer<CompletionView> replay = stepView<CompletionView>();
  ASSERT_NE(replay, nullptr);
  EXPECT_NE(replay.data(), view);
  EXPECT_FALSE(replay->stripeVisible());
  EXPECT_FALSE(replay->detailsVisible());
  clock.advance(100ms);
  container().goToPreviousStep();
  container().finishTransition();
  EXPECT_EQ(clock.pendingCount(), 0u);
  EXPECT_TRUE(isDestroyed(replay));
  clock.advance(1s);
  EXPECT_EQ(container().currentStep(), 5);
}

namespace {

class NoLoginItem final : public platform::LoginItem {
 public:
  Status status() override { return Status::enabled; }
  bool registerItem(QString*) override { return true; }
  bool unregisterItem(QString*) override { return true; }
};

struct App {
  FakeClock clock;
  platform::SoundServer sound;  // the rig's, for the microphone steps
  FakeDesktopComposition parts;
  UserDefaults defaults{murel::test::freshDir(QStringLiteral("app")) + QStringLiteral("/defaults.json")};
  murel::test::FakeKeyEventTap tap{clock};
  HotKeyService hotKeys{defaults, tap};
  NoLoginItem loginItem;
  int bootstraps = 0;
  std::unique_ptr<MurelApp> app;

  App() {
    MurelApp::Services services;
    services.isReadyAtLaunch = [] { return false; };
    services.bootstrap = [this] { ++bootstraps; };
    services.startHotKeys = [] {};
    services.defaults = &defaults;
    services.loginItem = &loginItem;
    services.microphone = &sound.microphone();
    services.audioDevices = &sound.devices();
    services.onboardingContent = [this](MurelApp& owner) {
      return makeOnboardingScene(owner, parts.appState(), clock, hotKeys, sound.microphone());
    };
    app = std::make_unique<MurelApp>(std::move(services));
    app->launch();
  }
  QWidget* window() const { return app->onboardingWindow(); }
  OnboardingContainerView* container() const { return window()->findChild<OnboardingContainerView*>(); }
};

}  // namespace

TEST_F(Onboarding, StartClosesTheWindowThenCompletesOnboardingOnce) {
  App fixture;
  ASSERT_TRUE(QTest::qWaitForWindowExposed(fixture.window()));
  OnboardingContainerView* flow = fixture.container();
  ASSERT_NE(flow, nullptr);
  EXPECT_EQ(flow->size(), QSize(800, 600));
  EXPECT_EQ(fixture.app->activationPolicy(), ActivationPolicy::regular);
  while (flow->currentStep() < 6) {
    flow->goToNextStep();
    flow->finishTransition();
  }
  auto* completion = qobject_cast<CompletionView*>(flow->currentStepView());
  ASSERT_NE(completion, nullptr);
  // The rig's desktop has no tray: the application's own check says so, and the step says what to do instead.
  ASSERT_FALSE(fixture.app->statusItem()->isHostAvailable());
  EXPECT_FALSE(completion->detail()->text().contains(QStringLiteral("lives in your system tray")));
  EXPECT_TRUE(completion->detail()->text().contains(QStringLiteral("open Murel again")));
  fixture.clock.advance(1s);
  ASSERT_TRUE(waitUntil([&] { return completion->startButton()->opacity() == 1; }));

  int finishes = 0;
  bool closedFirst = false;
  QObject::connect(flow, &OnboardingContainerView::finished, [&] {
    ++finishes;
    closedFirst = !fixture.window()->isVisible();
  });
  ASSERT_TRUE(OnboardingRig::click(completion->startButton()));
  ASSERT_TRUE(waitUntil([&] { return finishes == 1; }));
  EXPECT_TRUE(closedFirst);
  EXPECT_TRUE(fixture.app->hasCompletedOnboarding());
  EXPECT_EQ(fixture.app->activationPolicy(), ActivationPolicy::accessory);
  EXPECT_TRUE(waitUntil([&] { return fixture.bootstraps == 1; }));
  QTest::qWait(50);
  EXPECT_EQ(fixture.bootstraps, 1);
  EXPECT_EQ(finishes, 1);
}

TEST_F(Onboarding, ClosingTheWindowByHandFinishesNothing) {
  App fixture;
  ASSERT_TRUE(QTest::qWaitForWindowExposed(fixture.window()));
  int finishes = 0;
  QObject::connect(fixture.container(), &OnboardingContainerView::finished, [&] { ++finishes; });
  fixture.window()->close();
  QTest::qWait(50);
  EXPECT_EQ(finishes, 0);
  EXPECT_EQ(fixture.bootstraps, 0);
  EXPECT_FALSE(fixture.app->hasCompletedOnboarding());
  EXPECT_EQ(fixture.app->activationPolicy(), ActivationPolicy::regular);
}

}  // namespace
