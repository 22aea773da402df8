#include "runtime/AppPaths.h"

#include <QCoreApplication>
#include <QDir>

namespace murel::AppPaths {
namespace {

QString xdgHome(const char* variable, const char* fallbackBelowHome) {
  const QString explicitDir = qEnvironmentVariable(variable);
  if (!explicitDir.isEmpty() && QDir::isAbsolutePath(explicitDir)) return QDir::cleanPath(explicitDir);
  const QString home = qEnvironmentVariable("HOME");
  if (home.isEmpty()) return {};
  return QDir::cleanPath(home + QLatin1Char('/') + QLatin1String(fallbackBelowHome));
}

QString below(const QString& base, const char* child) {
  return base.isEmpty() ? QString() : base + QLatin1Char('/') + QLatin1String(child);
}

}  // namespace

QString applicationSupport() { return xdgHome("XDG_DATA_HOME", ".local/share"); }
QString appData() { return below(applicationSupport(), "Murel"); }
QString logs() { return below(appData(), "Logs"); }
QString recordings() { return below(appData(), "Recordings"); }
QString models() { return below(appData(), "Models"); }
QString caches() { return below(xdgHome("XDG_CACHE_HOME", ".cache"), "Murel"); }
QString config() { return below(xdgHome("XDG_CONFIG_HOME", ".config"), "Murel"); }

QString resources() {
  const QString explicitDir = qEnvironmentVariable("MUREL_RESOURCE_DIR");
  if (!explicitDir.isEmpty()) return QDir::cleanPath(explicitDir);
  const QString exeDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
  return QDir::cleanPath(exeDir + QStringLiteral("/../share/murel"));
}

QString resource(const QString& relativePath) { return resources() + QLatin1Char('/') + relativePath; }

}  // namespace murel::AppPaths
