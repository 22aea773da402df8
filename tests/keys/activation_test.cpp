#include "keys/ActivationMode.h"
#include "runtime/Localization.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace murel;
using namespace std::chrono_literals;

TEST(ActivationMode, StoredTextsAndLabels) {
  ASSERT_TRUE(installTranslations(*QCoreApplication::instance()));
  struct Row {
    ActivationMode mode;
    const char* raw;
    const char* label;
    const char* caption;
  };
  const Row rows[] = {
      {ActivationMode::hybrid, "hybrid", "AUTO", "short press toggles, long press is push-to-talk."},
      {ActivationMode::toggle, "toggle", "TOGGLE", "press once to start, press again to stop."},
      {ActivationMode::holdToActivate, "holdToActivate", "HOLD", "hold to record, release to stop."},
  };
  ASSERT_EQ(allActivationModes().size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const Row& r = rows[i];
    EXPECT_EQ(allActivationModes()[i], r.mode);
    EXPECT_EQ(activationModeRawValue(r.mode), QString::fromUtf8(r.raw));
    EXPECT_EQ(activationModeFromRawValue(QString::fromUtf8(r.raw)), r.mode);
    EXPECT_EQ(activationModeShortLabel(r.mode), QString::fromUtf8(r.label));
    EXPECT_EQ(activationModeCaption(r.mode), QString::fromUtf8(r.caption));
  }
  for (const char* bad : {"Hybrid", "HOLD", "", "auto", "hold"}) {
    EXPECT_FALSE(activationModeFromRawValue(QString::fromUtf8(bad))) << bad;
  }
}

// Every row of the machine: mode, state before, event, decision, state after.
TEST(ActivationStateMachine, EveryTransition) {
  using D = ActivationDecision;
  using M = ActivationMode;
  const auto set = std::optional<ActivationStateMachine::TimePoint>(5s);
  const std::optional<ActivationStateMachine::TimePoint> none;
  struct Row {
    M mode;
    bool active;
    std::optional<ActivationStateMachine::TimePoint> pressTime;
    bool release;
    std::chrono::milliseconds at;  // when the event happens
    D decision;
    bool activeAfter;
    std::optional<ActivationStateMachine::TimePoint> pressTimeAfter;
  };
  const Row rows[] = {
      {M::toggle, false, none, false, 0ms, D::start, true, none},
      {M::toggle, false, set, false, 0ms, D::start, true, set},
      {M::toggle, true, none, false, 0ms, D::stop, false, none},
      {M::toggle, true, set, false, 0ms, D::stop, false, set},
      {M::toggle, true, none, true, 0ms, D::ignore, true, none},
      {M::toggle, false, set, true, 0ms, D::ignore, false, set},
      {M::holdToActivate, false, none, false, 0ms, D::start, true, none},
      {M::holdToActivate, false, set, false, 0ms, D::start, true, set},
      {M::holdToActivate, true, none, false, 0ms, D::ignore, true, none},
      {M::holdToActivate, true, set, true, 0ms, D::stop, false, set},
      {M::holdToActivate, false, none, true, 0ms, D::ignore, false, none},
      {M::hybrid, false, set, false, 9000ms, D::ignore, false, set},
      {M::hybrid, true, set, false, 9000ms, D::ignore, true, set},
      {M::hybrid, false, none, false, 7000ms, D::start, true, 7s},
      {M::hybrid, true, none, false, 7000ms, D::stop, false, none},
      {M::hybrid, true, none, true, 7000ms, D::ignore, true, none},
      {M::hybrid, false, none, true, 7000ms, D::ignore, false, none},
      {M::hybrid, true, set, true, 6000ms, D::stop, false, none},   // held exactly 1.0 s
      {M::hybrid, false, set, true, 9000ms, D::stop, false, none},  // held 4 s
      {M::hybrid, true, set, true, 5999ms, D::ignore, true, none},  // held 0.999 s
      {M::hybrid, true, set, true, 5000ms, D::ignore, true, none},  // held 0 s
      {M::hybrid, true, set, true, 4000ms, D::ignore, true, none},  // negative: clock went back
  };
  int index = 0;
  for (const Row& r : rows) {
    ActivationStateMachine machine;
    machine.activationMode = r.mode;
    machine.isActive = r.active;
    machine.keyDownTime = r.pressTime;
    EXPECT_EQ(machine.handleKeyEvent(r.release, r.at), r.decision) << "row " << index;
    EXPECT_EQ(machine.isActive, r.activeAfter) << "row " << index;
    EXPECT_EQ(machine.keyDownTime, r.pressTimeAfter) << "row " << index;
    EXPECT_EQ(machine.activationMode, r.mode) << "row " << index;
    ++index;
  }
}

TEST(ActivationStateMachine, Sequences) {
  using D = ActivationDecision;
  struct Step {
    bool release;
    std::chrono::milliseconds at;
    D decision;
  };
  struct Case {
    ActivationMode mode;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      // Short press toggles on; the next press stops.
      {ActivationMode::hybrid,
       {{false, 0ms, D::start}, {true, 400ms, D::ignore}, {false, 2000ms, D::stop}, {true, 2100ms, D::ignore}}},
      // Long press is push-to-talk.
      {ActivationMode::hybrid, {{false, 0ms, D::start}, {true, 1000ms, D::stop}}},
      {ActivationMode::hybrid, {{false, 0ms, D::start}, {true, 999ms, D::ignore}}},
      {ActivationMode::toggle,
       {{false, 0ms, D::start},
        {true, 1ms, D::ignore},
        {false, 2ms, D::stop},
        {false, 3ms, D::start},
        {false, 4ms, D::stop}}},
      {ActivationMode::holdToActivate,
       {{false, 0ms, D::start}, {false, 5ms, D::ignore}, {true, 9ms, D::stop}, {true, 10ms, D::ignore}}},
  };
  for (const Case& c : cases) {
    ActivationStateMachine machine;
    machine.activationMode = c.mode;
    for (const Step& s : c.steps) {
      EXPECT_EQ(machine.handleKeyEvent(s.release, s.at), s.decision)
          << activationModeRawValue(c.mode).toStdString() << " at " << s.at.count();
    }
  }
  // A new machine is hybrid and idle; reset keeps the mode.
  ActivationStateMachine machine;
  EXPECT_EQ(machine.activationMode, ActivationMode::hybrid);
  machine.activationMode = ActivationMode::toggle;
  machine.handleKeyEvent(false, 0ms);
  machine.keyDownTime = 1s;
  machine.reset();
  EXPECT_FALSE(machine.isActive);
  EXPECT_FALSE(machine.keyDownTime);
  EXPECT_EQ(machine.activationMode, ActivationMode::toggle);
}
