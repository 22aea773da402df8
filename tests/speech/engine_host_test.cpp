#include "runtime/Async.h"
#include "runtime/DiagLog.h"
#include "runtime/SystemLog.h"
#include "runtime/UserDefaults.h"
#include "speech/EngineError.h"
#include "speech/EngineHost.h"
#include "speech/SegmentingEngine.h"
#include "speech/UnavailableEngine.h"
#include "support/AwaitTask.h"
#include "support/FakeClock.h"
#include "support/LogCapture.h"
#include "support/MediaFiles.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QSemaphore>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

using namespace murel;
using namespace std::chrono_literals;
using test::FakeClock;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) {
  *os << "{" << l.join(QStringLiteral(" | ")).toStdString() << "}";
}
QT_END_NAMESPACE

namespace {

const QString kSmall = QStringLiteral("smallEnglishQ8");  // Whisper, English only
const QString kTurbo = QStringLiteral("largeV3TurboQ8");  // Whisper, the default
const QString kParakeet = QStringLiteral("parakeetTDT0_6BV3Q8");
const QString kQwen = QStringLiteral("qwen3ASR0_6BQ5");

// What a fake engine does: how long each step takes on the fake clock, and
// which steps fail.
struct EngineScript {
  Clock::Duration load{0};
  Clock::Duration unload{0};
  Clock::Duration transcribe{0};
  // The warm-up pass; none: the engine has nothing to warm.
  std::optional<Clock::Duration> warmUp;
  std::optional<EngineError> loadError;
  std::optional<EngineError> transcribeError;
};

// An engine driven by the test's clock. It writes every step to the journal.
class FakeEngine final : public TranscriptionEngine {
 public:
  FakeEngine(QString name, FakeClock& clock, EngineScript script, QStringList& journal)
      : script(std::move(script)), name_(std::move(name)), clock_(clock), journal_(journal) {}

  bool isLoaded() const override { return loaded_; }

  QCoro::Task<void> load() override {
    journal_ << name_ + QStringLiteral(" load");
    if (script.load > 0ns) co_await clock_.sleep(script.load);
    if (script.loadError) {
      journal_ << name_ + QStringLiteral(" load failed");
      throw *script.loadError;
    }
    loaded_ = true;
    journal_ << name_ + QStringLiteral(" loaded");
  }

  QCoro::Task<void> unload() override {
    journal_ << name_ + QStringLiteral(" unload");
    if (script.unload > 0ns) co_await clock_.sleep(script.unload);
    loaded_ = false;
    journal_ << name_ + QStringLiteral(" unloaded");
  }

  QCoro::Task<TranscriptionResult> transcribe(AudioSamples samples, std::optional<QString> language,
                                              QStringList vocabulary, CancellationToken cancel) override {
    if (!loaded_) throw EngineError::notLoaded();
    ++running;
    language_ = language;
    vocabulary_ = vocabulary;
    sampleCount = samples.size();
    journal_ << name_ + QStringLiteral(" transcribe");
    if (script.transcribe > 0ns) co_await clock_.sleep(script.transcribe, cancel);
    --running;
    journal_ << name_ + QStringLiteral(" transcribed");
    if (cancel.isCancelled()) throw OperationCancelled();
    if (script.transcribeError) throw *script.transcribeError;
    co_return TranscriptionResult{name_ + QStringLiteral(" text"), language};
  }

  QCoro::Task<bool> warmUp(std::optional<QString> language, CancellationToken cancel) override {
    if (!script.warmUp) co_return false;
    warmUpLanguage = language;
    journal_ << name_ + QStringLiteral(" warm up");
    co_await clock_.sleep(*script.warmUp, cancel);
    journal_ << name_ + (cancel.isCancelled() ? QStringLiteral(" warm-up cancelled") : QStringLiteral(" warmed up"));
    co_return !cancel.isCancelled();
  }

  // As if the engine had lost its model behind the host's back.
  void dropModel() { loaded_ = false; }
  const QString& name() const { return name_; }
  const std::optional<QString>& language() const { return language_; }
  const QStringList& vocabulary() const { return vocabulary_; }

  EngineScript script;  // may be changed while the engine lives
  int running = 0;
  std::optional<QString> warmUpLanguage;
  std::size_t sampleCount = 0;

 private:
  QString name_;
  FakeClock& clock_;
  QStringList& journal_;
  bool loaded_ = false;
  std::optional<QString> language_;
  QStringList vocabulary_;
};

QString shortName(const SpeechModelDescriptor& model) {
  if (model.id.rawValue == kSmall) return QStringLiteral("small");
  if (model.id.rawValue == kTurbo) return QStringLiteral("turbo");
  if (model.id.rawValue == kParakeet) return QStringLiteral("parakeet");
  if (model.id.rawValue == kQwen) return QStringLiteral("qwen");
  return model.id.rawValue;
}

class EngineHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    audioDir_ = new QString(test::freshDir(QStringLiteral("host-audio")));
    // Half a second of tone, 16-bit stereo at 44.1 kHz: the real loader turns it into 8,000 samples.
    test::runTool(QStringLiteral("sox"),
                  {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
                   QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), tone(), QStringLiteral("synth"),
                   QStringLiteral("0.5"), QStringLiteral("sine"), QStringLiteral("440")});
  }
  static void TearDownTestSuite() {
    delete audioDir_;
    audioDir_ = nullptr;
  }
  static QString tone() { return *audioDir_ + QStringLiteral("/tone.wav"); }

  void SetUp() override {
    const QString dir = test::freshDir(QStringLiteral("host"));
    defaults_ = std::make_unique<UserDefaults>(dir + QStringLiteral("/defaults.json"));
    diag_ = std::make_unique<DiagLog>(dir);
  }

  void TearDown() override {
    host_.reset();
    made_.clear();
  }

  EngineHost& makeHost(EngineHostOptions options = {}) {
    options.clock = &clock_;
    options.diagnostics = diag_.get();
    if (!options.makeEngine) {
      options.makeEngine = [this](const SpeechModelDescriptor& model) {
        auto engine =
            std::make_shared<FakeEngine>(shortName(model), clock_, scripts_.value(model.id.rawValue), journal_);
        made_.append(engine);
        return engine;
      };
    }
    host_ = std::make_unique<EngineHost>(*defaults_, TranscriptionPipeline::standard(), std::move(options));
    return *host_;
  }

  void select(const QString& id) { defaults_->setValue(QString::fromLatin1(kSelectedSpeechModelKey), id); }
  void setDelayMinutes(qint64 minutes) {
    defaults_->setValue(QStringLiteral("modelResidency.inactivityDelayMinutes"), minutes);
  }

  // The diagnostics lines of the "engine" category, without their time stamps.
  QStringList engineDiagnostics() {
    QStringList out;
    for (const QString& line : diag_->readAll().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
      const QString rest = line.mid(12);
      if (rest.startsWith(QLatin1String("  engine  "))) out << rest.mid(10);
    }
    return out;
  }

  std::shared_ptr<TranscriptionEngine> load() { return test::awaitTask(host_->ensureLoaded()); }
  // The host's waiters wake from the event loop: a check that something has
  // not happened yet first lets them run, so that it is not true merely because
  // they have not.
  static void turnEventLoop() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }
  FakeEngine& fake(int index) { return *made_.at(index); }

  FakeClock clock_;
  QStringList journal_;
  QHash<QString, EngineScript> scripts_;
  QList<std::shared_ptr<FakeEngine>> made_;
  std::unique_ptr<UserDefaults> defaults_;
  std::unique_ptr<DiagLog> diag_;
  std::unique_ptr<EngineHost> host_;

 private:
  static QString* audioDir_;
};

QString* EngineHostTest::audioDir_ = nullptr;

TEST_F(EngineHostTest, ConcurrentCallersShareOneLoadAndALoadedModelIsReused) {
  scripts_[kTurbo].load = 2350ms;
  EngineHost& host = makeHost();
  QStringList seenModels;
  int engineSignals = 0;
  QObject::connect(&host, &EngineHost::currentModelChanged, [&] { seenModels << host.currentModelId(); });
  QObject::connect(&host, &EngineHost::currentEngineChanged, [&] { ++engineSignals; });

  auto first = test::follow(host.ensureLoaded());
  auto second = test::follow(host.ensureLoaded());
  EXPECT_FALSE(first->done);
  EXPECT_FALSE(host.hasEngine());
  clock_.advance(2350ms);
  ASSERT_TRUE(test::waitUntil([&] { return first->done && second->done; }));
  ASSERT_FALSE(first->error);
  ASSERT_FALSE(second->error);
  ASSERT_EQ(made_.size(), 1);
  EXPECT_EQ(first->value->get(), made_[0].get());
  EXPECT_EQ(second->value->get(), made_[0].get());
  EXPECT_EQ(host.currentEngine().get(), made_[0].get());
  EXPECT_EQ(host.currentModelId(), kTurbo);
  EXPECT_EQ(seenModels, QStringList{kTurbo});
  EXPECT_EQ(engineSignals, 1);
  EXPECT_EQ(engineDiagnostics(), QStringList{QStringLiteral("loaded  2350ms")});

  // Already loaded: no new engine, and the idle timer starts over.
  clock_.advance(29min);
  EXPECT_EQ(load().get(), made_[0].get());
  clock_.advance(29min);
  EXPECT_EQ(made_.size(), 1);
  EXPECT_TRUE(host.hasEngine());
  EXPECT_EQ(journal_, (QStringList{"turbo load", "turbo loaded"}));

  // An engine that no longer reports its model loaded is replaced.
  fake(0).dropModel();
  auto replaced = test::follow(host.ensureLoaded());
  clock_.advance(2350ms);
  ASSERT_TRUE(test::waitUntil([&] { return replaced->done; }));
  EXPECT_EQ(replaced->value->get(), made_.at(1).get());
  EXPECT_EQ(journal_.mid(2), (QStringList{"turbo unload", "turbo unloaded", "turbo load", "turbo loaded"}));
}

TEST_F(EngineHostTest, ChoosingAnotherModelDuringALoadPublishesOnlyTheNewOne) {
  select(kSmall);
  scripts_[kSmall].load = 1s;
  scripts_[kParakeet].load = 1s;
  EngineHost& host = makeHost();
  QStringList seenModels;
  QObject::connect(&host, &EngineHost::currentModelChanged, [&] { seenModels << host.currentModelId(); });

  auto early = test::follow(host.ensureLoaded());
  clock_.advance(500ms);
  select(kParakeet);
  auto late = test::follow(host.ensureLoaded());  // joins the running transition
  clock_.advance(500ms);                          // the small model is loaded, freed, never shown
  turnEventLoop();
  EXPECT_FALSE(early->done);
  clock_.advance(1s);
  ASSERT_TRUE(test::waitUntil([&] { return early->done && late->done; }));
  ASSERT_FALSE(early->error);
  ASSERT_FALSE(late->error);
  ASSERT_EQ(made_.size(), 2);
  EXPECT_EQ(early->value->get(), made_[1].get());
  EXPECT_EQ(late->value->get(), made_[1].get());
  EXPECT_EQ(host.currentModelId(), kParakeet);
  EXPECT_EQ(seenModels, QStringList{kParakeet});
  EXPECT_EQ(journal_, (QStringList{"small load", "small loaded", "small unload", "small unloaded", "parakeet load",
                                   "parakeet loaded"}));
  EXPECT_EQ(engineDiagnostics(), QStringList{QStringLiteral("loaded  1000ms")});
}

TEST_F(EngineHostTest, AFailedLoadFailsEveryWaiterOnceAndTheNextCallTriesAgain) {
  test::LogCapture log;
  scripts_[kTurbo].load = 1s;
  scripts_[kTurbo].loadError = EngineError::modelMissing();
  EngineHost& host = makeHost();

  auto first = test::follow(host.ensureLoaded());
  auto second = test::follow(host.ensureLoaded());
  clock_.advance(1s);
  ASSERT_TRUE(test::waitUntil([&] { return first->done && second->done; }));
  EXPECT_EQ(first->errorText(), QStringLiteral("Speech model has not been downloaded"));
  EXPECT_EQ(second->errorText(), QStringLiteral("Speech model has not been downloaded"));
  EXPECT_FALSE(host.hasEngine());
  EXPECT_EQ(host.currentModelId(), QString());
  EXPECT_EQ(made_.size(), 1);
  EXPECT_EQ(journal_, (QStringList{"turbo load", "turbo load failed", "turbo unload", "turbo unloaded"}));
  const QString logLine = QStringLiteral("error Engine load failed: Speech model has not been downloaded");
  EXPECT_EQ(log.leveled(QStringLiteral("engineHost")), (QStringList{logLine, logLine}));
  const QString diagLine = QStringLiteral("load failed  EngineError: Speech model has not been downloaded");
  EXPECT_EQ(engineDiagnostics(), (QStringList{diagLine, diagLine}));

  // From scratch: a new engine, which now loads.
  scripts_[kTurbo].loadError.reset();
  auto retry = test::follow(host.ensureLoaded());
  clock_.advance(1s);
  ASSERT_TRUE(test::waitUntil([&] { return retry->done; }));
  EXPECT_FALSE(retry->error);
  EXPECT_EQ(made_.size(), 2);
  EXPECT_TRUE(host.hasEngine());
}

TEST_F(EngineHostTest, AFailureOfAModelNoLongerChosenIsNotReported) {
  test::LogCapture log;
  scripts_[kTurbo].load = 1s;
  scripts_[kTurbo].loadError = EngineError::initFailed(QStringLiteral("Whisper"));
  scripts_[kSmall].load = 1s;
  EngineHost& host = makeHost();

  auto call = test::follow(host.ensureLoaded());
  select(kSmall);
  clock_.advance(2s);
  ASSERT_TRUE(test::waitUntil([&] { return call->done; }));
  ASSERT_FALSE(call->error) << call->errorText().toStdString();
  EXPECT_EQ(call->value->get(), made_.at(1).get());
  EXPECT_EQ(host.currentModelId(), kSmall);
  EXPECT_TRUE(log.leveled(QStringLiteral("engineHost")).filter(QStringLiteral("failed")).isEmpty());
  EXPECT_EQ(engineDiagnostics(), QStringList{QStringLiteral("loaded  1000ms")});
}

TEST_F(EngineHostTest, AnEngineThatCannotBeMadeIsALoadFailure) {
  EngineHostOptions options;
  options.makeEngine = [](const SpeechModelDescriptor&) { return std::shared_ptr<TranscriptionEngine>(); };
  EngineHost& host = makeHost(std::move(options));
  try {
    load();
    FAIL() << "loaded";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.description(), QStringLiteral("Failed to initialize Whisper context"));
  }
  EXPECT_FALSE(host.hasEngine());
}

TEST_F(EngineHostTest, AModelChangeWaitsForTheRunningTranscription) {
  scripts_[kTurbo].transcribe = 5s;
  EngineHost& host = makeHost();
  load();
  auto transcription = test::follow(host.transcribe(tone(), {}));
  ASSERT_TRUE(test::waitUntil([&] { return fake(0).running == 1; }));

  select(kParakeet);
  auto change = test::follow(host.ensureLoaded());
  clock_.advance(4s);
  turnEventLoop();
  EXPECT_FALSE(change->done);
  EXPECT_TRUE(fake(0).isLoaded());
  EXPECT_EQ(made_.size(), 1);
  // A transcription that arrives now waits for the change and runs on the new model.
  auto next = test::follow(host.transcribe(tone(), {}));

  clock_.advance(1s);
  ASSERT_TRUE(transcription->done);
  EXPECT_EQ(*transcription->value, QStringLiteral("turbo text"));
  ASSERT_TRUE(test::waitUntil([&] { return change->done; }));
  EXPECT_EQ(host.currentModelId(), kParakeet);
  ASSERT_TRUE(test::waitUntil([&] { return next->done; }));
  EXPECT_EQ(*next->value, QStringLiteral("parakeet text"));
  EXPECT_EQ(journal_, (QStringList{"turbo load", "turbo loaded", "turbo transcribe", "turbo transcribed",
                                   "turbo unload", "turbo unloaded", "parakeet load", "parakeet loaded",
                                   "parakeet transcribe", "parakeet transcribed"}));
}

// A change wakes from the event loop once the last transcription has ended. By
// then the user may have gone back to the old model, started a transcription
// on it and chosen the new one again: the change must wait for that one too.
TEST_F(EngineHostTest, AChangeWaitsAgainForATranscriptionThatStartedBeforeItWoke) {
  scripts_[kTurbo].transcribe = 5s;
  EngineHost& host = makeHost();
  load();
  auto first = test::follow(host.transcribe(tone(), {}));
  ASSERT_TRUE(test::waitUntil([&] { return fake(0).running == 1; }));
  select(kParakeet);
  auto change = test::follow(host.ensureLoaded());
  clock_.advance(5s);
  ASSERT_TRUE(first->done);

  // Before the change has woken.
  select(kTurbo);
  auto second = test::follow(host.transcribe(tone(), {}));
  EXPECT_EQ(host.activeTranscriptionCount(), 1);
  select(kParakeet);
  ASSERT_TRUE(test::waitUntil([&] { return fake(0).running == 1 || second->done; }));
  turnEventLoop();
  EXPECT_FALSE(change->done);
  EXPECT_TRUE(fake(0).isLoaded());

  clock_.advance(5s);
  ASSERT_TRUE(second->done);
  EXPECT_EQ(second->value.value_or(second->errorText()), QStringLiteral("turbo text"));
  ASSERT_TRUE(test::waitUntil([&] { return change->done; }));
  ASSERT_FALSE(change->error);
  ASSERT_EQ(made_.size(), 2);
  EXPECT_EQ(change->value->get(), made_[1].get());
  EXPECT_EQ(host.currentModelId(), kParakeet);
  EXPECT_EQ(journal_,
            (QStringList{"turbo load", "turbo loaded", "turbo transcribe", "turbo transcribed", "turbo transcribe",
                         "turbo transcribed", "turbo unload", "turbo unloaded", "parakeet load", "parakeet loaded"}));
}

TEST_F(EngineHostTest, IdleUnloadFollowsTheDelay) {
  const struct {
    const char* name;
    std::optional<qint64> storedMinutes;
    std::optional<Clock::Duration> idleTimeout;
    std::optional<Clock::Duration> unloadAfter;  // none: stays loaded
  } cases[] = {
      {"nothing stored", std::nullopt, std::nullopt, 30min},
      {"fifteen minutes", 15, std::nullopt, 15min},
      {"two hours", 120, std::nullopt, 2h},
      {"unknown value", 90, std::nullopt, 30min},
      {"timeout replaces the delay", 45, 1s, 1s},
      {"never, even with a timeout", 0, 1s, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    journal_.clear();
    if (c.storedMinutes) setDelayMinutes(*c.storedMinutes);
    EngineHostOptions options;
    options.idleTimeout = c.idleTimeout;
    EngineHost& host = makeHost(std::move(options));
    load();
    if (c.unloadAfter) {
      clock_.advance(*c.unloadAfter - 1ms);
      EXPECT_TRUE(host.hasEngine());
      clock_.advance(1ms);
      EXPECT_FALSE(host.hasEngine());
      EXPECT_EQ(host.currentModelId(), QString());
      EXPECT_EQ(journal_.mid(2), (QStringList{"turbo unload", "turbo unloaded"}));
      EXPECT_EQ(engineDiagnostics().last(), QStringLiteral("idle unload"));
      // The next use loads a new engine.
      load();
      EXPECT_EQ(made_.size(), 2);
    } else {
      clock_.advance(24h);
      EXPECT_TRUE(host.hasEngine());
      EXPECT_FALSE(host.isIdleUnloadPending());
    }
    TearDown();
  }
}

TEST_F(EngineHostTest, ARunningTranscriptionIsNeverUnloaded) {
  scripts_[kTurbo].transcribe = 5s;
  EngineHostOptions options;
  options.idleTimeout = 1s;
  EngineHost& host = makeHost(std::move(options));
  load();
  clock_.advance(900ms);
  // A transcription started before the timer fires cancels it.
  auto longOne = test::follow(host.transcribe(tone(), {}));
  ASSERT_TRUE(test::waitUntil([&] { return fake(0).running == 1; }));
  EXPECT_FALSE(host.isIdleUnloadPending());
  clock_.advance(500ms);
  // Overlapping work: a second transcription ends first, and a model request
  // finds the engine loaded; neither may arm the timer under the first one.
  fake(0).script.transcribe = 1s;
  auto shortOne = test::follow(host.transcribe(tone(), {}));
  ASSERT_TRUE(test::waitUntil([&] { return fake(0).running == 2; }));
  load();
  EXPECT_FALSE(host.isIdleUnloadPending());
  clock_.advance(1s);
  ASSERT_TRUE(shortOne->done);
  EXPECT_EQ(host.activeTranscriptionCount(), 1);
  EXPECT_FALSE(host.isIdleUnloadPending());
  clock_.advance(3s + 499ms);
  EXPECT_FALSE(longOne->done);
  EXPECT_TRUE(fake(0).isLoaded());
  clock_.advance(1ms);
  ASSERT_TRUE(longOne->done);
  EXPECT_EQ(*longOne->value, QStringLiteral("turbo text"));
  // The last one out arms the timer.
  EXPECT_TRUE(host.isIdleUnloadPending());
  clock_.advance(1s);
  EXPECT_FALSE(host.hasEngine());
  EXPECT_EQ(journal_.filter(QStringLiteral("unload")), (QStringList{"turbo unload", "turbo unloaded"}));
  EXPECT_EQ(journal_.indexOf(QStringLiteral("turbo unload")),
            journal_.lastIndexOf(QStringLiteral("turbo transcribed")) + 1);
}

TEST_F(EngineHostTest, AModelIsLoadedOnlyOnceTheIdleUnloadHasFreedTheOld) {
  scripts_[kTurbo].unload = 3s;
  EngineHostOptions options;
  options.idleTimeout = 1s;
  EngineHost& host = makeHost(std::move(options));
  load();
  clock_.advance(1s);
  EXPECT_FALSE(host.hasEngine());
  auto again = test::follow(host.ensureLoaded());
  clock_.advance(2s);
  turnEventLoop();
  EXPECT_FALSE(again->done);
  EXPECT_EQ(made_.size(), 1);
  clock_.advance(1s);
  ASSERT_TRUE(test::waitUntil([&] { return again->done; }));
  EXPECT_EQ(journal_, (QStringList{"turbo load", "turbo loaded", "turbo unload", "turbo unloaded", "turbo load",
                                   "turbo loaded"}));
}

TEST_F(EngineHostTest, FailedTranscriptionsLeaveTheEngineLoaded) {
  scripts_[kSmall].transcribeError = EngineError::runFailed(QStringLiteral("Whisper"), -3);
  scripts_[kTurbo].transcribe = 5s;
  EngineHostOptions options;
  options.idleTimeout = 10s;
  EngineHost& host = makeHost(std::move(options));
  load();
  const auto expectLoadedAndIdle = [&] {
    EXPECT_TRUE(host.hasEngine());
    EXPECT_TRUE(host.currentEngine()->isLoaded());
    EXPECT_EQ(host.activeTranscriptionCount(), 0);
    EXPECT_TRUE(host.isIdleUnloadPending());
  };

  // The decoder's own error comes through unchanged.
  const QString notAudio = test::freshDir(QStringLiteral("not-audio")) + QStringLiteral("/notes.wav");
  {
    QFile f(notAudio);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("this is not a recording");
  }
  std::string decoderError;
  try {
    (void)TranscriptionPipeline::standard().loadSamples(notAudio);
  } catch (const std::exception& e) {
    decoderError = e.what();
  }
  ASSERT_FALSE(decoderError.empty());
  try {
    test::awaitTask(host.transcribe(notAudio, {}));
    ADD_FAILURE() << "transcribed";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), decoderError);
  }
  expectLoadedAndIdle();

  // A cancelled transcription.
  CancellationToken cancel;
  auto cancelled = test::follow(host.transcribe(tone(), {}, cancel));
  ASSERT_TRUE(test::waitUntil([&] { return fake(0).running == 1; }));
  cancel.cancel();
  ASSERT_TRUE(test::waitUntil([&] { return cancelled->done; }));
  EXPECT_TRUE(cancelled->error);
  EXPECT_EQ(cancelled->errorText(), QString::fromUtf8(OperationCancelled().what()));
  expectLoadedAndIdle();

  // The engine's error.
  select(kSmall);
  load();
  try {
    test::awaitTask(host.transcribe(tone(), {}));
    ADD_FAILURE() << "transcribed";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.description(), QStringLiteral("Whisper inference failed (code -3)"));
  }
  expectLoadedAndIdle();
  EXPECT_EQ(host.currentModelId(), kSmall);
}

TEST_F(EngineHostTest, EnginesGetTheResolvedLanguageAndTheBudgetedVocabulary) {
  const QStringList vocabulary{QStringLiteral(" Foo "), QStringLiteral("foo"), QStringLiteral("Bar")};
  const struct {
    QString model;
    std::optional<QString> setting;  // "whisperLanguage"; none: absent
    std::optional<QString> language;
    QStringList hints;
  } cases[] = {
      {kTurbo, std::nullopt, std::nullopt, {"Foo", "Bar"}},  // absent means "auto": the engine detects
      {kTurbo, QStringLiteral("de"), QStringLiteral("de"), {"Foo", "Bar"}},
      {kSmall, QStringLiteral("de"), QStringLiteral("en"), {"Foo", "Bar"}},  // English only
      {kParakeet, QStringLiteral("de"), std::nullopt, {}},                   // detects, takes no hints
      {kQwen, QStringLiteral("auto"), std::nullopt, {"Foo", "Bar"}},
  };
  EngineHost& host = makeHost();
  for (const auto& c : cases) {
    SCOPED_TRACE((c.model + QLatin1Char(' ') + c.setting.value_or(QStringLiteral("-"))).toStdString());
    select(c.model);
    if (c.setting) {
      defaults_->setValue(QString::fromLatin1(kSpokenLanguageKey), *c.setting);
    } else {
      defaults_->remove(QString::fromLatin1(kSpokenLanguageKey));
    }
    const QString text = test::awaitTask(host.transcribe(tone(), vocabulary));
    FakeEngine& engine = *made_.last();
    EXPECT_EQ(text, engine.name() + QStringLiteral(" text"));
    EXPECT_EQ(engine.language(), c.language);
    EXPECT_EQ(engine.vocabulary(), c.hints);
    EXPECT_EQ(engine.sampleCount, 8000u);
  }
}

// After a load nobody waits for, the engine warms up with the dictation's
// language; the idle timer keeps counting from the load meanwhile.
TEST_F(EngineHostTest, AWarmUpFollowsALoadAndLeavesTheIdleTimerAlone) {
  select(kSmall);
  defaults_->setValue(QString::fromLatin1(kSpokenLanguageKey), QStringLiteral("de"));
  scripts_[kSmall].load = 1s;
  scripts_[kSmall].warmUp = 2s;
  EngineHostOptions options;
  options.idleTimeout = 10s;
  EngineHost& host = makeHost(std::move(options));
  auto loading = test::follow(host.ensureLoaded());
  clock_.advance(1s);
  ASSERT_TRUE(test::waitUntil([&] { return loading->done; }));
  ASSERT_TRUE(test::waitUntil([&] { return host.isWarmingUp(); }));
  EXPECT_EQ(fake(0).warmUpLanguage, QStringLiteral("en"));  // the English-only model's
  clock_.advance(2s);
  ASSERT_TRUE(test::waitUntil([&] { return !host.isWarmingUp(); }));
  EXPECT_EQ(host.lastWarmUp().outcome, EngineHost::WarmUpRecord::Outcome::finished);
  EXPECT_EQ(journal_, (QStringList{"small load", "small loaded", "small warm up", "small warmed up"}));
  clock_.advance(8s - 1ms);
  EXPECT_TRUE(host.hasEngine());
  clock_.advance(1ms);
  EXPECT_FALSE(host.hasEngine());
  EXPECT_EQ(engineDiagnostics(), (QStringList{"loaded  1000ms", "idle unload"}));
}

// Whatever comes while the engine warms up stops the pass: a transcription
// (which then runs on the engine), an idle unload, a model change. A load that
// a transcription waits for is not warmed up at all.
TEST_F(EngineHostTest, TranscriptionsUnloadsAndModelChangesCancelTheWarmUp) {
  const struct {
    const char* name;
    std::function<void(EngineHost&)> interrupt;
    QStringList journalAfterLoad;
    bool stillLoaded;
  } cases[] = {
      {"transcription",
       [this](EngineHost& host) { EXPECT_EQ(test::awaitTask(host.transcribe(tone(), {})), "turbo text"); },
       {"turbo warm up", "turbo warm-up cancelled", "turbo transcribe", "turbo transcribed"},
       true},
      {"idle unload",
       [this](EngineHost&) { clock_.advance(1s); },
       {"turbo warm up", "turbo warm-up cancelled", "turbo unload", "turbo unloaded"},
       false},
      {"model change",
       [this](EngineHost&) {
         select(kParakeet);
         load();
       },
       {"turbo warm up", "turbo warm-up cancelled", "turbo unload", "turbo unloaded", "parakeet load",
        "parakeet loaded"},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    journal_.clear();
    select(kTurbo);
    scripts_[kTurbo].warmUp = 1h;
    EngineHostOptions options;
    options.idleTimeout = 1s;
    EngineHost& host = makeHost(std::move(options));
    load();
    ASSERT_TRUE(test::waitUntil([&] { return host.isWarmingUp(); }));
    c.interrupt(host);
    ASSERT_TRUE(test::waitUntil([&] { return !host.isWarmingUp(); }));
    EXPECT_EQ(host.lastWarmUp().outcome, EngineHost::WarmUpRecord::Outcome::cancelled);
    EXPECT_TRUE(host.lastWarmUp().stopDelay.has_value());
    EXPECT_EQ(journal_.mid(2), c.journalAfterLoad);
    EXPECT_EQ(host.hasEngine(), c.stillLoaded);
    EXPECT_FALSE(fake(0).isLoaded() && !c.stillLoaded);
    TearDown();
  }

  // A transcription that waits for the load, directly or as a dictation does
  // (the load first, then the transcription), gets the engine without a pass.
  const auto dictation = [](EngineHost& host, QString file) -> QCoro::Task<QString> {
    co_await host.ensureLoaded();
    co_return co_await host.transcribe(file, {});
  };
  for (const bool loadFirst : {false, true}) {
    SCOPED_TRACE(loadFirst ? "load, then transcription" : "transcription");
    SetUp();
    journal_.clear();
    scripts_[kTurbo].warmUp = 1s;
    EngineHost& host = makeHost();
    const QString text = test::awaitTask(loadFirst ? dictation(host, tone()) : host.transcribe(tone(), {}));
    EXPECT_EQ(text, "turbo text");
    turnEventLoop();
    EXPECT_EQ(journal_, (QStringList{"turbo load", "turbo loaded", "turbo transcribe", "turbo transcribed"}));
    EXPECT_EQ(host.lastWarmUp().outcome, EngineHost::WarmUpRecord::Outcome::skipped);
    EXPECT_FALSE(host.isWarmingUp());
    TearDown();
  }
}

TEST(EngineHostVocabulary, TrimsDeduplicatesAndStopsAtTheBudget) {
  const QString combining = QStringLiteral("Cafe\u0301");  // five code units, four characters
  const QString family = QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7");
  const QString long700(700, QLatin1Char('x'));
  const struct {
    const char* name;
    QStringList terms;
    int budget;
    QStringList expected;
  } cases[] = {
      {"trim and repeats ignoring case", {" Foo ", "foo", "Bar", "\tBAR\n"}, 700, {"Foo", "Bar"}},
      {"empty and blank terms", {"", "  ", "\n", "a"}, 700, {"a"}},
      {"nothing", {}, 700, {}},
      {"exactly at the budget", {"abc", "de"}, 7, {"abc", "de"}},  // 3 + 2 + 2
      {"one over stops, later shorter terms too", {"abc", "def", "g"}, 7, {"abc"}},
      {"first term too long", {"abcdefgh", "a"}, 7, {}},
      {"a 700-character term fills the budget", {long700, "a"}, 700, {long700}},
      {"user-perceived characters", {combining, family, "x"}, 4 + 2 + 1 + 2 + 1, {combining, family, "x"}},
      {"one character more is too many", {combining, family, "xy"}, 4 + 2 + 1 + 2 + 1, {combining, family}},
      {"case kept from the first spelling", {"iPhone", "IPHONE"}, 700, {"iPhone"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EngineHost::budgetedVocabulary(c.terms, c.budget), c.expected) << c.name;
  }
}

// Decoding runs beside the load: the loader waits until the engine has started
// loading, and the engine waits until decoding has started. Done one after the
// other, each would wait in vain.
class RendezvousEngine final : public TranscriptionEngine {
 public:
  RendezvousEngine(QSemaphore& loadStarted, QSemaphore& decodeStarted)
      : loadStarted_(loadStarted), decodeStarted_(decodeStarted) {}
  bool isLoaded() const override { return loaded_; }
  QCoro::Task<void> load() override {
    auto job = [this] {
      loadStarted_.release();
      sawDecoding = decodeStarted_.tryAcquire(1, 10000);
      loaded_ = true;
    };
    co_await worker_.run(std::move(job));
  }
  QCoro::Task<void> unload() override {
    auto job = [this] { loaded_ = false; };
    co_await worker_.run(std::move(job));
  }
  QCoro::Task<TranscriptionResult> transcribe(AudioSamples samples, std::optional<QString>, QStringList,
                                              CancellationToken) override {
    const std::size_t count = samples.size();
    auto job = [count] { return TranscriptionResult{QString::number(count), std::nullopt}; };
    co_return co_await worker_.run(std::move(job));
  }
  std::atomic<bool> sawDecoding = false;

 private:
  QSemaphore& loadStarted_;
  QSemaphore& decodeStarted_;
  std::atomic<bool> loaded_ = false;
  SerialExecutor worker_{QStringLiteral("rendezvous")};
};

TEST(EngineHostOverlap, DecodingRunsWhileTheEngineLoads) {
  UserDefaults defaults(test::freshDir(QStringLiteral("overlap")) + QStringLiteral("/defaults.json"));
  DiagLog diag(std::nullopt);
  FakeClock clock;
  QSemaphore loadStarted;
  QSemaphore decodeStarted;
  std::atomic<bool> sawLoad = false;
  std::atomic<bool> onMainThread = true;
  QThread* mainThread = QThread::currentThread();
  TranscriptionPipeline pipeline{[&](const QString&) {
    onMainThread = QThread::currentThread() == mainThread;
    decodeStarted.release();
    sawLoad = loadStarted.tryAcquire(1, 10000);
    return AudioSamples(16000, 0.f);
  }};
  std::shared_ptr<RendezvousEngine> engine;
  EngineHostOptions options;
  options.clock = &clock;
  options.diagnostics = &diag;
  options.makeEngine = [&](const SpeechModelDescriptor&) {
    engine = std::make_shared<RendezvousEngine>(loadStarted, decodeStarted);
    return engine;
  };
  EngineHost host(defaults, pipeline, std::move(options));
  EXPECT_EQ(test::awaitTask(host.transcribe(QStringLiteral("/any/file.wav"), {})), QStringLiteral("16000"));
  EXPECT_TRUE(sawLoad);
  EXPECT_TRUE(engine->sawDecoding);
  EXPECT_FALSE(onMainThread);
}

TEST(EngineHostFactory, OnlyModelsThatAskForSegmentationAreWrapped) {
  for (const SpeechModelDescriptor& model : SpeechModelDescriptor::catalog()) {
    SCOPED_TRACE(model.id.rawValue.toStdString());
    auto own = std::make_shared<UnavailableEngine>(model.engineName);
    SpeechModelDescriptor copy = model;
    copy.makeEngine = [own] { return own; };
    const std::shared_ptr<TranscriptionEngine> made = EngineHost::defaultMakeEngine(copy);
    if (model.engineName == QLatin1String("Qwen3-ASR")) {
      auto* segmenting = dynamic_cast<SegmentingEngine*>(made.get());
      ASSERT_NE(segmenting, nullptr);
      EXPECT_EQ(segmenting->inner().get(), own.get());
      EXPECT_EQ(segmenting->maxSegmentSeconds(), 30.0);
    } else {
      EXPECT_EQ(made.get(), own.get());
    }
  }
}

TEST(EngineHostPrewarm, WarmsTheLanguageModelOnlyWhenItsFileIsCompleteAndItIsNotLoaded) {
  const QString folder = modelsDirectory(QStringLiteral("TextEnhancement"));
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString file = folder + QStringLiteral("/gemma-4-E4B-it.litertlm");
  constexpr qint64 kSize = 3'659'530'240;
  const struct {
    const char* name;
    std::optional<qint64> fileSize;  // none: no file
    bool loaded;
    bool warms;
  } cases[] = {
      {"no file", std::nullopt, false, false},     {"one byte short", kSize - 1, false, false},
      {"one byte long", kSize + 1, false, false},  {"complete", kSize, false, true},
      {"complete but loaded", kSize, true, false},
  };
  UserDefaults defaults(test::freshDir(QStringLiteral("prewarm")) + QStringLiteral("/defaults.json"));
  for (const auto& c : cases) {
    QFile::remove(file);
    if (c.fileSize) {
      QFile f(file);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      ASSERT_TRUE(f.resize(*c.fileSize));  // sparse
    }
    int prewarms = 0;
    bool loaded = c.loaded;
    EngineHostOptions options;
    options.textEnhancer.isLoaded = [&] { return loaded; };
    options.textEnhancer.prewarm = [&]() -> QCoro::Task<void> {
      ++prewarms;
      return []() -> QCoro::Task<void> { co_return; }();
    };
    EngineHost host(defaults, TranscriptionPipeline::standard(), std::move(options));
    host.prewarmTextEnhancer();
    EXPECT_EQ(prewarms, c.warms ? 1 : 0) << c.name;
  }
  QFile::remove(file);
}

}  // namespace
