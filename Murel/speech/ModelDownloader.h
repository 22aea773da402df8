#pragma once

#include "runtime/Cancellation.h"
#include "runtime/Clock.h"
#include "runtime/Error.h"
#include "speech/SpeechModel.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <exception>
#include <memory>

class QNetworkAccessManager;

namespace murel {

class DownloadError : public Error {
 public:
  enum class Kind { Failed, Incomplete, Busy, Network };
  // The network failures a user can act on, each with its own sentence.
  enum class Network { HostNotFound, TimedOut, Refused, Certificate, Other };

  // The server answered with a status other than 200 and 206.
  static DownloadError failed(int statusCode);
  // The transferred file does not have the expected size.
  static DownloadError incomplete();
  // download() was called while this downloader was already downloading.
  static DownloadError busy();
  // The transfer failed below HTTP. `detail` is the network library's own
  // text: it goes to the diagnostics log, never to the screen.
  static DownloadError network(Network failure, QString detail);

  Kind kind() const { return kind_; }
  int statusCode() const { return statusCode_; }
  Network networkFailure() const { return network_; }
  const QString& detail() const { return detail_; }
  // For a network failure, a plain sentence saying what happened and what to
  // do; the status and size failures keep their short texts.
  QString description() const override;
  QString typeName() const override { return QStringLiteral("DownloadError"); }
  const char* what() const noexcept override { return utf8_.constData(); }

 private:
  DownloadError(Kind kind, int statusCode, Network network = Network::Other, QString detail = {});
  Kind kind_;
  int statusCode_ = 0;
  Network network_ = Network::Other;
  QString detail_;
  QByteArray utf8_;
};

// Fetches the files of one model into one folder, one after the other, and
// publishes its state for the screens. A file is streamed to "<name>.partial",
// accepted only after a 200 or 206 answer and at exactly its expected size, and
// then moved over any earlier file of that name in one step. Files already
// present at their exact size are not fetched again; there is no resumption of
// a partly fetched file. Every failed download leaves one line in the
// diagnostics log: the model, the file, the host, the HTTP status or the kind of
// failure with the library's words, and the bytes received. Main thread only.
class ModelDownloader : public QObject {
  Q_OBJECT

 public:
  struct State {
    enum class Kind { Downloading, Failed, Idle, Completed };
    Kind kind = Kind::Idle;
    double progress = 0;  // Downloading: 0.0 … 1.0 in steps of 0.01
    QString message;      // Failed: the error's description

    static State downloading(double p) { return {Kind::Downloading, p, {}}; }
    static State failed(QString m) { return {Kind::Failed, 0, std::move(m)}; }
    static State idle() { return {}; }
    static State completed() { return {Kind::Completed, 0, {}}; }

    bool operator==(const State& o) const {
      if (kind != o.kind) return false;
      if (kind == Kind::Downloading) return progress == o.progress;
      if (kind == Kind::Failed) return message == o.message;
      return true;
    }
  };

  static constexpr std::chrono::seconds kRequestTimeout{30};
  static constexpr double kDefaultResourceTimeoutSeconds = 3600;

  // `resourceTimeoutSeconds` bounds one file's whole transfer; no data for 30 s
  // also ends it. Timeouts run on `clock`.
  ModelDownloader(QList<ModelArtifact> artifacts, QString directory,
                  double resourceTimeoutSeconds = kDefaultResourceTimeoutSeconds, Clock& clock = Clock::suspending(),
                  QObject* parent = nullptr);
  ~ModelDownloader() override;

  // Fetch from this scheme, host and port instead of each file's own (the
  // loopback server of the tests).
  void setEndpoint(const QUrl& endpoint) { endpoint_ = endpoint; }
  // The name the diagnostics log gives the model; its first file's name when unset.
  void setModelName(const QString& name) { modelName_ = name; }

  // Brings every file into place and returns their paths in artifact order.
  // Throws the first error met (DownloadError, also for network failures;
  // SystemError for file failures) and then shows it in the state; throws OperationCancelled when
  // `cancel` fires, leaving the state at its last progress. Files placed before
  // a failure stay. A call while another runs is refused with DownloadError::busy.
  // The downloader must outlive the returned task.
  QCoro::Task<QStringList> download(CancellationToken cancel = CancellationToken());

  const State& state() const { return state_; }
  const QList<ModelArtifact>& artifacts() const { return artifacts_; }
  const QString& directory() const { return directory_; }
  double resourceTimeoutSeconds() const { return resourceTimeout_; }
  qint64 completedBytes() const { return completedBytes_; }
  bool isDownloading() const { return running_; }

 Q_SIGNALS:
  void stateChanged();

 private:
  class Transfer;

  QCoro::Task<QString> fetch(ModelArtifact artifact, CancellationToken cancel);
  void cancelTransfer(Transfer* transfer);
  void logFailure(const Transfer& transfer, const std::exception_ptr& error) const;
  void updateProgress(qint64 artifactBytes);
  void setState(const State& state);
  QUrl sourceUrl(const ModelArtifact& artifact) const;

  State state_;
  QList<ModelArtifact> artifacts_;
  QString directory_;
  double resourceTimeout_;
  Clock& clock_;
  QUrl endpoint_;
  QString modelName_;
  QNetworkAccessManager* network_ = nullptr;
  std::unique_ptr<Transfer> transfer_;
  qint64 completedBytes_ = 0;
  bool running_ = false;
};

}  // namespace murel
