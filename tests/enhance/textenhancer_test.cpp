// The text enhancer against the scripted runtime library, a fake clock and a
// real diagnostics log.
#include "FakeLiteRtLm.h"

#include "enhance/TextEnhancer.h"
#include "runtime/DiagLog.h"
#include "runtime/UserDefaults.h"
#include "speech/LanguageModelFile.h"
#include "support/AwaitTask.h"
#include "support/FakeClock.h"
#include "support/TestEnv.h"
#include "text/TranscriptProcessor.h"

#include "LiteRTLM/Conversation.h"
#include "LiteRTLM/ExperimentalFlags.h"
#include "LiteRTLM/Runtime.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <thread>

using namespace murel;
using namespace std::chrono_literals;
namespace fake = fake_litert_lm;

namespace {

void writeSparse(const QString& path, qint64 size) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_TRUE(file.resize(size));
}

std::string reply(const std::string& text) {
  return R"({"role":"assistant","content":[{"type":"text","text":")" + text + R"("}]})";
}

bool waitCancelled(QCoro::Task<QString> task) { return test::settle(std::move(task))->threw<OperationCancelled>(); }

class TextEnhancerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    litertlm::Runtime::setLibraryPath(FAKE_LITERT_LM_PATH);
    litertlm::ExperimentalFlags::resetForTesting();
    writeSparse(gemmaModelPath(), kGemmaModelSizeBytes);
    diagnostics = std::make_unique<DiagLog>(test::freshDir("diag"));
    makeEnhancer();
  }

  void TearDown() override {
    enhancer.reset();  // releases the engine on its worker and waits for it
    fake::joinStreams();
    EXPECT_EQ(fake::liveHandles(), 0);
    QFile::remove(gemmaModelPath());
  }

  void makeEnhancer(std::optional<Clock::Duration> idleTimeout = std::nullopt) {
    enhancer.reset();
    enhancer = std::make_unique<TextEnhancer>([this] { return delay; }, clock, idleTimeout, diagnostics.get());
  }

  QString enhance(const QString& text, const QString& instructions = QStringLiteral("Fix the grammar.")) {
    return QCoro::waitFor(enhancer->enhance(text, instructions));
  }

  // The diagnostics lines without their time stamps.
  QStringList diagLines() {
    QStringList lines;
    for (const QString& line : diagnostics->readAll().split('\n', Qt::SkipEmptyParts)) lines << line.mid(14);
    return lines;
  }

  std::thread::id workerThread() {
    return enhancer->worker().run([] { return std::this_thread::get_id(); }).result();
  }

  test::FakeClock clock;
  std::optional<std::chrono::seconds> delay = std::chrono::minutes(15);
  std::unique_ptr<DiagLog> diagnostics;
  std::unique_ptr<TextEnhancer> enhancer;
};

}  // namespace

TEST_F(TextEnhancerTest, RewritesInOneTurnOnTheWorker) {
  fake::pushReply(reply("<pad>Hello, world.<pad>\\n"));
  // "é" written with a combining accent and a flag (two code points each): 16 characters as a reader counts them.
  const QString text = QStringLiteral("he\u0301 \U0001F1EB\U0001F1F7 hello world");
  EXPECT_EQ(enhance(text), "Hello, world.");

  EXPECT_EQ(fake::argsOf("engine_settings_create"),
            (std::vector<std::string>{gemmaModelPath().toStdString() + ",gpu,null,null"}));
  EXPECT_EQ(fake::argsOf("engine_settings_set_max_num_tokens"), (std::vector<std::string>{"4096"}));
  EXPECT_EQ(fake::argsOf("engine_settings_set_cache_dir"),
            (std::vector<std::string>{liteRTCacheDirectory().toStdString()}));
  EXPECT_EQ(fake::argsOf("engine_settings_set_enable_speculative_decoding"), (std::vector<std::string>{"true"}));
  EXPECT_EQ(fake::argsOf("conversation_config_set_system_message"),
            (std::vector<std::string>{R"([{"text":"Fix the grammar.","type":"text"}])"}));
  EXPECT_EQ(fake::argsOf("sampler_params_set_top_k"), (std::vector<std::string>{"1"}));
  EXPECT_EQ(fake::argsOf("sampler_params_set_temperature"), (std::vector<std::string>{"0"}));
  EXPECT_EQ(fake::argsOf("conversation_send_message"),
            (std::vector<std::string>{R"({"content":[{"text":")" + text.toStdString() +
                                      R"(","type":"text"}],"role":"user"},null)"}));

  EXPECT_EQ(diagLines(), (QStringList{"enhance  start  chars=16", "enhance  done  0ms"}));

  // Every runtime call ran on the one worker; none on the main thread.
  const std::thread::id worker = workerThread();
  for (const fake::Call& call : fake::calls()) {
    EXPECT_EQ(call.thread, worker) << call.name;
  }
  enhancer.reset();
  EXPECT_EQ(fake::calls().back().name, "engine_delete");
  EXPECT_EQ(fake::calls().back().thread, worker);
}

TEST_F(TextEnhancerTest, CleansTheReply) {
  struct Case {
    std::string reply;
    QString expected;
  };
  const std::vector<Case> cases = {
      {reply("<pad>word<pad>\\n"), "word"},
      {reply("<pad> <pad>\\n "), "input text"},  // nothing left: the input comes back
      {R"({"role":"model","content":[{"type":"text","text":"one"},{"type":"text","text":"two"}]})", "one two"},
  };
  for (const Case& c : cases) {
    fake::pushReply(c.reply);
    EXPECT_EQ(enhance("input text"), c.expected) << c.reply;
  }
}

TEST_F(TextEnhancerTest, ConcurrentCallsShareOneLoad) {
  auto first = enhancer->enhance("a", "x");
  auto second = enhancer->enhance("b", "x");
  EXPECT_EQ(QCoro::waitFor(first), "ok");
  EXPECT_EQ(QCoro::waitFor(second), "ok");
  EXPECT_EQ(fake::countOf("engine_create"), 1);
  EXPECT_EQ(fake::countOf("conversation_create"), 2);  // a fresh conversation per call
}

TEST_F(TextEnhancerTest, FailuresGiveTheInputBack) {
  fake::failCall("conversation_create", 1);
  EXPECT_EQ(enhance("keep me"), "keep me");
  fake::pushReply(R"({"role":"assistant"})");
  EXPECT_EQ(enhance("and me"), "and me");
  EXPECT_EQ(enhance("now it works"), "ok");
  EXPECT_EQ(fake::countOf("engine_create"), 1);  // a failed turn keeps the engine
  const QStringList lines = diagLines();
  EXPECT_EQ(lines.filter("enhance  failed").size(), 2);
  EXPECT_TRUE(lines.contains("enhance  failed  LiteRTLMError: Failed to create conversation."));
  EXPECT_TRUE(
      lines.contains("enhance  failed  LiteRTLMError: Invalid response from native layer: {\"role\":\"assistant\"}"));

  // A failed load is tried again by the next call.
  enhancer.reset();
  makeEnhancer();
  fake::failCall("engine_create", 1);
  EXPECT_EQ(enhance("first"), "first");
  EXPECT_FALSE(enhancer->isLoaded());
  EXPECT_EQ(enhance("second"), "ok");
  EXPECT_TRUE(diagLines().contains("enhance  load failed  Failed to create engine.; text passed through unchanged"));
}

TEST_F(TextEnhancerTest, WithoutTheModelNothingIsLoaded) {
  for (qint64 size : {kGemmaModelSizeBytes - 1, qint64(-1)}) {
    if (size < 0) {
      QFile::remove(gemmaModelPath());
    } else {
      writeSparse(gemmaModelPath(), size);
    }
    EXPECT_EQ(enhance("as spoken"), "as spoken");
  }
  EXPECT_EQ(QCoro::waitFor(enhancer->enhance(QString(), "x")), QString());
  QCoro::waitFor(enhancer->prewarm());
  EXPECT_TRUE(fake::calls().empty());
  EXPECT_FALSE(enhancer->isLoaded());
  EXPECT_EQ(clock.pendingCount(), 0u);  // no engine, nothing to unload
  EXPECT_TRUE(diagLines().isEmpty());
}

TEST_F(TextEnhancerTest, WithoutTheRuntimeEveryRewriteSaysWhy) {
  litertlm::Runtime::setLibraryPath("/nonexistent/liblitert_lm.so");
  const QString tidy = QStringLiteral("Tidy this dictated text: fix punctuation and remove filler words.");
  EXPECT_EQ(enhance("um so this is uh my note", tidy), "um so this is uh my note");
  EXPECT_EQ(enhance("second one", tidy), "second one");
  const QStringList lines = diagLines();
  ASSERT_EQ(lines.size(), 2);
  for (const QString& line : lines) {
    EXPECT_TRUE(
        line.startsWith("enhance  unavailable  LiteRT-LM runtime not installed (cannot open "
                        "/nonexistent/liblitert_lm.so"))
        << line.toStdString();
    EXPECT_TRUE(line.endsWith("; text passed through unchanged"));
  }
  EXPECT_FALSE(enhancer->isLoaded());
}

TEST_F(TextEnhancerTest, TidyDictationPassesThroughWhenTheRuntimeIsMissing) {
  litertlm::Runtime::setLibraryPath("/nonexistent/liblitert_lm.so");
  TextEnhancer* rewriter = enhancer.get();
  const TranscriptProcessor processor(
      TranscriptProcessor::enhanceWhenModelInstalled(
          &isGemmaModelInstalled,
          [rewriter](QString text, QString instructions) { return rewriter->enhance(text, instructions); }),
      [] { return QList<DictionaryEntry>{}; });
  QCoro::Task<QString> tidy =
      processor.process(QStringLiteral("um so this is uh my note"), Transformation::preset(TransformPreset::tidy));
  EXPECT_EQ(QCoro::waitFor(tidy), "um so this is uh my note");
  const QStringList lines = diagLines();
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines[0].startsWith("enhance  unavailable  LiteRT-LM runtime not installed")) << lines[0].toStdString();
}

TEST_F(TextEnhancerTest, EmptyInstructionsGiveNoSystemMessage) {
  EXPECT_EQ(enhance("text", QString()), "ok");
  EXPECT_EQ(fake::countOf("conversation_config_set_system_message"), 0);
  EXPECT_EQ(fake::countOf("conversation_send_message"), 1);
}

TEST_F(TextEnhancerTest, CancelStopsTheNativeTurnAndStillArmsTheUnload) {
  EXPECT_EQ(enhance("load first"), "ok");
  fake::holdSends(true);
  CancellationToken token;
  auto task = enhancer->enhance("long text", "x", token);
  ASSERT_TRUE(test::waitUntil([] { return fake::waitingSends() == 1; }));
  token.cancel();
  EXPECT_TRUE(waitCancelled(std::move(task)));
  EXPECT_EQ(fake::countOf("conversation_cancel_process"), 1);
  for (const fake::Call& call : fake::calls()) {
    // The stop request cannot wait behind the turn it stops, yet stays off the main thread.
    EXPECT_NE(call.thread, std::this_thread::get_id()) << call.name;
    EXPECT_EQ(call.thread == workerThread(), call.name != "conversation_cancel_process") << call.name;
  }
  EXPECT_EQ(clock.pendingCount(), 1u);  // re-armed
  EXPECT_EQ(diagLines().filter("failed").size(), 0);

  // The next rewrite does not wait behind the abandoned reply.
  EXPECT_EQ(fake::waitingSends(), 0);
  fake::holdSends(false);
  EXPECT_EQ(enhance("next"), "ok");

  CancellationToken early;
  early.cancel();
  EXPECT_TRUE(waitCancelled(enhancer->enhance("never sent", "x", early)));
  EXPECT_EQ(fake::countOf("conversation_send_message"), 3);
  EXPECT_EQ(clock.pendingCount(), 1u);
}

TEST_F(TextEnhancerTest, UnloadsAfterTheIdleDelay) {
  EXPECT_EQ(enhance("x"), "ok");
  clock.advance(15min - 1s);
  EXPECT_TRUE(enhancer->isLoaded());
  EXPECT_EQ(enhance("y"), "ok");  // use restarts the delay
  clock.advance(15min - 1s);
  EXPECT_TRUE(enhancer->isLoaded());
  clock.advance(1s);
  EXPECT_FALSE(enhancer->isLoaded());
  const std::thread::id worker = workerThread();  // also waits for the release
  EXPECT_EQ(fake::argsOf("engine_delete").size(), 1u);
  EXPECT_EQ(fake::calls().back().thread, worker);
  EXPECT_EQ(diagLines().last(), "enhance  idle unload");

  // Never: nothing is scheduled.
  delay.reset();
  EXPECT_EQ(enhance("z"), "ok");
  EXPECT_EQ(clock.pendingCount(), 0u);

  // The delay the user stored, read at every scheduling.
  UserDefaults defaults(test::freshDir("defaults") + "/defaults.json");
  enhancer =
      std::make_unique<TextEnhancer>(TextEnhancer::storedDelay(defaults), clock, std::nullopt, diagnostics.get());
  EXPECT_EQ(enhance("v"), "ok");
  clock.advance(30min);  // nothing stored: thirty minutes
  EXPECT_FALSE(enhancer->isLoaded());
  defaults.setValue(QStringLiteral("modelResidency.inactivityDelayMinutes"), qint64(0));
  EXPECT_EQ(enhance("u"), "ok");
  EXPECT_EQ(clock.pendingCount(), 0u);

  // A fixed idle timeout replaces the stored length.
  delay = std::chrono::minutes(120);
  makeEnhancer(2s);
  EXPECT_EQ(enhance("w"), "ok");
  clock.advance(2s);
  EXPECT_FALSE(enhancer->isLoaded());
}

TEST_F(TextEnhancerTest, PrewarmRunsOneWarmUpPerLoadedEngine) {
  QCoro::waitFor(enhancer->prewarm());
  QCoro::waitFor(enhancer->prewarm());
  EXPECT_EQ(fake::argsOf("conversation_send_message"),
            (std::vector<std::string>{R"({"content":[{"text":"hi","type":"text"}],"role":"user"},null)"}));
  EXPECT_EQ(fake::argsOf("conversation_config_set_system_message"),
            (std::vector<std::string>{R"([{"text":"Reply with: ok","type":"text"}])"}));
  EXPECT_EQ(diagLines(), (QStringList{"enhance  warm-up  0ms"}));
  EXPECT_EQ(clock.pendingCount(), 1u);

  clock.advance(15min);
  EXPECT_FALSE(enhancer->isLoaded());
  fake::failCall("conversation_send_message", 1);  // a failed warm-up is not repeated
  QCoro::waitFor(enhancer->prewarm());
  QCoro::waitFor(enhancer->prewarm());
  EXPECT_EQ(fake::countOf("conversation_send_message"), 2);
  EXPECT_EQ(fake::countOf("engine_create"), 2);
}
