// Decoding and downloading targets of the speech files: 10 minutes of 48 kHz
// stereo decode in under 3 s on 2 cores (run under `taskset -c 0,1`) with peak
// memory close to the result's size, and a 500 MB download that grows resident
// memory by under 64 MB.
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

// Resident and peak resident memory of this process, in bytes.
qint64 statusKiB(const char* field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith(field)) return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong() * 1024;
  }
  return 0;
}
void resetPeak() {
  QFile clear(QStringLiteral("/proc/self/clear_refs"));
  if (clear.open(QIODevice::WriteOnly)) clear.write("5");
}

void BM_DecodeTenMinutesOf48kStereo(benchmark::State& state) {
  QTemporaryDir dir;
  const QString wav = dir.path() + QStringLiteral("/long.wav");
  QProcess::execute(QStringLiteral("sox"), {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("48000"),
                                            QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"),
                                            QStringLiteral("16"), wav, QStringLiteral("synth"), QStringLiteral("600"),
                                            QStringLiteral("sine"), QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.5")});
  double resultBytes = 0;
  double peakGrowth = 0;
  for (auto _ : state) {
    resetPeak();
    const qint64 base = statusKiB("VmRSS:");
    const murel::AudioSamples samples = murel::AudioSampleLoader::loadSamples(wav);
    peakGrowth = double(statusKiB("VmHWM:") - base);
    resultBytes = double(samples.size() * sizeof(float));
    benchmark::DoNotOptimize(samples.data());
  }
  state.counters["result_MB"] = resultBytes / 1e6;
  state.counters["peak_growth_MB"] = peakGrowth / 1e6;
}
BENCHMARK(BM_DecodeTenMinutesOf48kStereo)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Download500MB(benchmark::State& state) {
  constexpr qint64 kSize = 500'000'000;
  QTemporaryDir dir;
  murel::test::LoopbackHttpServer server;
  server.setRoute(QStringLiteral("/o/r/resolve/main/big.bin"), {200, {}, kSize, -1, -1});
  double growth = 0;
  for (auto _ : state) {
    QFile::remove(dir.path() + QStringLiteral("/big.bin"));
    murel::ModelDownloader downloader({{QStringLiteral("big.bin"), server.url(QStringLiteral("/o/r/resolve/main/big.bin")), kSize}},
                                      dir.path());
    resetPeak();
    const qint64 base = statusKiB("VmRSS:");
    bool done = false;
    auto run = [](murel::ModelDownloader& d, bool& finished) -> QCoro::Task<void> {
      try {
        co_await d.download();
      } catch (...) {
      }
      finished = true;
    };
    auto task = run(downloader, done);
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    growth = double(statusKiB("VmHWM:") - base);
    if (downloader.state().kind != murel::ModelDownloader::State::Kind::Completed) state.SkipWithError("download failed");
  }
  state.counters["rss_growth_MB"] = growth / 1e6;
  state.SetBytesProcessed(state.iterations() * kSize);
}
BENCHMARK(BM_Download500MB)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
