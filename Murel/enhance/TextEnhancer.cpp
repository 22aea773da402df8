#include "enhance/TextEnhancer.h"

#include "runtime/DiagLog.h"
#include "runtime/Error.h"
#include "runtime/SystemLog.h"
#include "speech/LanguageModelFile.h"
#include "text/ModelInactivityDelay.h"

#include "LiteRTLM/Config.h"
#include "LiteRTLM/Conversation.h"
#include "LiteRTLM/Engine.h"
#include "LiteRTLM/Error.h"
#include "LiteRTLM/ExperimentalFlags.h"
#include "LiteRTLM/Runtime.h"

#include <QCoroFuture>
#include <QPromise>
#include <QTextBoundaryFinder>

namespace murel {
namespace {

const Logger kLog("textEnhancer");

constexpr auto kDefaultDelay = std::chrono::minutes(30);
const QString kCategory = QStringLiteral("enhance");

// The number of characters as a reader counts them (grapheme clusters).
qsizetype characterCount(const QString& text) {
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  qsizetype count = 0;
  while (finder.toNextBoundary() != -1) ++count;
  return count;
}

QString elapsedText(Clock::Duration elapsed) {
  return QString::asprintf("%.0fms", std::chrono::duration<double, std::milli>(elapsed).count());
}

}  // namespace

struct TextEnhancer::TurnResult {
  std::optional<litertlm::Message> reply;
  bool cancelled = false;
  bool failed = false;
  QString errorType;
  QString errorText;
};

TextEnhancer::DelayProvider TextEnhancer::storedDelay(const UserDefaults& defaults) {
  return [&defaults] { return model_inactivity_delay::duration(model_inactivity_delay::current(defaults)); };
}

TextEnhancer::TextEnhancer(DelayProvider delay, Clock& clock, std::optional<Clock::Duration> idleTimeout,
                           DiagLog* diagnostics)
    : delay_(std::move(delay)), clock_(clock), idleTimeout_(idleTimeout), diagnostics_(diagnostics) {}

TextEnhancer::~TextEnhancer() {
  alive_.reset();
  if (idleUnload_) clock_.cancel(*idleUnload_);
  if (engine_) releaseOnWorker(std::move(engine_));
  // The cancel lane, then the worker, finish their queued work as they go.
}

void TextEnhancer::diag(const QString& event, const QString& message) {
  (diagnostics_ ? *diagnostics_ : DiagLog::shared()).log(kCategory, event, message);
}

void TextEnhancer::releaseOnWorker(std::shared_ptr<litertlm::Engine> engine) {
  // The runtime engine is deleted when the last reference goes: that must not
  // be on the main thread, where deleting a loaded model would freeze the UI.
  if (engine) worker_.run([e = std::move(engine)]() mutable { e.reset(); });
}

QCoro::Task<QString> TextEnhancer::enhance(QString text, QString instructions, CancellationToken token) {
  cancelIdleUnload();
  if (text.isEmpty()) {
    scheduleIdleUnload();
    co_return text;
  }
  std::shared_ptr<litertlm::Engine> engine = co_await ensureEngine();
  if (!engine) {
    scheduleIdleUnload();
    co_return text;
  }
  if (token.isCancelled()) {
    scheduleIdleUnload();
    throw OperationCancelled();
  }

  const Clock::Duration started = clock_.now();
  diag(QStringLiteral("start"), QStringLiteral("chars=%1").arg(characterCount(text)));
  // Operands are named first: GCC 12 destroys temporaries of a co_await
  // expression twice.
  QFuture<TurnResult> turn = runTurn(engine, instructions, text, token);
  const TurnResult result = co_await turn;
  releaseOnWorker(std::move(engine));

  if (result.cancelled || token.isCancelled()) {
    scheduleIdleUnload();
    throw OperationCancelled();
  }
  if (result.failed || !result.reply) {
    kLog.error(QStringLiteral("Enhance failed: %1").arg(result.errorText));
    diag(QStringLiteral("failed"), result.errorType + QStringLiteral(": ") + result.errorText);
    scheduleIdleUnload();
    co_return text;
  }

  const QString cleaned =
      QString::fromStdString(result.reply->text()).remove(QStringLiteral("<pad>"), Qt::CaseSensitive).trimmed();
  diag(QStringLiteral("done"), elapsedText(clock_.now() - started));
  scheduleIdleUnload();
  co_return cleaned.isEmpty() ? text : cleaned;
}

QFuture<TextEnhancer::TurnResult> TextEnhancer::runTurn(std::shared_ptr<litertlm::Engine> engine, QString instructions,
                                                        QString text, CancellationToken token) {
  SerialExecutor* worker = &worker_;
  SerialExecutor* cancelLane = &cancelLane_;
  return worker_.run([engine = std::move(engine), instructions = std::move(instructions), text = std::move(text), token,
                      worker, cancelLane]() -> TurnResult {
    TurnResult result;
    if (token.isCancelled()) {
      result.cancelled = true;
      return result;
    }
    try {
      // Greedy and repeatable sampling; an empty instruction gives no system message.
      const litertlm::ConversationConfig config(litertlm::Message(litertlm::Role::user, instructions.toStdString()), {},
                                                {}, litertlm::SamplerConfig(1, 1.0f, 0.0f, 0), std::nullopt,
                                                std::nullopt, false, litertlm::ThinkingConfig{false, -1}, true, false,
                                                std::nullopt);
      std::shared_ptr<litertlm::Conversation> conversation = engine->createConversation(config);
      if (token.isCancelled()) {
        result.cancelled = true;
        return result;
      }
      // A cancel stops the native turn too, so the next rewrite does not queue
      // behind a reply nobody reads. The worker is busy in the turn, so the
      // request goes over another thread; the conversation itself is still let
      // go of on the worker.
      std::weak_ptr<litertlm::Conversation> weak = conversation;
      const quint64 cancelId = token.onCancel([weak, worker, cancelLane] {
        cancelLane->run([weak, worker] {
          if (auto c = weak.lock()) {
            c->cancelProcess();
            // Moved, so that this lane keeps no reference that could end up the last.
            worker->run([c = std::move(c)]() mutable { c.reset(); });
          }
        });
      });
      struct Unregister {
        const CancellationToken& token;
        quint64 id;
        ~Unregister() { token.removeCallback(id); }
      } unregister{token, cancelId};
      result.reply = conversation->sendMessage(litertlm::Message(litertlm::Role::user, text.toStdString()));
    } catch (const std::exception& e) {
      if (token.isCancelled()) {
        result.cancelled = true;
      } else {
        result.failed = true;
        result.errorType = ErrorDescription::of(e).typeName;
        result.errorText = QString::fromStdString(e.what());
      }
    }
    if (token.isCancelled()) result.cancelled = true;
    return result;
  });
}

QCoro::Task<std::shared_ptr<litertlm::Engine>> TextEnhancer::ensureEngine() {
  // Copies: QCoro's co_return moves from what it is given, even from a member.
  if (engine_) co_return std::shared_ptr<litertlm::Engine>(engine_);
  if (loadDone_) {
    // Join the running load.
    QFuture<void> done = *loadDone_;
    co_await done;
    co_return std::shared_ptr<litertlm::Engine>(engine_);
  }
  if (!isGemmaModelInstalled()) {
    kLog.error(QStringLiteral("ensureEngine: model not downloaded at %1").arg(gemmaModelPath()));
    co_return std::shared_ptr<litertlm::Engine>();
  }
  auto promise = std::make_shared<QPromise<void>>();
  promise->start();
  loadDone_ = promise->future();
  std::shared_ptr<litertlm::Engine> engine = co_await loadEngine();
  loadDone_.reset();
  engine_ = engine;
  if (engine_) didWarmUp_ = false;
  promise->finish();
  co_return engine;
}

QCoro::Task<std::shared_ptr<litertlm::Engine>> TextEnhancer::loadEngine() {
  kLog.info(QStringLiteral("Initializing Gemma engine…"));
  litertlm::ExperimentalFlags::optIntoExperimentalAPIs();
  litertlm::ExperimentalFlags::setEnableSpeculativeDecoding(true);

  std::optional<litertlm::EngineConfig> config;
  try {
    config.emplace(gemmaModelPath().toStdString(), litertlm::Backend::gpu(), std::nullopt, std::nullopt, kMaxNumTokens,
                   liteRTCacheDirectory().toStdString(), std::nullopt, std::nullopt);
  } catch (const std::exception& e) {
    kLog.error(QStringLiteral("Engine init failed: %1").arg(QString::fromUtf8(e.what())));
    co_return std::shared_ptr<litertlm::Engine>();
  }

  // The engine travels in a box that is emptied on arrival: the future keeps its
  // result until its last copy goes, which may be on the main thread later on.
  using EngineBox = std::shared_ptr<std::shared_ptr<litertlm::Engine>>;
  struct Loaded {
    EngineBox engine;
    QString error;
    QString runtimeMissing;
  };
  QFuture<Loaded> load = worker_.run([config = *config]() -> Loaded {
    std::shared_ptr<litertlm::Engine> engine = litertlm::Engine::create(config);
    try {
      engine->initialize();
      return {std::make_shared<std::shared_ptr<litertlm::Engine>>(std::move(engine)), {}, {}};
    } catch (const std::exception& e) {
      // The half-made engine goes here, on the worker.
      return {nullptr, QString::fromUtf8(e.what()), QString::fromStdString(litertlm::Runtime::unavailableReason())};
    }
  });
  const Loaded loaded = co_await load;
  std::shared_ptr<litertlm::Engine> engine = loaded.engine ? std::move(*loaded.engine) : nullptr;
  if (!engine) {
    kLog.error(QStringLiteral("Engine init failed: %1").arg(loaded.error));
    // Without this line a user would only see the text come back unchanged.
    if (!loaded.runtimeMissing.isEmpty()) {
      diag(QStringLiteral("unavailable"),
           QStringLiteral("LiteRT-LM runtime not installed (%1); text passed through unchanged")
               .arg(loaded.runtimeMissing));
    } else {
      diag(QStringLiteral("load failed"), loaded.error + QStringLiteral("; text passed through unchanged"));
    }
    co_return std::shared_ptr<litertlm::Engine>();
  }
  kLog.info(QStringLiteral("Gemma engine ready"));
  co_return engine;
}

QCoro::Task<void> TextEnhancer::warmUp(std::shared_ptr<litertlm::Engine> engine) {
  const Clock::Duration started = clock_.now();
  QFuture<TurnResult> turn =
      runTurn(engine, QStringLiteral("Reply with: ok"), QStringLiteral("hi"), CancellationToken());
  const TurnResult result = co_await turn;
  releaseOnWorker(std::move(engine));
  if (result.failed || !result.reply) {
    kLog.error(QStringLiteral("Warm-up failed: %1").arg(result.errorText));
    co_return;
  }
  diag(QStringLiteral("warm-up"), elapsedText(clock_.now() - started));
}

QCoro::Task<void> TextEnhancer::prewarm() {
  cancelIdleUnload();
  std::shared_ptr<litertlm::Engine> engine = co_await ensureEngine();
  if (engine && !didWarmUp_) {
    didWarmUp_ = true;  // a failed warm-up is not repeated for this engine
    QCoro::Task<void> warming = warmUp(std::move(engine));
    co_await warming;
  } else {
    releaseOnWorker(std::move(engine));
  }
  scheduleIdleUnload();
}

void TextEnhancer::cancelIdleUnload() {
  if (idleUnload_) clock_.cancel(*idleUnload_);
  idleUnload_.reset();
}

void TextEnhancer::scheduleIdleUnload() {
  cancelIdleUnload();
  if (!engine_) return;
  const std::optional<std::chrono::seconds> stored =
      delay_ ? delay_() : std::optional<std::chrono::seconds>(kDefaultDelay);
  if (!stored) return;  // never
  const Clock::Duration delay = idleTimeout_ ? *idleTimeout_ : Clock::Duration(*stored);
  std::weak_ptr<bool> alive = alive_;
  idleUnload_ = clock_.schedule(delay, [this, alive] {
    if (alive.expired()) return;
    idleUnload_.reset();
    diag(QStringLiteral("idle unload"), QString());
    unload();
  });
}

void TextEnhancer::unload() {
  cancelIdleUnload();
  if (!engine_) return;
  releaseOnWorker(std::move(engine_));
  engine_.reset();
  didWarmUp_ = false;
  kLog.info(QStringLiteral("Gemma engine unloaded"));
}

}  // namespace murel
