#pragma once

#include <QString>
#include <QUrl>

namespace murel {

// The model-hosting endpoint every model file is fetched from.
inline constexpr char kModelHostingEndpoint[] = "https://huggingface.co";

// Repositories on that endpoint.
inline constexpr char kWhisperModelRepository[] = "ggerganov/whisper.cpp";
inline constexpr char kParakeetModelRepository[] = "ggml-org/parakeet-GGUF";
inline constexpr char kQwen3ASRSmallRepository[] = "ggml-org/Qwen3-ASR-0.6B-GGUF";
inline constexpr char kQwen3ASRLargeRepository[] = "ggml-org/Qwen3-ASR-1.7B-GGUF";

// <endpoint>/<repository>/resolve/main/<filename>
inline QUrl modelFileURL(const QString& repository, const QString& filename) {
  return QUrl(QLatin1String(kModelHostingEndpoint) + QLatin1Char('/') + repository + QStringLiteral("/resolve/main/") +
              filename);
}

// A public page on the endpoint (attributions).
inline QUrl modelHostingPage(const QString& path) {
  return QUrl(QLatin1String(kModelHostingEndpoint) + QLatin1Char('/') + path);
}

}  // namespace murel
