#include "runtime/DiagLog.h"

#include "runtime/AppPaths.h"
#include "runtime/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTime>

namespace murel {

DiagLog& DiagLog::shared() {
  static DiagLog* instance = [] {
    const QString parent = AppPaths::appData();
    return new DiagLog(parent.isEmpty() ? std::nullopt : std::optional<QString>(parent));
  }();
  return *instance;
}

DiagLog::DiagLog(std::optional<QString> parentFolder) {
  if (!parentFolder) return;
  const QString folder = *parentFolder + QStringLiteral("/Logs");
  PrivateFiles::makeFolder(folder);  // a failure only means that lines are dropped later
  fileUrl_ = folder + QStringLiteral("/murel.log");
  previousFileUrl_ = folder + QStringLiteral("/murel.1.log");
}

DiagLog::~DiagLog() { queue_.waitForIdle(); }

void DiagLog::log(const QString& category, const QString& event, const QString& message) {
  const QTime at = QTime::currentTime();
  queue_.run([this, at, category, event, message] {
    QString line =
        at.toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("  ") + category + QStringLiteral("  ") + event;
    if (!message.isEmpty()) line += QStringLiteral("  ") + message;
    line += QLatin1Char('\n');
    write(line);
  });
}

void DiagLog::flush() { queue_.waitForIdle(); }

void DiagLog::write(const QString& line) {
  if (!fileUrl_) return;
  rotateIfNeeded();
  QFile file(*fileUrl_);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append, PrivateFiles::kOwnerOnly)) return;
  file.write(line.toUtf8());
  file.close();
}

void DiagLog::rotateIfNeeded() {
  if (!fileUrl_ || !previousFileUrl_) return;
  const QFileInfo info(*fileUrl_);
  if (!info.exists() || !info.isFile()) return;
  if (info.size() < kMaxBytes) return;
  QFile::remove(*previousFileUrl_);
  QFile::rename(*fileUrl_, *previousFileUrl_);
}

QString DiagLog::readAll() {
  return queue_
      .run([this] {
        // Decoded leniently: a damaged byte becomes U+FFFD instead of losing the whole file.
        auto readText = [](const std::optional<QString>& path) -> QString {
          if (!path) return {};
          QFile file(*path);
          if (!file.open(QIODevice::ReadOnly)) return {};
          return QString::fromUtf8(file.readAll());
        };
        return readText(previousFileUrl_) + readText(fileUrl_);
      })
      .result();
}

}  // namespace murel
