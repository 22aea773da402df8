#pragma once

#include "speech/SpeechModel.h"

#include <QString>

#include <stdexcept>

namespace murel {

// The one language-model file the application runs: the Gemma 4 E4B instruction
// model in the LiteRT-LM format, downloaded by the user from the models page.
namespace LanguageModelFile {

inline constexpr const char* kFileName = "gemma-4-E4B-it.litertlm";
// The exact size in bytes; a file of any other size is not the model.
inline constexpr qint64 kSizeBytes = 3'659'530'240;
inline constexpr const char* kSubfolder = "TextEnhancement";

// The downloadable file, fetched by the model downloader like a speech model's.
const ModelArtifact& artifact();
// Murel/Models/TextEnhancement in the data folder (the temporary folder when
// there is none). Creates nothing.
QString directory();
QString modelPath();
QString partialPath();

// True exactly when the model file exists with exactly kSizeBytes bytes.
bool isInstalled();
// The same test for a record of the file kept in another folder (the models
// page takes both from its provider, so tests can hand it a small stand-in).
bool isInstalledIn(const ModelArtifact& artifact, const QString& directory);

// "LiteRTCache" in the caches folder (the temporary folder when there is none),
// created when missing; a creation failure is left for the runtime to meet.
QString runtimeCacheDirectory();

// A file that could not be removed.
class DeleteError : public std::runtime_error {
 public:
  DeleteError(const QString& path, const QString& reason);
};

// Removes the model file, then its partial download; a missing file is no error.
// The first failed removal is thrown at once (DeleteError).
void remove();
// The same for a record of the file kept in another folder.
void removeFrom(const ModelArtifact& artifact, const QString& directory);

}  // namespace LanguageModelFile
}  // namespace murel
