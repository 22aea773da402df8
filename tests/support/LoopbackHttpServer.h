#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

#include <functional>

class QTcpSocket;

namespace murel::test {

// A small HTTP/1.1 server on 127.0.0.1 for download tests. Each path answers
// with a configured status and body; bodies can be generated (large streams
// without holding them), cut short, or stall part-way with the connection held
// open; a route with a location redirects. Unknown paths answer 404. Runs on
// the thread that created it.
class LoopbackHttpServer : public QObject {
 public:
  struct Route {
    int status = 200;
    QByteArray body;            // sent as is, unless generatedSize ≥ 0
    qint64 generatedSize = -1;  // stream this many pattern bytes instead of `body`
    qint64 contentLength = -1;  // declared length; default: the real length
    qint64 stallAfter = -1;     // stop sending after this many body bytes, keep the connection
    QUrl location = {};         // sent as "Location" (a redirect's target) when set
  };

  LoopbackHttpServer();
  ~LoopbackHttpServer() override;

  // An address on loopback that nothing listens on: a connection there is refused.
  static QUrl closedUrl();

  QUrl baseUrl() const;
  QUrl url(const QString& path) const;
  void setRoute(const QString& path, Route route);
  void clear() {
    routes_.clear();
    requests_.clear();
    requestHeads_.clear();
  }

  // Paths requested so far, in order.
  const QStringList& requests() const { return requests_; }
  // The head (request line and headers) of every request so far, in order.
  const QList<QByteArray>& requestHeads() const { return requestHeads_; }
  // Connections the server still holds open.
  int openConnections() const { return int(connections_.size()); }
  // Bytes of body sent so far on all connections.
  qint64 bodyBytesSent() const { return bodyBytesSent_; }

  // The byte at `offset` of a generated body.
  static char patternByte(qint64 offset) { return static_cast<char>((offset * 131 + 17) & 0xff); }
  static QByteArray pattern(qint64 size);

 private:
  struct Connection;
  void onNewConnection();
  void onReadyRead(QTcpSocket* socket);
  void pump(QTcpSocket* socket);

  QTcpServer server_;
  QHash<QString, Route> routes_;
  QHash<QTcpSocket*, Connection*> connections_;
  QStringList requests_;
  QList<QByteArray> requestHeads_;
  qint64 bodyBytesSent_ = 0;
};

}  // namespace murel::test
