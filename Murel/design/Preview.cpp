#include "design/Preview.h"

namespace murel {

bool previewFlagFromEnvironment(const QProcessEnvironment& environment) {
  const QString name = QStringLiteral("XCODE_RUNNING_FOR_PREVIEWS");
  return environment.contains(name) && environment.value(name) == QLatin1String("1");
}

bool isRunningForPreviews() {
  // A function-local static: initialised once, thread-safely.
  static const bool flag = previewFlagFromEnvironment(QProcessEnvironment::systemEnvironment());
  return flag;
}

}  // namespace murel
