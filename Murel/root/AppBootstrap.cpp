#include "root/AppBootstrap.h"

#include "app/AppState.h"
#include "app/DiagnosticsReport.h"

namespace murel {

namespace {

QCoro::Task<void> bootstrapSharedState() { co_await AppState::shared().bootstrap(); }

}  // namespace

void runAppStateBootstrap() { bootstrapSharedState(); }

void reportAppStateInDiagnostics() {
  setAppStateFactsProvider([] {
    const AppState& state = AppState::shared();
    AppStateFacts facts;
    facts.status = state.status().label();
    facts.autoPaste = state.autoPaste();
    facts.lastError = state.lastError();
    return facts;
  });
}

}  // namespace murel
