#include "LoopbackHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace murel::test {

struct LoopbackHttpServer::Connection {
  QByteArray request;
  bool answered = false;
  Route route;
  qint64 bodySize = 0;  // bytes this answer will send
  qint64 sent = 0;
};

LoopbackHttpServer::LoopbackHttpServer() {
  server_.listen(QHostAddress::LocalHost, 0);
  connect(&server_, &QTcpServer::newConnection, this, &LoopbackHttpServer::onNewConnection);
}

LoopbackHttpServer::~LoopbackHttpServer() {
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    it.key()->disconnect(this);
    it.key()->abort();
    delete it.value();
  }
}

QUrl LoopbackHttpServer::closedUrl() {
  // A port the system just handed out and took back: free, and not soon reused.
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const quint16 port = probe.serverPort();
  probe.close();
  return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
}

QUrl LoopbackHttpServer::baseUrl() const {
  return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()));
}

QUrl LoopbackHttpServer::url(const QString& path) const { return QUrl(baseUrl().toString() + path); }

void LoopbackHttpServer::setRoute(const QString& path, Route route) { routes_.insert(path, std::move(route)); }

QByteArray LoopbackHttpServer::pattern(qint64 size) {
  QByteArray bytes(size, Qt::Uninitialized);
  for (qint64 i = 0; i < size; ++i) bytes[i] = patternByte(i);
  return bytes;
}

void LoopbackHttpServer::onNewConnection() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    connections_.insert(socket, new Connection);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { pump(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
      delete connections_.take(socket);
      socket->deleteLater();
    });
  }
}

void LoopbackHttpServer::onReadyRead(QTcpSocket* socket) {
  Connection* c = connections_.value(socket);
  if (!c || c->answered) {
    socket->readAll();
    return;
  }
  c->request += socket->readAll();
  if (!c->request.contains("\r\n\r\n")) return;
  c->answered = true;
  const QList<QByteArray> requestLine = c->request.left(c->request.indexOf("\r\n")).split(' ');
  const QString path = requestLine.size() > 1 ? QString::fromUtf8(requestLine[1]) : QString();
  requests_.append(path);
  requestHeads_.append(c->request.left(c->request.indexOf("\r\n\r\n")));

  const auto found = routes_.constFind(path);
  c->route = found != routes_.constEnd() ? *found : Route{404, QByteArrayLiteral("Not Found"), -1, -1, -1};
  c->bodySize = c->route.generatedSize >= 0 ? c->route.generatedSize : c->route.body.size();
  const qint64 declared = c->route.contentLength >= 0 ? c->route.contentLength : c->bodySize;
  const QByteArray reason = c->route.status == 200   ? "OK"
                            : c->route.status == 206 ? "Partial Content"
                            : c->route.status == 302 ? "Found"
                                                     : "Status";
  QByteArray head = "HTTP/1.1 " + QByteArray::number(c->route.status) + ' ' + reason + "\r\n";
  head += "Content-Type: application/octet-stream\r\n";
  head += "Content-Length: " + QByteArray::number(declared) + "\r\n";
  if (c->route.status == 206) {
    head += "Content-Range: bytes 0-" + QByteArray::number(std::max<qint64>(declared - 1, 0)) + '/' +
            QByteArray::number(declared) + "\r\n";
  }
  if (!c->route.location.isEmpty()) head += "Location: " + c->route.location.toEncoded() + "\r\n";
  head += "Connection: close\r\n\r\n";
  socket->write(head);
  pump(socket);
}

void LoopbackHttpServer::pump(QTcpSocket* socket) {
  Connection* c = connections_.value(socket);
  if (!c || !c->answered) return;
  constexpr qint64 kChunk = 64 * 1024;
  const qint64 limit = c->route.stallAfter >= 0 ? std::min(c->route.stallAfter, c->bodySize) : c->bodySize;
  // Keep little in the socket's buffer, so a large stream costs little memory.
  while (c->sent < limit && socket->bytesToWrite() < 4 * kChunk) {
    const qint64 n = std::min(kChunk, limit - c->sent);
    if (c->route.generatedSize >= 0) {
      QByteArray chunk(n, Qt::Uninitialized);
      for (qint64 i = 0; i < n; ++i) chunk[i] = patternByte(c->sent + i);
      socket->write(chunk);
    } else {
      socket->write(c->route.body.mid(c->sent, n));
    }
    c->sent += n;
    bodyBytesSent_ += n;
  }
  if (c->sent >= c->bodySize && socket->bytesToWrite() == 0) socket->disconnectFromHost();
}

}  // namespace murel::test
