#include "audio/AudioRecorder.h"

#include "platform/AudioCapture.h"
#include "runtime/AppPaths.h"
#include "runtime/Cancellation.h"
#include "runtime/DiagLog.h"
#include "runtime/PrivateFiles.h"
#include "runtime/SystemLog.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QPointer>
#include <QPromise>

#include <sndfile.h>

#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

namespace murel {
namespace {

const Logger kLog("recorder");

// Reported at stop when audio was lost on the way to the file (the server's
// buffer or ours overflowed).
constexpr int32_t kOverrunStatus = ('o' << 24) | ('v' << 16) | ('r' << 8) | 'n';

// Ring buffer between the audio thread and the writer: this much audio may queue
// up while the disk is slow.
constexpr uint32_t kRingSeconds = 2;
// How often the writer empties the ring when nothing hurries it.
constexpr long kWriterPeriodNs = 50'000'000;
// How long a stop goes on taking what the server still holds, in case the
// disk has stopped answering.
constexpr std::chrono::seconds kFinalDrainLimit{5};

using Sample = platform::CaptureFormat::Sample;

QString recordingFilePath() {
  const QString folder = AppPaths::recordings();
  if (folder.isEmpty()) {
    throw RecordingFolderError(QStringLiteral("No folder for recordings: HOME is not set"));
  }
  if (!PrivateFiles::makeFolder(folder)) {
    const int error = errno;
    throw RecordingFolderError(QStringLiteral("Could not create the folder \u201C%1\u201D: %2")
                                   .arg(folder, QString::fromLocal8Bit(std::strerror(error))));
  }
  const QString stamp = QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
  // The process id keeps two processes (no session bus, no lock) from ever
  // writing one file; the leftover clean-up at launch still knows the name.
  return folder + QStringLiteral("/recording_") + stamp + QLatin1Char('_') +
         QString::number(QCoreApplication::applicationPid()) + QStringLiteral(".wav");
}

// Creates the recording file for the user alone (0600 whatever the umask), its
// WAV header already on disk: a full disk fails here, with the system's reason,
// not later in the middle of the dictation. The file of a failed attempt is removed.
SNDFILE* createRecordingFile(const QString& path, SF_INFO& info) {
  const QByteArray native = QFile::encodeName(path);
  const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw RecorderError::fileCreationFailed(errno);
  ::fchmod(fd, 0600);
  errno = 0;
  SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
  int failure = errno;
  if (file && sf_command(file, SFC_UPDATE_HEADER_NOW, nullptr, 0) == 0 && ::fsync(fd) != 0) failure = errno;
  if (file && failure == 0 && sf_error(file) == SF_ERR_NO_ERROR) return file;
  if (failure == 0) failure = errno;
  // A refused open has closed the descriptor already.
  if (file) sf_close(file);
  ::unlink(native.constData());
  throw RecorderError::fileCreationFailed(failure);
}

}  // namespace

// Single-producer single-consumer byte ring: the audio thread writes, the writer
// thread reads; no locks, no allocation after construction.
class ByteRing {
 public:
  explicit ByteRing(size_t capacity) : buffer_(capacity) {}

  size_t capacity() const { return buffer_.size(); }
  size_t readable() const {
    return static_cast<size_t>(head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_relaxed));
  }
  // Producer side: room left for writing.
  size_t writable() const {
    return buffer_.size() -
           static_cast<size_t>(head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire));
  }

  // Writes all of `n` bytes (zeros when `data` is null) or nothing.
  bool write(const void* data, size_t n) {
    const uint64_t head = head_.load(std::memory_order_relaxed);
    const uint64_t tail = tail_.load(std::memory_order_acquire);
    if (buffer_.size() - static_cast<size_t>(head - tail) < n) return false;
    const size_t at = static_cast<size_t>(head % buffer_.size());
    const size_t first = std::min(n, buffer_.size() - at);
    copyIn(at, data, 0, first);
    copyIn(0, data, first, n - first);
    head_.store(head + n, std::memory_order_release);
    return true;
  }

  size_t read(char* out, size_t max) {
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    const size_t n = std::min(max, static_cast<size_t>(head_.load(std::memory_order_acquire) - tail));
    const size_t at = static_cast<size_t>(tail % buffer_.size());
    const size_t first = std::min(n, buffer_.size() - at);
    std::memcpy(out, buffer_.data() + at, first);
    std::memcpy(out + first, buffer_.data(), n - first);
    tail_.store(tail + n, std::memory_order_release);
    return n;
  }

 private:
  void copyIn(size_t at, const void* data, size_t from, size_t n) {
    if (n == 0) return;
    if (data) {
      std::memcpy(buffer_.data() + at, static_cast<const char*>(data) + from, n);
    } else {
      std::memset(buffer_.data() + at, 0, n);
    }
  }

  std::vector<char> buffer_;
  std::atomic<uint64_t> head_{0};
  std::atomic<uint64_t> tail_{0};
};

// Everything of one capture. Built on the main thread before the stream starts,
// fed by the sound server's thread while it runs, freed after it is gone.
struct CaptureContext final : platform::CaptureSink {
  CaptureContext(const platform::CaptureFormat& f, size_t ringBytes)
      : format(f),
        bytesPerFrame(f.bytesPerFrame()),
        ring(ringBytes),
        scratch(size_t(AudioRecorder::kMaxFrames) * bytesPerFrame) {
    sem_init(&dataReady, 0, 0);
  }
  ~CaptureContext() override { sem_destroy(&dataReady); }

  // Audio thread: no allocation, locks or file I/O.
  bool accept(const void* data, size_t bytes) override {
    // A piece that does not fit yet stays with the server (nothing is lost):
    // the writer takes it over once it has made room.
    if (bytes <= ring.capacity() && ring.writable() < bytes) {
      backlog.store(true, std::memory_order_release);
      sem_post(&dataReady);
      return false;
    }
    push(data, bytes);
    return true;
  }

  void audioLost(int32_t status) override {
    renderStatus.store(status != 0 ? status : kOverrunStatus, std::memory_order_relaxed);
  }

  void push(const void* data, size_t bytes) {
    size_t frames = bytes / bytesPerFrame;
    const char* at = static_cast<const char*>(data);
    while (frames > 0) {
      const size_t block = std::min<size_t>(frames, AudioRecorder::kMaxFrames);
      const size_t n = block * bytesPerFrame;
      if (ring.write(at, n)) {
        capturedFrames.fetch_add(block, std::memory_order_relaxed);
      } else {
        droppedFrames.fetch_add(block, std::memory_order_relaxed);
        renderStatus.store(kOverrunStatus, std::memory_order_relaxed);
      }
      currentLevel.store(at ? level(at, block) : 0.0f, std::memory_order_relaxed);
      if (at) at += n;
      frames -= block;
    }
    // The writer wakes on its own every few tens of milliseconds; it is woken
    // early only when the ring fills up, which saves two context switches a piece.
    if (ring.readable() > ring.capacity() / 4) sem_post(&dataReady);
  }

  // Root mean square of every sample of the block, times 10, at most 1.
  float level(const char* data, size_t frames) const {
    const size_t samples = frames * format.channels;
    double sum = 0;
    switch (format.sample) {
      case Sample::Float32: {
        for (size_t i = 0; i < samples; ++i) {
          float v;
          std::memcpy(&v, data + i * 4, 4);
          sum += double(v) * v;
        }
        break;
      }
      case Sample::Int32: {
        for (size_t i = 0; i < samples; ++i) {
          int32_t v;
          std::memcpy(&v, data + i * 4, 4);
          const double x = v / 2147483648.0;
          sum += x * x;
        }
        break;
      }
      case Sample::Int16: {
        for (size_t i = 0; i < samples; ++i) {
          int16_t v;
          std::memcpy(&v, data + i * 2, 2);
          const double x = v / 32768.0;
          sum += x * x;
        }
        break;
      }
    }
    const double rms = std::sqrt(sum / double(samples > 1 ? samples : 1));
    return static_cast<float>(std::min(1.0, rms * 10.0));
  }

  // Writer thread: moves whole frames from the ring into the file until told
  // to stop, then takes what the server still holds.
  void writerLoop() {
    for (;;) {
      timespec until{};
      clock_gettime(CLOCK_REALTIME, &until);
      until.tv_nsec += kWriterPeriodNs;
      if (until.tv_nsec >= 1'000'000'000) {
        until.tv_sec += 1;
        until.tv_nsec -= 1'000'000'000;
      }
      sem_timedwait(&dataReady, &until);
      const bool stopping = stopWriter.load(std::memory_order_acquire);
      writeAvailable();
      if (!stopping) continue;
      const auto giveUp = std::chrono::steady_clock::now() + kFinalDrainLimit;
      while (!stream->pull() && std::chrono::steady_clock::now() < giveUp) writeAvailable();
      writeAvailable();
      return;
    }
  }

  // The writer thread, or the main thread once the writer has ended.
  void writeAvailable() {
    for (;;) {
      carried += ring.read(scratch.data() + carried, scratch.size() - carried);
      const size_t frames = carried / bytesPerFrame;
      if (frames == 0) break;
      writeFrames(scratch.data(), frames);
      const size_t used = frames * bytesPerFrame;
      std::memmove(scratch.data(), scratch.data() + used, carried - used);
      carried -= used;
      if (backlog.exchange(false, std::memory_order_acq_rel)) stream->pull();
    }
  }

  void writeFrames(const char* data, size_t frames) {
    const auto count = static_cast<sf_count_t>(frames);
    switch (format.sample) {
      case Sample::Float32: sf_writef_float(file, reinterpret_cast<const float*>(data), count); break;
      case Sample::Int32: sf_writef_int(file, reinterpret_cast<const int*>(data), count); break;
      case Sample::Int16: sf_writef_short(file, reinterpret_cast<const short*>(data), count); break;
    }
  }

  platform::CaptureFormat format;
  uint32_t bytesPerFrame = 0;
  ByteRing ring;
  std::vector<char> scratch;  // the writer's; carried bytes are the start of a frame
  size_t carried = 0;
  sem_t dataReady;
  SNDFILE* file = nullptr;
  std::thread writer;
  std::atomic<bool> stopWriter{false};
  std::atomic<bool> backlog{false};
  quint32 deviceID = 0;
  QString path;
  bool started = false;   // a capture stopped before it started leaves no file
  QPromise<void> closed;  // finished once the file is closed

  std::atomic<float> currentLevel{0.0f};
  std::atomic<int32_t> renderStatus{0};
  std::atomic<uint64_t> capturedFrames{0};
  std::atomic<uint64_t> droppedFrames{0};

  // Last, so it goes first: the server's thread writes into the members above.
  std::unique_ptr<platform::CaptureStream> stream;
};

namespace {

RecorderError recorderError(const platform::CaptureError& error) {
  using Step = platform::CaptureError::Step;
  switch (error.step()) {
    case Step::Connect: return RecorderError::componentNotFound();
    case Step::Device: return RecorderError::osStatus(error.status(), QStringLiteral("choosing the input"));
    case Step::Format: return RecorderError::osStatus(error.status(), QStringLiteral("reading the input's format"));
    case Step::Stream: return RecorderError::osStatus(error.status(), QStringLiteral("setting up the capture stream"));
    case Step::StreamConnect: return RecorderError::osStatus(error.status(), QStringLiteral("connecting to the input"));
    case Step::Start: break;
  }
  return RecorderError::osStatus(error.status(), QStringLiteral("starting the capture"));
}

}  // namespace

RecorderError::RecorderError(Kind kind, int32_t status, QString stage)
    : kind_(kind), status_(status), stage_(std::move(stage)) {
  what_ = description().toUtf8();
}

QString RecorderError::formatStatus(int32_t status) {
  const auto u = static_cast<uint32_t>(status);
  char chars[4];
  for (int i = 0; i < 4; ++i) {
    chars[i] = static_cast<char>((u >> (24 - 8 * i)) & 0xFF);
    if (static_cast<unsigned char>(chars[i]) < 0x20 || static_cast<unsigned char>(chars[i]) > 0x7E) {
      return QString::number(status);
    }
  }
  return QLatin1Char('\'') + QString::fromLatin1(chars, 4) + QLatin1Char('\'');
}

QString RecorderError::description() const {
  switch (kind_) {
    case Kind::OsStatus:
      return QStringLiteral("Audio error while %1: %2 (%3)")
          .arg(stage_, formatStatus(status_), QString::number(status_));
    case Kind::ComponentNotFound: return QStringLiteral("The sound server can't be reached");
    case Kind::FileCreationFailed:
      // The system's own words ("No space left on device"), never a bare number.
      if (status_ != 0)
        return QStringLiteral("Could not create the recording file: ") + QString::fromLocal8Bit(std::strerror(status_));
      return QStringLiteral("Could not create recording file");
  }
  return {};
}

RecordingFolderError::RecordingFolderError(QString description)
    : description_(std::move(description)), what_(description_.toUtf8()) {}

AudioRecorder::AudioRecorder(platform::AudioCapture& capture, DiagLog& diagLog, QObject* parent)
    : QObject(parent), audioCapture_(capture), diagLog_(diagLog) {}

AudioRecorder::~AudioRecorder() {
  // The stream and the writer threads point into the captures; they must end first.
  stopNow();
}

float AudioRecorder::currentLevel() const {
  return capture_ ? capture_->currentLevel.load(std::memory_order_relaxed) : 0.0f;
}

uint64_t AudioRecorder::capturedFrames() const {
  return capture_ ? capture_->capturedFrames.load(std::memory_order_relaxed) : lastCaptured_;
}

uint64_t AudioRecorder::droppedFrames() const {
  return capture_ ? capture_->droppedFrames.load(std::memory_order_relaxed) : lastDropped_;
}

void AudioRecorder::setIsRecording(bool recording) {
  if (recording == isRecording_) return;
  isRecording_ = recording;
  Q_EMIT isRecordingChanged();
}

QCoro::Task<QString> AudioRecorder::startRecording(quint32 deviceID) {
  // A stop, another start or the recorder's end while this one waits moves it on.
  const uint64_t generation = ++generation_;
  QPointer<AudioRecorder> self(this);
  beginStop();
  setIsRecording(false);
  {
    // The last file must be closed first: the new one may get its name.
    auto finishing = awaitFinishing();
    co_await std::move(finishing);
  }
  if (!self || generation_ != generation) throw OperationCancelled();
  const QString path = recordingFilePath();

  std::optional<RecorderError> error;
  std::unique_ptr<platform::CaptureStream> stream;
  try {
    auto opening = audioCapture_.open(deviceID == 0 ? std::nullopt : std::optional<uint32_t>(deviceID - 1));
    stream = co_await std::move(opening);
  } catch (const platform::CaptureError& failure) {
    error = recorderError(failure);
  }
  if (!self || generation_ != generation) throw OperationCancelled();
  if (error) throw *error;

  const platform::CaptureFormat format = stream->format();
  const quint32 resolvedID = stream->sourceIndex() + 1;
  // At least a few of the server's largest pieces (its memory blocks are 64 KiB).
  const size_t ringBytes = std::max<size_t>(size_t(format.bytesPerFrame()) * format.rate * kRingSeconds, 512 * 1024);
  auto capture = std::make_unique<CaptureContext>(format, ringBytes);
  capture->deviceID = resolvedID;
  capture->path = path;
  capture->closed.start();

  SF_INFO info{};
  info.samplerate = static_cast<int>(format.rate);
  info.channels = format.channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  capture->file = createRecordingFile(path, info);
  // Float input beyond full scale is clipped rather than wrapped around.
  sf_command(capture->file, SFC_SET_CLIPPING, nullptr, SF_TRUE);

  CaptureContext* c = capture.get();
  c->stream = std::move(stream);
  capture_ = std::move(capture);
  AudioRecorder* owner = this;
  c->writer = std::thread([c, owner] {
    pthread_setname_np(pthread_self(), "murel-wavwriter");
    c->writerLoop();
    // The recorder's end joins this thread before it goes, and Qt drops the
    // call with it; else the main thread closes the file.
    QMetaObject::invokeMethod(
        owner, [owner, c] { owner->finishCapture(c); }, Qt::QueuedConnection);
  });

  try {
    auto starting = c->stream->start(*c, [this, resolvedID] { handleDeviceLost(resolvedID); });
    co_await std::move(starting);
  } catch (const platform::CaptureError& failure) {
    error = recorderError(failure);
  }
  if (!self || generation_ != generation) throw OperationCancelled();
  if (error) {
    auto stopping = stopRecording();
    co_await std::move(stopping);
    throw *error;
  }

  c->started = true;
  setIsRecording(true);
  diagLog_.log(QStringLiteral("audio"), QStringLiteral("start"),
               QStringLiteral("deviceID=%1 rate=%2 ch=%3").arg(resolvedID).arg(format.rate).arg(format.channels));
  co_return path;
}

QCoro::Task<void> AudioRecorder::stopRecording() {
  ++generation_;
  beginStop();
  setIsRecording(false);
  // Also what an earlier stop still finishes: the next file may have its name.
  auto finishing = awaitFinishing();
  co_await std::move(finishing);
}

void AudioRecorder::beginStop() {
  if (!capture_) return;
  CaptureContext& c = *capture_;
  lastCaptured_ = c.capturedFrames.load(std::memory_order_relaxed);
  lastDropped_ = c.droppedFrames.load(std::memory_order_relaxed);
  finishing_.push_back(std::move(capture_));
  if (c.writer.joinable()) {
    // What already arrived still belongs in the file: the writer takes it
    // over, also what the server still holds, and then reports back.
    c.stopWriter.store(true, std::memory_order_release);
    sem_post(&c.dataReady);
  } else {
    finishCapture(&c);
  }
}

QCoro::Task<void> AudioRecorder::awaitFinishing() {
  std::vector<QFuture<void>> pending;
  for (const auto& c : finishing_) pending.push_back(c->closed.future());
  for (QFuture<void>& future : pending) co_await future;
}

void AudioRecorder::finishCapture(CaptureContext* capture) {
  const auto it =
      std::find_if(finishing_.begin(), finishing_.end(), [capture](const auto& c) { return c.get() == capture; });
  if (it == finishing_.end()) return;
  std::unique_ptr<CaptureContext> done = std::move(*it);
  finishing_.erase(it);
  if (done->writer.joinable()) done->writer.join();  // it has returned already
  finalize(*done);
}

void AudioRecorder::finalize(CaptureContext& c) {
  c.stream.reset();
  // What came in between the writer's last look and the disconnect.
  if (c.file) c.writeAvailable();
  const int32_t status = c.renderStatus.load(std::memory_order_relaxed);
  if (status != 0) {
    const QString formatted = RecorderError::formatStatus(status);
    kLog.error(QStringLiteral("Audio render reported %1 \u2014 input may have dropped out").arg(formatted));
    diagLog_.log(QStringLiteral("audio"), QStringLiteral("render error"), QStringLiteral("status=") + formatted);
  }
  if (c.file) sf_close(c.file);
  c.file = nullptr;
  lastCaptured_ = c.capturedFrames.load(std::memory_order_relaxed);
  lastDropped_ = c.droppedFrames.load(std::memory_order_relaxed);
  // A half-made recording is of no use to anyone and would stay in Recordings.
  if (!c.started && !c.path.isEmpty()) QFile::remove(c.path);
  c.closed.finish();
}

void AudioRecorder::stopNow() {
  ++generation_;
  beginStop();
  while (!finishing_.empty()) {
    std::unique_ptr<CaptureContext> c = std::move(finishing_.back());
    finishing_.pop_back();
    if (c->writer.joinable()) {
      c->stopWriter.store(true, std::memory_order_release);
      sem_post(&c->dataReady);
      c->writer.join();
    }
    finalize(*c);
  }
  setIsRecording(false);
}

void AudioRecorder::handleDeviceLost(quint32 deviceID) {
  diagLog_.log(QStringLiteral("audio"), QStringLiteral("device lost"), QStringLiteral("deviceID=%1").arg(deviceID));
  kLog.error(QStringLiteral("Input device %1 disappeared while recording").arg(deviceID));
  if (onDeviceLost_) onDeviceLost_();
}

}  // namespace murel
