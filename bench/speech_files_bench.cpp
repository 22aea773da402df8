// Decoding and downloading targets of the speech files: 10 minutes of 48 kHz
// stereo decode in under 3 s on 2 cores (run under `taskset -c 0,1`) with peak
// memory close to the result's size, and a 500 MB download that grows resident
// memory by under 64 MB. Forged and extreme files (BM_ForgedOrExtremeFile/*)
// are refused or decoded within 2x the decoding time of an ordinary file of the
// same length and within 2x their decoded size in memory: compare `ms` with the
// ordinary file's and `peak_growth_MB` with `result_MB` (refusals: near 0).
#include "ResidentMemory.h"
#include "speech/AudioSampleLoader.h"
#include "speech/ModelDownloader.h"

// The tests' loopback HTTP server, compiled into this benchmark as well.
#include "tests/support/LoopbackHttpServer.cpp"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

namespace {

using murel::bench::resetPeakResidency;
using murel::bench::statusBytes;

void BM_DecodeTenMinutesOf48kStereo(benchmark::State& state) {
  QTemporaryDir dir;
  const QString wav = dir.path() + QStringLiteral("/long.wav");
  QProcess::execute(
      QStringLiteral("sox"),
      {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("48000"), QStringLiteral("-c"), QStringLiteral("2"),
       QStringLiteral("-b"), QStringLiteral("16"), wav, QStringLiteral("synth"), QStringLiteral("600"),
       QStringLiteral("sine"), QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.5")});
  double resultBytes = 0;
  double peakGrowth = 0;
  for (auto _ : state) {
    resetPeakResidency();
    const qint64 base = statusBytes("VmRSS:");
    const murel::AudioSamples samples = murel::AudioSampleLoader::loadSamples(wav);
    peakGrowth = double(statusBytes("VmHWM:") - base);
    resultBytes = double(samples.size() * sizeof(float));
    benchmark::DoNotOptimize(samples.data());
  }
  state.counters["result_MB"] = resultBytes / 1e6;
  state.counters["peak_growth_MB"] = peakGrowth / 1e6;
}
BENCHMARK(BM_DecodeTenMinutesOf48kStereo)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// A WAV made by sox with some header fields overwritten (little-endian).
QString forgedWav(const QString& dir, const char* name, const QStringList& soxFormat, double seconds,
                  const QList<QPair<int, QByteArray>>& patches) {
  const QString path = dir + QLatin1Char('/') + QLatin1String(name);
  QStringList args{QStringLiteral("-n")};
  args << soxFormat << path << QStringLiteral("synth") << QString::number(seconds) << QStringLiteral("sine")
       << QStringLiteral("440");
  QProcess::execute(QStringLiteral("sox"), args);
  QFile file(path);
  if (file.open(QIODevice::ReadWrite)) {
    for (const auto& [offset, bytes] : patches) {
      file.seek(offset);
      file.write(bytes);
    }
  }
  return path;
}

// A mono 16-bit AIFF whose header claims `rate` and `frames` over `dataFrames` silent frames.
QString forgedAiff(const QString& dir, const char* name, quint32 rate, quint32 frames, int dataFrames) {
  auto be16 = [](quint16 v) { return QByteArray(1, char(v >> 8)) + char(v); };
  auto be32 = [](quint32 v) { return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v); };
  // The rate as an 80-bit extended float: exponent, then the mantissa with its explicit integer bit.
  int exponent = 31;
  while (!(rate >> exponent)) --exponent;
  const quint64 mantissa = quint64(rate) << (63 - exponent);
  const QByteArray extended = be16(quint16(16383 + exponent)) + be32(quint32(mantissa >> 32)) + be32(quint32(mantissa));
  const QByteArray comm = be16(1) + be32(frames) + be16(16) + extended;
  const QByteArray ssnd = be32(0) + be32(0) + QByteArray(2 * dataFrames, '\0');
  const QByteArray body = "AIFFCOMM" + be32(quint32(comm.size())) + comm + "SSND" + be32(quint32(ssnd.size())) + ssnd;
  const QString path = dir + QLatin1Char('/') + QLatin1String(name);
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write("FORM" + be32(quint32(body.size())) + body);
  return path;
}

QByteArray le32(quint32 v) { return QByteArray(1, char(v)) + char(v >> 8) + char(v >> 16) + char(v >> 24); }

void decodeOrRefuse(benchmark::State& state, const QString& path) {
  double resultBytes = 0;
  double peakGrowth = 0;
  bool refused = false;
  for (auto _ : state) {
    resetPeakResidency();
    const qint64 base = statusBytes("VmRSS:");
    try {
      const murel::AudioSamples samples = murel::AudioSampleLoader::loadSamples(path);
      resultBytes = double(samples.size() * sizeof(float));
      benchmark::DoNotOptimize(samples.data());
    } catch (const std::exception&) {
      refused = true;
      resultBytes = 0;
    }
    peakGrowth = double(statusBytes("VmHWM:") - base);
  }
  state.counters["refused"] = refused ? 1 : 0;
  state.counters["result_MB"] = resultBytes / 1e6;
  state.counters["peak_growth_MB"] = peakGrowth / 1e6;
}

enum class Forged { ordinary, rate384k, aiff436MHz, wav768kHz, channels200, claims37h, claims149h };

// Made on first use, removed at exit.
QString forgedFile(Forged kind) {
  static QTemporaryDir dir;
  const QString d = dir.path();
  const QStringList mono16{QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"),
                           QStringLiteral("1"),  QStringLiteral("-b"),    QStringLiteral("16")};
  const QStringList mono384{QStringLiteral("-r"), QStringLiteral("384000"), QStringLiteral("-c"),
                            QStringLiteral("1"),  QStringLiteral("-b"),     QStringLiteral("16")};
  switch (kind) {
    case Forged::ordinary:  // the reference time for one minute
      return forgedWav(d, "ordinary.wav", mono16, 60, {});
    case Forged::rate384k:  // the highest rate accepted, one minute
      return forgedWav(d, "rate384k.wav", mono384, 60, {});
    case Forged::aiff436MHz:  // 56 bytes
      return forgedAiff(d, "rate436MHz.aiff", 436617472, 1, 1);
    case Forged::wav768kHz: return forgedWav(d, "rate768k.wav", mono16, 60, {{24, le32(768000) + le32(768000 * 2)}});
    case Forged::channels200:
      return forgedWav(d, "channels.wav", mono16, 60,
                       {{22, QByteArray("\xc8\x00", 2) + le32(16000) + le32(16000 * 400) + QByteArray("\x90\x01", 2)}});
    case Forged::claims37h:  // over one second of data
      return forgedWav(d, "claims37h.wav", mono16, 1, {{4, le32(0xfffffff0)}, {40, le32(0xfffffff0)}});
    case Forged::claims149h:  // over 100 frames of data
      return forgedAiff(d, "claims149h.aiff", 4000, 0x7fffffff, 100);
  }
  return {};
}

void BM_ForgedOrExtremeFile(benchmark::State& state, Forged kind) { decodeOrRefuse(state, forgedFile(kind)); }
BENCHMARK_CAPTURE(BM_ForgedOrExtremeFile, ordinary_60s_16k, Forged::ordinary)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ForgedOrExtremeFile, rate_384k_60s, Forged::rate384k)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ForgedOrExtremeFile, aiff_436MHz, Forged::aiff436MHz)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ForgedOrExtremeFile, wav_768kHz_60s, Forged::wav768kHz)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ForgedOrExtremeFile, wav_200_channels, Forged::channels200)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ForgedOrExtremeFile, wav_claims_37h, Forged::claims37h)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ForgedOrExtremeFile, aiff_claims_149h, Forged::claims149h)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Download500MB(benchmark::State& state) {
  constexpr qint64 kSize = 500'000'000;
  QTemporaryDir dir;
  murel::test::LoopbackHttpServer server;
  server.setRoute(QStringLiteral("/o/r/resolve/main/big.bin"), {200, {}, kSize, -1, -1});
  double growth = 0;
  for (auto _ : state) {
    QFile::remove(dir.path() + QStringLiteral("/big.bin"));
    murel::ModelDownloader downloader(
        {{QStringLiteral("big.bin"), server.url(QStringLiteral("/o/r/resolve/main/big.bin")), kSize}}, dir.path());
    resetPeakResidency();
    const qint64 base = statusBytes("VmRSS:");
    bool done = false;
    auto run = [](murel::ModelDownloader& d, bool& finished) -> QCoro::Task<void> {
      try {
        co_await d.download();
      } catch (...) {
      }
      finished = true;
    };
    auto task = run(downloader, done);
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    growth = double(statusBytes("VmHWM:") - base);
    if (downloader.state().kind != murel::ModelDownloader::State::Kind::Completed)
      state.SkipWithError("download failed");
  }
  state.counters["rss_growth_MB"] = growth / 1e6;
  state.SetBytesProcessed(state.iterations() * kSize);
}
BENCHMARK(BM_Download500MB)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
