#pragma once

#include <QCoroTask>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace murel::platform {

// How captured audio is laid out: interleaved, native byte order.
struct CaptureFormat {
  enum class Sample : uint8_t { Int16, Int32, Float32 };
  Sample sample = Sample::Int16;
  uint32_t rate = 0;
  uint8_t channels = 0;

  uint32_t bytesPerSample() const { return sample == Sample::Int16 ? 2 : 4; }
  uint32_t bytesPerFrame() const { return bytesPerSample() * channels; }
};

// A capture the sound server refused, at the step that failed, with the
// server's error code (or errno where it says so).
class CaptureError : public std::exception {
 public:
  enum class Step {
    Connect,        // no sound server answers
    Device,         // no such input (or the default is an output's monitor)
    Format,         // the input's format is unusable
    Stream,         // the server would not make a stream
    StreamConnect,  // the server refused to connect it to the input
    Start,          // the stream did not start in time, or failed while starting
  };
  CaptureError(Step step, int32_t status) : step_(step), status_(status) {}
  Step step() const { return step_; }
  int32_t status() const { return status_; }
  const char* what() const noexcept override { return "audio capture failed"; }

 private:
  Step step_;
  int32_t status_;
};

// Takes the audio of one capture.
class CaptureSink {
 public:
  virtual ~CaptureSink() = default;
  // One piece of whole frames; `data` is null for a stretch of silence the
  // server filled in. Returns false when the piece does not fit now: it stays
  // with the server and is offered again by the next pull(). Called on the
  // sound server's thread, or on the thread calling pull(), never both at
  // once: no allocation, locks or file I/O (it holds up the audio).
  virtual bool accept(const void* data, size_t bytes) = 0;
  // Audio was lost before it reached accept(): the server's buffer overflowed
  // (status 0) or reading failed with the server's error code. Same threads.
  virtual void audioLost(int32_t status) = 0;
};

// One input stream. It never follows its input to another device: when the
// input disappears, the stream ends and says so.
//
// Threading: made, started and destroyed on the main thread. Audio goes to
// the sink on the sound server's thread. pull() may be called from any other
// thread while the stream exists.
class CaptureStream {
 public:
  virtual ~CaptureStream() = default;  // disconnects; the sink is not called after it returns

  virtual const CaptureFormat& format() const = 0;
  // The server's index of the input it records.
  virtual uint32_t sourceIndex() const = 0;

  // Connects to the input and waits, without blocking the main thread, until
  // the server runs the stream; throws CaptureError when it fails or does not
  // start in time. `onLost` is called once, on the main thread, if the input
  // disappears after the start; never after the stream is destroyed.
  virtual QCoro::Task<void> start(CaptureSink& sink, std::function<void()> onLost) = 0;
  // Offers the sink what the server holds for it. True when nothing is left
  // with the server (also when the stream does not run).
  virtual bool pull() = 0;
};

// Opens input streams on the sound server.
//
// Threading: main thread. open() never blocks it: the server's answers are
// awaited with a time-out on the capture's clock.
class AudioCapture {
 public:
  virtual ~AudioCapture() = default;

  // A stream on the input with the server's index `sourceIndex`, or on the
  // system's default input when there is none (never an output's monitor).
  // The stream takes the input's own rate and channels, and its sample format
  // when it is one of CaptureFormat's (else the server converts). Throws
  // CaptureError.
  virtual QCoro::Task<std::unique_ptr<CaptureStream>> open(std::optional<uint32_t> sourceIndex) = 0;
};

}  // namespace murel::platform
