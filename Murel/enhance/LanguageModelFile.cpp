#include "enhance/LanguageModelFile.h"

#include "core/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace murel::LanguageModelFile {

QString remoteUrl() {
  return QStringLiteral(
      "https://huggingface.co/litert-community/gemma-4-E4B-it-litert-lm/resolve/main/gemma-4-E4B-it.litertlm"
      "?download=true");
}

QString directory() {
  QString models = AppPaths::models();
  if (models.isEmpty()) models = QDir::tempPath() + QStringLiteral("/Murel/Models");
  return models + QLatin1Char('/') + QLatin1String(kSubfolder);
}

QString modelPath() { return directory() + QLatin1Char('/') + QLatin1String(kFileName); }

QString partialPath() { return modelPath() + QStringLiteral(".partial"); }

bool isInstalled() {
  const QFileInfo info(modelPath());
  return info.exists() && info.isFile() && info.size() == kSizeBytes;
}

QString runtimeCacheDirectory() {
  QString caches = AppPaths::caches();
  if (caches.isEmpty()) caches = QDir::tempPath();
  const QString folder = caches + QStringLiteral("/LiteRTCache");
  QDir().mkpath(folder);
  return folder;
}

DeleteError::DeleteError(const QString& path, const QString& reason)
    : std::runtime_error(QStringLiteral("Could not delete %1: %2").arg(path, reason).toStdString()) {}

void remove() {
  for (const QString& path : {modelPath(), partialPath()}) {
    QFile file(path);
    if (!file.exists()) continue;
    if (!file.remove()) throw DeleteError(path, file.errorString());
  }
}

}  // namespace murel::LanguageModelFile
