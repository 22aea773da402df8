#pragma once

#include "runtime/Cancellation.h"
#include "runtime/Error.h"

#include <QCoroTask>
#include <QString>

#include <exception>
#include <optional>

namespace murel {

class AudioExtractorError : public Error {
 public:
  enum class Kind { ExportFailed, NoAudioTrack, ExportSessionCreationFailed };

  // `underlying` is the failure's own description, when there is one.
  static AudioExtractorError exportFailed(std::optional<QString> underlying, bool cancelled = false);
  static AudioExtractorError noAudioTrack();
  static AudioExtractorError exportSessionCreationFailed();

  Kind kind() const { return kind_; }
  // An export that ended because its caller cancelled it.
  bool isCancellation() const { return cancelled_; }
  QString description() const override;
  QString typeName() const override { return QStringLiteral("AudioExtractorError"); }
  const char* what() const noexcept override { return utf8_.constData(); }

 private:
  AudioExtractorError(Kind kind, std::optional<QString> underlying, bool cancelled);

  Kind kind_;
  std::optional<QString> underlying_;
  bool cancelled_ = false;
  QByteArray utf8_;
};

// Copies the first audio track of a media file into a temporary AAC ".m4a"
// file (named by a new UUID, in the temporary folder) that the sample loader
// reads. The caller owns the returned file and deletes it when done.
class AudioExtractor {
 public:
  // Runs on a worker thread; resumes on the calling (main) thread. Fails with
  // AudioExtractorError, or SystemError when the source cannot be read as media.
  // Cancelling `cancel` stops the export at the next packet. No file is left
  // behind on failure or cancellation.
  static QCoro::Task<QString> extractAudio(QString sourcePath, CancellationToken cancel = CancellationToken());

  // The blocking export behind extractAudio, for any thread.
  static QString extractAudioBlocking(const QString& sourcePath, const CancellationToken& cancel);

  // Whether a file chosen for transcription is a video (its audio is extracted
  // first), judged by its type as derived from the name.
  static bool isVideoFile(const QString& path);
};

}  // namespace murel
