#pragma once

#include "speech/SpeechModel.h"

#include <QString>

namespace murel {

// The one language-model file the application runs: the Gemma 4 E4B instruction
// model in the LiteRT-LM format, downloaded by the user from the models page.

inline constexpr const char* kGemmaModelFileName = "gemma-4-E4B-it.litertlm";
// The exact size in bytes; a file of any other size is not the model.
inline constexpr qint64 kGemmaModelSizeBytes = 3'659'530'240;

// The downloadable file, fetched by the model downloader like a speech model's.
const ModelArtifact& gemmaModelArtifact();
// Murel/Models/TextEnhancement in the data folder (the temporary folder when
// there is none). Creates nothing.
QString gemmaModelDirectory();
QString gemmaModelPath();
QString gemmaModelPartialPath();

// True exactly when the model file exists with exactly kGemmaModelSizeBytes bytes.
bool isGemmaModelInstalled();

// "LiteRTCache" in the caches folder (the temporary folder when there is none),
// created when missing; a creation failure is left for the runtime to meet.
QString liteRTCacheDirectory();

// Removes the model file, then its partial download; a missing file is no error.
// The first failed removal is thrown at once (SystemError, worded like a speech
// model's), leaving the partial file in place.
void deleteGemmaModel();

}  // namespace murel
