// Writes the two recording cues: a short rising two-note chime when listening
// starts, the same notes falling when it stops. 48 kHz, mono, 16-bit PCM WAV.
// Usage: cue_tones <start.wav> <stop.wav>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr double kPi = 3.14159265358979323846;

struct Note {
  double frequency;
  double seconds;
};

// A soft bell-like note: quick attack, exponential decay, a quiet octave on top.
void appendNote(std::vector<double>& out, Note note, double amplitude) {
  const int n = static_cast<int>(note.seconds * kRate);
  const int attack = kRate * 4 / 1000;
  const int release = kRate * 8 / 1000;
  for (int i = 0; i < n; ++i) {
    const double t = double(i) / kRate;
    double envelope = std::exp(-t * 18.0);
    if (i < attack) envelope *= double(i) / attack;
    if (i > n - release) envelope *= double(n - i) / release;
    const double wave = std::sin(2 * kPi * note.frequency * t) + 0.25 * std::sin(4 * kPi * note.frequency * t);
    out.push_back(amplitude * envelope * wave / 1.25);
  }
}

void put16(std::FILE* f, uint16_t v) {
  const unsigned char b[2] = {static_cast<unsigned char>(v & 0xFF), static_cast<unsigned char>(v >> 8)};
  std::fwrite(b, 1, 2, f);
}
void put32(std::FILE* f, uint32_t v) {
  put16(f, static_cast<uint16_t>(v & 0xFFFF));
  put16(f, static_cast<uint16_t>(v >> 16));
}

bool writeWav(const char* path, const std::vector<double>& samples) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
  std::fwrite("RIFF", 1, 4, f);
  put32(f, 36 + dataBytes);
  std::fwrite("WAVEfmt ", 1, 8, f);
  put32(f, 16);
  put16(f, 1);  // PCM
  put16(f, 1);  // mono
  put32(f, kRate);
  put32(f, kRate * 2);
  put16(f, 2);
  put16(f, 16);
  std::fwrite("data", 1, 4, f);
  put32(f, dataBytes);
  for (double s : samples) {
    const double clamped = s > 1 ? 1 : (s < -1 ? -1 : s);
    put16(f, static_cast<uint16_t>(static_cast<int16_t>(std::lround(clamped * 32767))));
  }
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <start.wav> <stop.wav>\n", argv[0]);
    return 2;
  }
  const Note low{659.25, 0.075};   // E5
  const Note high{987.77, 0.110};  // B5
  std::vector<double> start, stop;
  appendNote(start, low, 0.35);
  appendNote(start, high, 0.35);
  appendNote(stop, {987.77, 0.075}, 0.35);
  appendNote(stop, {659.25, 0.110}, 0.35);
  return writeWav(argv[1], start) && writeWav(argv[2], stop) ? 0 : 1;
}
