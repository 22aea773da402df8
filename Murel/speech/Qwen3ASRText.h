#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace murel {

// The chat prompt of one Qwen3-ASR run: an optional system text (the vocabulary
// hints), the audio at `mediaMarker` in the user turn, and, when a language name
// is given, the start of the answer ("language German<asr_text>") so the model
// goes straight to the transcript in that language.
QString qwen3Prompt(const std::optional<QString>& systemText, const std::optional<QString>& languageName,
                    const QString& mediaMarker);

struct Qwen3Answer {
  QString text;
  // The language name the model announced ("English"), if any.
  std::optional<QString> languageName;

  bool operator==(const Qwen3Answer&) const = default;
};

// Splits the model's answer at the first "<asr_text>": the head may name the
// language ("language English"), the rest is the transcript. Without the marker
// the whole trimmed answer is the transcript.
Qwen3Answer parseQwen3Output(const QString& answer);

// "language English" -> "English"; "language None", an empty name or any other
// head -> nothing.
std::optional<QString> parseLanguageLine(const QString& head);

// Removes the copies of a block of 3 or more words that the model repeated at
// least 3 times at the very end, keeping one copy. Texts of 8 words or fewer, and
// texts without such a tail, come back unchanged.
QString collapseRepeatedTail(const QString& text);

// The decoded answer bytes as text. A multi-byte character cut off at the end (at
// the token limit, or between two token pieces) is dropped; every other byte that
// is not part of valid UTF-8 becomes U+FFFD. Nothing else is lost.
QString mendUtf8(const QByteArray& bytes);

}  // namespace murel
