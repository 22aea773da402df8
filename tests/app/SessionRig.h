#pragma once
// A dictation session on fake edges: a recorder that writes real (empty) WAV
// files, an engine host driven by the fake clock, the real deliverer with its
// clipboard, paste and stores replaced by plain records.
#include "app/DictationSession.h"
#include "audio/AudioRecorder.h"
#include "delivery/TranscriptDeliverer.h"
#include "runtime/DiagLog.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "speech/EngineError.h"
#include "support/FakeClock.h"
#include "support/TestEnv.h"
#include "text/DictionaryStore.h"
#include "text/ModeStore.h"
#include "text/TranscriptProcessor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <ostream>

#include <deque>
#include <memory>

// Readable strings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace murel::test {

class FakeRecorder final : public AudioRecording {
 public:
  explicit FakeRecorder(QString folder) : folder_(std::move(folder)) {}
  QCoro::Task<QString> startRecording(quint32 deviceID) override {
    lastDevice = deviceID;
    if (startDelay.count() > 0) {
      // The input opening on a slow server.
      auto opening = startClock->sleep(startDelay);
      co_await std::move(opening);
    }
    if (failWith) throw *failWith;
    const QString path = QStringLiteral("%1/recording_%2.wav").arg(folder_).arg(++count);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("RIFF");
    recording_ = true;
    files.append(path);
    co_return path;
  }
  QCoro::Task<void> stopRecording() override {
    ++stops;
    co_return;
  }
  float currentLevel() const override { return 0.5f; }
  bool isRecording() const override { return recording_; }
  void setIsRecording(bool recording) override { recording_ = recording; }
  void setOnDeviceLost(std::function<void()> handler) override { onDeviceLost = std::move(handler); }

  std::optional<RecorderError> failWith;
  Clock* startClock = nullptr;
  Clock::Duration startDelay{0};
  std::function<void()> onDeviceLost;
  QStringList files;
  int count = 0;
  int stops = 0;
  quint32 lastDevice = 99;

 private:
  QString folder_;
  bool recording_ = false;
};

// Transcribes after `transcribeDelay` on the fake clock; loads fail with `loadError`.
class FakeEngineHost final : public SpeechEngineHosting {
 public:
  explicit FakeEngineHost(Clock& clock) : clock_(clock) {}
  QCoro::Task<void> ensureLoaded() override {
    ++loads;
    if (loadDelay.count() > 0) {
      auto loading = clock_.sleep(loadDelay);
      co_await std::move(loading);
    }
    if (loadError) throw *loadError;
    loaded = true;
    co_return;
  }
  QCoro::Task<QString> transcribe(QString audioFile, QStringList vocabulary, CancellationToken token) override {
    files.append(audioFile);
    lastVocabulary = vocabulary;
    fileExistedAtTranscription = QFile::exists(audioFile);
    if (transcribeDelay.count() > 0) {
      const bool slept = co_await clock_.sleep(transcribeDelay, token);
      if (!slept) throw OperationCancelled();
    }
    if (transcribeError) throw *transcribeError;
    co_return transcript;
  }
  void prewarmTextEnhancer() override { ++enhancerPrewarms; }
  QCoro::Task<QString> enhance(QString text, QString instructions, CancellationToken) override {
    enhanceCalls.append({text, instructions});
    co_return enhanceReply ? *enhanceReply : text;
  }
  bool isEngineLoaded() const override { return loaded; }
  void scheduleIdleUnloads() override { ++idleUnloadSchedules; }

  QString transcript = QStringLiteral("hello world");
  std::optional<EngineError> loadError;
  std::optional<EngineError> transcribeError;
  Clock::Duration transcribeDelay{0};
  Clock::Duration loadDelay{0};
  std::optional<QString> enhanceReply;
  QList<std::pair<QString, QString>> enhanceCalls;
  QStringList files;
  QStringList lastVocabulary;
  bool fileExistedAtTranscription = false;
  bool loaded = false;
  int loads = 0;
  int enhancerPrewarms = 0;
  int idleUnloadSchedules = 0;

 private:
  Clock& clock_;
};

struct FakeMedia final : MediaPlaybackControlling {
  void beginPauseForRecording() override { calls.append(QStringLiteral("pause")); }
  void resumeAfterRecording() override { calls.append(QStringLiteral("resume")); }
  QStringList calls;
};

struct FakeHud final : HudDisplaying {
  void show(HudPresentation&, ReadLevel level) override {
    ++shows;
    visible = true;
    lastLevel = level;
  }
  void hide() override { visible = false; }
  int shows = 0;
  bool visible = false;
  ReadLevel lastLevel;
};

struct SessionRig {
  QString dir;
  UserDefaults defaults{dir + QStringLiteral("/defaults.json")};
  ModeStore modes{defaults};
  DictionaryStore dictionary{defaults};
  FakeClock clock;
  DiagLog diag{dir};
  FakeRecorder recorder{dir};
  FakeEngineHost engine{clock};
  FakeMedia media;
  // The session's media control: `media` unless the test brings its own.
  MediaPlaybackControlling& mediaControl;
  FakeHud hud;

  QString clipboard;
  QStringList history;
  bool pastePosted = true;
  bool trusted = true;
  int pastes = 0;
  TranscriptDeliverer deliverer{
      TranscriptProcessor([](QString text, QString) -> QCoro::Task<QString> { co_return text; },
                          [this] { return dictionary.entries(); }),
      TranscriptDeliverer::Functions{
          {},
          [this](const QString& text) { history.append(text); },
          {},
          {},
          [this](const QString& text) { clipboard = text; },
          {},
          [this]() -> QCoro::Task<bool> { return paste(this); },
          [this] { return trusted; },
          {},
      },
      clock, diag};

  int mic = 3;
  quint32 device = 7;
  int hotkeyResets = 0;
  QStringList cues;
  bool voiceEditEnabled = true;
  bool languageModelInstalled = true;
  std::function<bool()> languageModelCheck;  // replaces the flag when set
  std::optional<QString> selection;
  DictationSessionPreferences prefs{true, false, true, true, false};
  QStringList events;
  std::vector<DictationSessionEvent> rawEvents;

  DictationSession session{DictationSession::Services{
      recorder,
      modes,
      dictionary,
      engine,
      deliverer,
      mediaControl,
      hud,
      clock,
      diag,
      [this] { return mic; },
      [this](RecordingCue cue) {
        cues.append(cue == RecordingCue::Started ? QStringLiteral("start") : QStringLiteral("stop"));
      },
      [this] { return device; },
      [this] { ++hotkeyResets; },
      [this] { return trusted; },
      [this] { return voiceEditEnabled; },
      [this] { return languageModelCheck ? languageModelCheck() : languageModelInstalled; },
      [this](CancellationToken) -> QCoro::Task<std::optional<QString>> { return readSelection(this); },
  }};

  // `folder` holds the defaults, the recordings and the log; a fresh one when empty.
  explicit SessionRig(MediaPlaybackControlling* control = nullptr, const QString& folder = {})
      : dir(folder.isEmpty() ? freshDir(QStringLiteral("session")) : folder), mediaControl(control ? *control : media) {
    static const bool translated = installTranslations(*QCoreApplication::instance());
    (void)translated;
    session.preferences = [this] { return prefs; };
    session.onEvent = [this](const DictationSessionEvent& event) {
      rawEvents.push_back(event);
      if (event.kind == DictationSessionEvent::Kind::transcription) {
        events.append(QStringLiteral("text:") + event.text);
        return;
      }
      QString label = event.status.label().toLower();
      if (event.status.is(AppStatus::Kind::error)) label += QStringLiteral(":") + event.status.message();
      events.append(label);
    };
    deliverer.onPasteUnavailable = [this] { session.handlePasteUnavailable(); };
    recorder.setOnDeviceLost([this] { session.handleRecordingDeviceLost(); });
  }

  static QCoro::Task<bool> paste(SessionRig* rig) {
    ++rig->pastes;
    co_return rig->pastePosted;
  }
  static QCoro::Task<std::optional<QString>> readSelection(SessionRig* rig) { co_return rig->selection; }

  // Runs the event loop and the fake clock until the session is idle again.
  bool finish() {
    return waitUntil([this] {
      clock.advance(std::chrono::milliseconds(100));
      return session.phase() == DictationSession::Phase::idle;
    });
  }
  // Lets the deliverer's paste and restore delays pass.
  void settle() { clock.advance(std::chrono::seconds(1)); }
  bool anyRecordingLeft() const {
    for (const QString& f : recorder.files)
      if (QFile::exists(f)) return true;
    return false;
  }
};

}  // namespace murel::test
