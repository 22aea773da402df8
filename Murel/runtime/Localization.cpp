#include "runtime/Localization.h"

#include "runtime/AppPaths.h"
#include "runtime/SystemLog.h"

#include <QCoreApplication>
#include <QTranslator>

namespace murel {

bool installTranslations(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  const QString path = AppPaths::resource(QStringLiteral("translations/murel_en.qm"));
  if (!translator->load(path)) {
    Logger("app").error(QStringLiteral("cannot load the English texts from %1").arg(path));
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  return true;
}

}  // namespace murel
