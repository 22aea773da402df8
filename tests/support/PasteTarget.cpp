#include "support/PasteTarget.h"

#include "support/TestEnv.h"

#include <QFile>

namespace murel::test {

PasteTarget::PasteTarget(const QString& windowClass) : PasteTarget(Options{windowClass, {}, {}, 0}) {}

PasteTarget::PasteTarget(const Options& options) {
  outputPath_ = freshDir(QStringLiteral("paste-target")) + QStringLiteral("/received.txt");
  QStringList args{outputPath_};
  if (!options.windowClass.isEmpty()) args << QStringLiteral("--class") << options.windowClass;
  if (!options.primary.isEmpty()) args << QStringLiteral("--primary") << options.primary;
  if (!options.copy.isEmpty()) args << QStringLiteral("--copy") << options.copy;
  if (options.fetchDelayMs > 0) args << QStringLiteral("--fetch-delay") << QString::number(options.fetchDelayMs);
  process_.start(buildDir() + QStringLiteral("/bin/murel_paste_target"), args);
  if (!process_.waitForStarted(5000)) return;
  waitUntil([this] { return process_.canReadLine() || process_.state() != QProcess::Running; });
  windowId_ = process_.readLine().trimmed().toULong();
}

PasteTarget::~PasteTarget() {
  process_.terminate();
  if (!process_.waitForFinished(3000)) process_.kill();
}

QString PasteTarget::text() const {
  QFile file(outputPath_);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(file.readAll());
}

QStringList PasteTarget::keys() const {
  QFile file(outputPath_ + QStringLiteral(".keys"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool PasteTarget::waitForSuffix(const QString& suffix, int timeoutMs) const {
  return waitUntil([&] { return text().endsWith(suffix); }, std::chrono::milliseconds(timeoutMs));
}

bool xdotool(const QStringList& arguments) {
  QProcess process;
  process.start(QStringLiteral("xdotool"), arguments);
  return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool parkPointer() { return xdotool({QStringLiteral("mousemove"), QStringLiteral("0"), QStringLiteral("0")}); }

}  // namespace murel::test
