// Decoding and downloading targets of the speech files: 10 minutes of 48 kHz
// stereo decode in under 3 s on 2 cores (run under `taskset -c 0,1`) with peak
// memory close to the result's size, and a 500 MB download that grows resident
// memory by under 64 MB. Forged and extreme files (BM_ForgedOrExtremeFile/*)
// are refused or decoded within 2x the decoding time of an ordinary file of the
// same length and within 2x their decoded size in memory: compare `ms` with the
// ordinary file's and `peak_growth_MB` with `result_MB` (refusals: near 0).
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

QByteArray le32(quint32 v) { return QByteArray{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

void decodeOrRefuse(benchmark::State& state, const QString& path) {
  double resultBytes = 0;
  double peakGrowth = 0;
  bool refused = false;
  for (auto _ : state) {
    resetPeak();
    const qint64 base = statusKiB("VmRSS:");
    try {
      const murel::AudioSamples samples = murel::AudioSampleLoader::loadSamples(path);
      resultBytes = double(samples.size() * sizeof(float));
      benchmark::DoNotOptimize(samples.data());
    } catch (const std::exception&) {
      refused = true;
      resultBytes = 0;
    }
    peakGrowth = double(statusKiB("VmHWM:") - base);
  }
  state.counters["refused"] = refused ? 1 : 0;
  state.counters["result_MB"] = resultBytes / 1e6;
  state.counters["peak_growth_MB"] = peakGrowth / 1e6;
}

void registerForgedFiles(const QString& dir) {
  const QStringList mono16{QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"), QStringLiteral("1"),
                           QStringLiteral("-b"), QStringLiteral("16")};
  const QStringList mono384{QStringLiteral("-r"), QStringLiteral("384000"), QStringLiteral("-c"), QStringLiteral("1"),
                            QStringLiteral("-b"), QStringLiteral("16")};
  // 56 bytes: an AIFF header claiming 436,617,472 Hz over one silent frame.
  static const unsigned char kAiff[] = {
      0x46, 0x4f, 0x52, 0x4d, 0x00, 0x00, 0x00, 0x30, 0x41, 0x49, 0x46, 0x46, 0x43, 0x4f, 0x4d, 0x4d,
      0x00, 0x00, 0x00, 0x12, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x10, 0x40, 0x1b, 0xd0, 0x32,
      0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x53, 0x53, 0x4e, 0x44, 0x00, 0x00, 0x00, 0x0a, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  const QString aiff = dir + QStringLiteral("/rate436MHz.aiff");
  QFile aiffFile(aiff);
  if (aiffFile.open(QIODevice::WriteOnly)) aiffFile.write(reinterpret_cast<const char*>(kAiff), sizeof kAiff);
  aiffFile.close();
  const QList<QPair<const char*, QString>> files = {
      // Ordinary: the reference time for one minute.
      {"ordinary_60s_16k", forgedWav(dir, "ordinary.wav", mono16, 60, {})},
      // The highest rate accepted, one minute.
      {"rate_384k_60s", forgedWav(dir, "rate384k.wav", mono384, 60, {})},
      {"aiff_436MHz", aiff},
      {"wav_768kHz_60s", forgedWav(dir, "rate768k.wav", mono16, 60, {{24, le32(768000) + le32(768000 * 2)}})},
      {"wav_200_channels",
       forgedWav(dir, "channels.wav", mono16, 60,
                 {{22, QByteArray("\xc8\x00", 2) + le32(16000) + le32(16000 * 400) + QByteArray("\x90\x01", 2)}})},
      // Headers that claim 37 and 149 hours over one second of data.
      {"wav_claims_37h", forgedWav(dir, "claims37h.wav", mono16, 1, {{4, le32(0xfffffff0)}, {40, le32(0xfffffff0)}})},
      {"wav_claims_149h",
       forgedWav(dir, "claims149h.wav", mono16, 1,
                 {{24, le32(8000) + le32(8000) + QByteArray("\x01\x00\x08\x00", 4)}, {40, le32(0xfffffff0)}})},
  };
  for (const auto& [name, path] : files) {
    benchmark::RegisterBenchmark((QByteArray("BM_ForgedOrExtremeFile/") + name).constData(),
                                 [path = path](benchmark::State& state) { decodeOrRefuse(state, path); })
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
}

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

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir forgedDir;
  registerForgedFiles(forgedDir.path());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
