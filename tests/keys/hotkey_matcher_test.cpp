#include "keys/HotKeyMatcher.h"

#include <gtest/gtest.h>

using namespace murel;
using M = KeyModifiers;

namespace {

KeyEvent down(Key key, bool repeat = false) {
  return {isModifierKey(key) ? KeyEventKind::modifierDown : KeyEventKind::keyDown, keyCode(key), repeat};
}
KeyEvent up(Key key) {
  return {isModifierKey(key) ? KeyEventKind::modifierUp : KeyEventKind::keyUp, keyCode(key), false};
}

}  // namespace

TEST(HotKeyMatcher, SideSpecificMatching) {
  struct Row {
    const char* what;
    quint32 wanted;
    std::set<Key> held;
    bool match;
  };
  const Row rows[] = {
      {"left option wanted, left held", M::leftOption, {Key::leftOption}, true},
      {"left option wanted, right held", M::leftOption, {Key::rightOption}, false},
      {"left option wanted, both held", M::leftOption, {Key::leftOption, Key::rightOption}, false},
      {"either option, right held", M::option | M::shift, {Key::rightOption, Key::leftShift}, true},
      {"either option, both sides of both",
       M::option | M::shift,
       {Key::leftOption, Key::rightOption, Key::leftShift, Key::rightShift},
       true},
      {"either option, shift missing", M::option | M::shift, {Key::leftOption}, false},
      {"extra modifier", M::leftOption, {Key::leftOption, Key::leftShift}, false},
      {"caps lock is ignored", M::leftOption, {Key::leftOption, Key::capsLock}, true},
      {"both command keys", M::leftCommand | M::rightCommand, {Key::leftCommand, Key::rightCommand}, true},
      {"nothing wanted, nothing held", 0, {}, true},
      {"nothing wanted, control held", 0, {Key::rightControl}, false},
      {"fn wanted, never held on this keyboard", M::function, {}, false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(HotKeyMatcher::modifiersMatch(M(r.wanted), KeyModifiers::fromFlagKeys(r.held)), r.match) << r.what;

    // The same through events: the held modifiers come from the keys' own presses.
    HotKeyMatcher matcher;
    matcher.reset({{7, KeyCombo(Key::space, r.wanted)}}, {});
    for (Key k : r.held) EXPECT_FALSE(matcher.handle(down(k)).handled) << r.what;
    const MatchOutcome press = matcher.handle(down(Key::space));
    EXPECT_EQ(press.handled, r.match) << r.what;
    if (r.match) {
      EXPECT_EQ(press.actions, (std::vector<RegistrationAction>{{7, false}})) << r.what;
    }
  }
}

TEST(HotKeyMatcher, HeldHotkeysRepeatsAndReleases) {
  HotKeyMatcher matcher;
  matcher.reset({{1, KeyCombo(Key::space, M::leftOption)}, {2, KeyCombo(Key::rightOption, 0)}}, {});

  // Repeats of a key that is not a held hotkey pass.
  EXPECT_FALSE(matcher.handle(down(Key::space, true)).handled);
  matcher.handle(down(Key::leftOption));
  ASSERT_TRUE(matcher.handle(down(Key::space)).handled);
  // Repeats of the held hotkey are swallowed without reaching anyone.
  const MatchOutcome repeat = matcher.handle(down(Key::space, true));
  EXPECT_TRUE(repeat.handled);
  EXPECT_TRUE(repeat.actions.empty());
  // Letting go of the modifier first still releases the hotkey, found by its key.
  EXPECT_FALSE(matcher.handle(up(Key::leftOption)).handled);
  const MatchOutcome release = matcher.handle(up(Key::space));
  EXPECT_TRUE(release.handled);
  EXPECT_EQ(release.actions, (std::vector<RegistrationAction>{{1, true}}));
  EXPECT_FALSE(matcher.handle(up(Key::space)).handled);

  // A lone modifier: pressed when it goes down with nothing else held, released when it goes up.
  const MatchOutcome alone = matcher.handle(down(Key::rightOption));
  EXPECT_EQ(alone.actions, (std::vector<RegistrationAction>{{2, false}}));
  EXPECT_EQ(matcher.handle(up(Key::rightOption)).actions, (std::vector<RegistrationAction>{{2, true}}));
  // … but not while Shift is held.
  matcher.handle(down(Key::leftShift));
  EXPECT_FALSE(matcher.handle(down(Key::rightOption)).handled);
  EXPECT_FALSE(matcher.handle(up(Key::rightOption)).handled);
}

// Releases and presses say explicitly which way a modifier went: a release
// whose press went unseen cannot turn into a held modifier.
TEST(HotKeyMatcher, ModifierStateFollowsTheKeysNotToggles) {
  HotKeyMatcher matcher;
  matcher.reset({{1, KeyCombo(Key::space, M::leftCommand)}}, {});
  matcher.handle(up(Key::leftCommand));  // held before we started watching
  EXPECT_TRUE(matcher.pressedFlagKeys().empty());
  matcher.handle(down(Key::leftCommand));
  EXPECT_TRUE(matcher.handle(down(Key::space)).handled);

  // A modifier held while the table is replaced is known from the keyboard.
  matcher.reset({{1, KeyCombo(Key::space, M::leftCommand)}}, {Key::leftCommand});
  EXPECT_TRUE(matcher.handle(down(Key::space)).handled);
}

TEST(HotKeyMatcher, AFreshPressOfAHeldHotkeyReleasesItFirst) {
  HotKeyMatcher matcher;
  matcher.reset({{3, KeyCombo(Key::f6, 0)}}, {});
  ASSERT_TRUE(matcher.handle(down(Key::f6)).handled);
  // Its release was lost; the next real press is release, then press.
  const MatchOutcome again = matcher.handle(down(Key::f6));
  EXPECT_TRUE(again.handled);
  EXPECT_EQ(again.actions, (std::vector<RegistrationAction>{{3, true}, {3, false}}));
}

TEST(HotKeyMatcher, PausedPassesAndTracksNothing) {
  HotKeyMatcher matcher;
  matcher.reset({{1, KeyCombo(Key::space, M::leftShift)}}, {});
  matcher.setPaused(true);
  EXPECT_FALSE(matcher.handle(down(Key::leftShift)).handled);
  EXPECT_FALSE(matcher.handle(down(Key::space)).handled);
  EXPECT_TRUE(matcher.pressedFlagKeys().empty());
  EXPECT_FALSE(matcher.isHeld(keyCode(Key::space)));
}
