#include "support/Xclip.h"

#include "platform/x11/X11Connection.h"
#include "support/TestEnv.h"

#include <QProcess>

#include <memory>

namespace murel::test {

std::optional<QByteArray> runProgram(const QString& program, const QStringList& arguments, const QByteArray& input) {
  auto process = std::make_unique<QProcess>();
  process->setStandardErrorFile(QProcess::nullDevice());
  process->start(program, arguments);
  if (!process->waitForStarted(5000)) return std::nullopt;
  if (!input.isNull()) {
    process->write(input);
  }
  process->closeWriteChannel();
  QByteArray out;
  const bool ended = waitUntil(
      [&] {
        out += process->readAllStandardOutput();
        return process->state() == QProcess::NotRunning;
      },
      std::chrono::seconds(10));
  if (!ended) {
    process->kill();
    process->waitForFinished(1000);
    return std::nullopt;
  }
  out += process->readAllStandardOutput();
  if (process->exitStatus() != QProcess::NormalExit || process->exitCode() != 0) return std::nullopt;
  return out;
}

bool xclipSeed(const QByteArray& data, const QString& target, const QString& selection) {
  QStringList args{QStringLiteral("-selection"), selection};
  if (!target.isEmpty()) args << QStringLiteral("-t") << target;
  args << QStringLiteral("-i");
  // A connection of its own, to watch the selection's owner change hands.
  x11::Connection display;
  x11::Connection* connection = display.isOpen() ? &display : nullptr;
  const x11::XAtom atom = connection ? connection->atom(selection.toUpper().toLatin1().constData()) : 0;
  const x11::XWindow ownerBefore = connection ? connection->selectionOwner(atom) : 0;
  // xclip goes on serving from a child of its own once the parent has ended:
  // it counts as seeded once that child owns the selection.
  if (!runProgram(QStringLiteral("xclip"), args, data.isNull() ? QByteArray("") : data)) return false;
  return waitUntil(
      [&] {
        const x11::XWindow owner = connection ? connection->selectionOwner(atom) : 1;
        return owner != 0 && owner != ownerBefore && xclipRead(target, selection) == data;
      },
      std::chrono::seconds(5));
}

std::optional<QByteArray> xclipRead(const QString& target, const QString& selection) {
  return runProgram(QStringLiteral("xclip"),
                    {QStringLiteral("-o"), QStringLiteral("-selection"), selection, QStringLiteral("-t"),
                     target.isEmpty() ? QStringLiteral("UTF8_STRING") : target});
}

QList<QByteArray> xclipDataTargets(const QString& selection) {
  static const QList<QByteArray> meta{"TARGETS", "MULTIPLE",         "TIMESTAMP",      "SAVE_TARGETS",
                                      "DELETE",  "INSERT_SELECTION", "INSERT_PROPERTY"};
  QList<QByteArray> out;
  const std::optional<QByteArray> listed = xclipRead(QStringLiteral("TARGETS"), selection);
  if (!listed) return out;
  for (const QByteArray& line : listed->split('\n')) {
    const QByteArray name = line.trimmed();
    if (!name.isEmpty() && !meta.contains(name) && !out.contains(name)) out.append(name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace murel::test
