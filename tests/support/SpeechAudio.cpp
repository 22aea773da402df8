#include "support/SpeechAudio.h"

#include "speech/AudioSampleLoader.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace murel::test {

AudioSamples spokenSamples(const QString& text) {
  const QString wav = QDir(freshDir(QStringLiteral("espeak"))).filePath(QStringLiteral("speech.wav"));
  QProcess espeak;
  espeak.start(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), wav, text});
  if (!espeak.waitForFinished(30000) || espeak.exitCode() != 0) throw std::runtime_error("espeak-ng failed");
  return AudioSampleLoader::loadSamples(wav);
}

AudioSamples silenceSamples(double seconds) { return AudioSamples(static_cast<size_t>(seconds * 16000), 0.0f); }

AudioSamples concat(std::initializer_list<AudioSamples> parts) {
  AudioSamples all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::pair<qint64, qint64> audibleBounds(const AudioSamples& samples) {
  float peak = 0;
  for (float s : samples) peak = std::max(peak, std::abs(s));
  const float floor = peak * 0.02f;
  qint64 first = -1;
  qint64 last = -1;
  for (qint64 i = 0; i < static_cast<qint64>(samples.size()); ++i) {
    if (std::abs(samples[static_cast<size_t>(i)]) >= floor && peak > 0) {
      if (first < 0) first = i;
      last = i;
    }
  }
  return {first, last};
}

QString testModelPath(const QString& name) { return QDir(buildDir()).filePath(QStringLiteral("test-models/") + name); }

}  // namespace murel::test
