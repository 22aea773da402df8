#include "hotkeys/HotKeyBinding.h"

#include <gtest/gtest.h>

using namespace murel;
using M = KeyModifiers;

TEST(HotKeyConflict, ClashRules) {
  const QUuid modeA = QUuid::createUuid();
  struct Row {
    const char* what;
    KeyCombo candidate;
    KeyCombo existing;
    bool conflict;
  };
  const Row rows[] = {
      {"same side", {Key::space, M::leftOption}, {Key::space, M::leftOption}, true},
      {"other side", {Key::space, M::leftOption}, {Key::space, M::rightOption}, false},
      {"either side vs missing shift", {Key::space, M::leftOption}, {Key::space, M::option | M::shift}, false},
      {"either side covers sides",
       {Key::space, M::leftOption | M::leftShift},
       {Key::space, M::option | M::shift},
       true},
      {"either side on the candidate", {Key::space, M::option}, {Key::space, M::rightOption}, true},
      {"extra modifier", {Key::space, M::leftOption | M::leftShift}, {Key::space, M::leftOption}, false},
      {"both sides vs one side", {Key::space, M::leftCommand | M::rightCommand}, {Key::space, M::leftCommand}, false},
      {"different key", {Key::a, M::leftOption}, {Key::space, M::leftOption}, false},
      {"fn alone", {Key::function, 0}, {Key::function, 0}, true},
      {"fn bit differs", {Key::f5, M::function}, {Key::f5, 0}, false},
      {"fn bit both", {Key::f5, M::function | M::control}, {Key::f5, M::function | M::leftControl}, true},
      {"no modifiers", {Key::f13, 0}, {Key::f13, 0}, true},
  };
  for (const Row& r : rows) {
    HotKeyBindings bindings{{HotKeyBinding::mode(modeA), r.existing}};
    EXPECT_EQ(hasConflict(r.candidate, HotKeyBinding::toggleRecording(), bindings), r.conflict) << r.what;
    // Symmetric: the order of the two combos does not matter.
    HotKeyBindings swapped{{HotKeyBinding::mode(modeA), r.candidate}};
    EXPECT_EQ(hasConflict(r.existing, HotKeyBinding::toggleRecording(), swapped), r.conflict) << r.what;
  }
}

TEST(HotKeyConflict, TheEditedBindingKeepsItsOwnCombo) {
  const QUuid modeA = QUuid::createUuid();
  const QUuid modeB = QUuid::createUuid();
  const KeyCombo combo(Key::space, M::leftOption);
  const HotKeyBindings bindings{
      {HotKeyBinding::toggleRecording(), combo},
      {HotKeyBinding::changeMode(), KeyCombo(Key::space, M::option | M::shift)},
      {HotKeyBinding::mode(modeA), KeyCombo(Key::f6, 0)},
  };
  EXPECT_FALSE(hasConflict(combo, HotKeyBinding::toggleRecording(), bindings));
  EXPECT_TRUE(hasConflict(combo, HotKeyBinding::commandEdit(), bindings));
  EXPECT_FALSE(hasConflict(KeyCombo(Key::f6, 0), HotKeyBinding::mode(modeA), bindings));
  EXPECT_TRUE(hasConflict(KeyCombo(Key::f6, 0), HotKeyBinding::mode(modeB), bindings));
  EXPECT_FALSE(hasConflict(combo, HotKeyBinding::toggleRecording(), {}));

  // Bindings compare by purpose and, for modes, by identifier.
  EXPECT_EQ(HotKeyBinding::mode(modeA), HotKeyBinding::mode(modeA));
  EXPECT_NE(HotKeyBinding::mode(modeA), HotKeyBinding::mode(modeB));
  EXPECT_NE(HotKeyBinding::changeMode(), HotKeyBinding::commandEdit());
}
