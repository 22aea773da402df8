#pragma once

#include "speech/TranscriptionEngine.h"

#include <QString>

#include <utility>

namespace murel::test {

// `text` spoken by espeak-ng, as 16 kHz mono samples (through the sample loader).
AudioSamples spokenSamples(const QString& text);
AudioSamples silenceSamples(double seconds);
AudioSamples concat(std::initializer_list<AudioSamples> parts);
// First and last sample whose level reaches 2 % of the loudest one.
std::pair<qint64, qint64> audibleBounds(const AudioSamples& samples);
// A model generated for the tests at build time (build/test-models/<name>).
QString testModelPath(const QString& name);

}  // namespace murel::test
