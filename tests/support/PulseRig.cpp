#include "support/PulseRig.h"

#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace murel::test {

std::optional<QString> pactl(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral("pactl"), args);
  if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return std::nullopt;
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

bool pulseAvailable() { return !qEnvironmentVariableIsEmpty("PULSE_SERVER") && pactl({QStringLiteral("info")}); }

std::optional<quint32> sourceIndex(const QString& name) {
  const auto out = pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")});
  if (!out) return std::nullopt;
  for (const QString& line : out->split(QLatin1Char('\n'))) {
    const QStringList cols = line.split(QLatin1Char('\t'));
    if (cols.size() > 1 && cols[1] == name) return cols[0].toUInt();
  }
  return std::nullopt;
}

namespace {
int sampleBytes(const QString& format) {
  if (format == QLatin1String("s16le")) return 2;
  if (format == QLatin1String("s24le")) return 3;
  return 4;
}
}  // namespace

PipeSource::PipeSource(const QString& name, int rate, int channels, const QString& description, const QString& format)
    : name_(name), rate_(rate), channels_(channels), bytesPerSample_(sampleBytes(format)) {
  // Writing after the source is gone must fail, not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  fifo_ = freshDir(QStringLiteral("fifo-") + name) + QStringLiteral("/mic.fifo");
  const QString desc = description.isEmpty() ? name : description;
  module_ = pactl(
      {QStringLiteral("load-module"), QStringLiteral("module-pipe-source"), QStringLiteral("source_name=") + name,
       QStringLiteral("file=") + fifo_, QStringLiteral("format=") + format, QStringLiteral("rate=%1").arg(rate),
       QStringLiteral("channels=%1").arg(channels), QStringLiteral("source_properties=device.description=") + desc});
}

PipeSource::~PipeSource() {
  unload();
  if (fd_ >= 0) ::close(fd_);
}

void PipeSource::unload() {
  if (!module_) return;
  pactl({QStringLiteral("unload-module"), *module_});
  module_.reset();
}

bool PipeSource::write(const QByteArray& pcm) {
  if (fd_ < 0) fd_ = ::open(QFile::encodeName(fifo_).constData(), O_WRONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  qsizetype done = 0;
  while (done < pcm.size()) {
    const ssize_t n = ::write(fd_, pcm.constData() + done, static_cast<size_t>(pcm.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

PrivateServer::PrivateServer(QString dir, QStringList modules) : dir_(std::move(dir)), modules_(std::move(modules)) {}

PrivateServer::~PrivateServer() { stop(); }

bool PrivateServer::start() {
  stop();
  // A killed server leaves its fifos behind, and a pipe source refuses an existing one.
  for (const QString& fifo : QDir(dir_).entryList({QStringLiteral("*")}, QDir::System))
    QFile::remove(dir_ + QLatin1Char('/') + fifo);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), dir_);
  env.insert(QStringLiteral("PULSE_STATE_PATH"), dir_);
  // Off every bus: the rig's server (or another private one) holds the sound
  // server's bus name, and a server without a bus carries on without it.
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
             QStringLiteral("unix:path=") + dir_ + QStringLiteral("/no-bus"));
  env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
             QStringLiteral("unix:path=") + dir_ + QStringLiteral("/no-bus"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_);
  env.remove(QStringLiteral("DISPLAY"));
  process_ = std::make_unique<QProcess>();
  process_->setProcessEnvironment(env);
  QStringList args = {QStringLiteral("-n"),
                      QStringLiteral("--daemonize=no"),
                      QStringLiteral("--exit-idle-time=-1"),
                      QStringLiteral("--use-pid-file=no"),
                      QStringLiteral("--system=no"),
                      QStringLiteral("--disable-shm=yes"),
                      QStringLiteral("--log-target=file:") + dir_ + QStringLiteral("/log"),
                      QStringLiteral("-L"),
                      QStringLiteral("module-native-protocol-unix socket=%1/native auth-anonymous=1").arg(dir_)};
  for (const QString& module : modules_) args << QStringLiteral("-L") << module;
  process_->start(QStringLiteral("pulseaudio"), args);
  if (!process_->waitForStarted(5000)) return false;
  const bool answers = waitUntil(
      [&] {
        if (process_->state() == QProcess::NotRunning) return true;
        QProcess info;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("PULSE_SERVER"), address());
        info.setProcessEnvironment(e);
        info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
        return info.waitForFinished(5000) && info.exitCode() == 0;
      },
      std::chrono::seconds(30));
  if (answers && process_->state() != QProcess::NotRunning) return true;
  QFile log(dir_ + QStringLiteral("/log"));
  if (log.open(QIODevice::ReadOnly))
    std::fprintf(stderr, "private sound server failed:\n%s\n", log.readAll().constData());
  return false;
}

void PrivateServer::freeze(bool frozen) {
  if (!process_ || process_->state() == QProcess::NotRunning) return;
  ::kill(static_cast<pid_t>(process_->processId()), frozen ? SIGSTOP : SIGCONT);
}

void PrivateServer::stop() {
  if (!process_ || process_->state() == QProcess::NotRunning) return;
  process_->kill();
  process_->waitForFinished(5000);
}

QByteArray sineS16(int rate, int channels, double seconds, double frequency, double amplitude) {
  const int frames = static_cast<int>(std::lround(seconds * rate));
  QByteArray out(qsizetype(frames) * channels * 2, Qt::Uninitialized);
  auto* p = reinterpret_cast<int16_t*>(out.data());
  for (int i = 0; i < frames; ++i) {
    const double v = amplitude * std::sin(2 * M_PI * frequency * i / rate);
    for (int c = 0; c < channels; ++c) *p++ = static_cast<int16_t>(std::lround(v * 32767));
  }
  return out;
}

QByteArray sine(const QString& format, int rate, int channels, double seconds, double frequency, double amplitude) {
  const int frames = static_cast<int>(std::lround(seconds * rate));
  const int bytes = sampleBytes(format);
  QByteArray out;
  out.reserve(qsizetype(frames) * channels * bytes);
  for (int i = 0; i < frames; ++i) {
    const double v = amplitude * std::sin(2 * M_PI * frequency * i / rate);
    char sample[4];
    if (format == QLatin1String("float32le")) {
      const float f = static_cast<float>(v);
      std::memcpy(sample, &f, 4);
    } else {
      const bool is24 = format.startsWith(QLatin1String("s24"));
      const double scale = bytes == 2 ? 32767.0 : (is24 ? 8388607.0 : 2147483647.0);
      const auto x = static_cast<int32_t>(std::lround(v * scale));
      for (int b = 0; b < bytes; ++b) sample[b] = static_cast<char>((x >> (8 * b)) & 0xFF);
    }
    for (int c = 0; c < channels; ++c) out.append(sample, bytes);
  }
  return out;
}

std::optional<SoundFileInfo> soxi(const QString& path) {
  auto ask = [&](const char* flag) -> std::optional<QString> {
    QProcess p;
    p.start(QStringLiteral("soxi"), {QLatin1String(flag), path});
    if (!p.waitForFinished(10000) || p.exitCode() != 0) return std::nullopt;
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
  };
  const auto b = ask("-b"), c = ask("-c"), r = ask("-r"), d = ask("-D");
  if (!b || !c || !r || !d) return std::nullopt;
  return SoundFileInfo{b->toInt(), c->toInt(), r->toInt(), d->toDouble()};
}

std::optional<Samples> readWav(const QString& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
  if (!f) return std::nullopt;
  Samples s;
  s.rate = info.samplerate;
  s.channels = info.channels;
  s.data.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
  const sf_count_t got = sf_readf_float(f, s.data.data(), info.frames);
  s.data.resize(static_cast<size_t>(got) * static_cast<size_t>(info.channels));
  sf_close(f);
  return s;
}

}  // namespace murel::test
