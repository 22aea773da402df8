// The audio sample loader on arbitrary bytes: a clear error or samples within
// the limits the engines take, never a crash or a runaway allocation.
#include "runtime/SystemError.h"
#include "speech/AudioSampleLoader.h"
#include "speech/EngineError.h"
#include "speech/FFmpegUtil.h"

#include "FuzzSupport.h"

#include <QFile>

using namespace murel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
  const QString path = fuzz::workDir() + QStringLiteral("/input.audio");
  {
    QFile file(path);
    fuzz::check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the input file");
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  }
  try {
    const AudioSamples samples = AudioSampleLoader::loadSamples(path);
    fuzz::check(double(samples.size()) <= AudioSampleLoader::kMaxSeconds * AudioSampleLoader::kTargetSampleRate,
                "no more samples than the engines take");
  } catch (const SystemError&) {
  } catch (const EngineError&) {
  }
  return 0;
}
