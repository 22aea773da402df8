#include "speech/ModelDownloader.h"

#include "runtime/Async.h"
#include "runtime/DiagLog.h"
#include "runtime/PrivateFiles.h"
#include "runtime/SystemError.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QPromise>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace murel {

DownloadError::DownloadError(Kind kind, int statusCode, Network network, QString detail)
    : kind_(kind),
      statusCode_(statusCode),
      network_(network),
      detail_(std::move(detail)),
      utf8_(description().toUtf8()) {}

DownloadError DownloadError::failed(int statusCode) { return DownloadError(Kind::Failed, statusCode); }
DownloadError DownloadError::incomplete() { return DownloadError(Kind::Incomplete, 0); }
DownloadError DownloadError::busy() { return DownloadError(Kind::Busy, 0); }
DownloadError DownloadError::network(Network failure, QString detail) {
  return DownloadError(Kind::Network, 0, failure, std::move(detail));
}

QString DownloadError::description() const {
  switch (kind_) {
    case Kind::Failed: return QStringLiteral("Model download failed (HTTP %1)").arg(statusCode_);
    case Kind::Incomplete: return QStringLiteral("Downloaded model is incomplete");
    case Kind::Busy: return QStringLiteral("A model download is already in progress");
    case Kind::Network: break;
  }
  switch (network_) {
    case Network::HostNotFound:
      //% "The download server couldn’t be reached. Check that this computer is connected to the internet, then try again."
      //: A model download failed because the server's name could not be looked up (no network, or no name service).
      return qtTrId("model.download.error.hostNotFound");
    case Network::TimedOut:
      //% "The download server stopped answering. Check the internet connection, then try again."
      //: A model download failed because no data arrived for a long time.
      return qtTrId("model.download.error.timedOut");
    case Network::Refused:
      //% "The download server refused the connection. Try again later."
      //: A model download failed because the server refused the connection.
      return qtTrId("model.download.error.refused");
    case Network::Certificate:
      //% "The download server’s security certificate couldn’t be verified. Check that this computer’s date and time are correct, then try again."
      //: A model download failed because the secure connection could not be set up (certificate problem).
      return qtTrId("model.download.error.certificate");
    case Network::Other:
      //% "The download was interrupted by a network problem. Try again."
      //: A model download failed because of a network error other than the common ones.
      return qtTrId("model.download.error.network");
  }
  return {};
}

namespace {

bool acceptedStatus(const QVariant& status) {
  if (!status.isValid()) return true;  // not an HTTP response
  const int code = status.toInt();
  return code == 200 || code == 206;
}

// The library reports many causes; a user can act on a few, so they are grouped by what to do.
DownloadError::Network networkFailureOf(QNetworkReply::NetworkError error) {
  using Network = DownloadError::Network;
  switch (error) {
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::ProxyNotFoundError: return Network::HostNotFound;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError: return Network::TimedOut;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError: return Network::Refused;
    case QNetworkReply::SslHandshakeFailedError: return Network::Certificate;
    default: return Network::Other;
  }
}

QString networkFailureName(DownloadError::Network failure) {
  switch (failure) {
    case DownloadError::Network::HostNotFound: return QStringLiteral("host-not-found");
    case DownloadError::Network::TimedOut: return QStringLiteral("timed-out");
    case DownloadError::Network::Refused: return QStringLiteral("refused");
    case DownloadError::Network::Certificate: return QStringLiteral("certificate");
    case DownloadError::Network::Other: return QStringLiteral("network");
  }
  return {};
}

// "host" or "host:port": which server answered, as the log shows it.
QString hostOf(const QUrl& url) {
  return url.port() < 0 ? url.host() : QStringLiteral("%1:%2").arg(url.host()).arg(url.port());
}

}  // namespace

// One file's transfer: the reply, the ".partial" it streams into, its two
// timeouts and its single outcome (a null exception for success).
class ModelDownloader::Transfer {
 public:
  Transfer(ModelDownloader& owner, ModelArtifact artifact, QUrl url)
      : owner_(owner),
        artifact_(std::move(artifact)),
        url_(std::move(url)),
        destination_(owner.directory_ + QLatin1Char('/') + artifact_.filename),
        partial_(destination_ + QStringLiteral(".partial")) {
    promise_.start();
  }

  ~Transfer() {
    if (!done_) fail(std::make_exception_ptr(OperationCancelled()));
  }

  QFuture<std::exception_ptr> outcome() { return promise_.future(); }

  const ModelArtifact& artifact() const { return artifact_; }
  const QUrl& url() const { return url_; }
  // Where the last redirect led; empty when there was none.
  const QUrl& redirectedTo() const { return redirectedTo_; }
  // The final answer's HTTP status; 0 before one arrived.
  int httpStatus() const { return httpStatus_; }
  qint64 bytesReceived() const { return written_; }

  void start() {
    QNetworkRequest request(url_);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    reply_ = owner_.network_->get(request);
    // Bounded read buffer: the body streams to disk and is never held whole.
    reply_->setReadBufferSize(1 << 20);
    QObject::connect(reply_, &QNetworkReply::readyRead, reply_, [this] { onReadyRead(); });
    QObject::connect(reply_, &QNetworkReply::finished, reply_, [this] { onFinished(); });
    QObject::connect(reply_, &QNetworkReply::redirected, reply_, [this](const QUrl& to) { redirectedTo_ = to; });
    lastActivity_ = owner_.clock_.now();
    armStallCheck(std::chrono::duration_cast<Clock::Duration>(kRequestTimeout));
    resourceTimer_ = owner_.clock_.schedule(
        std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(owner_.resourceTimeout_)), [this] {
          resourceTimer_ = 0;
          fail(std::make_exception_ptr(
              DownloadError::network(DownloadError::Network::TimedOut,
                                     QStringLiteral("transfer longer than %1 s").arg(owner_.resourceTimeout_))));
        });
  }

  void fail(std::exception_ptr error) {
    if (done_) return;
    stop();
    if (file_.isOpen()) file_.close();
    QFile::remove(partial_);
    finish(std::move(error));
  }

 private:
  void finish(std::exception_ptr error) {
    done_ = true;
    promise_.addResult(std::move(error));
    promise_.finish();
  }

  void stop() {
    if (stallTimer_) owner_.clock_.cancel(stallTimer_);
    if (resourceTimer_) owner_.clock_.cancel(resourceTimer_);
    stallTimer_ = resourceTimer_ = 0;
    if (reply_) {
      QNetworkReply* reply = reply_;
      reply_ = nullptr;
      reply->disconnect();
      if (reply->isRunning() && reply->error() == QNetworkReply::NoError) {
        reply->abort();
        // An aborted transfer's socket may stay in the manager's cache; drop it so
        // the server sees the connection end (one transfer runs per manager).
        owner_.network_->clearConnectionCache();
      }
      reply->deleteLater();
    }
  }

  void armStallCheck(Clock::Duration delay) {
    stallTimer_ = owner_.clock_.schedule(delay, [this] {
      stallTimer_ = 0;
      const auto limit = std::chrono::duration_cast<Clock::Duration>(kRequestTimeout);
      const auto idle = owner_.clock_.now() - lastActivity_;
      if (idle >= limit) {
        fail(std::make_exception_ptr(DownloadError::network(
            DownloadError::Network::TimedOut, QStringLiteral("no data for %1 s").arg(kRequestTimeout.count()))));
      } else {
        armStallCheck(limit - idle);
      }
    });
  }

  // The status decides before a byte is written: a refused answer leaves the folder untouched.
  bool statusRefused() {
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A redirect that was followed keeps its status when the next server can't
    // be reached: the network failure says what went wrong, not "HTTP 302".
    const bool redirect = status.isValid() && status.toInt() >= 300 && status.toInt() < 400;
    if (redirect && reply_->error() != QNetworkReply::NoError) return false;
    if (status.isValid()) httpStatus_ = status.toInt();
    if (acceptedStatus(status)) return false;
    fail(std::make_exception_ptr(DownloadError::failed(status.toInt())));
    return true;
  }

  bool writeAvailable() {
    if (!file_.isOpen()) {
      if (!PrivateFiles::makeFolder(owner_.directory_)) {
        fail(std::make_exception_ptr(
            SystemError(QStringLiteral("The folder “%1” couldn’t be created.").arg(owner_.directory_))));
        return false;
      }
      file_.setFileName(partial_);
      // Unbuffered: what arrived is on disk, nothing piles up in memory.
      if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        fail(std::make_exception_ptr(SystemError(
            QStringLiteral("“%1” couldn’t be written: %2").arg(QFileInfo(partial_).fileName(), file_.errorString()))));
        return false;
      }
    }
    const QByteArray chunk = reply_->readAll();
    if (chunk.isEmpty()) return true;
    if (file_.write(chunk) != chunk.size()) {
      fail(std::make_exception_ptr(SystemError(
          QStringLiteral("“%1” couldn’t be written: %2").arg(QFileInfo(partial_).fileName(), file_.errorString()))));
      return false;
    }
    written_ += chunk.size();
    lastActivity_ = owner_.clock_.now();
    owner_.updateProgress(written_);
    return true;
  }

  void onReadyRead() {
    if (done_ || statusRefused()) return;
    writeAvailable();
  }

  void onFinished() {
    if (done_) return;
    if (statusRefused()) return;
    if (reply_->error() != QNetworkReply::NoError) {
      // A server that drops the connection before the whole file has sent a
      // short body: that is the file being incomplete, not a network fault.
      if (reply_->error() == QNetworkReply::RemoteHostClosedError && written_ < artifact_.sizeBytes) {
        fail(std::make_exception_ptr(DownloadError::incomplete()));
        return;
      }
      fail(std::make_exception_ptr(DownloadError::network(networkFailureOf(reply_->error()), reply_->errorString())));
      return;
    }
    if (!writeAvailable()) return;
    stop();
    file_.close();
    if (artifact_.sizeBytes < 1 || QFileInfo(partial_).size() != artifact_.sizeBytes) {
      QFile::remove(partial_);
      finish(std::make_exception_ptr(DownloadError::incomplete()));
      return;
    }
    // One rename: the file appears under its final name only complete and
    // checked, and replaces an earlier file of that name atomically.
    if (std::rename(QFile::encodeName(partial_).constData(), QFile::encodeName(destination_).constData()) != 0) {
      const QString reason = QString::fromLocal8Bit(std::strerror(errno));
      finish(std::make_exception_ptr(
          SystemError(QStringLiteral("“%1” couldn’t be moved into place: %2").arg(artifact_.filename, reason))));
      return;
    }
    finish(nullptr);
  }

  ModelDownloader& owner_;
  ModelArtifact artifact_;
  QUrl url_;
  QUrl redirectedTo_;
  int httpStatus_ = 0;
  QString destination_;
  QString partial_;
  QPromise<std::exception_ptr> promise_;
  QNetworkReply* reply_ = nullptr;
  QFile file_;
  qint64 written_ = 0;
  Clock::Duration lastActivity_{0};
  Clock::TimerId stallTimer_ = 0;
  Clock::TimerId resourceTimer_ = 0;
  bool done_ = false;
};

ModelDownloader::ModelDownloader(QList<ModelArtifact> artifacts, QString directory, double resourceTimeoutSeconds,
                                 Clock& clock, QObject* parent)
    : QObject(parent),
      artifacts_(std::move(artifacts)),
      directory_(std::move(directory)),
      resourceTimeout_(resourceTimeoutSeconds),
      clock_(clock),
      network_(new QNetworkAccessManager(this)) {}

ModelDownloader::~ModelDownloader() = default;

QUrl ModelDownloader::sourceUrl(const ModelArtifact& artifact) const {
  QUrl url = artifact.remoteURL;
  if (endpoint_.isValid()) {
    url.setScheme(endpoint_.scheme());
    url.setHost(endpoint_.host());
    url.setPort(endpoint_.port());
  }
  return url;
}

void ModelDownloader::setState(const State& state) {
  if (state_ == state) return;
  state_ = state;
  Q_EMIT stateChanged();
}

void ModelDownloader::updateProgress(qint64 artifactBytes) {
  qint64 total = 0;
  for (const ModelArtifact& a : artifacts_) total += a.sizeBytes;
  double p = 0;
  if (!artifacts_.isEmpty() && total >= 1) {
    const double x = std::round(double(completedBytes_ + artifactBytes) / double(total) * 100.0);
    p = x >= 100 ? 1.0 : (x >= 0 ? x / 100.0 : 0.0);
  }
  setState(State::downloading(p));
}

QCoro::Task<QStringList> ModelDownloader::download(CancellationToken cancel) {
  if (running_) throw DownloadError::busy();
  running_ = true;
  QPointer<ModelDownloader> self(this);

  QStringList destinations;
  QList<ModelArtifact> missing;
  qint64 total = 0;
  qint64 missingBytes = 0;
  for (const ModelArtifact& a : artifacts_) {
    destinations.append(directory_ + QLatin1Char('/') + a.filename);
    total += a.sizeBytes;
    if (!isArtifactPresent(a, directory_)) {
      missing.append(a);
      missingBytes += a.sizeBytes;
    }
  }
  if (missing.isEmpty()) {
    setState(State::completed());
    running_ = false;
    co_return destinations;
  }
  completedBytes_ = total - missingBytes;
  updateProgress(0);

  std::exception_ptr error;
  try {
    for (const ModelArtifact& artifact : missing) {
      if (cancel.isCancelled()) throw OperationCancelled();
      co_await fetch(artifact, cancel);
      if (!self) throw OperationCancelled();
      completedBytes_ += artifact.sizeBytes;
    }
  } catch (...) {
    error = std::current_exception();
  }
  if (!self) std::rethrow_exception(error ? error : std::make_exception_ptr(OperationCancelled()));
  running_ = false;
  if (!error) {
    setState(State::completed());
    co_return destinations;
  }
  try {
    std::rethrow_exception(error);
  } catch (const OperationCancelled&) {
    throw;
  } catch (const std::exception& e) {
    setState(State::failed(QString::fromUtf8(e.what())));
    throw;
  }
}

void ModelDownloader::logFailure(const Transfer& transfer, const std::exception_ptr& error) const {
  int status = transfer.httpStatus();
  QString failure;  // what went wrong besides the status, with the library's or the system's words
  try {
    std::rethrow_exception(error);
  } catch (const OperationCancelled&) {
    return;  // the user's choice, not a failure
  } catch (const DownloadError& e) {
    switch (e.kind()) {
      case DownloadError::Kind::Failed: status = e.statusCode(); break;
      case DownloadError::Kind::Network:
        failure = QStringLiteral("error=%1 detail=\"%2\"").arg(networkFailureName(e.networkFailure()), e.detail());
        break;
      case DownloadError::Kind::Incomplete: failure = QStringLiteral("error=incomplete"); break;
      case DownloadError::Kind::Busy: failure = QStringLiteral("error=busy"); break;
    }
  } catch (...) {
    const ErrorDescription described = ErrorDescription::of(std::current_exception());
    failure = QStringLiteral("error=%1 detail=\"%2\"").arg(described.typeName, described.description);
  }
  const ModelArtifact& artifact = transfer.artifact();
  QStringList fields{
      QStringLiteral("model=") + (modelName_.isEmpty() ? artifacts_.value(0).filename : modelName_),
      QStringLiteral("file=") + artifact.filename,
      QStringLiteral("host=") + hostOf(transfer.url()),
  };
  if (!transfer.redirectedTo().isEmpty()) fields << QStringLiteral("redirected=") + hostOf(transfer.redirectedTo());
  if (status != 0) fields << QStringLiteral("status=%1").arg(status);
  if (!failure.isEmpty()) fields << failure;
  fields << QStringLiteral("bytes=%1/%2").arg(transfer.bytesReceived()).arg(artifact.sizeBytes);
  DiagLog::shared().log(QStringLiteral("models"), QStringLiteral("download failed"), fields.join(QLatin1Char(' ')));
}

void ModelDownloader::cancelTransfer(Transfer* transfer) {
  // A cancellation for a transfer that has already ended is dropped.
  if (transfer_.get() == transfer) transfer->fail(std::make_exception_ptr(OperationCancelled()));
}

QCoro::Task<QString> ModelDownloader::fetch(ModelArtifact artifact, CancellationToken cancel) {
  if (cancel.isCancelled()) throw OperationCancelled();
  transfer_ = std::make_unique<Transfer>(*this, artifact, sourceUrl(artifact));
  Transfer* transfer = transfer_.get();
  QPointer<ModelDownloader> self(this);
  // Cancellation may come from any thread; the transfer is ended on the main thread.
  const quint64 cancelId = cancel.onCancel([self, transfer] {
    QMetaObject::invokeMethod(
        self.data() ? static_cast<QObject*>(self.data()) : QCoreApplication::instance(),
        [self, transfer] {
          if (ModelDownloader* downloader = self.data()) downloader->cancelTransfer(transfer);
        },
        Qt::QueuedConnection);
  });
  transfer->start();
  QFuture<std::exception_ptr> outcome = transfer->outcome();
  const std::exception_ptr error = co_await outcome;
  cancel.removeCallback(cancelId);
  if (!self) throw OperationCancelled();
  if (error && transfer_.get() == transfer) logFailure(*transfer, error);
  if (transfer_.get() == transfer) transfer_.reset();
  if (error) std::rethrow_exception(error);
  co_return directory_ + QLatin1Char('/') + artifact.filename;
}

}  // namespace murel
