#include "core/AppBootstrap.h"

#include "core/DiagLog.h"
#include "core/DiagnosticsReport.h"

namespace murel {

namespace {
bool gBootstrapped = false;
}  // namespace

void runAppStateBootstrap() {
  // Stands in for the application state until it exists: the status it reports
  // and the log line it writes.
  gBootstrapped = true;
  setAppStateFactsProvider([] {
    AppStateFacts facts;
    facts.status = gBootstrapped ? QStringLiteral("READY") : QStringLiteral("LOADING");
    return facts;
  });
  DiagLog::shared().log(QStringLiteral("session"), QStringLiteral("bootstrap"));
}

}  // namespace murel
