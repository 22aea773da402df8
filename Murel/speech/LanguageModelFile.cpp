#include "speech/LanguageModelFile.h"

#include "runtime/AppPaths.h"
#include "runtime/PrivateFiles.h"
#include "speech/ModelHosting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace murel {

const ModelArtifact& gemmaModelArtifact() {
  static const ModelArtifact value = [] {
    const QString file = QLatin1String(kGemmaModelFileName);
    QUrl url = modelFileURL(QStringLiteral("litert-community/gemma-4-E4B-it-litert-lm"), file);
    url.setQuery(QStringLiteral("download=true"));
    return ModelArtifact{file, url, kGemmaModelSizeBytes};
  }();
  return value;
}

QString gemmaModelDirectory() { return modelsDirectory(QStringLiteral("TextEnhancement")); }

QString gemmaModelPath() { return gemmaModelDirectory() + QLatin1Char('/') + QLatin1String(kGemmaModelFileName); }

QString gemmaModelPartialPath() { return gemmaModelPath() + QStringLiteral(".partial"); }

bool isGemmaModelInstalled() { return isArtifactPresent(gemmaModelArtifact(), gemmaModelDirectory()); }

QString liteRTCacheDirectory() {
  QString caches = AppPaths::caches();
  if (caches.isEmpty()) caches = QDir::tempPath();
  QString folder = caches + QStringLiteral("/LiteRTCache");
  PrivateFiles::makeFolder(folder);
  return folder;
}

void deleteGemmaModel() {
  for (const QString& path : {gemmaModelPath(), gemmaModelPartialPath()}) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) continue;
    QFile file(path);
    if (!file.remove()) throw modelFileRemovalError(info.fileName(), file.errorString());
  }
}

}  // namespace murel
