#pragma once

// Only for translation units that may see whisper.cpp (never together with llama.h).
#include <whisper.h>

#include <QtGlobal>

#include <vector>

namespace murel {

// whisper.cpp's full-transcription parameters of one call: greedy, no text
// carried over from earlier calls, nothing printed, non-speech tokens
// suppressed. The initial prompt (may be null) is carried into every decoding
// window. The strings must outlive the call. Voice-activity detection is off:
// the engine runs it itself (see speechOnlySamples).
whisper_full_params makeWhisperFullParams(int nThreads, const char* language, const char* initialPrompt);

// The voice-activity parameters of a Whisper transcription: 500 ms of silence
// ends speech, 200 ms of padding around it, the rest whisper.cpp's defaults.
whisper_vad_params makeWhisperVadParams();

// Threads of the engine's voice-activity context. Its graphs are tiny and run
// once per 32 ms of audio, so threads only add barriers; with other work on
// the CPUs each barrier waits for descheduled threads (a 30 s clip: 0.3 s on
// one thread, 5-8 s on two, minutes on whisper.cpp's default four).
inline constexpr int kWhisperVadThreads = 1;

// One detected speech range in centiseconds, as whisper.cpp reports them.
struct SpeechRange {
  qint64 startCs = 0;
  qint64 endCs = 0;
};

// The audio whisper.cpp's built-in detection would transcribe: the speech
// ranges in order, each but the last extended by `overlapSeconds`, clamped to
// the recording, with 0.1 s of silence between them. Empty without speech.
std::vector<float> speechOnlySamples(const float* samples, int count, const std::vector<SpeechRange>& ranges,
                                     float overlapSeconds);

}  // namespace murel
