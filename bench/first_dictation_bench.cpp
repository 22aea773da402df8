// The first dictation after launch against the later ones, end to end in the
// real `murel` process on the rig: its hotkey typed with XTEST, a spoken
// utterance of about 5 s fed in real time into a microphone of the benchmark's
// own, and Whisper small English at its real dimensions (random weights, see
// RealSizeModels.h) as the selected model. Each iteration is one launch with
// six dictations; a dictation is timed from the diagnostics log's "record stop"
// to its "deliver pasted" (release to text, on the process's own clock).
// Target: the first dictation of a launch within 5 % of the median of the
// later ones (`first_vs_later` ≤ 1.05).
//
// MUREL_BENCH_APP runs another build's executable instead (e.g. one without
// the engine warm-up, for comparison).
#include "AppProcessRig.h"
#include "RealSizeModels.h"

#include "audio/AudioDeviceManager.h"
#include "keys/KeyCombo.h"
#include "runtime/UserDefaults.h"
#include "support/PasteTarget.h"
#include "support/PulseRig.h"
#include "support/SpeechAudio.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTime>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <csignal>
#include <vector>

using namespace murel;
using namespace std::chrono_literals;

namespace {

constexpr int kDictationsPerLaunch = 6;

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

QByteArray pcmOf(const AudioSamples& samples) {
  QByteArray pcm(qsizetype(samples.size() * 2), '\0');
  auto* out = reinterpret_cast<qint16*>(pcm.data());
  for (size_t i = 0; i < samples.size(); ++i) out[i] = qint16(std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f);
  return pcm;
}

// The times of the log's lines "<time>  <category>  <event>", in order.
std::vector<QTime> eventTimes(const QString& log, const QString& category, const QString& event) {
  const QRegularExpression line(QStringLiteral("^(\\S+)  %1  %2(  .*)?$")
                                    .arg(QRegularExpression::escape(category), QRegularExpression::escape(event)));
  std::vector<QTime> times;
  for (const QString& entry : log.split(QLatin1Char('\n'))) {
    const QRegularExpressionMatch match = line.match(entry);
    if (match.hasMatch()) times.push_back(QTime::fromString(match.captured(1), QStringLiteral("HH:mm:ss.zzz")));
  }
  return times;
}

class Launch {
 public:
  Launch(const QString& root, const SpeechModelDescriptor& model, test::PipeSource& mic) : mic_(mic) {
    home_.root = root + QStringLiteral("/home");
    bus_ = std::make_unique<apprig::PrivateBus>(root + QStringLiteral("/bus"));
    const QString folder = home_.data() + QStringLiteral("/Murel/Models/whisper");
    QDir().mkpath(folder);
    const QString file = model.artifacts[0].filename;
    QFile::link(QDir(model.storageDirectory).filePath(file), folder + QLatin1Char('/') + file);
    QDir().mkpath(home_.config() + QStringLiteral("/Murel"));
    UserDefaults defaults(home_.defaultsFile());
    defaults.setValue(QStringLiteral("selectedWhisperModel"), model.id.rawValue);
    defaults.setValue(QString::fromLatin1(AudioDeviceManager::kSelectedUIDKey), mic.name());
    defaults.setValue(QStringLiteral("hotKeyCombo"), KeyCombo(Key::f6, 0).rawValue());
    defaults.setValue(QStringLiteral("activationMode"), QStringLiteral("toggle"));
    defaults.setValue(QStringLiteral("soundCuesEnabled"), false);
    const QString executable = qEnvironmentVariableIsSet("MUREL_BENCH_APP")
                                   ? qEnvironmentVariable("MUREL_BENCH_APP")
                                   : test::buildDir() + QStringLiteral("/bin/murel");
    app_ = apprig::startApp(executable, home_, bus_->address());
    if (!apprig::pump([&] { return home_.log().contains(QStringLiteral("  session  bootstrap")); }, 60s))
      throw std::runtime_error("the application did not start");
  }
  ~Launch() {
    ::kill(static_cast<pid_t>(app_->processId()), SIGTERM);
    if (!app_->waitForFinished(10000)) app_->kill();
  }

  // One dictation of `speech`, the recording held open for at least as long as
  // the speech lasts; the release-to-text time in ms.
  double dictate(const AudioSamples& speech) {
    const size_t before = eventTimes(home_.log(), QStringLiteral("deliver"), QStringLiteral("pasted")).size();
    const size_t starts = eventTimes(home_.log(), QStringLiteral("session"), QStringLiteral("record start")).size();
    if (!apprig::pump(
            [&] {
              test::xdotool({QStringLiteral("key"), QStringLiteral("F6")});
              return apprig::pump(
                  [&] {
                    return eventTimes(home_.log(), QStringLiteral("session"), QStringLiteral("record start")).size() >
                           starts;
                  },
                  5s);
            },
            60s))
      throw std::runtime_error("no recording started");
    QElapsedTimer speaking;
    speaking.start();
    if (!mic_.write(pcmOf(speech))) throw std::runtime_error("the microphone took no samples");
    const qint64 speechMs = qint64(speech.size()) * 1000 / 16000;
    apprig::pump([&] { return speaking.elapsed() >= speechMs + 300; }, std::chrono::milliseconds(speechMs + 1000));
    test::xdotool({QStringLiteral("key"), QStringLiteral("F6")});
    if (!apprig::pump(
            [&] {
              return eventTimes(home_.log(), QStringLiteral("deliver"), QStringLiteral("pasted")).size() > before;
            },
            300s))
      throw std::runtime_error("no text was pasted: " + home_.log().toStdString());
    const QTime stop = eventTimes(home_.log(), QStringLiteral("session"), QStringLiteral("record stop")).back();
    const QTime pasted = eventTimes(home_.log(), QStringLiteral("deliver"), QStringLiteral("pasted")).back();
    return static_cast<double>(stop.msecsTo(pasted));
  }

 private:
  apprig::Home home_;
  std::unique_ptr<apprig::PrivateBus> bus_;
  std::unique_ptr<QProcess> app_;
  test::PipeSource& mic_;
};

void BM_FirstDictationAfterLaunch(benchmark::State& state) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") || !test::pulseAvailable()) {
    state.SkipWithError("needs the rig (scripts/rig)");
    return;
  }
  const SpeechModelDescriptor model = bench::smallEnglishModel();
  const AudioSamples speech = test::concat(
      {test::silenceSamples(0.3),
       test::spokenSamples(QStringLiteral("Please send the quarterly report to Anna before the meeting on Thursday.")),
       test::silenceSamples(0.3)});
  test::PipeSource mic(QStringLiteral("murel_bench_mic"), 16000, 1);
  test::PasteTarget target;
  if (!mic.loaded() || !target.isReady()) {
    state.SkipWithError("no microphone or paste target");
    return;
  }
  QTemporaryDir root;
  // MUREL_BENCH_KEEP=1 keeps each launch's home (its diagnostics log) and prints the times.
  const bool keep = qEnvironmentVariableIsSet("MUREL_BENCH_KEEP");
  root.setAutoRemove(!keep);
  std::vector<double> firsts;
  std::vector<double> laters;
  double worstRatio = 0;
  int launch = 0;
  for (auto _ : state) {
    Launch app(root.filePath(QString::number(++launch)), model, mic);
    std::vector<double> times;
    for (int i = 0; i < kDictationsPerLaunch; ++i) times.push_back(app.dictate(speech));
    const std::vector<double> later(times.begin() + 1, times.end());
    if (keep) {
      QStringList row;
      for (const double ms : times) row << QString::number(ms);
      fprintf(stderr, "launch %d in %s: %s ms\n", launch, qPrintable(root.path()), qPrintable(row.join(' ')));
    }
    firsts.push_back(times.front());
    laters.insert(laters.end(), later.begin(), later.end());
    worstRatio = std::max(worstRatio, times.front() / median(later));
  }
  state.counters["speech_s"] = static_cast<double>(speech.size()) / 16000.0;
  state.counters["first_ms"] = median(firsts);
  state.counters["later_ms"] = median(laters);
  state.counters["first_vs_later"] = median(firsts) / median(laters);
  state.counters["worst_launch_first_vs_later"] = worstRatio;
}
BENCHMARK(BM_FirstDictationAfterLaunch)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
