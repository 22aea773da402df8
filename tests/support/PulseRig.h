#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QProcess;

#include <memory>
#include <optional>
#include <vector>

namespace murel::test {

// Helpers for tests that use the rig's PulseAudio (PULSE_SERVER).

// Runs pactl; nullopt when it fails.
std::optional<QString> pactl(const QStringList& args);
bool pulseAvailable();
// The server index of a source by name; nullopt when there is none.
std::optional<quint32> sourceIndex(const QString& name);

// A microphone of the test's own: module-pipe-source on a private fifo, fed with
// s16le samples. Unloaded when it goes out of scope. While the writer end is
// open the source delivers exactly what is written (with no writer it would
// deliver silence in real time).
class PipeSource {
 public:
  // `format` is a PulseAudio sample format name: s16le, s32le, s24le, float32le…
  PipeSource(const QString& name, int rate, int channels, const QString& description = {},
             const QString& format = QStringLiteral("s16le"));
  ~PipeSource();
  PipeSource(const PipeSource&) = delete;
  PipeSource& operator=(const PipeSource&) = delete;

  bool loaded() const { return module_.has_value(); }
  const QString& name() const { return name_; }
  std::optional<quint32> index() const { return sourceIndex(name_); }
  int rate() const { return rate_; }
  int channels() const { return channels_; }
  int bytesPerSample() const { return bytesPerSample_; }
  // Opens the writer end (once) and writes all of `pcm`.
  bool write(const QByteArray& pcm);
  void unload();

 private:
  QString name_;
  QString fifo_;
  int rate_;
  int channels_;
  int bytesPerSample_;
  int fd_ = -1;
  std::optional<QString> module_;
};

// A sound server of the test's own on a socket in `dir`, with the given modules
// (one "-L" argument each), so a test can stop and start it, or give it devices
// the rig's server must not have, without disturbing other tests.
class PrivateServer {
 public:
  PrivateServer(QString dir, QStringList modules);
  ~PrivateServer();
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  // For PULSE_SERVER.
  QString address() const { return QStringLiteral("unix:") + dir_ + QStringLiteral("/native"); }
  // Starts the server and waits until it answers.
  bool start();
  // Kills it, as a crash would.
  void stop();
  // Stops it answering (SIGSTOP) while its connections stay open, as a hung
  // server would; false goes on again.
  void freeze(bool frozen);

 private:
  QString dir_;
  QStringList modules_;
  std::unique_ptr<QProcess> process_;
};

// Interleaved s16le: a sine of `amplitude` (peak, full scale 1) on every channel.
QByteArray sineS16(int rate, int channels, double seconds, double frequency, double amplitude);
// The same in another little-endian sample format (s16le, s24le, s24-32le, s32le, float32le).
QByteArray sine(const QString& format, int rate, int channels, double seconds, double frequency, double amplitude);

// What soxi says about a sound file.
struct SoundFileInfo {
  int bits = 0;
  int channels = 0;
  int rate = 0;
  double seconds = 0;
};
std::optional<SoundFileInfo> soxi(const QString& path);

// Interleaved samples of a 16-bit WAV as floats (-1..1), with its format.
struct Samples {
  int rate = 0;
  int channels = 0;
  std::vector<float> data;
};
std::optional<Samples> readWav(const QString& path);

}  // namespace murel::test
