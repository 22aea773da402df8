#pragma once
// An X server of the test's own (Xvfb with XTEST and XInput2), so that killing
// it leaves the rig's alone.

#include <QProcess>
#include <QString>

#include <unistd.h>

namespace murel::test {

class OwnXServer {
 public:
  OwnXServer() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    server_.setProgram(QStringLiteral("Xvfb"));
    server_.setArguments({QStringLiteral("-displayfd"), QString::number(fds[1]), QStringLiteral("-screen"),
                          QStringLiteral("0"), QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                          QStringLiteral("tcp"), QStringLiteral("+extension"), QStringLiteral("XTEST"),
                          QStringLiteral("+extension"), QStringLiteral("XInputExtension")});
    server_.setStandardErrorFile(QProcess::nullDevice());
    server_.setChildProcessModifier([fds] { ::close(fds[0]); });
    server_.start();
    ::close(fds[1]);
    QByteArray number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.isEmpty()) display_ = QStringLiteral(":") + QString::fromLatin1(number);
  }
  ~OwnXServer() { kill(); }
  OwnXServer(const OwnXServer&) = delete;
  OwnXServer& operator=(const OwnXServer&) = delete;

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
