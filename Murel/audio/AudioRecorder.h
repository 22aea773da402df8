#pragma once

#include "runtime/Error.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace murel {

class DiagLog;
namespace platform {
class AudioCapture;
}

// A recorder start that the audio system refused. `description()` is the text
// the user sees after "Recording failed: ".
class RecorderError : public Error {
 public:
  enum class Kind { OsStatus, ComponentNotFound, FileCreationFailed };

  static RecorderError osStatus(int32_t status, QString stage) {
    return RecorderError(Kind::OsStatus, status, std::move(stage));
  }
  static RecorderError componentNotFound() { return RecorderError(Kind::ComponentNotFound, 0, {}); }
  // `systemError`: the errno of the failed creation (0 when none was given).
  static RecorderError fileCreationFailed(int systemError = 0) {
    return RecorderError(Kind::FileCreationFailed, systemError, {});
  }

  Kind kind() const { return kind_; }
  int32_t status() const { return status_; }
  const QString& stage() const { return stage_; }
  QString description() const override;
  QString typeName() const override { return QStringLiteral("RecorderError"); }
  const char* what() const noexcept override { return what_.constData(); }

  // A status as four quoted characters when they are all printable, else in decimal.
  static QString formatStatus(int32_t status);

 private:
  RecorderError(Kind kind, int32_t status, QString stage);
  Kind kind_;
  int32_t status_;
  QString stage_;
  QByteArray what_;
};

// The "Recordings" folder could not be made; the file system's own reason.
class RecordingFolderError : public Error {
 public:
  explicit RecordingFolderError(QString description);
  QString description() const override { return description_; }
  QString typeName() const override { return QStringLiteral("RecordingFolderError"); }
  const char* what() const noexcept override { return what_.constData(); }

 private:
  QString description_;
  QByteArray what_;
};

// What the dictation session needs of a recorder.
class AudioRecording {
 public:
  virtual ~AudioRecording() = default;
  // Records `deviceID` (0 = the system default input) into a new WAV file and
  // ends with its path once the audio runs; the main thread is not blocked
  // meanwhile. Throws RecorderError or RecordingFolderError, and
  // OperationCancelled when a stop or another start came first.
  virtual QCoro::Task<QString> startRecording(quint32 deviceID) = 0;
  // Stops at once (not recording, level 0); ends when the file is complete.
  // The main thread is not blocked meanwhile.
  virtual QCoro::Task<void> stopRecording() = 0;
  // The live input level, 0 to 1.
  virtual float currentLevel() const = 0;
  virtual bool isRecording() const = 0;
  virtual void setIsRecording(bool recording) = 0;
  // Called once on the main thread when the recorded device disappears.
  virtual void setOnDeviceLost(std::function<void()> handler) = 0;
};

struct CaptureContext;

// Records one input at a time into "Recordings/recording_<time>_<pid>.wav" (16-bit
// PCM at the input's rate and channel count). The stream never follows a device
// elsewhere: a vanished device is reported, not silently replaced.
// Main thread only; audio arrives on the sound server's thread, which only
// copies it into a preallocated ring buffer that a writer thread empties into
// the file. A stop hands the rest to the writer (what already arrived still
// goes into the file) and closes the file once the writer is done.
class AudioRecorder : public QObject, public AudioRecording {
  Q_OBJECT
  Q_PROPERTY(bool isRecording READ isRecording WRITE setIsRecording NOTIFY isRecordingChanged)

 public:
  // The largest block the level is measured over; longer fragments are split.
  static constexpr uint32_t kMaxFrames = 4096;

  AudioRecorder(platform::AudioCapture& capture, DiagLog& diagLog, QObject* parent = nullptr);
  ~AudioRecorder() override;

  QCoro::Task<QString> startRecording(quint32 deviceID) override;
  QCoro::Task<void> stopRecording() override;
  float currentLevel() const override;
  bool isRecording() const override { return isRecording_; }
  void setIsRecording(bool recording) override;
  void setOnDeviceLost(std::function<void()> handler) override { onDeviceLost_ = std::move(handler); }
  const std::function<void()>& onDeviceLost() const { return onDeviceLost_; }

  // Frames received from the device and frames lost because the writer fell
  // behind, for the running (or last) capture.
  uint64_t capturedFrames() const;
  uint64_t droppedFrames() const;

 Q_SIGNALS:
  void isRecordingChanged();

 private:
  friend struct CaptureContext;
  // Hands the running capture to its writer to finish.
  void beginStop();
  QCoro::Task<void> awaitFinishing();
  void finishCapture(CaptureContext* capture);
  void finalize(CaptureContext& capture);
  // Finishes everything at once, blocking (the recorder's end).
  void stopNow();
  void handleDeviceLost(quint32 deviceID);

  platform::AudioCapture& audioCapture_;
  DiagLog& diagLog_;
  bool isRecording_ = false;
  std::function<void()> onDeviceLost_;
  std::unique_ptr<CaptureContext> capture_;
  std::vector<std::unique_ptr<CaptureContext>> finishing_;  // stopped, file not yet closed
  uint64_t generation_ = 0;
  uint64_t lastCaptured_ = 0;
  uint64_t lastDropped_ = 0;
};

}  // namespace murel
