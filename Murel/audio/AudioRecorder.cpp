#include "audio/AudioRecorder.h"

#include "runtime/AppPaths.h"
#include "runtime/DiagLog.h"
#include "runtime/SystemLog.h"
#include "platform/pulse/PulseAudio.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QPointer>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <semaphore.h>
#include <thread>
#include <vector>

namespace murel {
namespace {

const Logger kLog("recorder");

// Reported at stop when audio was lost on the way to the file (the server's
// buffer or ours overflowed).
constexpr int32_t kOverrunStatus = ('o' << 24) | ('v' << 16) | ('r' << 8) | 'n';

constexpr std::chrono::milliseconds kStreamStartTimeout{3000};
// Data arrives in pieces of about this length: a lively level display, few wake-ups.
constexpr pa_usec_t kFragmentUsec = 20000;
// Ring buffer between the audio thread and the writer: this much audio may queue
// up while the disk is slow.
constexpr uint32_t kRingSeconds = 2;
// How often the writer empties the ring when nothing hurries it.
constexpr long kWriterPeriodNs = 50'000'000;

// The formats the capture takes as they are; anything else is converted by the server.
pa_sample_format_t captureFormat(pa_sample_format_t source) {
  switch (source) {
    case PA_SAMPLE_S16NE:
    case PA_SAMPLE_FLOAT32NE:
    case PA_SAMPLE_S32NE:
      return source;
    case PA_SAMPLE_U8:
    case PA_SAMPLE_ALAW:
    case PA_SAMPLE_ULAW:
    case PA_SAMPLE_S16RE:
      return PA_SAMPLE_S16NE;
    case PA_SAMPLE_S32RE:
      return PA_SAMPLE_S32NE;
    default:
      return PA_SAMPLE_FLOAT32NE;
  }
}

QString recordingFilePath() {
  const QString folder = AppPaths::recordings();
  if (folder.isEmpty()) {
    throw RecordingFolderError(QStringLiteral("No folder for recordings: HOME is not set"));
  }
  if (!QDir().mkpath(folder)) {
    const int error = errno;
    throw RecordingFolderError(QStringLiteral("Could not create the folder \u201C%1\u201D: %2")
                                   .arg(folder, QString::fromLocal8Bit(std::strerror(error))));
  }
  const QString stamp = QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
  return folder + QStringLiteral("/recording_") + stamp + QStringLiteral(".wav");
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
// used by the PulseAudio thread while it runs, freed after it is gone.
struct CaptureContext {
  CaptureContext(pa_sample_spec s, size_t ringBytes) : spec(s), ring(ringBytes) {
    bytesPerFrame = static_cast<uint32_t>(pa_frame_size(&spec));
    sem_init(&dataReady, 0, 0);
  }
  ~CaptureContext() { sem_destroy(&dataReady); }

  // PulseAudio thread, main-loop lock held. No allocation, locks or file I/O.
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

  // Moves what the server has buffered for us into the ring, piece by piece.
  // A piece that does not fit yet stays with the server (nothing is lost): the
  // writer takes it over once it has made room. Main-loop lock held.
  void drain() {
    while (stream && pa_stream_readable_size(stream) > 0) {
      const void* data = nullptr;
      size_t bytes = 0;
      if (pa_stream_peek(stream, &data, &bytes) < 0) {
        renderStatus.store(pa_context_errno(pa_stream_get_context(stream)), std::memory_order_relaxed);
        return;
      }
      if (bytes == 0) return;
      if (bytes <= ring.capacity() && ring.writable() < bytes) {
        backlog.store(true, std::memory_order_release);
        sem_post(&dataReady);
        return;
      }
      // A hole (no data for a stretch) is kept as silence so the file keeps its timing.
      push(data, bytes);
      pa_stream_drop(stream);
    }
  }

  // Root mean square of every sample of the block, times 10, at most 1.
  float level(const char* data, size_t frames) const {
    const size_t samples = frames * spec.channels;
    double sum = 0;
    switch (spec.format) {
      case PA_SAMPLE_FLOAT32NE: {
        for (size_t i = 0; i < samples; ++i) {
          float v;
          std::memcpy(&v, data + i * 4, 4);
          sum += double(v) * v;
        }
        break;
      }
      case PA_SAMPLE_S32NE: {
        for (size_t i = 0; i < samples; ++i) {
          int32_t v;
          std::memcpy(&v, data + i * 4, 4);
          const double x = v / 2147483648.0;
          sum += x * x;
        }
        break;
      }
      default: {
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

  // Writer thread: moves whole frames from the ring into the file until told to stop.
  void writerLoop() {
    std::vector<char> scratch(size_t(AudioRecorder::kMaxFrames) * bytesPerFrame);
    size_t carried = 0;
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
      for (;;) {
        carried += ring.read(scratch.data() + carried, scratch.size() - carried);
        const size_t frames = carried / bytesPerFrame;
        if (frames == 0) break;
        writeFrames(scratch.data(), frames);
        const size_t used = frames * bytesPerFrame;
        std::memmove(scratch.data(), scratch.data() + used, carried - used);
        carried -= used;
        if (backlog.exchange(false, std::memory_order_acq_rel)) {
          pa_threaded_mainloop_lock(mainloop);
          if (stream && pa_stream_get_state(stream) == PA_STREAM_READY) drain();
          pa_threaded_mainloop_unlock(mainloop);
        }
      }
      if (stopping) return;
    }
  }

  void writeFrames(const char* data, size_t frames) {
    const auto count = static_cast<sf_count_t>(frames);
    switch (spec.format) {
      case PA_SAMPLE_FLOAT32NE:
        sf_writef_float(file, reinterpret_cast<const float*>(data), count);
        break;
      case PA_SAMPLE_S32NE:
        sf_writef_int(file, reinterpret_cast<const int*>(data), count);
        break;
      default:
        sf_writef_short(file, reinterpret_cast<const short*>(data), count);
        break;
    }
  }

  pa_sample_spec spec;
  uint32_t bytesPerFrame = 0;
  ByteRing ring;
  sem_t dataReady;
  SNDFILE* file = nullptr;
  std::thread writer;
  std::atomic<bool> stopWriter{false};
  pa_threaded_mainloop* mainloop = nullptr;
  pa_stream* stream = nullptr;  // changed only under the main-loop lock
  std::atomic<bool> backlog{false};
  quint32 deviceID = 0;

  std::atomic<float> currentLevel{0.0f};
  std::atomic<int32_t> renderStatus{0};
  std::atomic<uint64_t> capturedFrames{0};
  std::atomic<uint64_t> droppedFrames{0};

  // PulseAudio thread: tells the recorder on the main thread.
  void reportLost() {
    QPointer<AudioRecorder> target = recorder;
    const uint64_t gen = generation;
    const quint32 id = deviceID;
    QMetaObject::invokeMethod(
        target.data(), [target, gen, id] { if (target) target->handleDeviceLost(gen, id); }, Qt::QueuedConnection);
  }

  // Set under the main-loop lock once the stream runs; a failure after that is a lost device.
  bool armed = false;
  bool lostReported = false;
  QPointer<AudioRecorder> recorder;
  uint64_t generation = 0;
};

namespace {

void onRead(pa_stream*, size_t, void* user) { static_cast<CaptureContext*>(user)->drain(); }

void onOverflow(pa_stream*, void* user) {
  static_cast<CaptureContext*>(user)->renderStatus.store(kOverrunStatus, std::memory_order_relaxed);
}

void onState(pa_stream* stream, void* user) {
  auto* c = static_cast<CaptureContext*>(user);
  const pa_stream_state_t state = pa_stream_get_state(stream);
  if (state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED) return;
  if (!c->armed || c->lostReported) return;
  // The server killed the stream: with PA_STREAM_DONT_MOVE that means the source is gone.
  c->lostReported = true;
  c->reportLost();
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
      return QStringLiteral("Audio error while %1: %2 (%3)").arg(stage_, formatStatus(status_), QString::number(status_));
    case Kind::ComponentNotFound:
      return QStringLiteral("The sound server can't be reached");
    case Kind::FileCreationFailed:
      return QStringLiteral("Could not create recording file");
  }
  return {};
}

RecordingFolderError::RecordingFolderError(QString description)
    : description_(std::move(description)), what_(description_.toUtf8()) {}

AudioRecorder::AudioRecorder(QObject* parent)
    : AudioRecorder(platform::PulseAudio::shared(), DiagLog::shared(), parent) {}

AudioRecorder::AudioRecorder(platform::PulseAudio& pulse, DiagLog& diagLog, QObject* parent)
    : QObject(parent), pulse_(pulse), diagLog_(diagLog) {}

AudioRecorder::~AudioRecorder() {
  // The stream and the writer thread point into the capture; they must end first.
  stopProcedure();
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

void AudioRecorder::fail(const RecorderError& error) {
  stopProcedure();
  // A half-made recording is of no use to anyone and would stay in Recordings.
  if (!pendingFile_.isEmpty()) QFile::remove(pendingFile_);
  pendingFile_.clear();
  throw error;
}

QString AudioRecorder::startRecording(quint32 deviceID) {
  stopProcedure();
  const QString path = recordingFilePath();

  if (!pulse_.ensureConnected()) fail(RecorderError::componentNotFound());

  if (deviceID == 0) {
    // Without a default microphone the id stays 0 and the next step fails. A
    // machine without one often names an output's monitor the default source:
    // recording that would capture whatever plays instead of the user.
    if (const auto name = pulse_.defaultSourceName()) {
      const auto source = pulse_.sourceByName(*name);
      if (source && !source->isMonitor) deviceID = source->index + 1;
    }
  }
  const auto source = deviceID == 0 ? std::nullopt : pulse_.sourceByIndex(deviceID - 1);
  if (!source) fail(RecorderError::osStatus(PA_ERR_NOENTITY, QStringLiteral("choosing the input")));

  if (!pa_sample_spec_valid(&source->sampleSpec)) {
    fail(RecorderError::osStatus(PA_ERR_NOTSUPPORTED, QStringLiteral("reading the input's format")));
  }
  pa_sample_spec spec = source->sampleSpec;
  spec.format = captureFormat(spec.format);
  pa_channel_map map = source->channelMap;
  if (!pa_channel_map_valid(&map) || map.channels != spec.channels) {
    pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
  }

  // At least a few of the server's largest pieces (its memory blocks are 64 KiB).
  const size_t ringBytes = std::max<size_t>(pa_bytes_per_second(&spec) * kRingSeconds, 512 * 1024);
  auto capture = std::make_unique<CaptureContext>(spec, ringBytes);
  capture->deviceID = deviceID;
  capture->mainloop = pulse_.mainloop();
  capture->recorder = this;
  capture->generation = ++generation_;

  int streamError = 0;
  {
    platform::PulseAudio::Lock lock(pulse_);
    pa_context* context = pulse_.context();
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "production");
    capture->stream = context ? pa_stream_new_with_proplist(context, "Dictation", &spec, &map, props) : nullptr;
    pa_proplist_free(props);
    if (!capture->stream) streamError = context ? pa_context_errno(context) : PA_ERR_CONNECTIONTERMINATED;
  }
  if (!capture->stream) {
    fail(RecorderError::osStatus(streamError != PA_OK ? streamError : PA_ERR_INVALID, QStringLiteral("setting up the capture stream")));
  }

  SF_INFO info{};
  info.samplerate = static_cast<int>(spec.rate);
  info.channels = spec.channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  errno = 0;
  capture->file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
  if (!capture->file) {
    const int error = errno != 0 ? errno : sf_error(nullptr);
    capture_ = std::move(capture);
    if (error == 0) fail(RecorderError::fileCreationFailed());
    fail(RecorderError::osStatus(error, QStringLiteral("creating the recording file")));
  }
  pendingFile_ = path;
  // Float input beyond full scale is clipped rather than wrapped around.
  sf_command(capture->file, SFC_SET_CLIPPING, nullptr, SF_TRUE);

  CaptureContext* c = capture.get();
  capture_ = std::move(capture);
  c->writer = std::thread([c] {
    pthread_setname_np(pthread_self(), "murel-wavwriter");
    c->writerLoop();
  });

  {
    platform::PulseAudio::Lock lock(pulse_);
    pa_stream_set_read_callback(c->stream, &onRead, c);
    pa_stream_set_overflow_callback(c->stream, &onOverflow, c);
    pa_stream_set_state_callback(c->stream, &onState, c);
  }

  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentUsec, &spec));
  attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
  const QByteArray sourceName = source->name.toUtf8();
  int connectError = 0;
  {
    platform::PulseAudio::Lock lock(pulse_);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(c->stream, sourceName.constData(), &attr, flags) < 0) {
      connectError = pa_context_errno(pa_stream_get_context(c->stream));
    }
  }
  if (connectError != 0) fail(RecorderError::osStatus(connectError, QStringLiteral("connecting to the input")));

  const auto deadline = std::chrono::steady_clock::now() + kStreamStartTimeout;
  for (;;) {
    int startError = 0;
    {
      platform::PulseAudio::Lock lock(pulse_);
      const pa_stream_state_t state = pa_stream_get_state(c->stream);
      if (state == PA_STREAM_READY) {
        c->armed = true;
        break;
      }
      if (!PA_STREAM_IS_GOOD(state)) {
        startError = pa_context_errno(pa_stream_get_context(c->stream));
        if (startError == PA_OK) startError = PA_ERR_NOENTITY;
      } else if (std::chrono::steady_clock::now() >= deadline) {
        startError = PA_ERR_TIMEOUT;
      }
    }
    if (startError != 0) fail(RecorderError::osStatus(startError, QStringLiteral("starting the capture")));
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }

  pendingFile_.clear();
  setIsRecording(true);
  diagLog_.log(QStringLiteral("audio"), QStringLiteral("start"),
               QStringLiteral("deviceID=%1 rate=%2 ch=%3").arg(deviceID).arg(spec.rate).arg(spec.channels));
  return path;
}

void AudioRecorder::stopRecording() { stopProcedure(); }

void AudioRecorder::stopProcedure() {
  if (capture_) {
    CaptureContext& c = *capture_;
    if (c.stream) {
      // What already arrived still belongs in the file; the writer makes room
      // for it. Bounded, in case the disk has stopped answering.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      for (;;) {
        size_t left = 0;
        {
          platform::PulseAudio::Lock lock(pulse_);
          if (pa_stream_get_state(c.stream) == PA_STREAM_READY) {
            c.drain();
            left = pa_stream_readable_size(c.stream);
            if (left == static_cast<size_t>(-1)) left = 0;
          }
        }
        if (left == 0 || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      platform::PulseAudio::Lock lock(pulse_);
      pa_stream_set_read_callback(c.stream, nullptr, nullptr);
      pa_stream_set_overflow_callback(c.stream, nullptr, nullptr);
      pa_stream_set_state_callback(c.stream, nullptr, nullptr);
      pa_stream_disconnect(c.stream);
      pa_stream_unref(c.stream);
      c.stream = nullptr;
    }
    const int32_t status = c.renderStatus.load(std::memory_order_relaxed);
    if (status != 0) {
      const QString formatted = RecorderError::formatStatus(status);
      kLog.error(QStringLiteral("Audio render reported %1 \u2014 input may have dropped out").arg(formatted));
      diagLog_.log(QStringLiteral("audio"), QStringLiteral("render error"), QStringLiteral("status=") + formatted);
    }
    if (c.writer.joinable()) {
      c.stopWriter.store(true, std::memory_order_release);
      sem_post(&c.dataReady);
      c.writer.join();
    }
    if (c.file) sf_close(c.file);
    c.file = nullptr;
    lastCaptured_ = c.capturedFrames.load(std::memory_order_relaxed);
    lastDropped_ = c.droppedFrames.load(std::memory_order_relaxed);
    capture_.reset();
  }
  setIsRecording(false);
}

void AudioRecorder::handleDeviceLost(uint64_t generation, quint32 deviceID) {
  if (!capture_ || capture_->generation != generation) return;
  diagLog_.log(QStringLiteral("audio"), QStringLiteral("device lost"), QStringLiteral("deviceID=%1").arg(deviceID));
  kLog.error(QStringLiteral("Input device %1 disappeared while recording").arg(deviceID));
  if (onDeviceLost_) onDeviceLost_();
}

}  // namespace murel
