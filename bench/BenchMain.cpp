// The one main of every benchmark: a Qt application (off screen when there is
// no display), the bundled fonts, and a throw-away data folder, so recordings
// and logs never land in the user's own.
#include "design/Tokens.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
  QApplication app(argc, argv);
  murel::Fonts::registerBundled();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
