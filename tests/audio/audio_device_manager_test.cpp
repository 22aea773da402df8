#include "audio/AudioDeviceManager.h"
#include "platform/pulse/MicrophonePermission.h"
#include "platform/pulse/PulseAudio.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "support/FakeClock.h"
#include "support/PulseRig.h"
#include "support/TestEnv.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <chrono>

using murel::AudioDevice;
using murel::AudioDeviceManager;
using murel::UserDefaults;
using murel::platform::MicrophonePermission;
using murel::platform::MicrophonePermissionStatus;
using murel::platform::PulseAudio;
using namespace std::chrono_literals;

namespace murel {
void PrintTo(const AudioDevice& d, std::ostream* os) {
  *os << "{" << d.id << ", " << (d.uid ? d.uid->toStdString() : std::string("<none>")) << ", " << d.name.toStdString()
      << "}";
}
}  // namespace murel

namespace {

class FakePermission : public MicrophonePermission {
 public:
  MicrophonePermissionStatus current = MicrophonePermissionStatus::Authorized;
  MicrophonePermissionStatus afterRequest = MicrophonePermissionStatus::Authorized;
  int requests = 0;
  MicrophonePermissionStatus status() override { return current; }
  QCoro::Task<bool> request() override {
    ++requests;
    current = afterRequest;
    co_return current == MicrophonePermissionStatus::Authorized;
  }
};

const AudioDevice* findByUID(const QList<AudioDevice>& devices, const QString& uid) {
  for (const AudioDevice& d : devices) {
    if (d.uid == uid) return &d;
  }
  return nullptr;
}

class AudioDeviceManagerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static const bool installed = murel::installTranslations(*QCoreApplication::instance());
    (void)installed;
  }

  void SetUp() override {
    if (!murel::test::pulseAvailable()) GTEST_SKIP() << "needs the rig's PulseAudio";
    defaults = std::make_unique<UserDefaults>(murel::test::freshDir(QStringLiteral("defaults")) +
                                              QStringLiteral("/defaults.json"));
  }

  std::unique_ptr<AudioDeviceManager> makeManager() {
    return std::make_unique<AudioDeviceManager>(*defaults, permission, pulse);
  }

  PulseAudio pulse;  // the rig's server
  std::unique_ptr<UserDefaults> defaults;
  FakePermission permission;
};

}  // namespace

TEST_F(AudioDeviceManagerTest, ListsSystemDefaultThenRealSourcesWithoutMonitors) {
  auto manager = makeManager();
  const QList<AudioDevice>& devices = manager->devices();
  ASSERT_FALSE(devices.isEmpty());
  EXPECT_EQ(devices[0], (AudioDevice{0, std::nullopt, QStringLiteral("System Default")}));

  const AudioDevice* mic = findByUID(devices, QStringLiteral("murel_test_mic"));
  ASSERT_NE(mic, nullptr);
  EXPECT_EQ(mic->name, QStringLiteral("Murel-Test-Microphone"));
  EXPECT_EQ(mic->id, *murel::test::sourceIndex(QStringLiteral("murel_test_mic")) + 1);
  EXPECT_EQ(findByUID(devices, QStringLiteral("murel_test_sink.monitor")), nullptr);
  for (const AudioDevice& d : devices) EXPECT_FALSE(d.uid && d.uid->endsWith(QStringLiteral(".monitor")));
}

TEST_F(AudioDeviceManagerTest, FollowsSourcesAsTheyComeAndGo) {
  auto manager = makeManager();
  QSignalSpy changed(manager.get(), &AudioDeviceManager::devicesChanged);

  // An output's monitor is no microphone; a remapped source is one.
  const auto sink = murel::test::pactl(
      {QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=adm_plug_sink")});
  ASSERT_TRUE(sink);
  const auto remap = murel::test::pactl(
      {QStringLiteral("load-module"), QStringLiteral("module-remap-source"), QStringLiteral("source_name=adm_remap"),
       QStringLiteral("master=murel_test_mic"), QStringLiteral("source_properties=device.description=Remapped-Mic")});
  ASSERT_TRUE(remap);
  murel::test::PipeSource pipe(QStringLiteral("adm_plug_mic"), 48000, 2, QStringLiteral("Plugged-Mic"));
  ASSERT_TRUE(pipe.loaded());

  EXPECT_TRUE(murel::test::waitUntil(
      [&] {
        return findByUID(manager->devices(), QStringLiteral("adm_plug_mic")) &&
               findByUID(manager->devices(), QStringLiteral("adm_remap"));
      },
      1s));
  EXPECT_GE(changed.count(), 1);
  const AudioDevice* plugged = findByUID(manager->devices(), QStringLiteral("adm_plug_mic"));
  ASSERT_NE(plugged, nullptr);
  EXPECT_EQ(plugged->name, QStringLiteral("Plugged-Mic"));
  EXPECT_EQ(plugged->id, *pipe.index() + 1);
  EXPECT_EQ(findByUID(manager->devices(), QStringLiteral("adm_plug_sink.monitor")), nullptr);

  pipe.unload();
  murel::test::pactl({QStringLiteral("unload-module"), *remap});
  murel::test::pactl({QStringLiteral("unload-module"), *sink});
  EXPECT_TRUE(murel::test::waitUntil(
      [&] {
        return !findByUID(manager->devices(), QStringLiteral("adm_plug_mic")) &&
               !findByUID(manager->devices(), QStringLiteral("adm_remap"));
      },
      1s));
  EXPECT_NE(findByUID(manager->devices(), QStringLiteral("murel_test_mic")), nullptr);
}

TEST_F(AudioDeviceManagerTest, SelectionSurvivesUnplugAndReplug) {
  auto pipe = std::make_unique<murel::test::PipeSource>(QStringLiteral("adm_usb_mic"), 16000, 1);
  ASSERT_TRUE(pipe->loaded());
  auto manager = makeManager();
  ASSERT_TRUE(murel::test::waitUntil([&] { return findByUID(manager->devices(), QStringLiteral("adm_usb_mic")); }));
  QSignalSpy uidChanged(manager.get(), &AudioDeviceManager::selectedDeviceUIDChanged);

  const quint32 id = findByUID(manager->devices(), QStringLiteral("adm_usb_mic"))->id;
  manager->setSelectedDeviceID(id);
  EXPECT_EQ(manager->selectedDeviceUID(), QStringLiteral("adm_usb_mic"));
  EXPECT_EQ(defaults->stringValue(QStringLiteral("selectedAudioDeviceUID")), QStringLiteral("adm_usb_mic"));
  EXPECT_EQ(manager->selectedDeviceID(), id);
  EXPECT_EQ(AudioDeviceManager::storedDeviceID(*defaults, pulse), id);
  EXPECT_EQ(uidChanged.count(), 1);

  // Unplugged: pickers and recordings fall back to the default, the choice stays.
  pipe.reset();
  ASSERT_TRUE(murel::test::waitUntil([&] { return !findByUID(manager->devices(), QStringLiteral("adm_usb_mic")); }));
  EXPECT_EQ(manager->selectedDeviceID(), 0u);
  EXPECT_EQ(AudioDeviceManager::storedDeviceID(*defaults, pulse), 0u);
  EXPECT_EQ(manager->selectedDeviceUID(), QStringLiteral("adm_usb_mic"));
  EXPECT_EQ(defaults->stringValue(QStringLiteral("selectedAudioDeviceUID")), QStringLiteral("adm_usb_mic"));

  // Plugged back (under a new index): selected again without any user action.
  pipe = std::make_unique<murel::test::PipeSource>(QStringLiteral("adm_usb_mic"), 16000, 1);
  ASSERT_TRUE(murel::test::waitUntil([&] { return findByUID(manager->devices(), QStringLiteral("adm_usb_mic")); }));
  const quint32 newID = *pipe->index() + 1;
  EXPECT_EQ(manager->selectedDeviceID(), newID);
  EXPECT_EQ(AudioDeviceManager::storedDeviceID(*defaults, pulse), newID);
  EXPECT_EQ(uidChanged.count(), 1);
}

TEST_F(AudioDeviceManagerTest, SettingTheSelectedID) {
  auto manager = makeManager();
  const quint32 micID = findByUID(manager->devices(), QStringLiteral("murel_test_mic"))->id;
  manager->setSelectedDeviceID(micID);
  ASSERT_EQ(manager->selectedDeviceUID(), QStringLiteral("murel_test_mic"));

  // An id nobody has changes nothing.
  manager->setSelectedDeviceID(0xFFFFFF);
  EXPECT_EQ(manager->selectedDeviceUID(), QStringLiteral("murel_test_mic"));

  // 0 is the system default, persisted as the empty string.
  manager->setSelectedDeviceID(0);
  EXPECT_EQ(manager->selectedDeviceUID(), QString());
  EXPECT_EQ(defaults->value(QStringLiteral("selectedAudioDeviceUID")), QVariant(QString()));
  EXPECT_EQ(manager->selectedDeviceID(), 0u);
  EXPECT_EQ(AudioDeviceManager::storedDeviceID(*defaults, pulse), 0u);

  // Storing the same choice again still writes it, without a change notice.
  QSignalSpy uidChanged(manager.get(), &AudioDeviceManager::selectedDeviceUIDChanged);
  defaults->remove(QStringLiteral("selectedAudioDeviceUID"));
  manager->storeSelectedDeviceUID(QString());
  EXPECT_TRUE(defaults->contains(QStringLiteral("selectedAudioDeviceUID")));
  EXPECT_EQ(uidChanged.count(), 0);
}

TEST_F(AudioDeviceManagerTest, MigratesTheLegacyNumericSelection) {
  const quint32 micID = *murel::test::sourceIndex(QStringLiteral("murel_test_mic")) + 1;
  struct Case {
    const char* what;
    std::optional<QVariant> storedUID;
    std::optional<qint64> legacyID;
    QString expectedUID;
    bool legacyRemoved;
  };
  const Case cases[] = {
      {"connected device", std::nullopt, qint64(micID), QStringLiteral("murel_test_mic"), true},
      {"unknown device", std::nullopt, qint64(0xFFFFFF), QString(), true},
      {"no legacy value", std::nullopt, std::nullopt, QString(), true},
      {"negative value", std::nullopt, qint64(-4), QString(), true},
      {"beyond 32 bits", std::nullopt, qint64(micID) + (qint64(1) << 32), QString(), true},
      {"already migrated (empty)", QVariant(QString()), qint64(micID), QString(), false},
      {"already migrated", QVariant(QStringLiteral("elsewhere")), qint64(micID), QStringLiteral("elsewhere"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    defaults = std::make_unique<UserDefaults>(murel::test::freshDir(QStringLiteral("migrate")) +
                                              QStringLiteral("/defaults.json"));
    if (c.storedUID) defaults->setValue(QStringLiteral("selectedAudioDeviceUID"), *c.storedUID);
    if (c.legacyID) defaults->setValue(QStringLiteral("selectedAudioDeviceID"), *c.legacyID);
    auto manager = makeManager();
    EXPECT_EQ(manager->selectedDeviceUID(), c.expectedUID);
    EXPECT_EQ(defaults->stringValue(QStringLiteral("selectedAudioDeviceUID")), c.expectedUID);
    EXPECT_EQ(defaults->contains(QStringLiteral("selectedAudioDeviceID")), !c.legacyRemoved && c.legacyID);
  }
}

TEST_F(AudioDeviceManagerTest, PermissionStatusAndRequest) {
  permission.current = MicrophonePermissionStatus::NotDetermined;
  permission.afterRequest = MicrophonePermissionStatus::Denied;
  auto manager = makeManager();
  EXPECT_EQ(manager->permissionStatus(), MicrophonePermissionStatus::NotDetermined);
  QSignalSpy statusChanged(manager.get(), &AudioDeviceManager::permissionStatusChanged);
  EXPECT_FALSE(QCoro::waitFor(manager->requestPermission()));
  EXPECT_EQ(manager->permissionStatus(), MicrophonePermissionStatus::Denied);
  EXPECT_EQ(manager->permissionStatusValue(), 2);
  EXPECT_EQ(statusChanged.count(), 1);

  permission.afterRequest = MicrophonePermissionStatus::Authorized;
  EXPECT_TRUE(QCoro::waitFor(manager->requestPermission()));
  EXPECT_EQ(manager->permissionStatus(), MicrophonePermissionStatus::Authorized);
  EXPECT_EQ(statusChanged.count(), 2);

  // The system's answer: a reachable sound server means access.
  EXPECT_EQ(murel::platform::PulseMicrophonePermission(pulse).status(), MicrophonePermissionStatus::Authorized);
}

TEST_F(AudioDeviceManagerTest, UnreachableServerLeavesOnlyTheSystemDefault) {
  const QByteArray saved = qgetenv("PULSE_SERVER");
  qputenv("PULSE_SERVER", "unix:/nonexistent/murel-no-server");
  PulseAudio unreachable;
  defaults->setValue(QStringLiteral("selectedAudioDeviceUID"), QStringLiteral("murel_test_mic"));
  AudioDeviceManager manager(*defaults, permission, unreachable);
  EXPECT_EQ(manager.devices().size(), 1);
  EXPECT_EQ(manager.devices().value(0).id, 0u);
  EXPECT_EQ(manager.selectedDeviceID(), 0u);
  EXPECT_EQ(AudioDeviceManager::storedDeviceID(*defaults, unreachable), 0u);
  qputenv("PULSE_SERVER", saved);
}

TEST_F(AudioDeviceManagerTest, FollowsTheServerThroughARestart) {
  const QString dir = murel::test::freshDir(QStringLiteral("server"));
  murel::test::PrivateServer server(
      dir, {QStringLiteral("module-pipe-source source_name=private_mic file=%1/mic format=s16le rate=16000 channels=1 "
                           "source_properties=device.description=Private-Mic")
                .arg(dir)});
  ASSERT_TRUE(server.start());
  const QByteArray saved = qgetenv("PULSE_SERVER");
  qputenv("PULSE_SERVER", server.address().toUtf8());
  murel::test::FakeClock clock;
  {
    PulseAudio pulse(&clock);
    AudioDeviceManager manager(*defaults, permission, pulse);
    EXPECT_NE(findByUID(manager.devices(), QStringLiteral("private_mic")), nullptr);

    server.stop();
    EXPECT_TRUE(murel::test::waitUntil([&] { return manager.devices().size() == 1; }));
    clock.advance(std::chrono::seconds(2));  // the server is still away: no change
    EXPECT_EQ(manager.devices().size(), 1);

    ASSERT_TRUE(server.start());
    clock.advance(std::chrono::seconds(2));
    EXPECT_TRUE(murel::test::waitUntil([&] { return findByUID(manager.devices(), QStringLiteral("private_mic")); }));
    EXPECT_EQ(clock.pendingCount(), 0u);
  }
  qputenv("PULSE_SERVER", saved);
}
