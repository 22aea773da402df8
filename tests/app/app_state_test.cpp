// The application state over a session on fake edges, the real hotkey service
// (with a test key tap), the real transcript processor, audio extractor and
// speech-model catalogue on real files.
#include "SessionRig.h"

#include "app/AppState.h"
#include "runtime/AppPaths.h"
#include "runtime/SystemLog.h"
#include "speech/LanguageModelFile.h"
#include "speech/SpeechModel.h"
#include "support/AwaitTask.h"
#include "support/FakeKeyEventTap.h"
#include "support/MediaFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;

namespace {

void turn() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

struct FakeSwitcher final : ModeSwitching {
  void toggle(const QList<Mode>& modes, const QUuid& active, std::function<void(const Mode&)> commit) override {
    open = !open;
    lastModes = modes;
    activeId = active;
    commitFn = std::move(commit);
  }
  bool open = false;
  QList<Mode> lastModes;
  QUuid activeId;
  std::function<void(const Mode&)> commitFn;
};

class AppStateTest : public ::testing::Test {
 protected:
  void build() {
    hotKeys = std::make_unique<HotKeyService>(rig.defaults, tap);
    app = std::make_unique<AppState>(
        AppState::Parts{rig.defaults, rig.modes, rig.dictionary, rig.engine, processor, rig.session, *hotKeys, rig.diag,
                        [this] { ++cuePreloads; },
                        [this] {
                          auto s = std::make_unique<FakeSwitcher>();
                          switcher = s.get();
                          ++switchersMade;
                          return s;
                        },
                        [this](std::function<void(quint32, quint64)> handler) { globalKeys = std::move(handler); }});
  }
  void bootstrapped() {
    build();
    settle(app->bootstrap());
  }

  SessionRig rig;
  FakeClock keyClock;
  FakeKeyEventTap tap{keyClock};
  TranscriptProcessor processor{[](QString text, QString) -> QCoro::Task<QString> { co_return text.toUpper(); },
                                [this] { return rig.dictionary.entries(); }};
  std::unique_ptr<HotKeyService> hotKeys;
  std::unique_ptr<AppState> app;
  int cuePreloads = 0;
  int switchersMade = 0;
  FakeSwitcher* switcher = nullptr;
  std::function<void(quint32, quint64)> globalKeys;
};

struct FlagRow {
  const char* key;
  QVariant stored;  // invalid: missing
  bool expected;
};

TEST_F(AppStateTest, StoredFlagsOfAnyTypeRead) {
  const std::vector<FlagRow> rows = {
      {"showHud", QVariant(), true},
      {"showHud", QVariant(QStringLiteral("no")), true},  // not a Boolean: the default
      {"showHud", QVariant(false), false},
      {"soundCuesEnabled", QVariant(qint64(0)), true},
      {"soundCuesEnabled", QVariant(false), false},
      {"restoreClipboard", QVariant(), false},
      {"restoreClipboard", QVariant(true), true},
      {"restoreClipboard", QVariant(qint64(1)), true},
      {"restoreClipboard", QVariant(QStringLiteral("YES")), true},
      {"restoreClipboard", QVariant(QStringLiteral("  -007")), true},
      {"restoreClipboard", QVariant(QStringLiteral("no")), false},
      {"pauseMediaWhileRecording", QVariant(0.0), false},
      {"pauseMediaWhileRecording", QVariant(QStringLiteral("true")), true},
      {"pauseMediaWhileRecording", QVariant(QByteArray("1")), false},
  };
  for (const FlagRow& row : rows) {
    rig.defaults.remove(row.key);
    if (row.stored.isValid()) rig.defaults.setValue(row.key, row.stored);
    HotKeyService service(rig.defaults, tap);
    AppState state(AppState::Parts{
        rig.defaults, rig.modes, rig.dictionary, rig.engine, processor, rig.session, service, rig.diag, {}, {}, {}});
    EXPECT_EQ(state.property(row.key).toBool(), row.expected)
        << row.key << " = " << row.stored.toString().toStdString();
  }
}

TEST_F(AppStateTest, SettersPersistButNotifyOnlyOnChange) {
  build();
  QSignalSpy spy(app.get(), &AppState::showHudChanged);
  rig.defaults.remove("showHud");
  app->setShowHud(true);
  EXPECT_EQ(spy.count(), 0);
  EXPECT_EQ(rig.defaults.boolValue("showHud"), true) << "written even when unchanged";
  app->setShowHud(false);
  EXPECT_EQ(spy.count(), 1);

  QSignalSpy statusSpy(app.get(), &AppState::statusChanged);
  app->setStatus(AppStatus::error("a"));
  app->setStatus(AppStatus::error("a"));
  app->setStatus(AppStatus::error("b"));
  EXPECT_EQ(statusSpy.count(), 2);

  app->setShowHud(true);
  app->setSuppressHud(true);
  EXPECT_FALSE(app->sessionPreferences().showHud);
  app->setSuppressHud(false);
  app->setAutoPaste(false);
  const DictationSessionPreferences p = app->sessionPreferences();
  EXPECT_TRUE(p.showHud);
  EXPECT_FALSE(p.autoPaste);
}

TEST_F(AppStateTest, PreferencesAreAllOffOnceTheStateIsGone) {
  build();
  app->setRestoreClipboard(true);
  EXPECT_TRUE(rig.session.preferences().restoreClipboard);
  app.reset();
  const DictationSessionPreferences p =
      rig.session.preferences ? rig.session.preferences() : DictationSessionPreferences{};
  EXPECT_FALSE(p.autoPaste || p.restoreClipboard || p.showHud || p.soundCuesEnabled || p.pauseMediaWhileRecording);
}

TEST_F(AppStateTest, BootstrapPreloadsCuesTurnsReadyAndObservesOnce) {
  build();
  EXPECT_EQ(app->status(), AppStatus::loading());
  settle(app->bootstrap());
  EXPECT_EQ(cuePreloads, 1);
  EXPECT_EQ(app->status(), AppStatus::ready());
  EXPECT_TRUE(hotKeys->onSessionChanged);
  app->setupHotkeyObservation();
  EXPECT_TRUE(static_cast<bool>(globalKeys));
  EXPECT_TRUE(waitUntil([&] { return rig.diag.readAll().contains("bootstrap"); }));
}

TEST_F(AppStateTest, RefusedHotkeyStartLogsAndResetsTheKeySession) {
  rig.defaults.setValue("hotKeyCombo", KeyCombo(Key::f6, 0).rawValue());
  rig.defaults.setValue("activationMode", "toggle");
  build();
  app->setupHotkeyObservation();  // the status stays loading
  hotKeys->reloadRegistrations();
  QStringList lines;
  SystemLog::setSink([&](SystemLog::Level level, const QString& category, const QString& message) {
    if (level == SystemLog::Level::Error && category == "app") lines.append(message);
  });
  tap.down(Key::f6);
  tap.up(Key::f6);
  turn();
  EXPECT_EQ(lines, QStringList{"startRecording skipped — status is LOADING"});
  EXPECT_FALSE(hotKeys->isActive()) << "the next press must start, not stop a recording that never began";
  EXPECT_EQ(rig.recorder.count, 0);

  app->setStatus(AppStatus::ready());
  tap.down(Key::f6);
  tap.up(Key::f6);
  turn();
  EXPECT_EQ(rig.session.phase(), DictationSession::Phase::recording);
  tap.down(Key::f6);
  tap.up(Key::f6);
  turn();
  EXPECT_EQ(rig.session.phase(), DictationSession::Phase::transcribing);
  rig.settle();
  EXPECT_EQ(app->lastTranscription(), "hello world");
  EXPECT_EQ(app->status(), AppStatus::ready());
  SystemLog::setSink({});
}

TEST_F(AppStateTest, HotkeySessionsDispatchByKindAndMode) {
  bootstrapped();
  Mode formal = Mode::makeDefault();
  formal.id = QUuid::createUuid();
  formal.name = "Formal";
  formal.isDefault = false;
  rig.modes.add(formal);

  app->handleHotkeySession(true, HotKeyService::Session::dictation(formal.id));
  ASSERT_EQ(rig.session.recordingMode()->id, formal.id);
  app->handleHotkeySession(false, HotKeyService::Session::dictation(formal.id));
  rig.settle();

  app->handleHotkeySession(true, HotKeyService::Session::dictation(QUuid::createUuid()));
  EXPECT_EQ(rig.session.recordingMode()->id, rig.modes.defaultMode().id) << "a deleted mode's hotkey: no mode";
  app->handleHotkeySession(false, HotKeyService::Session::dictation());
  rig.settle();

  app->handleHotkeySession(true, HotKeyService::Session::commandEdit());
  EXPECT_TRUE(rig.session.isCommandEdit());
  rig.session.cancel();
  rig.clock.advance(5s);

  // A stop while idle does nothing.
  app->handleHotkeySession(false, HotKeyService::Session::dictation());
  EXPECT_EQ(app->status(), AppStatus::ready());
}

TEST_F(AppStateTest, ChangeModeTogglesTheSwitcherInAnyStatusAndCommitsTheDefault) {
  build();
  Mode other = Mode::makeDefault();
  other.id = QUuid::createUuid();
  other.isDefault = false;
  rig.modes.setModes({Mode::makeDefault(), other});
  app->toggleModeSwitcher();
  ASSERT_TRUE(switcher);
  EXPECT_TRUE(switcher->open);
  EXPECT_EQ(switcher->lastModes.size(), 2);
  EXPECT_EQ(switcher->activeId, rig.modes.defaultMode().id);
  switcher->commitFn(other);
  EXPECT_EQ(rig.modes.defaultMode().id, other.id);
  app->toggleModeSwitcher();
  EXPECT_FALSE(switcher->open);
  EXPECT_EQ(switchersMade, 1);
}

TEST_F(AppStateTest, EscapeCancelsOnlyWithoutModifiersWhileBusy) {
  bootstrapped();
  struct Row {
    quint64 flags;
    bool cancels;
  };
  const std::vector<Row> rows = {{0, true},
                                 {0x10000, true},   // Caps Lock
                                 {0x800000, true},  // fn
                                 {0x200000, true},  // numeric pad
                                 {AppState::kShiftFlag, false},
                                 {AppState::kControlFlag, false},
                                 {AppState::kOptionFlag, false},
                                 {AppState::kCommandFlag, false}};
  for (const Row& row : rows) {
    rig.session.start();
    ASSERT_EQ(app->status(), AppStatus::recording());
    EXPECT_EQ(app->handleEscapeKey(53, row.flags), row.cancels) << row.flags;
    EXPECT_EQ(rig.session.phase() == DictationSession::Phase::idle, row.cancels) << row.flags;
    if (!row.cancels) rig.session.cancel();
  }
  EXPECT_FALSE(app->handleEscapeKey(53, 0)) << "ready: Escape passes";
  rig.session.start();
  EXPECT_FALSE(app->handleEscapeKey(54, 0));
  rig.session.cancel();
}

TEST_F(AppStateTest, ResignActiveResetsAStaleKeySessionOnly) {
  rig.defaults.setValue("hotKeyCombo", KeyCombo(Key::f6, 0).rawValue());
  rig.defaults.setValue("activationMode", "toggle");
  bootstrapped();
  hotKeys->onSessionChanged = {};  // the key session starts, nothing records
  hotKeys->reloadRegistrations();
  tap.down(Key::f6);
  tap.up(Key::f6);
  turn();
  ASSERT_TRUE(hotKeys->isActive());
  QStringList lines;
  SystemLog::setSink([&](SystemLog::Level, const QString& category, const QString& message) {
    if (category == "app") lines.append(message);
  });
  app->handleResignActive();
  EXPECT_FALSE(hotKeys->isActive());
  EXPECT_EQ(lines, QStringList{"Activation state desynced on resign active; resetting"});
  SystemLog::setSink({});
}

TEST_F(AppStateTest, ResignActiveLeavesAPressOnItsWayToTheRecorder) {
  rig.defaults.setValue("hotKeyCombo", KeyCombo(Key::f6, 0).rawValue());
  rig.defaults.setValue("activationMode", "toggle");
  bootstrapped();
  hotKeys->reloadRegistrations();
  // The press is decided; its report is still queued when the focus change is handled.
  tap.down(Key::f6);
  tap.up(Key::f6);
  QCoreApplication::sendPostedEvents();
  ASSERT_TRUE(hotKeys->hasReportInFlight());
  app->handleResignActive();
  EXPECT_TRUE(hotKeys->isActive());
  turn();
  ASSERT_EQ(app->status(), AppStatus::recording());
  // The next press ends that recording instead of starting one over it.
  tap.down(Key::f6);
  tap.up(Key::f6);
  turn();
  EXPECT_FALSE(hotKeys->isActive());
  EXPECT_NE(app->status(), AppStatus::recording());
}

TEST_F(AppStateTest, SessionErrorsCarryTheirLinkAndReadyKeepsTheLastError) {
  bootstrapped();
  rig.mic = 2;
  rig.session.start();
  EXPECT_TRUE(app->status().is(AppStatus::Kind::error));
  EXPECT_EQ(app->lastError(), app->status().message());
  // Linux has no settings page for it: no link is offered.
  EXPECT_EQ(app->settingsDeepLink(), std::nullopt);
  app->handleSessionEvent(DictationSessionEvent::statusChanged(AppStatus::ready()));
  EXPECT_EQ(app->status(), AppStatus::ready());
  EXPECT_TRUE(app->lastError().has_value());
}

// The sound server came back: an error its absence caused goes by itself, and
// the next press records; another error stays until the user lets it go.
TEST_F(AppStateTest, TheSoundServerBackClearsOnlyItsOwnError) {
  bootstrapped();
  QSignalSpy refused(app.get(), &AppState::pressRefused);
  rig.mic = 2;
  app->handleHotkeySession(true, HotKeyService::Session::dictation());
  ASSERT_TRUE(app->status().is(AppStatus::Kind::error));
  const QString message = app->status().message();

  // Still away: the press is refused again; each refusal is said where the user looks.
  app->handleHotkeySession(true, HotKeyService::Session::dictation());
  EXPECT_EQ(app->status(), AppStatus::error(message));
  EXPECT_EQ(app->lastError(), message);
  ASSERT_EQ(refused.count(), 2);
  EXPECT_EQ(refused[1][0].toString(), message);
  EXPECT_EQ(rig.recorder.count, 0);

  rig.mic = 3;
  app->handleSoundServerReturned();
  EXPECT_EQ(app->status(), AppStatus::ready());
  EXPECT_EQ(app->lastError(), std::nullopt);
  app->handleHotkeySession(true, HotKeyService::Session::dictation());
  EXPECT_EQ(rig.session.phase(), DictationSession::Phase::recording);
  app->handleHotkeySession(false, HotKeyService::Session::dictation());
  rig.settle();
  EXPECT_EQ(app->lastTranscription(), "hello world");

  // Any other error is not the sound server's to clear.
  app->handleSessionEvent(DictationSessionEvent::statusChanged(AppStatus::error(QStringLiteral("Paste failed"))));
  app->handleSoundServerReturned();
  EXPECT_EQ(app->status(), AppStatus::error(QStringLiteral("Paste failed")));
}

// The server answers again before its return was noticed: the next press asks
// again, records, and clears the error on the way.
TEST_F(AppStateTest, APressAfterTheSoundServerReturnedRecordsAtOnce) {
  bootstrapped();
  rig.mic = 2;
  app->handleHotkeySession(true, HotKeyService::Session::dictation());
  ASSERT_TRUE(app->status().is(AppStatus::Kind::error));
  rig.mic = 3;
  app->handleHotkeySession(true, HotKeyService::Session::dictation());
  EXPECT_EQ(rig.session.phase(), DictationSession::Phase::recording);
  EXPECT_EQ(app->status(), AppStatus::recording());
  EXPECT_EQ(app->lastError(), std::nullopt);
}

// ---- Language model ----

void placeLanguageModel(qint64 size) {
  QDir().mkpath(gemmaModelDirectory());
  QFile file(gemmaModelPath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_TRUE(file.resize(size));
}

TEST_F(AppStateTest, LanguageModelOneByteShortIsMissing) {
  bootstrapped();
  rig.engine.enhanceReply = "REWRITTEN";
  rig.languageModelCheck = [] { return isGemmaModelInstalled(); };
  // The processor's rule, as the composition root wires it.
  const TranscriptProcessor::EnhanceFunction enhance = TranscriptProcessor::enhanceWhenModelInstalled(
      &isGemmaModelInstalled,
      [this](QString text, QString instructions) { return rig.engine.enhance(text, instructions, {}); });

  placeLanguageModel(kGemmaModelSizeBytes - 1);
  EXPECT_EQ(settle(enhance("text", "do"))->value, "text");
  app->handleHotkeySession(true, HotKeyService::Session::commandEdit());
  EXPECT_EQ(app->status(), AppStatus::error("Voice edit needs the AI model. Download it in Settings first."));
  EXPECT_EQ(rig.recorder.count, 0);
  rig.clock.advance(3s);
  EXPECT_EQ(app->status(), AppStatus::ready());

  placeLanguageModel(kGemmaModelSizeBytes);
  EXPECT_EQ(settle(enhance("text", "do"))->value, "REWRITTEN");
  app->handleHotkeySession(true, HotKeyService::Session::commandEdit());
  EXPECT_TRUE(rig.session.isCommandEdit());
  rig.session.cancel();
  QFile::remove(gemmaModelPath());
}

// ---- Model loading ----

TEST_F(AppStateTest, LoadFailureShowsItsErrorAndRetryRecovers) {
  bootstrapped();
  rig.engine.loadError = EngineError::initFailed("Whisper");
  QList<AppStatus> seen;
  QObject::connect(app.get(), &AppState::statusChanged, [&] { seen.append(app->status()); });
  const auto failed = settle(app->loadSpeechModel(true, true));
  ASSERT_TRUE(failed->error);
  const QString message = "Model load failed: " + EngineError::initFailed("Whisper").description();
  EXPECT_EQ(seen, (QList<AppStatus>{AppStatus::loading(), AppStatus::error(message)}));
  EXPECT_EQ(app->lastError(), message);

  settle(app->retryAfterError());  // fails again: shown, not thrown
  EXPECT_EQ(app->status(), AppStatus::error(message));

  rig.engine.loadError.reset();
  settle(app->retryAfterError());
  EXPECT_EQ(app->status(), AppStatus::ready());
  EXPECT_FALSE(app->lastError());
  EXPECT_EQ(rig.engine.loads, 3);

  app->setStatus(AppStatus::error("x"));
  settle(app->retryAfterError());  // the engine is loaded: nothing loads
  EXPECT_EQ(app->status(), AppStatus::ready());
  EXPECT_EQ(rig.engine.loads, 3);
}

TEST_F(AppStateTest, ModelLoadAndFileTranscriptionLeaveARunningDictationsStatus) {
  bootstrapped();
  rig.session.start();
  rig.engine.loadError = EngineError::initFailed("Whisper");
  settle(app->loadSpeechModel(true, true));
  EXPECT_EQ(app->status(), AppStatus::recording());
  rig.engine.loadError.reset();
  const QString wav = freshDir("ft") + "/a.wav";
  QFile(wav).open(QIODevice::WriteOnly);
  settle(app->transcribeFile(wav));
  EXPECT_EQ(app->status(), AppStatus::recording());
  EXPECT_TRUE(app->handleEscapeKey(53, 0)) << "Escape still cancels the dictation";
}

TEST_F(AppStateTest, SelectingAModelChecksItsFilesFirst) {
  bootstrapped();
  const SpeechModelDescriptor* model = nullptr;
  for (const auto& m : SpeechModelDescriptor::catalog())
    if (m.engineName == "Parakeet") model = &m;
  ASSERT_TRUE(model);
  rig.defaults.setValue(kSelectedSpeechModelKey, "before");
  QDir().mkpath(model->storageDirectory);
  for (const ModelArtifact& a : model->artifacts) {
    QFile f(model->storageDirectory + "/" + a.filename);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.resize(a.sizeBytes - 1);
  }
  const auto missing = settle(app->selectSpeechModel(*model));
  EXPECT_EQ(missing->errorText(), EngineError::modelMissing().description());
  EXPECT_EQ(rig.defaults.stringValue(kSelectedSpeechModelKey), "before");
  EXPECT_EQ(rig.engine.loads, 0);

  for (const ModelArtifact& a : model->artifacts) QFile(model->storageDirectory + "/" + a.filename).resize(a.sizeBytes);
  const auto selected = settle(app->selectSpeechModel(*model));
  EXPECT_FALSE(selected->error);
  EXPECT_EQ(rig.defaults.stringValue(kSelectedSpeechModelKey), model->id.rawValue);
  EXPECT_EQ(rig.engine.loads, 1);
  EXPECT_EQ(app->status(), AppStatus::ready());
  QDir(model->storageDirectory).removeRecursively();
}

// ---- File transcription ----

TEST_F(AppStateTest, VideoReachesTheEngineAsATemporaryM4aAndTheDefaultModeApplies) {
  bootstrapped();
  const QString video = freshDir("video") + "/clip.mp4";
  makeVideo(video, 1.0, true);
  rig.dictionary.setEntries({{QUuid::createUuid(), "hello", "Howdy"}});
  Mode shout = Mode::makeDefault();
  shout.transformation = Transformation::custom("Shout");
  rig.modes.setModes({shout});
  app->setStatus(AppStatus::error("earlier"));

  const auto out = settle(app->transcribeFile(video));
  ASSERT_FALSE(out->error) << out->errorText().toStdString();
  ASSERT_EQ(rig.engine.files.size(), 1);
  const QString temporary = rig.engine.files[0];
  EXPECT_TRUE(temporary.endsWith(".m4a"));
  EXPECT_NE(temporary, video);
  EXPECT_TRUE(rig.engine.fileExistedAtTranscription);
  EXPECT_FALSE(QFile::exists(temporary)) << "the temporary audio is removed";
  EXPECT_EQ(rig.engine.lastVocabulary, QStringList{"Howdy"});
  EXPECT_EQ(out->value, "HOWDY WORLD") << "dictionary rule, then the default mode's transformation";
  EXPECT_EQ(app->status(), AppStatus::ready());
  EXPECT_FALSE(app->lastTranscription()) << "a file's text never becomes the last dictation";
  EXPECT_TRUE(rig.clipboard.isEmpty());
}

TEST_F(AppStateTest, FileTranscriptionErrorsReturnToReady) {
  bootstrapped();
  const QString audio = freshDir("audio") + "/speech.wav";
  QFile(audio).open(QIODevice::WriteOnly);
  struct Row {
    const char* name;
    std::function<void()> arrange;
    QString path;
  };
  const std::vector<Row> rows = {
      {"engine", [&] { rig.engine.transcribeError = EngineError::runFailed("Whisper", 2); }, audio},
      {"load", [&] { rig.engine.loadError = EngineError::initFailed("Whisper"); }, audio},
      {"extraction", [] {}, freshDir("novideo") + "/broken.mp4"},
  };
  for (const Row& row : rows) {
    rig.engine.transcribeError.reset();
    rig.engine.loadError.reset();
    row.arrange();
    if (QString(row.name) == "extraction") {
      QFile f(row.path);
      f.open(QIODevice::WriteOnly);
      f.write("not a movie");
    }
    const auto out = settle(app->transcribeFile(row.path));
    EXPECT_TRUE(out->error) << row.name;
    EXPECT_EQ(app->status(), AppStatus::ready()) << row.name;
  }
  const QDir temp(QDir::tempPath());
  EXPECT_TRUE(temp.entryList({"*.m4a"}, QDir::Files).isEmpty()) << "no temporary audio is left";
}

}  // namespace
