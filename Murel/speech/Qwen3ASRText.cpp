#include "speech/Qwen3ASRText.h"

#include <QList>
#include <QStringView>

namespace murel {

QString qwen3Prompt(const std::optional<QString>& systemText, const std::optional<QString>& languageName,
                    const QString& mediaMarker) {
  QString prompt;
  prompt.reserve(96 + (systemText ? systemText->size() : 0) + mediaMarker.size());
  prompt += QLatin1String("<|im_start|>system\n");
  if (systemText) prompt += *systemText;
  prompt += QLatin1String("<|im_end|>\n<|im_start|>user\n");
  prompt += mediaMarker;
  prompt += QLatin1String("<|im_end|>\n<|im_start|>assistant\n");
  if (languageName) {
    prompt += QLatin1String("language ");
    prompt += *languageName;
    prompt += QLatin1String("<asr_text>");
  }
  return prompt;
}

std::optional<QString> parseLanguageLine(const QString& head) {
  static const QLatin1String prefix("language ");
  if (!head.startsWith(prefix)) return std::nullopt;
  const QString name = QStringView(head).mid(prefix.size()).trimmed().toString();
  if (name.isEmpty() || name == QLatin1String("None")) return std::nullopt;
  return name;
}

Qwen3Answer parseQwen3Output(const QString& answer) {
  static const QLatin1String endMarker("<|im_end|>");
  static const QLatin1String textMarker("<asr_text>");
  QString trimmed = answer.trimmed();
  if (trimmed.endsWith(endMarker)) {
    trimmed.chop(endMarker.size());
    trimmed = trimmed.trimmed();
  }
  const qsizetype at = trimmed.indexOf(textMarker);
  if (at < 0) return {trimmed, std::nullopt};
  const QString head = QStringView(trimmed).left(at).trimmed().toString();
  return {QStringView(trimmed).mid(at + textMarker.size()).trimmed().toString(), parseLanguageLine(head)};
}

QString collapseRepeatedTail(const QString& text) {
  QList<QStringView> words;
  const QStringView all(text);
  qsizetype start = -1;
  for (qsizetype i = 0; i <= all.size(); ++i) {
    const bool space = i == all.size() || all[i].isSpace();
    if (space && start >= 0) {
      words.append(all.mid(start, i - start));
      start = -1;
    } else if (!space && start < 0) {
      start = i;
    }
  }
  const qsizetype n = words.size();
  if (n <= 8) return text;

  auto sameBlock = [&](qsizetype a, qsizetype b, qsizetype length) {
    for (qsizetype k = 0; k < length; ++k) {
      if (words[a + k] != words[b + k]) return false;
    }
    return true;
  };
  for (qsizetype p = 3; p <= n / 3; ++p) {
    const qsizetype last = n - p;
    qsizetype count = 1;
    while ((count + 1) * p <= n && sameBlock(n - (count + 1) * p, last, p)) ++count;
    if (count >= 3) {
      const qsizetype keep = n - (count - 1) * p;
      QString out;
      out.reserve(text.size());
      for (qsizetype i = 0; i < keep; ++i) {
        if (i > 0) out += QLatin1Char(' ');
        out += words[i];
      }
      return out;
    }
  }
  return text;
}

namespace {

// The length of the well-formed UTF-8 sequence at `p` (RFC 3629), 0 when the
// bytes there are not one. `truncated` tells that they are the valid start of a
// sequence that the end of the input cuts off.
int sequenceLength(const uchar* p, qsizetype remaining, bool& truncated) {
  truncated = false;
  const uchar lead = p[0];
  if (lead < 0x80) return 1;
  int length = 0;
  uchar low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  for (int k = 1; k < length; ++k) {
    if (k >= remaining) {
      truncated = true;
      return 0;
    }
    const uchar byte = p[k];
    const uchar min = k == 1 ? low : 0x80;
    const uchar max = k == 1 ? high : 0xBF;
    if (byte < min || byte > max) return 0;
  }
  return length;
}

}  // namespace

QString mendUtf8(const QByteArray& bytes) {
  const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
  const qsizetype size = bytes.size();
  QByteArray clean;
  clean.reserve(size);
  static const char replacement[] = "\xEF\xBF\xBD";
  for (qsizetype i = 0; i < size;) {
    bool truncated = false;
    const int length = sequenceLength(data + i, size - i, truncated);
    if (truncated) break;
    if (length == 0) {
      clean.append(replacement, 3);
      ++i;
    } else {
      clean.append(bytes.constData() + i, length);
      i += length;
    }
  }
  return QString::fromUtf8(clean);
}

}  // namespace murel
