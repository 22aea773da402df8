#pragma once

// Only for translation units that may see whisper.cpp (never together with llama.h).
#include <whisper.h>

namespace murel {

// whisper.cpp's full-transcription parameters of one call: greedy, no text
// carried over from earlier calls, nothing printed, non-speech tokens
// suppressed, built-in voice-activity detection on with `vadModelPath`. The
// initial prompt (may be null) is carried into every decoding window. The
// strings must outlive the call.
whisper_full_params makeWhisperFullParams(int nThreads, const char* language, const char* initialPrompt,
                                          const char* vadModelPath);

}  // namespace murel
