// The trial-dictation step in the real onboarding window on the rig's X
// server, on an application state whose desktop is faked: the status line by
// status and activation mode, the keycaps and the mode pill, success on any
// delivered transcript, and the paste and heads-up flags set while the step is
// shown and given back however it goes away. The whole dictation through the
// real desktop is trial_dictation_e2e_test.
#include "app/AppState.h"
#include "design/EditorialComponents.h"
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
#include <QTest>

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
    setStatus(row.status);
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
