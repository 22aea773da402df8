#pragma once

#include "app/SessionServices.h"
#include "enhance/TextEnhancer.h"
#include "speech/EngineHost.h"

namespace murel {

// The engine host and its language model, as the session and the state use them.
class EngineHostLink final : public SpeechEngineHosting {
 public:
  EngineHostLink(EngineHost& host, TextEnhancer& enhancer) : host_(host), enhancer_(enhancer) {}
  QCoro::Task<void> ensureLoaded() override { co_await host_.ensureLoaded(); }
  QCoro::Task<QString> transcribe(QString audioFile, QStringList vocabulary, CancellationToken token) override {
    return host_.transcribe(std::move(audioFile), std::move(vocabulary), std::move(token));
  }
  void prewarmTextEnhancer() override { host_.prewarmTextEnhancer(); }
  QCoro::Task<QString> enhance(QString text, QString instructions, CancellationToken token) override {
    return enhancer_.enhance(std::move(text), std::move(instructions), std::move(token));
  }
  bool isEngineLoaded() const override { return host_.currentEngine() && host_.currentEngine()->isLoaded(); }
  void scheduleIdleUnloads() override {
    host_.scheduleIdleUnload();
    enhancer_.scheduleIdleUnload();
  }

  // Options that tie the host's language-model warm-up to `enhancer`.
  static EngineHostOptions optionsFor(TextEnhancer& enhancer) {
    EngineHostOptions options;
    options.textEnhancer.isLoaded = [&enhancer] { return enhancer.isLoaded(); };
    options.textEnhancer.prewarm = [&enhancer] { return enhancer.prewarm(); };
    return options;
  }

 private:
  EngineHost& host_;
  TextEnhancer& enhancer_;
};

}  // namespace murel
