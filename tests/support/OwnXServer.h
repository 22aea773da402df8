#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <unistd.h>

namespace murel::test {

// An Xvfb of the test's own, 800 × 600, started with `extensionArguments`
// (e.g. "-extension", "XTEST" for a server without XTEST): a display other
// than the rig's, for what its server lacks or for a server the test kills;
// killing it leaves the rig's alone.
class OwnXServer {
 public:
  explicit OwnXServer(const QStringList& extensionArguments = {QStringLiteral("+extension"), QStringLiteral("XTEST"),
                                                               QStringLiteral("+extension"),
                                                               QStringLiteral("XInputExtension")}) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    server_.setProgram(QStringLiteral("Xvfb"));
    server_.setArguments(QStringList{QStringLiteral("-displayfd"), QString::number(fds[1]), QStringLiteral("-screen"),
                                     QStringLiteral("0"), QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                                     // Kept as it is between clients: each check connects anew.
                                     QStringLiteral("tcp"), QStringLiteral("-noreset")} +
                         extensionArguments);
    server_.setStandardErrorFile(QProcess::nullDevice());
    server_.setChildProcessModifier([fds] { ::close(fds[0]); });
    server_.start();
    ::close(fds[1]);
    // The server writes its display number once it accepts clients.
    QByteArray number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.isEmpty()) display_ = QStringLiteral(":") + QString::fromLatin1(number);
  }
  ~OwnXServer() { kill(); }
  OwnXServer(const OwnXServer&) = delete;
  OwnXServer& operator=(const OwnXServer&) = delete;

  // Empty when it did not start.
  const QString& display() const { return display_; }
  void kill() {
    if (server_.state() == QProcess::NotRunning) return;
    server_.kill();
    server_.waitForFinished(5000);
  }

 private:
  QProcess server_;
  QString display_;
};

}  // namespace murel::test
