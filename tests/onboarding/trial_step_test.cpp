// The trial-dictation step in the real onboarding window on the rig's X
// server, on an application state whose desktop is faked: the status line by
// status and activation mode, the keycaps and the mode pill, success on any
// delivered transcript, and the paste and heads-up flags set while the step is
// shown and given back however it goes away. The whole dictation through the
// real desktop is trial_dictation_e2e_test.
#include "app/AppState.h"
#include "design/Crossfade.h"
#include "design/EditorialComponents.h"
#include "design/Motion.h"
#include "design/OnboardingButtonStyle.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "hotkeys/HotKeyService.h"
#include "onboarding/OnboardingContainerView.h"
#include "onboarding/TestSetupView.h"
#include "root/Composition.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "support/FakeClock.h"
#include "support/OnboardingRig.h"
#include "support/TestEnv.h"

#include <QPointer>
#include <QScrollBar>
#include <QTest>
#include <QVariantAnimation>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;

namespace {

class TrialStep : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installTranslations(*QCoreApplication::instance());
    Fonts::registerBundled();
  }
  void SetUp() override { ASSERT_TRUE(OnboardingRig::movePointerAway()); }

  AppState& app() { return application.appState(); }
  HotKeyService& hotKeys() { return application.composition().hotKeys(); }
  TestSetupView* step() { return qobject_cast<TestSetupView*>(rig.container().currentStepView()); }
  void deliver(const QString& text) { app().handleSessionEvent(DictationSessionEvent::transcription(text)); }
  void setStatus(const AppStatus& status) { app().handleSessionEvent(DictationSessionEvent::statusChanged(status)); }
  void screenshot(const QString& name) {
    QTest::qWait(300);  // after the buttons' fades
    rig.screenshots(QStringLiteral("trial-") + name);
  }

  FakeClock clock;
  FakeDesktopComposition application;
  OnboardingRig rig{clock, OnboardingRig::Options{&application.appState(), {}, {}}};
};

TEST_F(TrialStep, StatusLineFollowsTheStatusAndTheActivationMode) {
  ASSERT_TRUE(rig.open(5));
  TestSetupView* view = step();
  ASSERT_NE(view, nullptr);
  const QString recordingToggle = QStringLiteral("Recording… press your hotkey again to stop.");
  const struct {
    const char* rule;
    AppStatus status;
    ActivationMode mode;
    QString text;
    DSColor color;
    bool buttonsEnabled;
  } rows[] = {
      {"loading reads as ready", AppStatus::loading(), ActivationMode::hybrid, QStringLiteral("Ready when you are."),
       DSColor::inkMuted, true},
      {"ready", AppStatus::ready(), ActivationMode::hybrid, QStringLiteral("Ready when you are."), DSColor::inkMuted,
       true},
      {"auto records like toggle", AppStatus::recording(), ActivationMode::hybrid, recordingToggle, DSColor::accent,
       false},
      {"toggle", AppStatus::recording(), ActivationMode::toggle, recordingToggle, DSColor::accent, false},
      {"only hold listens", AppStatus::recording(), ActivationMode::holdToActivate,
       QStringLiteral("Listening… release to transcribe."), DSColor::accent, false},
      {"transcribing", AppStatus::transcribing(), ActivationMode::holdToActivate, QStringLiteral("Transcribing…"),
       DSColor::accent, false},
      {"an error's message verbatim", AppStatus::error(QStringLiteral("Microphone unavailable: Murel-Test")),
       ActivationMode::toggle, QStringLiteral("Microphone unavailable: Murel-Test"), DSColor::danger, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.rule);
    hotKeys().setActivationMode(row.mode);
    const QString before = view->statusLine()->text();
    setStatus(row.status);
    if (view->statusLine()->text() != before) {
      // A change of status cross-fades the line over 0.15 s, ease-out.
      const Crossfade* fade = Crossfade::running(view->statusLine());
      ASSERT_NE(fade, nullptr);
      EXPECT_EQ(fade->tween()->animation()->duration(), 150);
      EXPECT_EQ(fade->tween()->animation()->easingCurve(), Motion::easeOut());
    }
    EXPECT_EQ(view->statusLine()->text(), row.text);
    EXPECT_EQ(view->statusLine()->style().color, row.color);
    EXPECT_EQ(view->backButton()->isEnabled(), row.buttonsEnabled);
    EXPECT_EQ(view->continueButton()->isEnabled(), row.buttonsEnabled);
    EXPECT_EQ(view->modePill()->text(), activationModeShortLabel(row.mode));
    // A status alone is no success.
    EXPECT_FALSE(view->hasSucceeded());
    EXPECT_EQ(view->continueButton()->text(), QStringLiteral("SKIP →"));
    EXPECT_EQ(view->output()->text(), QStringLiteral("“…”"));
  }
  screenshot(QStringLiteral("error"));
  setStatus(AppStatus::ready());
  screenshot(QStringLiteral("idle"));
}

TEST_F(TrialStep, KeycapsShowTheStoredHotkeyOrTheProposedOne) {
  const struct {
    const char* rule;
    std::optional<KeyCombo> combo;
    QStringList labels;
  } rows[] = {
      {"none stored: Alt and Space, not stored", std::nullopt, {QStringLiteral("Alt"), QStringLiteral("␣ SPACE")}},
      {"a stored combination",
       KeyCombo(Key::d, KeyModifiers::control | KeyModifiers::shift),
       {QStringLiteral("Ctrl"), QStringLiteral("Shift"), QStringLiteral("D")}},
      {"a code without a key",
       KeyCombo(52, KeyModifiers(KeyModifiers::command)),
       {QStringLiteral("Super"), QStringLiteral("?")}},
  };
  // Walking in passes the hotkey step, which stores Alt+Space when nothing is
  // stored: each row is set afterwards and shown again from the step before.
  ASSERT_TRUE(rig.open(5));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.rule);
    ASSERT_TRUE(rig.open(4));
    hotKeys().setCurrentCombo(row.combo);
    ASSERT_TRUE(rig.open(5));
    ASSERT_NE(step(), nullptr);
    EXPECT_EQ(step()->keycaps()->labels(), row.labels);
    if (!row.combo) EXPECT_FALSE(hotKeys().currentCombo().has_value());
  }
}

TEST_F(TrialStep, AnyDeliveredTranscriptSucceedsOnceAlsoTheSameTextAgain) {
  deliver(QStringLiteral("Please send the report to Anna."));  // an earlier dictation
  ASSERT_TRUE(rig.open(5));
  TestSetupView* view = step();
  ASSERT_NE(view, nullptr);
  EXPECT_FALSE(view->hasSucceeded());

  // The same line again leaves lastTranscription unchanged, and still counts.
  setStatus(AppStatus::ready());
  deliver(QStringLiteral("Please send the report to Anna."));
  ASSERT_TRUE(view->hasSucceeded());
  EXPECT_EQ(view->testResult(), app().lastTranscription());
  EXPECT_EQ(view->statusLine()->text(), QStringLiteral("Your setup is working."));
  EXPECT_EQ(view->output()->text(), QStringLiteral("“Please send the report to Anna.”"));
  EXPECT_EQ(view->output()->style().color, DSColor::ink);
  EXPECT_EQ(view->continueButton()->text(), QStringLiteral("NEXT →"));
  screenshot(QStringLiteral("succeeded"));

  // A later dictation moves the status line, never the result.
  setStatus(AppStatus::recording());
  EXPECT_NE(view->statusLine()->text(), QStringLiteral("Your setup is working."));
  setStatus(AppStatus::ready());
  deliver(QStringLiteral("Something else."));
  EXPECT_EQ(view->testResult(), QStringLiteral("Please send the report to Anna."));

  // An error after success: its message, both buttons usable, the result kept.
  setStatus(AppStatus::error(QStringLiteral("Transcription failed")));
  EXPECT_EQ(view->statusLine()->text(), QStringLiteral("Transcription failed"));
  EXPECT_TRUE(view->backButton()->isEnabled());
  EXPECT_TRUE(view->continueButton()->isEnabled());
  EXPECT_TRUE(view->hasSucceeded());

  // Back and on again: a fresh step without a result.
  setStatus(AppStatus::ready());
  ASSERT_TRUE(OnboardingRig::click(view->backButton()));
  ASSERT_TRUE(waitUntil([&] { return rig.container().currentStep() == 4; }));
  rig.container().finishTransition();
  rig.container().goToNextStep();
  rig.container().finishTransition();
  ASSERT_NE(step(), nullptr);
  EXPECT_FALSE(step()->hasSucceeded());
  EXPECT_EQ(step()->continueButton()->text(), QStringLiteral("SKIP →"));
}

// Everything of `image` outside `box`.
bool sameOutside(const QImage& a, const QImage& b, const QRect& box) {
  if (a.size() != b.size()) return false;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (!box.contains(x, y) && a.pixel(x, y) != b.pixel(x, y)) return false;
  return true;
}

TEST_F(TrialStep, ALongTranscriptStaysInsideItsScrollingBox) {
  QString word;
  while (word.size() < 5000) word += QStringLiteral("Donaudampfschifffahrtsgesellschaft");
  word.truncate(5000);
  QStringList lines;
  for (int line = 1; line <= 40; ++line) lines << QStringLiteral("Line %1 of the dictation.").arg(line);
  const struct {
    const char* rule;
    QString text;
    const char* shot;
  } cases[] = {
      {"one word of 5,000 characters", word, "long-word"},
      {"forty lines", lines.join(QLatin1Char('\n')), "forty-lines"},
  };
  // A fresh step, succeeded with `text`, settled; its picture in light.
  const auto succeed = [&](const QString& text) -> QImage {
    EXPECT_TRUE(rig.open(4));
    EXPECT_TRUE(rig.open(5));
    deliver(text);
    QTest::qWait(50);
    EXPECT_TRUE(waitUntil([&] { return step() && !Crossfade::running(step()->statusLine()); }));
    QTest::qWait(300);  // the buttons' fades
    const QImage image = rig.render(Appearance::Scheme::Light);
    Appearance::setOverride(&rig.window(), std::nullopt);
    return image;
  };
  const QImage shortOne = succeed(QStringLiteral("Hi."));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    const QImage longOne = succeed(c.text);
    TestSetupView* view = step();
    ASSERT_NE(view, nullptr);
    OutputScrollArea* scroll = view->outputScroll();
    const QRect box(scroll->mapTo(&rig.container(), QPoint(0, 0)), scroll->size());

    // The box ends above the buttons and keeps its side margins.
    for (const QWidget* button :
         {static_cast<QWidget*>(view->backButton()), static_cast<QWidget*>(view->continueButton())}) {
      const QRect rect(button->mapTo(&rig.container(), QPoint(0, 0)), button->size());
      EXPECT_FALSE(box.intersects(rect));
      EXPECT_GT(rect.top(), box.bottom());
    }
    EXPECT_GE(box.left(), 48);
    EXPECT_LE(box.right(), 800 - 48);

    // The text wraps at the box's width, in full, and scrolls to its last line.
    const TextLabel* output = view->output();
    EXPECT_LE(output->mapTo(scroll->viewport(), QPoint(output->width(), 0)).x(), scroll->viewport()->width());
    EXPECT_EQ(output->height(), output->heightForWidth(output->width())) << "laid out in full, nothing cut";
    EXPECT_GT(output->height(), scroll->viewport()->height());
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible()) << "a scroll bar shows there is more";
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());

    // Nothing of it is drawn outside the box: the page around it is the
    // same as with a short transcript.
    EXPECT_TRUE(sameOutside(shortOne, longOne, box));
    rig.screenshots(QStringLiteral("trial-") + QLatin1String(c.shot));

    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    const int lastLine = output->mapTo(scroll->viewport(), QPoint(0, output->height())).y();
    EXPECT_LE(lastLine, scroll->viewport()->height()) << "the end can be brought into view";
    EXPECT_GT(lastLine, 0);
    EXPECT_TRUE(sameOutside(shortOne, rig.render(Appearance::Scheme::Light), box));
    rig.screenshots(QStringLiteral("trial-") + QLatin1String(c.shot) + QStringLiteral("-end"));
  }
}

TEST_F(TrialStep, PasteAndHeadsUpFlagsHoldOnlyWhileTheStepIsShown) {
  ASSERT_TRUE(app().autoPaste());
  ASSERT_FALSE(app().suppressHud());
  ASSERT_TRUE(rig.open(5));
  EXPECT_FALSE(app().autoPaste());
  EXPECT_TRUE(app().suppressHud());

  // ← BACK gives both back.
  ASSERT_TRUE(OnboardingRig::click(step()->backButton()));
  ASSERT_TRUE(waitUntil([&] { return rig.container().currentStep() == 4; }));
  rig.container().finishTransition();
  EXPECT_TRUE(app().autoPaste());
  EXPECT_FALSE(app().suppressHud());

  // On again: set again.
  rig.container().goToNextStep();
  rig.container().finishTransition();
  EXPECT_FALSE(app().autoPaste());
  EXPECT_TRUE(app().suppressHud());

  // Closing the window on the step gives both back too.
  QPointer<TestSetupView> view = step();
  rig.window().close();
  QCoreApplication::processEvents();
  EXPECT_TRUE(app().autoPaste());
  EXPECT_FALSE(app().suppressHud());

  // A delivery while the window is closed is no trial.
  deliver(QStringLiteral("Typed elsewhere."));
  ASSERT_TRUE(view);
  EXPECT_FALSE(view->hasSucceeded());

  // And the step going away with the window.
  ASSERT_TRUE(rig.open(5));
  EXPECT_FALSE(app().autoPaste());
  {
    auto* container = &rig.container();
    container->goToNextStep();
    container->finishTransition();
  }
  EXPECT_TRUE(app().autoPaste());
  EXPECT_FALSE(app().suppressHud());
}

}  // namespace
