// The dictation session's road on fake edges and the fake clock: every
// lifecycle row with its status events, hotkey resets and WAV deletion, the
// watchdog, recovery, and the voice-edit variant.
#include "SessionRig.h"

#include "support/LogCapture.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;

namespace {

const QString kMicDenied = QStringLiteral(
    "error:Murel can't reach the sound server, so it can't record. Check that PulseAudio or PipeWire "
    "is running, then try again.");
const QString kDeviceLost = QStringLiteral("error:The microphone was disconnected, so recording stopped.");
const QString kPasteFailed =
    QStringLiteral("error:Couldn't paste automatically. Your text is on the clipboard, ready to paste.");
const QString kNoAccessibility = QStringLiteral(
    "error:Murel can't type into other windows here (it needs an X11 session with XTEST), so it can't "
    "paste. Text is on the clipboard.");

void pump() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

struct LifecycleRow {
  const char* name;
  std::function<void(SessionRig&)> drive;
  QStringList events;  // after everything has settled, recovery included
  int hotkeyResets;
  int transcriptions;  // files the engine was asked for
};

class SessionLifecycle : public ::testing::TestWithParam<LifecycleRow> {};

TEST_P(SessionLifecycle, EventsResetsAndCleanup) {
  const LifecycleRow& row = GetParam();
  SessionRig rig;
  row.drive(rig);
  pump();
  rig.clock.advance(10s);
  pump();
  EXPECT_EQ(rig.events, row.events);
  EXPECT_EQ(rig.hotkeyResets, row.hotkeyResets);
  EXPECT_EQ(rig.engine.files.size(), row.transcriptions);
  EXPECT_EQ(rig.session.phase(), DictationSession::Phase::idle);
  EXPECT_FALSE(rig.anyRecordingLeft()) << "the WAV file must be deleted in every outcome";
  EXPECT_FALSE(rig.session.recordingFile().has_value());
  EXPECT_FALSE(rig.session.isWatchdogRunning());
  EXPECT_FALSE(rig.session.isTranscribing());
  EXPECT_FALSE(rig.hud.visible);
}

const QString kRunFailed = EngineError::runFailed(QStringLiteral("Whisper"), -3).description();
const QString kInitFailed = EngineError::initFailed(QStringLiteral("Whisper")).description();

INSTANTIATE_TEST_SUITE_P(
    Rows, SessionLifecycle,
    ::testing::Values(LifecycleRow{"delivered",
                                   [](SessionRig& r) {
                                     r.session.start();
                                     r.session.stop();
                                     r.settle();
                                   },
                                   {"recording", "transcribing", "text:hello world", "ready"},
                                   0,
                                   1},
                      LifecycleRow{"microphoneDenied",
                                   [](SessionRig& r) {
                                     r.mic = 2;
                                     r.session.start();
                                   },
                                   {kMicDenied},
                                   1,
                                   0},
                      LifecycleRow{
                          "recorderStartFailed",
                          [](SessionRig& r) {
                            r.recorder.failWith = RecorderError::fileCreationFailed();
                            r.session.start();
                          },
                          {"error:Recording failed: " + RecorderError::fileCreationFailed().description(), "ready"},
                          1,
                          0},
                      LifecycleRow{"cancelWhileRecording",
                                   [](SessionRig& r) {
                                     r.session.start();
                                     r.session.cancel();
                                   },
                                   {"recording", "ready"},
                                   1,
                                   0},
                      LifecycleRow{"cancelWhileTranscribing",
                                   [](SessionRig& r) {
                                     r.engine.transcribeDelay = 2s;
                                     r.session.start();
                                     r.session.stop();
                                     r.clock.advance(1s);
                                     r.session.cancel();
                                     EXPECT_EQ(r.session.phase(), DictationSession::Phase::idle);
                                   },
                                   {"recording", "transcribing", "ready"},
                                   1,
                                   1},
                      LifecycleRow{"transcriptionError",
                                   [](SessionRig& r) {
                                     r.engine.transcribeError = EngineError::runFailed(QStringLiteral("Whisper"), -3);
                                     r.session.start();
                                     r.session.stop();
                                   },
                                   {"recording", "transcribing", "error:Transcription failed: " + kRunFailed, "ready"},
                                   0,
                                   1},
                      LifecycleRow{"loadErrorSurfacesAtTranscription",
                                   [](SessionRig& r) {
                                     r.engine.loadError = EngineError::initFailed(QStringLiteral("Whisper"));
                                     r.session.start();
                                     r.session.stop();
                                   },
                                   {"recording", "transcribing", "error:Transcription failed: " + kInitFailed, "ready"},
                                   0,
                                   0},
                      LifecycleRow{"deviceLost",
                                   [](SessionRig& r) {
                                     r.session.start();
                                     r.recorder.onDeviceLost();
                                   },
                                   {"recording", kDeviceLost, "ready"},
                                   1,
                                   0},
                      LifecycleRow{"deviceLostWhileTranscribingIsIgnored",
                                   [](SessionRig& r) {
                                     r.engine.transcribeDelay = 1s;
                                     r.session.start();
                                     r.session.stop();
                                     r.recorder.onDeviceLost();
                                     r.settle();
                                     r.settle();
                                   },
                                   {"recording", "transcribing", "text:hello world", "ready"},
                                   0,
                                   1},
                      LifecycleRow{"pasteFailedStays",
                                   [](SessionRig& r) {
                                     r.pastePosted = false;
                                     r.session.start();
                                     r.session.stop();
                                     r.settle();
                                   },
                                   {"recording", "transcribing", kPasteFailed, "text:hello world"},
                                   0,
                                   1},
                      LifecycleRow{"pasteNotTrustedOffersSettings",
                                   [](SessionRig& r) {
                                     r.trusted = false;
                                     r.pastePosted = false;
                                     r.session.start();
                                     r.session.stop();
                                     r.settle();
                                   },
                                   {"recording", "transcribing", kNoAccessibility, "text:hello world"},
                                   0,
                                   1},
                      LifecycleRow{"emptyTranscriptIsNoError",
                                   [](SessionRig& r) {
                                     r.engine.transcript = QStringLiteral("   ");
                                     r.session.start();
                                     r.session.stop();
                                     r.settle();
                                   },
                                   {"recording", "transcribing", "ready"},
                                   0,
                                   1}),
    [](const ::testing::TestParamInfo<LifecycleRow>& info) { return std::string(info.param.name); });

TEST(DictationSession, RecordingStartWiresCuesMediaHudAndEngine) {
  SessionRig rig;
  rig.prefs.pauseMediaWhileRecording = true;
  Mode mode = Mode::makeDefault();
  mode.transformation = Transformation::custom(QStringLiteral("Make it formal"));
  rig.dictionary.setEntries({{QUuid::createUuid(), QStringLiteral("kube"), QStringLiteral("Kubernetes")},
                             {QUuid::createUuid(), QStringLiteral("murel"), QStringLiteral("Murel")}});
  rig.session.start(mode);
  EXPECT_EQ(rig.recorder.lastDevice, 7u);
  EXPECT_EQ(rig.cues, QStringList{"start"});
  EXPECT_EQ(rig.media.calls, QStringList{"pause"});
  EXPECT_EQ(rig.hud.shows, 1);
  EXPECT_FLOAT_EQ(rig.hud.lastLevel(), 0.5f);
  EXPECT_EQ(rig.engine.loads, 1) << "the model loads while the user speaks";
  EXPECT_EQ(rig.engine.enhancerPrewarms, 1) << "a transforming mode warms the language model too";
  EXPECT_EQ(rig.session.hudPresentation().phase(), HudPhase::recording);

  rig.session.stop();
  EXPECT_EQ(rig.session.hudPresentation().phase(), HudPhase::transcribing);
  EXPECT_EQ(rig.cues, (QStringList{"start", "stop"}));
  EXPECT_EQ(rig.media.calls, (QStringList{"pause", "resume"}));
  EXPECT_EQ(rig.engine.lastVocabulary, (QStringList{"Kubernetes", "Murel"}));
  EXPECT_TRUE(rig.engine.fileExistedAtTranscription);
  rig.settle();
  EXPECT_EQ(rig.history, QStringList{"hello world"});
}

// A system journal keeps its lines for months: what was dictated is not
// among them, only its length (the diagnostics log, the user's own, has the same).
TEST(DictationSession, TheSystemLogHasTheTranscriptsLengthNotItsText) {
  ASSERT_FALSE(DictationSession::systemLogShowsDictatedText())
      << "run without MUREL_LOG_DICTATED_TEXT, in a release build";
  SessionRig rig;
  rig.engine.transcript = QStringLiteral("my PIN is 4711");
  LogCapture log;
  rig.session.start();
  rig.session.stop();
  ASSERT_TRUE(rig.finish());
  rig.settle();
  EXPECT_EQ(rig.history, QStringList{"my PIN is 4711"});
  bool sawLength = false;
  for (const LogCapture::Line& line : log.lines()) {
    EXPECT_FALSE(line.message.contains(QStringLiteral("4711"))) << line.message.toStdString();
    sawLength = sawLength || line.message == QStringLiteral("Raw transcription: 14 characters");
  }
  EXPECT_TRUE(sawLength);
}

TEST(DictationSession, CuesAndDisplayOffShowNothing) {
  SessionRig rig;
  rig.prefs.soundCuesEnabled = false;
  rig.prefs.showHud = false;
  rig.session.start();
  rig.session.stop();
  rig.settle();
  EXPECT_TRUE(rig.cues.isEmpty());
  EXPECT_EQ(rig.hud.shows, 0);
  EXPECT_EQ(rig.engine.enhancerPrewarms, 0) << "the default mode is raw";
  EXPECT_TRUE(rig.media.calls.contains("resume"));
  EXPECT_FALSE(rig.media.calls.contains("pause"));
}

TEST(DictationSession, WatchdogStopsOnceAtTheLimitAndResetsTheHotkey) {
  SessionRig rig;
  rig.engine.transcribeDelay = 1h;  // stays transcribing
  rig.session.start();
  rig.clock.advance(299s);
  EXPECT_EQ(rig.session.phase(), DictationSession::Phase::recording);
  rig.clock.advance(1s);
  EXPECT_EQ(rig.session.phase(), DictationSession::Phase::transcribing);
  EXPECT_EQ(rig.recorder.stops, 1);
  EXPECT_EQ(rig.hotkeyResets, 1) << "the key session must end with the recording";
  rig.clock.advance(600s);
  EXPECT_EQ(rig.recorder.stops, 1);
  EXPECT_EQ(rig.events, (QStringList{"recording", "transcribing"}));
  rig.session.cancel();
}

TEST(DictationSession, StopBeforeTheLimitCancelsTheWatchdog) {
  SessionRig rig;
  rig.session.start();
  rig.clock.advance(299s);
  rig.session.stop();
  EXPECT_FALSE(rig.session.isWatchdogRunning());
  rig.settle();
  rig.session.start();  // a new recording: an old watchdog must not stop it at 300 s
  rig.clock.advance(2s);
  EXPECT_EQ(rig.session.phase(), DictationSession::Phase::recording);
  EXPECT_EQ(rig.recorder.stops, 1);
  EXPECT_EQ(rig.hotkeyResets, 0);
  rig.session.cancel();
}

TEST(DictationSession, ErrorRecoveryDoesNotOverrideANewRecording) {
  SessionRig rig;
  rig.engine.transcribeError = EngineError::runFailed(QStringLiteral("Whisper"), 1);
  rig.session.start();
  rig.session.stop();
  rig.engine.transcribeError.reset();
  rig.clock.advance(2s);
  rig.session.start();
  rig.clock.advance(2s);
  EXPECT_EQ(rig.events.last(), "recording") << "no ready while the new recording runs";
  EXPECT_EQ(rig.session.phase(), DictationSession::Phase::recording);
  rig.session.cancel();
}

TEST(DictationSession, RefusalsOnlyLog) {
  SessionRig rig;
  QStringList lines;
  SystemLog::setSink([&](SystemLog::Level level, const QString& category, const QString& message) {
    if (level == SystemLog::Level::Error && category == "dictationSession") lines.append(message);
  });
  rig.session.stop();
  rig.engine.transcribeDelay = 5s;
  rig.session.start();
  rig.session.start();
  rig.session.stop();
  rig.session.stop();
  rig.session.start();
  SystemLog::setSink({});
  EXPECT_EQ(lines, (QStringList{"stop skipped — session is not recording", "start skipped — session is active",
                                "stop skipped — session is not recording", "start skipped — session is active"}));
  EXPECT_EQ(rig.recorder.count, 1);
  EXPECT_EQ(rig.hotkeyResets, 0);
  EXPECT_EQ(rig.events, (QStringList{"recording", "transcribing"}));
  rig.clock.advance(10s);
  EXPECT_EQ(rig.events.last(), "ready");
}

TEST(DictationSession, StopCancelOrStartWhileTheInputOpens) {
  // The recorder takes a while to start: what the user does meanwhile waits
  // for the recording to begin, then applies.
  struct Row {
    const char* name;
    std::function<void(DictationSession&)> during;
    QStringList events;  // once started, before any transcription ends
    DictationSession::Phase phase;
    int stops;
    bool fileKept;
  };
  const Row rows[] = {
      {"stop",
       [](DictationSession& s) { s.stop(); },
       {"recording", "transcribing"},
       DictationSession::Phase::transcribing,
       1,
       true},
      {"cancel",
       [](DictationSession& s) { s.cancel(); },
       {"recording", "ready"},
       DictationSession::Phase::idle,
       1,
       false},
      {"second start",
       [](DictationSession& s) { s.start(); },
       {"recording"},
       DictationSession::Phase::recording,
       0,
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SessionRig rig;
    rig.engine.transcribeDelay = 1h;
    rig.recorder.startClock = &rig.clock;
    rig.recorder.startDelay = 50ms;
    rig.session.start();
    EXPECT_EQ(rig.session.phase(), DictationSession::Phase::starting);
    EXPECT_TRUE(rig.events.isEmpty());
    row.during(rig.session);
    EXPECT_EQ(rig.recorder.stops, 0) << "nothing to stop before the recording runs";
    rig.clock.advance(50ms);
    EXPECT_EQ(rig.events, row.events);
    EXPECT_EQ(rig.session.phase(), row.phase);
    EXPECT_EQ(rig.recorder.stops, row.stops);
    EXPECT_EQ(rig.recorder.count, 1);
    ASSERT_EQ(rig.recorder.files.size(), 1);
    EXPECT_EQ(QFile::exists(rig.recorder.files.first()), row.fileKept);
    rig.session.cancel();
  }
}

TEST(DictationSession, CancelWhileTranscribingDiscardsTheLateTranscript) {
  SessionRig rig;
  rig.engine.transcribeDelay = 3s;
  rig.session.start();
  rig.session.stop();
  rig.session.cancel();
  EXPECT_EQ(rig.session.phase(), DictationSession::Phase::idle);
  rig.clock.advance(10s);
  EXPECT_TRUE(rig.clipboard.isEmpty());
  EXPECT_EQ(rig.pastes, 0);
}

TEST(DictationSession, WordCount) {
  EXPECT_EQ(DictationSession::wordCount(QString()), 0);
  EXPECT_EQ(DictationSession::wordCount(QStringLiteral(" \n\t\u2003 ")), 0);
  EXPECT_EQ(DictationSession::wordCount(QStringLiteral("one  two\n\nthree\u00A0four")), 4);
}

// ---- Voice edit ----

QString words(int n) {
  QStringList list;
  for (int i = 0; i < n; ++i) list.append(QStringLiteral("w%1").arg(i));
  return list.join(QLatin1Char(' '));
}

struct VoiceEditRow {
  const char* name;
  std::function<void(SessionRig&)> arrange;
  QStringList events;
  int enhanceCalls;
  QString pasted;  // clipboard afterwards
  int hotkeyResets;
};

class VoiceEdit : public ::testing::TestWithParam<VoiceEditRow> {};

TEST_P(VoiceEdit, Outcome) {
  const VoiceEditRow& row = GetParam();
  SessionRig rig;
  rig.engine.transcript = QStringLiteral("make it shorter");
  rig.engine.enhanceReply = QStringLiteral("Short.");
  row.arrange(rig);
  rig.session.startCommandEdit();
  pump();
  if (rig.session.phase() == DictationSession::Phase::recording) {
    EXPECT_TRUE(rig.session.isCommandEdit());
    EXPECT_EQ(rig.session.hudPresentation().phase(), HudPhase::editing);
    EXPECT_EQ(rig.engine.enhancerPrewarms, 1);
    rig.session.stop();
  }
  ASSERT_TRUE(rig.finish());
  rig.settle();
  pump();
  rig.clock.advance(5s);
  EXPECT_EQ(rig.events, row.events);
  EXPECT_EQ(rig.engine.enhanceCalls.size(), row.enhanceCalls);
  EXPECT_EQ(rig.clipboard, row.pasted);
  EXPECT_EQ(rig.hotkeyResets, row.hotkeyResets);
  EXPECT_FALSE(rig.anyRecordingLeft());
  EXPECT_FALSE(rig.session.isCommandEdit());
}

const QString kTooLong = QStringLiteral("error:That selection is too long to edit — try under 1,000 words.");
const QString kFailed = QStringLiteral("error:Voice edit couldn't process that. Your text wasn't changed.");
const QString kModelMissing = QStringLiteral("error:Voice edit needs the AI model. Download it in Settings first.");

INSTANTIATE_TEST_SUITE_P(
    Rows, VoiceEdit,
    ::testing::Values(
        VoiceEditRow{"selectionOf1000WordsIsEdited",
                     [](SessionRig& r) { r.selection = words(1000); },
                     {"recording", "transcribing", "text:Short.", "ready"},
                     1,
                     "Short.",
                     0},
        VoiceEditRow{"selectionOf1001WordsIsRefused",
                     [](SessionRig& r) { r.selection = words(1001); },
                     {"recording", "transcribing", kTooLong, "ready"},
                     0,
                     "",
                     0},
        VoiceEditRow{"noSelectionWrites",
                     [](SessionRig&) {},
                     {"recording", "transcribing", "text:Short.", "ready"},
                     1,
                     "Short.",
                     0},
        VoiceEditRow{"whitespaceInstructionIsSilent",
                     [](SessionRig& r) { r.engine.transcript = " \n "; },
                     {"recording", "transcribing", "ready"},
                     0,
                     "",
                     0},
        VoiceEditRow{"replyEqualToInstructionFails",
                     [](SessionRig& r) { r.engine.enhanceReply = QStringLiteral("make it shorter"); },
                     {"recording", "transcribing", kFailed, "ready"},
                     1,
                     "",
                     0},
        VoiceEditRow{"switchedOffOnlyResetsTheHotkey", [](SessionRig& r) { r.voiceEditEnabled = false; }, {}, 0, "", 1},
        VoiceEditRow{"modelMissing",
                     [](SessionRig& r) { r.languageModelInstalled = false; },
                     {kModelMissing, "ready"},
                     0,
                     "",
                     1}),
    [](const ::testing::TestParamInfo<VoiceEditRow>& info) { return std::string(info.param.name); });

TEST(VoiceEditFlow, PromptCarriesTheSelectionAndNoProcessingApplies) {
  SessionRig rig;
  rig.dictionary.setEntries({{QUuid::createUuid(), QStringLiteral("short"), QStringLiteral("SHORT")}});
  rig.selection = QStringLiteral("The quick brown fox.");
  rig.engine.transcript = QStringLiteral("  make it shorter \n");
  rig.engine.enhanceReply = QStringLiteral("Fox, short.");
  rig.session.startCommandEdit();
  rig.session.stop();
  ASSERT_TRUE(rig.finish());
  rig.settle();
  ASSERT_EQ(rig.engine.enhanceCalls.size(), 1);
  EXPECT_EQ(rig.engine.enhanceCalls[0].first, "make it shorter");
  EXPECT_TRUE(rig.engine.enhanceCalls[0].second.endsWith("Text:\nThe quick brown fox."));
  EXPECT_EQ(rig.clipboard, "Fox, short.") << "no dictionary rule applies to a voice edit";
  EXPECT_EQ(rig.history, QStringList{"Fox, short."});
  EXPECT_EQ(rig.pastes, 1);
}

TEST(VoiceEditFlow, RefusedWhileADictationRuns) {
  SessionRig rig;
  rig.session.start();
  rig.session.startCommandEdit();
  EXPECT_FALSE(rig.session.isCommandEdit());
  EXPECT_EQ(rig.recorder.count, 1);
  rig.session.cancel();
}

}  // namespace
