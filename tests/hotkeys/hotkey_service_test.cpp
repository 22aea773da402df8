#include "hotkeys/HotKeyService.h"
#include "runtime/UserDefaults.h"
#include "support/FakeClock.h"
#include "support/FakeKeyEventTap.h"
#include "support/TestEnv.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace murel;
using namespace std::chrono_literals;
using M = KeyModifiers;
using Session = HotKeyService::Session;

namespace {

struct Report {
  bool started;
  Session session;
  friend bool operator==(const Report&, const Report&) = default;
};

void PrintTo(const Report& r, std::ostream* os) {
  *os << (r.started ? "start " : "stop ") << (r.session.kind == Session::Kind::dictation ? "dictation" : "commandEdit")
      << (r.session.modeId ? " " + r.session.modeId->toString().toStdString() : std::string());
}

class HotKeyServiceTest : public ::testing::Test {
 protected:
  HotKeyServiceTest() : defaults(test::freshDir("hotkeys") + QStringLiteral("/defaults.json")) {}

  // A service with the given stored settings; its reports are collected.
  std::unique_ptr<HotKeyService> make(const QVariantMap& stored = {}) {
    for (auto it = stored.begin(); it != stored.end(); ++it) defaults.setValue(it.key(), it.value());
    HotKeyService::UserData data;
    data.modeHotKeys = [this] { return modes; };
    data.isVoiceEditEnabled = [this] { return voiceEdit; };
    auto service = std::make_unique<HotKeyService>(defaults, tap, data);
    service->onSessionChanged = [this](bool started, const Session& s) { reports.push_back({started, s}); };
    service->onChangeMode = [this] { ++changeModes; };
    return service;
  }
  // Lets queued deliveries and reports run.
  static void turn() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }

  UserDefaults defaults;
  test::FakeClock clock;
  test::FakeKeyEventTap tap{clock};
  QList<HotKeyService::ModeHotKey> modes;
  bool voiceEdit = false;
  std::vector<Report> reports;
  int changeModes = 0;
};

const KeyCombo kLeftOptionSpace(Key::space, M::leftOption);

}  // namespace

TEST_F(HotKeyServiceTest, SettingsDefaultsAndWriteBack) {
  auto service = make({{QStringLiteral("hotKeyCombo"), QStringLiteral("{\"v\":2,\"k\":49}")},
                       {QStringLiteral("commandEditCombo"), QStringLiteral("{\"k\":0,\"m\":256}")},
                       {QStringLiteral("activationMode"), QStringLiteral("Hybrid")}});
  // Unreadable dictation hotkey: none, and removed.
  EXPECT_FALSE(service->currentCombo());
  EXPECT_FALSE(defaults.contains(QStringLiteral("hotKeyCombo")));
  // Missing change-mode hotkey: Option+Shift+Space on either side, stored.
  EXPECT_EQ(service->changeModeCombo(), KeyCombo(Key::space, 10));
  EXPECT_EQ(defaults.stringValue(QStringLiteral("changeModeCombo")), QStringLiteral("{\"v\":2,\"k\":49,\"m\":10}"));
  // A legacy text is read and rewritten in today's form.
  EXPECT_EQ(service->commandEditCombo(), KeyCombo(Key::a, M::command));
  EXPECT_EQ(defaults.stringValue(QStringLiteral("commandEditCombo")), QStringLiteral("{\"v\":2,\"k\":0,\"m\":1}"));
  EXPECT_EQ(service->activationMode(), ActivationMode::hybrid);
  EXPECT_EQ(defaults.stringValue(QStringLiteral("activationMode")), QStringLiteral("hybrid"));
  EXPECT_EQ(tap.installs, 0);  // creation installs nothing

  QSignalSpy comboSpy(service.get(), &HotKeyService::changeModeComboChanged);
  QSignalSpy modeSpy(service.get(), &HotKeyService::activationModeChanged);
  service->setChangeModeCombo(KeyCombo(Key::space, 10));  // equal: nobody hears of it
  EXPECT_EQ(comboSpy.count(), 0);
  service->setChangeModeCombo(std::nullopt);  // none removes the key, so the default returns
  EXPECT_EQ(comboSpy.count(), 1);
  EXPECT_FALSE(defaults.contains(QStringLiteral("changeModeCombo")));
  service->setActivationMode(ActivationMode::toggle);
  service->setActivationMode(ActivationMode::toggle);
  EXPECT_EQ(modeSpy.count(), 1);
  EXPECT_EQ(defaults.stringValue(QStringLiteral("activationMode")), QStringLiteral("toggle"));

  auto again = make();
  EXPECT_EQ(again->changeModeCombo(), KeyCombo(Key::space, 10));
  EXPECT_EQ(again->activationMode(), ActivationMode::toggle);
}

TEST_F(HotKeyServiceTest, RegistrationTableAndBindings) {
  const QUuid modeA = QUuid::createUuid(), modeB = QUuid::createUuid(), modeC = QUuid::createUuid();
  modes = {{modeA, KeyCombo(Key::f6, 0)}, {modeB, std::nullopt}, {modeC, KeyCombo(Key::f7, M::leftShift)}};
  auto service = make({{QStringLiteral("hotKeyCombo"), kLeftOptionSpace.rawValue()},
                       {QStringLiteral("commandEditCombo"), KeyCombo(Key::e, M::leftControl).rawValue()}});
  service->reloadRegistrations();
  // Voice edit off: its hotkey is not registered, yet it is still a binding.
  std::vector<std::pair<quint32, KeyCombo>> ids;
  for (const auto& e : tap.registered) ids.push_back({e.id, e.combo});
  EXPECT_EQ(ids, (std::vector<std::pair<quint32, KeyCombo>>{{1, kLeftOptionSpace},
                                                            {2, KeyCombo(Key::space, 10)},
                                                            {3, KeyCombo(Key::f6, 0)},
                                                            {4, KeyCombo(Key::f7, M::leftShift)}}));
  const HotKeyBindings bindings = service->currentBindings();
  EXPECT_EQ(bindings.size(), 5);
  EXPECT_EQ(bindings.value(HotKeyBinding::commandEdit()), KeyCombo(Key::e, M::leftControl));
  EXPECT_EQ(bindings.value(HotKeyBinding::mode(modeC)), KeyCombo(Key::f7, M::leftShift));
  EXPECT_FALSE(bindings.contains(HotKeyBinding::mode(modeB)));
  EXPECT_TRUE(service->isRegistered());
  EXPECT_FALSE(service->lastRegistrationError());

  // With voice edit on, it takes the third place.
  voiceEdit = true;
  service->reloadRegistrations();
  ASSERT_EQ(tap.registered.size(), 5u);
  EXPECT_EQ(tap.registered[2].combo, KeyCombo(Key::e, M::leftControl));
  EXPECT_EQ(tap.registered[2].id, 3u);

  // The voice-edit combination reaches the focused window while voice edit is off.
  voiceEdit = false;
  service->reloadRegistrations();
  tap.down(Key::leftControl);
  EXPECT_FALSE(tap.down(Key::e));
}

TEST_F(HotKeyServiceTest, RegistrationFailures) {
  auto service = make();
  service->reloadRegistrations();  // only the change-mode hotkey: no dictation hotkey
  EXPECT_FALSE(service->isRegistered());
  EXPECT_FALSE(service->lastRegistrationError());

  service->setCurrentCombo(kLeftOptionSpace);
  tap.installSucceeds = false;
  service->reloadRegistrations();
  EXPECT_FALSE(service->isRegistered());
  EXPECT_EQ(service->lastRegistrationError(), 1000);

  tap.installSucceeds = true;
  service->reloadRegistrations();
  EXPECT_TRUE(service->isRegistered());
  EXPECT_FALSE(service->lastRegistrationError());

  // Another program holds the combination.
  tap.heldElsewhere = {kLeftOptionSpace};
  service->reloadRegistrations();
  EXPECT_FALSE(service->isRegistered());
  EXPECT_EQ(service->lastRegistrationError(), 1000);
}

// Each refused grab is reported for its own hotkey; the registration state and
// its error follow the dictation hotkey alone.
TEST_F(HotKeyServiceTest, RefusalsAreReportedPerHotkey) {
  const QUuid mode = QUuid::createUuid();
  const KeyCombo modeCombo(Key::f6, 0), changeMode(Key::space, 10);
  modes = {{mode, modeCombo}};
  auto service = make({{QStringLiteral("hotKeyCombo"), kLeftOptionSpace.rawValue()}});
  QSignalSpy refusedSpy(service.get(), &HotKeyService::refusedBindingsChanged);
  struct Row {
    const char* rule;
    std::vector<KeyCombo> heldElsewhere;
    QList<HotKeyBinding> refused;
    bool registered;
  };
  const Row rows[] = {
      {"nothing taken", {}, {}, true},
      {"a taken change-mode hotkey leaves dictation working", {changeMode}, {HotKeyBinding::changeMode()}, true},
      {"a taken mode hotkey leaves dictation working", {modeCombo}, {HotKeyBinding::mode(mode)}, true},
      {"a taken dictation hotkey fails the registration",
       {kLeftOptionSpace},
       {HotKeyBinding::toggleRecording()},
       false},
      {"all taken, listed in registration order",
       {modeCombo, kLeftOptionSpace, changeMode},
       {HotKeyBinding::toggleRecording(), HotKeyBinding::changeMode(), HotKeyBinding::mode(mode)},
       false},
      {"given back", {}, {}, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.rule);
    tap.heldElsewhere = row.heldElsewhere;
    service->reloadRegistrations();
    EXPECT_EQ(service->refusedBindings(), row.refused);
    EXPECT_EQ(service->isRegistered(), row.registered);
    EXPECT_EQ(service->lastRegistrationError(),
              row.registered ? std::nullopt : std::optional<qint32>(HotKeyService::kRegistrationFailed));
  }
  EXPECT_EQ(refusedSpy.count(), 5);  // once per change, not per rebuild

  // A tap that cannot be installed refuses nothing in particular: the error
  // stands for every hotkey, and no row is singled out.
  tap.heldElsewhere = {changeMode};
  tap.installSucceeds = false;
  service->reloadRegistrations();
  EXPECT_TRUE(service->refusedBindings().isEmpty());
  EXPECT_FALSE(service->isRegistered());
  EXPECT_EQ(service->lastRegistrationError(), HotKeyService::kRegistrationFailed);
}

TEST_F(HotKeyServiceTest, HoldSessionIsReportedOneTurnLater) {
  auto service = make({{QStringLiteral("hotKeyCombo"), kLeftOptionSpace.rawValue()},
                       {QStringLiteral("activationMode"), QStringLiteral("holdToActivate")}});
  service->reloadRegistrations();
  QSignalSpy activeSpy(service.get(), &HotKeyService::isActiveChanged);

  EXPECT_FALSE(tap.down(Key::leftOption));  // the modifier itself passes
  EXPECT_TRUE(tap.down(Key::space));
  EXPECT_TRUE(tap.down(Key::space, true));  // its repeats are swallowed
  QCoreApplication::processEvents();        // the event reaches the service …
  EXPECT_TRUE(service->isActive());
  EXPECT_TRUE(reports.empty());  // … and the report comes one turn after it
  turn();
  EXPECT_EQ(reports, (std::vector<Report>{{true, Session::dictation()}}));
  EXPECT_EQ(activeSpy.count(), 1);

  tap.up(Key::leftOption);  // modifiers let go before the key still end the hotkey
  EXPECT_TRUE(tap.up(Key::space));
  turn();
  EXPECT_FALSE(service->isActive());
  EXPECT_EQ(reports.back(), (Report{false, Session::dictation()}));
  ASSERT_EQ(reports.size(), 2u);

  // Right Option + Space is not this hotkey; an extra Shift spoils it too.
  tap.down(Key::rightOption);
  EXPECT_FALSE(tap.down(Key::space));
  tap.up(Key::space);
  tap.up(Key::rightOption);
  tap.down(Key::leftOption);
  tap.down(Key::leftControl);
  EXPECT_FALSE(tap.down(Key::space));
}

TEST_F(HotKeyServiceTest, HybridThresholdOnTheClock) {
  auto service = make({{QStringLiteral("hotKeyCombo"), KeyCombo(Key::f6, 0).rawValue()}});
  service->reloadRegistrations();
  tap.down(Key::f6);
  clock.advance(999ms);
  tap.up(Key::f6);
  turn();
  EXPECT_TRUE(service->isActive());  // short press: keeps recording
  tap.down(Key::f6);
  clock.advance(1s);
  tap.up(Key::f6);
  turn();
  EXPECT_FALSE(service->isActive());  // the next press stopped it
  tap.down(Key::f6);
  clock.advance(1000ms);
  tap.up(Key::f6);
  turn();
  EXPECT_FALSE(service->isActive());  // held exactly one second: push-to-talk
  EXPECT_EQ(reports.size(), 4u);
}

// A lost key-up must not leave every later press ignored.
TEST_F(HotKeyServiceTest, FreshPressAfterALostReleaseInAutoMode) {
  auto service = make({{QStringLiteral("hotKeyCombo"), KeyCombo(Key::f6, 0).rawValue()}});
  service->reloadRegistrations();
  tap.down(Key::f6);
  clock.advance(3s);  // held, and its release never arrives
  tap.down(Key::f6);  // a fresh press: the long hold ended, a new one begins
  turn();
  EXPECT_EQ(reports, (std::vector<Report>{
                         {true, Session::dictation()}, {false, Session::dictation()}, {true, Session::dictation()}}));
  EXPECT_TRUE(service->isActive());
}

TEST_F(HotKeyServiceTest, OneOwnerPerSessionAndChangeModeAtOnce) {
  const QUuid modeA = QUuid::createUuid();
  modes = {{modeA, KeyCombo(Key::f6, 0)}};
  auto service = make({{QStringLiteral("hotKeyCombo"), KeyCombo(Key::f5, 0).rawValue()},
                       {QStringLiteral("activationMode"), QStringLiteral("toggle")}});
  service->reloadRegistrations();
  tap.down(Key::f5);
  tap.up(Key::f5);
  turn();
  ASSERT_TRUE(service->isActive());

  // Another dictation-type hotkey is swallowed but has no effect.
  EXPECT_TRUE(tap.down(Key::f6));
  EXPECT_TRUE(tap.up(Key::f6));
  // The change-mode hotkey is reported inside the event's handling, session untouched.
  tap.down(Key::rightOption);
  tap.down(Key::leftShift);
  EXPECT_TRUE(tap.down(Key::space));
  QCoreApplication::processEvents();
  EXPECT_EQ(changeModes, 1);
  EXPECT_TRUE(tap.up(Key::space));
  tap.up(Key::leftShift);
  tap.up(Key::rightOption);
  turn();
  EXPECT_EQ(changeModes, 1);
  EXPECT_TRUE(service->isActive());

  tap.down(Key::f5);  // the owner stops it
  tap.up(Key::f5);
  tap.down(Key::f6);  // now the mode hotkey can start its own
  turn();
  EXPECT_EQ(reports,
            (std::vector<Report>{
                {true, Session::dictation()}, {false, Session::dictation()}, {true, Session::dictation(modeA)}}));
}

TEST_F(HotKeyServiceTest, ResetAndReloadEndTheSessionSilently) {
  auto service = make({{QStringLiteral("hotKeyCombo"), KeyCombo(Key::f5, 0).rawValue()},
                       {QStringLiteral("activationMode"), QStringLiteral("toggle")}});
  service->reloadRegistrations();
  tap.down(Key::f5);
  tap.up(Key::f5);
  turn();
  ASSERT_EQ(reports.size(), 1u);
  service->resetSession();
  EXPECT_FALSE(service->isActive());
  tap.down(Key::f5);  // a new session starts with the next press
  tap.up(Key::f5);
  turn();
  EXPECT_EQ(reports.size(), 2u);
  EXPECT_TRUE(reports.back().started);

  // An event caught before a rebuild does not drive the new table.
  tap.down(Key::f5);
  service->reloadRegistrations();
  turn();
  EXPECT_FALSE(service->isActive());
  EXPECT_EQ(reports.size(), 2u);
}

TEST_F(HotKeyServiceTest, PausedPassesEverythingAndResynchronisesModifiers) {
  auto service = make({{QStringLiteral("hotKeyCombo"), KeyCombo(Key::space, M::leftCommand).rawValue()},
                       {QStringLiteral("activationMode"), QStringLiteral("holdToActivate")}});
  service->reloadRegistrations();
  service->setPaused(true);
  EXPECT_TRUE(service->isPaused());
  tap.down(Key::leftCommand);  // pressed while paused: not tracked
  EXPECT_FALSE(tap.down(Key::space));
  tap.up(Key::space);
  service->setPaused(false);
  // Still held after the pause: read from the keyboard, so the hotkey matches.
  EXPECT_TRUE(tap.down(Key::space));
  tap.up(Key::space);
  tap.up(Key::leftCommand);
  // A rebuild while the modifier is held keeps knowing it.
  tap.down(Key::leftCommand);
  service->reloadRegistrations();
  EXPECT_TRUE(tap.down(Key::space));
  turn();
  EXPECT_TRUE(service->isActive());
}
