// The trial-dictation step end to end on the rig: the application's own
// composition root on the real desktop (the X11 key tap catching the hotkey
// typed with xdotool, the recorder on a PulseAudio pipe source fed espeak-ng
// speech, the tiny generated Whisper model behind the real engine host, the
// real deliverer), the onboarding window on the trial step, and a focused
// paste target that must receive nothing while the step is shown.
#include "app/AppState.h"
#include "audio/AudioDeviceManager.h"
#include "design/EditorialComponents.h"
#include "design/OnboardingButtonStyle.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "onboarding/OnboardingContainerView.h"
#include "onboarding/TestSetupView.h"
#include "root/Composition.h"
#include "runtime/DiagLog.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "speech/SpeechSegmenter.h"
#include "speech/WhisperEngine.h"
#include "speech/WhisperModel.h"
#include "support/AwaitTask.h"
#include "support/FakeClock.h"
#include "support/OnboardingRig.h"
#include "support/PasteTarget.h"
#include "support/PulseRig.h"
#include "support/SpeechAudio.h"
#include "support/TestEnv.h"
#include "support/Xclip.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;
using namespace std::chrono_literals;

namespace {

QByteArray pcmOf(const AudioSamples& samples) {
  QByteArray pcm(qsizetype(samples.size() * 2), '\0');
  auto* out = reinterpret_cast<qint16*>(pcm.data());
  for (size_t i = 0; i < samples.size(); ++i) out[i] = qint16(std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f);
  return pcm;
}

// Top-level windows of this process on screen other than the onboarding window.
QStringList otherWindowsShown(const QWidget& onboarding) {
  QStringList shown;
  for (const QWidget* window : QApplication::topLevelWidgets())
    if (window != &onboarding && window->isVisible()) shown << QString::fromLatin1(window->metaObject()->className());
  return shown;
}

class TrialDictation : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !pulseAvailable()) GTEST_SKIP() << "needs the rig";
    installTranslations(*QCoreApplication::instance());
    Fonts::registerBundled();
  }
};

TEST_F(TrialDictation, HotkeySpeechAndTheTranscriptInTheStepPastedNowhere) {
  const QString dir = freshDir(QStringLiteral("trial"));
  UserDefaults defaults(dir + QStringLiteral("/defaults.json"));
  // The hotkey the hotkey step stored; the heads-up display stays on, the step hides it.
  defaults.setValue(QStringLiteral("hotKeyCombo"), KeyCombo(Key::f6, 0).rawValue());
  defaults.setValue(QStringLiteral("activationMode"), QStringLiteral("toggle"));
  defaults.setValue(QStringLiteral("soundCuesEnabled"), false);

  SpeechModelDescriptor row = WhisperModel::descriptor(WhisperModel::smallEnglishQ8);
  row.storageDirectory = QFileInfo(testModelPath(QStringLiteral("tiny-whisper-51864.bin"))).path();
  row.artifacts[0].filename = QStringLiteral("tiny-whisper-51864.bin");
  row.artifacts[0].sizeBytes = QFileInfo(testModelPath(row.artifacts[0].filename)).size();
  defaults.setValue(QString::fromLatin1(kSelectedSpeechModelKey), row.id.rawValue);

  PipeSource mic(QStringLiteral("murel_trial_mic"), 16000, 1);
  ASSERT_TRUE(mic.loaded());
  defaults.setValue(QString::fromLatin1(AudioDeviceManager::kSelectedUIDKey), mic.name());

  DiagLog diag(dir);
  Composition::Options options;
  options.makeEngine = [row](const SpeechModelDescriptor&) {
    return std::make_shared<WhisperEngine>(WhisperModel::smallEnglishQ8, row, vadModelResourcePath);
  };
  SystemPlatform platform;
  Composition composition(defaults, diag, platform.parts(), std::move(options));
  AppState& app = composition.appState();
  HotKeyService& hotKeys = composition.hotKeys();
  // What the earlier steps did in a first run: the hotkey registered, the model loaded.
  hotKeys.reloadRegistrations();
  ASSERT_TRUE(hotKeys.isRegistered());
  auto load = follow(app.loadSpeechModel(true, true));
  ASSERT_TRUE(waitUntil([&] { return load->done; }, 120s));
  ASSERT_EQ(app.status(), AppStatus::ready());

  FakeClock clock;
  OnboardingRig rig(clock, OnboardingRig::Options{&app, {}, {}});
  ASSERT_TRUE(rig.open(5));
  EXPECT_FALSE(app.autoPaste());
  EXPECT_TRUE(app.suppressHud());
  const auto step = [&] { return qobject_cast<TestSetupView*>(rig.container().currentStepView()); };
  ASSERT_NE(step(), nullptr);
  EXPECT_EQ(step()->keycaps()->labels(), (QStringList{QStringLiteral("F6")}));
  EXPECT_EQ(step()->modePill()->text(), QStringLiteral("TOGGLE"));

  const AudioSamples speech = concat(
      {silenceSamples(0.3), spokenSamples(QStringLiteral("Please send the report to Anna.")), silenceSamples(0.5)});
  const QByteArray pcm = pcmOf(speech);
  AudioRecorder& recorder = composition.recorder();
  QStringList statusLines;
  const auto watchLines = [&](TestSetupView* view) {
    QObject::connect(&app, &AppState::statusChanged, view,
                     [&statusLines, view] { statusLines << view->statusLine()->text(); });
  };

  // One dictation with the hotkey tapped or held; the paste target has the focus throughout.
  PasteTarget target;
  ASSERT_TRUE(target.isReady());
  const auto dictate = [&](bool hold) {
    statusLines.clear();
    watchLines(step());
    const QString key = QStringLiteral("F6");
    ASSERT_TRUE(xdotool({hold ? QStringLiteral("keydown") : QStringLiteral("key"), key}));
    ASSERT_TRUE(waitUntil([&] { return app.status() == AppStatus::recording(); }));
    EXPECT_EQ(step()->statusLine()->style().color, DSColor::accent);
    EXPECT_FALSE(step()->backButton()->isEnabled());
    EXPECT_FALSE(step()->continueButton()->isEnabled());
    const uint64_t before = recorder.capturedFrames();
    ASSERT_TRUE(mic.write(pcm));
    ASSERT_TRUE(waitUntil([&] { return recorder.capturedFrames() >= before + speech.size(); }, 20s));
    ASSERT_TRUE(xdotool({hold ? QStringLiteral("keyup") : QStringLiteral("key"), key}));
    ASSERT_TRUE(waitUntil([&] { return step()->hasSucceeded(); }, 180s)) << app.status().message().toStdString();
    ASSERT_TRUE(waitUntil([&] { return app.status() == AppStatus::ready(); }, 30s));
  };

  dictate(false);
  TestSetupView* view = step();
  ASSERT_GE(statusLines.size(), 3) << statusLines.join(QStringLiteral(" | ")).toStdString();
  EXPECT_EQ(statusLines[0], QStringLiteral("Recording… press your hotkey again to stop."));
  EXPECT_EQ(statusLines[1], QStringLiteral("Transcribing…"));
  EXPECT_EQ(statusLines.last(), QStringLiteral("Your setup is working."));
  ASSERT_TRUE(app.lastTranscription().has_value());
  const QString transcript = *app.lastTranscription();
  EXPECT_FALSE(transcript.trimmed().isEmpty());
  EXPECT_EQ(view->testResult(), transcript);
  EXPECT_EQ(view->output()->text(), QStringLiteral("“") + transcript + QStringLiteral("”"));
  EXPECT_EQ(view->continueButton()->text(), QStringLiteral("NEXT →"));
  EXPECT_TRUE(view->continueButton()->isEnabled());
  // On the clipboard, pasted nowhere, and no heads-up display.
  EXPECT_EQ(xclipRead().value_or(QByteArray()), transcript.toUtf8());
  EXPECT_TRUE(otherWindowsShown(rig.window()).isEmpty()) << otherWindowsShown(rig.window()).join(',').toStdString();

  // ← BACK gives the flags back; on again, the same line succeeds again.
  ASSERT_TRUE(OnboardingRig::click(view->backButton()));
  ASSERT_TRUE(waitUntil([&] { return rig.container().currentStep() == 4; }));
  rig.container().finishTransition();
  EXPECT_TRUE(app.autoPaste());
  EXPECT_FALSE(app.suppressHud());
  rig.container().goToNextStep();
  rig.container().finishTransition();
  EXPECT_FALSE(app.autoPaste());
  EXPECT_TRUE(app.suppressHud());
  ASSERT_NE(step(), nullptr);
  EXPECT_FALSE(step()->hasSucceeded());
  // The window took the focus back: hand it to the paste target again.
  ASSERT_TRUE(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(target.windowId())}));

  // Held in hold mode: listening until release; the same words, so the same
  // transcript, which leaves lastTranscription unchanged.
  hotKeys.setActivationMode(ActivationMode::holdToActivate);
  dictate(true);
  ASSERT_FALSE(statusLines.isEmpty());
  EXPECT_EQ(statusLines[0], QStringLiteral("Listening… release to transcribe."));
  EXPECT_EQ(step()->testResult(), app.lastTranscription());
  EXPECT_EQ(step()->statusLine()->text(), QStringLiteral("Your setup is working."));
  EXPECT_TRUE(otherWindowsShown(rig.window()).isEmpty());

  // Nothing reached the paste target.
  QTest::qWait(300);
  EXPECT_TRUE(target.text().isEmpty()) << target.text().toStdString();
  EXPECT_TRUE(target.keys().isEmpty()) << target.keys().join(',').toStdString();

  // Closing the window on the step gives both flags back.
  rig.window().close();
  QCoreApplication::processEvents();
  EXPECT_TRUE(app.autoPaste());
  EXPECT_FALSE(app.suppressHud());
}

}  // namespace
