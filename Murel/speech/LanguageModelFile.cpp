#include "speech/LanguageModelFile.h"

#include "runtime/AppPaths.h"
#include "speech/ModelHosting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace murel::LanguageModelFile {

const ModelArtifact& artifact() {
  static const ModelArtifact value = [] {
    const QString file = QLatin1String(kFileName);
    QUrl url = modelFileURL(QStringLiteral("litert-community/gemma-4-E4B-it-litert-lm"), file);
    url.setQuery(QStringLiteral("download=true"));
    return ModelArtifact{file, url, kSizeBytes};
  }();
  return value;
}

QString directory() { return modelsDirectory(QLatin1String(kSubfolder)); }

QString modelPath() { return directory() + QLatin1Char('/') + QLatin1String(kFileName); }

QString partialPath() { return modelPath() + QStringLiteral(".partial"); }

bool isInstalled() { return isInstalledIn(artifact(), directory()); }

bool isInstalledIn(const ModelArtifact& model, const QString& folder) { return isArtifactPresent(model, folder); }

QString runtimeCacheDirectory() {
  QString caches = AppPaths::caches();
  if (caches.isEmpty()) caches = QDir::tempPath();
  QString folder = caches + QStringLiteral("/LiteRTCache");
  QDir().mkpath(folder);
  return folder;
}

DeleteError::DeleteError(const QString& path, const QString& reason)
    : std::runtime_error(QStringLiteral("Could not delete %1: %2").arg(path, reason).toStdString()) {}

void remove() { removeFrom(artifact(), directory()); }

void removeFrom(const ModelArtifact& model, const QString& folder) {
  const QString target = folder + QLatin1Char('/') + model.filename;
  for (const QString& path : {target, target + QStringLiteral(".partial")}) {
    QFile file(path);
    if (!file.exists()) continue;
    if (!file.remove()) throw DeleteError(path, file.errorString());
  }
}

}  // namespace murel::LanguageModelFile
