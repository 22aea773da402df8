// The text side of the Qwen3-ASR engine: the chat prompt, reading the answer,
// collapsing a repeated tail and mending the answer's UTF-8.

#include "speech/Qwen3ASREngine.h"
#include "speech/Qwen3ASRText.h"

#include <gtest/gtest.h>

using namespace murel;

namespace {
const QString kMarker = QStringLiteral("<__media__>");
}

TEST(Qwen3Prompt, SystemTurnAudioAndOptionalLanguageStart) {
  const QString head = QStringLiteral("<|im_start|>system\n");
  const QString user = QStringLiteral("<|im_end|>\n<|im_start|>user\n") + kMarker +
                       QStringLiteral("<|im_end|>\n<|im_start|>assistant\n");
  const struct {
    std::optional<QString> language;
    QStringList vocabulary;
    QString prompt;
  } cases[] = {
      {std::nullopt, {}, head + user},
      {QStringLiteral("de"),
       {QStringLiteral("Anna"), QStringLiteral("Kubernetes")},
       head + QStringLiteral("Vocabulary: Anna, Kubernetes") + user + QStringLiteral("language German<asr_text>")},
      {QStringLiteral("yue"), {}, head + user + QStringLiteral("language Cantonese<asr_text>")},
      // Outside the model's table: like no language at all.
      {QStringLiteral("sw"), {QStringLiteral("Zoë")}, head + QStringLiteral("Vocabulary: Zoë") + user},
      {QString(), {}, head + user},
  };
  for (const auto& c : cases) {
    const Qwen3Request request = qwen3Request(c.language, c.vocabulary);
    EXPECT_EQ(qwen3Prompt(request.systemText, request.languageName, kMarker), c.prompt)
        << c.language.value_or(QStringLiteral("none")).toStdString();
  }
  EXPECT_EQ(qwen3Request(QStringLiteral("sw"), {}), Qwen3Request{});
  EXPECT_EQ(qwen3Request(QStringLiteral("fr"), {}),
            (Qwen3Request{std::nullopt, QStringLiteral("fr"), QStringLiteral("French")}));
}

TEST(Qwen3Answer, TranscriptAndLanguageFromTheAnswer) {
  const struct {
    const char* answer;
    const char* text;
    std::optional<QString> languageName;
  } cases[] = {
      {"language English<asr_text>Hello there.<|im_end|>", "Hello there.", QStringLiteral("English")},
      {"  language German <asr_text>\n Guten Tag \n", "Guten Tag", QStringLiteral("German")},
      {"language None<asr_text>Hi", "Hi", std::nullopt},
      {"language <asr_text>Hi", "Hi", std::nullopt},
      {"Language English<asr_text>Hi", "Hi", std::nullopt},  // the prefix is case-sensitive
      {"language Klingon<asr_text>Hi", "Hi", QStringLiteral("Klingon")},
      // No marker: the whole trimmed answer is the text.
      {"  just words <|im_end|>  ", "just words", std::nullopt},
      {"language English", "language English", std::nullopt},
      // Only the first marker splits.
      {"<asr_text>a <asr_text> b", "a <asr_text> b", std::nullopt},
      {"", "", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseQwen3Output(QString::fromUtf8(c.answer)), (Qwen3Answer{QString::fromUtf8(c.text), c.languageName}))
        << c.answer;
  }

  // The reported language: the announced one when the table knows it (any case),
  // else the requested code.
  const Qwen3Request none{};
  const Qwen3Request german{std::nullopt, QStringLiteral("de"), QStringLiteral("German")};
  const struct {
    const char* answer;
    const Qwen3Request* request;
    TranscriptionResult result;
  } reported[] = {
      {"language English<asr_text>Hello there.<|im_end|>",
       &none,
       {QStringLiteral("Hello there."), QStringLiteral("en")}},
      {"language english<asr_text>Hi", &german, {QStringLiteral("Hi"), QStringLiteral("en")}},
      {"language None<asr_text>Hi", &german, {QStringLiteral("Hi"), QStringLiteral("de")}},
      {"language None<asr_text>Hi", &none, {QStringLiteral("Hi"), std::nullopt}},
      {"language Klingon<asr_text>Hi", &none, {QStringLiteral("Hi"), std::nullopt}},
      {"Hallo", &german, {QStringLiteral("Hallo"), QStringLiteral("de")}},
  };
  for (const auto& c : reported) EXPECT_EQ(qwen3Result(QByteArray(c.answer), *c.request), c.result) << c.answer;
}

TEST(Qwen3Answer, RepeatedTailCollapsesOnce) {
  const struct {
    const char* text;
    const char* collapsed;
  } cases[] = {
      {"thank you very much thank you very much thank you very much", "thank you very much"},
      {"thank you very much thank you very much", "thank you very much thank you very much"},
      {"a b c a b c a b c", "a b c"},
      {"so we said a b c a b c a b c a b c", "so we said a b c"},
      // 8 words or fewer are never touched.
      {"x y z x y z x y", "x y z x y z x y"},
      // Blocks are 3 words or longer.
      {"a b a b a b a b a b", "a b a b a b a b a b"},
      // The shortest qualifying block wins; spacing of an unchanged text is kept.
      {"one  two\tthree four five six seven eight nine", "one  two\tthree four five six seven eight nine"},
      {"go  on now\ngo on now go on now", "go on now"},
      // Only exact, case-sensitive repeats.
      {"A b c a b c a b c", "A b c a b c a b c"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(collapseRepeatedTail(QString::fromUtf8(c.text)), QString::fromUtf8(c.collapsed)) << c.text;
  }
}

TEST(Qwen3Answer, BrokenUtf8KeepsTheRestOfTheText) {
  const QString fffd(QChar(0xFFFD));
  const struct {
    QByteArray bytes;
    QString text;
  } cases[] = {
      {"caf\xC3\xA9", QStringLiteral("café")},
      // A character cut at the end (token limit, or a piece split across tokens).
      {"caf\xC3", QStringLiteral("caf")},
      {"euro \xE2\x82", QStringLiteral("euro ")},
      {"emoji \xF0\x9F\x98", QStringLiteral("emoji ")},
      // Invalid bytes elsewhere become U+FFFD, one per byte.
      {"a\xFF"
       "b",
       QStringLiteral("a") + fffd + QStringLiteral("b")},
      {"a\xC3"
       "b",
       QStringLiteral("a") + fffd + QStringLiteral("b")},
      {"\xA9\xA9x", fffd + fffd + QStringLiteral("x")},
      {"over\xC0\xAFlong", QStringLiteral("over") + fffd + fffd + QStringLiteral("long")},
      {"sur\xED\xA0\x80", QStringLiteral("sur") + fffd + fffd + fffd},
      {"big\xF4\x90\x80\x80", QStringLiteral("big") + fffd + fffd + fffd + fffd},
      // An invalid byte at the very end is not a cut character.
      {"end\xFF", QStringLiteral("end") + fffd},
      {"\xE2\x82\xAC and \xF0\x9F\x98\x80", QStringLiteral("€ and 😀")},
      {"", QString()},
  };
  for (const auto& c : cases) EXPECT_EQ(mendUtf8(c.bytes), c.text) << c.bytes.toHex().toStdString();

  // The mended text is what gets parsed: a cut character costs only itself.
  EXPECT_EQ(qwen3Result(QByteArray("language French<asr_text>d\xC3\xA9j\xC3"), Qwen3Request{}),
            (TranscriptionResult{QStringLiteral("déj"), QStringLiteral("fr")}));
}
