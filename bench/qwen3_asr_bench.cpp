// Per-chunk work of the Qwen3-ASR engine outside llama.cpp's evaluation: the
// prompt, tokenising it with 30 s of audio (mtmd's log-mel features included),
// and reading a long answer (UTF-8 mend, parse, tail collapse). Target: under
// 2 ms per chunk together. (mtmd computes the chunk's log-mel features while it
// tokenises; that is the library's audio work and scales with the audio.) Tokenising runs on the tiny test model that the
// build writes to build/test-models/qwen3-asr.
#include "speech/EngineResidency.h"
#include "speech/Qwen3ASRContext.h"
#include "speech/Qwen3ASREngine.h"
#include "speech/Qwen3ASRText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

using namespace murel;

namespace {

QString tinyModelDir() {
  const QString build = qEnvironmentVariable("MUREL_BUILD_DIR");
  if (!build.isEmpty()) return build + QStringLiteral("/test-models/qwen3-asr");
  return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget().section(QLatin1Char('/'), 0, -3) +
         QStringLiteral("/test-models/qwen3-asr");
}

const QStringList& vocabulary() {
  static const QStringList terms = [] {
    QStringList out;
    for (int i = 0; i < 120; ++i) out << QStringLiteral("Term%1").arg(i);  // about the 1,500-character budget
    return out;
  }();
  return terms;
}

void BM_PromptBuilding(benchmark::State& state) {
  for (auto _ : state) {
    const Qwen3Request request = qwen3Request(QStringLiteral("de"), vocabulary());
    benchmark::DoNotOptimize(
        qwen3Prompt(request.systemText, request.languageName, QStringLiteral("<__media__>")).toUtf8());
  }
}
BENCHMARK(BM_PromptBuilding)->Unit(benchmark::kMicrosecond);

void BM_AnswerReading(benchmark::State& state) {
  // A 512-token answer: a long transcript whose tail repeats, with a cut character.
  QByteArray answer = "language English<asr_text>";
  for (int i = 0; i < 60; ++i) answer += "we walked along the river ";
  for (int i = 0; i < 20; ++i) answer += "thank you very much ";
  answer += "caf\xC3";
  for (auto _ : state) benchmark::DoNotOptimize(qwen3Result(answer, Qwen3Request{}));
}
BENCHMARK(BM_AnswerReading)->Unit(benchmark::kMicrosecond);

void BM_Tokenize(benchmark::State& state) {
  static std::unique_ptr<murel::Qwen3ASRContext> context;
  if (!context) {
    const QDir dir(tinyModelDir());
    context = std::make_unique<murel::Qwen3ASRContext>(dir.filePath(QStringLiteral("qwen3-asr-tiny.gguf")),
                                                       dir.filePath(QStringLiteral("qwen3a-tiny-mmproj.gguf")));
  }
  murel::AudioSamples samples(static_cast<size_t>(state.range(0)) * 16000);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = 0.3f * std::sin(0.17 * static_cast<double>(i));
  const Qwen3Request request = qwen3Request(QStringLiteral("de"), vocabulary());
  const QByteArray prompt =
      qwen3Prompt(request.systemText, request.languageName, murel::Qwen3ASRContext::mediaMarker()).toUtf8();
  for (auto _ : state) benchmark::DoNotOptimize(context->tokenize(samples, prompt));
}
// Argument: seconds of audio. The 1 s run shows the text side, the 30 s run what
// mtmd spends on the audio features of a full chunk.
BENCHMARK(BM_Tokenize)->Arg(1)->Arg(30)->Unit(benchmark::kMillisecond);

}  // namespace
