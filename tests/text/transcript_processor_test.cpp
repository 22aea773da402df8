#include "support/AwaitTask.h"
#include "support/TestEnv.h"
#include "text/TranscriptProcessor.h"

#include <QCoroTask>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include "runtime/Localization.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

#include <vector>

using murel::DictionaryEntry;
using murel::TranscriptProcessor;
using murel::Transformation;
using murel::TransformPreset;

namespace {

QList<DictionaryEntry> rules(std::initializer_list<std::pair<const char*, const char*>> pairs) {
  QList<DictionaryEntry> out;
  for (const auto& [original, replacement] : pairs)
    out.append(DictionaryEntry{QUuid::createUuid(), QString::fromUtf8(original), QString::fromUtf8(replacement)});
  return out;
}

// Records every call and answers with a marked copy of the text.
struct RecordingEnhancer {
  struct Call {
    QString text, instructions;
  };
  std::shared_ptr<std::vector<Call>> calls = std::make_shared<std::vector<Call>>();

  static QCoro::Task<QString> answer(std::shared_ptr<std::vector<Call>> calls, QString text, QString instructions) {
    calls->push_back({text, instructions});
    co_return QStringLiteral("<") + text + QStringLiteral(">");
  }
  TranscriptProcessor::EnhanceFunction function() const {
    return
        [c = calls](QString text, QString instructions) { return answer(c, std::move(text), std::move(instructions)); };
  }
};

QString run(const TranscriptProcessor& p, const QString& text, const Transformation& t) {
  return QCoro::waitFor(p.process(text, t));
}

}  // namespace

TEST(TranscriptProcessor, AppliesDictionaryRulesAsWholeWordsIgnoringCase) {
  struct Case {
    const char* text;
    QList<DictionaryEntry> rules;
    const char* expected;
  };
  const Case cases[] = {
      {"Teh cat", rules({{"teh", "the"}}), "the cat"},
      {"tehran teh TEH", rules({{"teh", "the"}}), "tehran the the"},
      {"call Dr. Smith", rules({{"Dr.", "Doctor"}}), "call Dr. Smith"},  // no boundary after "." before a space
      {"call Dr.Smith", rules({{"Dr.", "Doctor"}}), "call DoctorSmith"},
      {"pay cash", rules({{"cash", "$1 \\0 \\"}}), "pay $1 \\0 \\"},
      {"a (b) c", rules({{"(b)", "x"}}), "a (b) c"},  // "(" after a space is no word boundary
      {"x(b)y", rules({{"(b)", "[$&]"}}), "x[$&]y"},
      {"1+1 is two", rules({{"1+1", "2"}}), "2 is two"},
      {"a cat b", rules({{"cat", ""}}), "a  b"},
      {"alpha", rules({{"alpha", "beta"}, {"beta", "gamma"}}), "gamma"},
      {"alpha", rules({{"beta", "gamma"}, {"alpha", "beta"}}), "beta"},
      {"a b", rules({{"", "x"}}), "a b"},
      {"a  b", rules({{"  ", "-"}}), "a-b"},
      {"a  ", rules({{"  ", "-"}}), "a  "},
      {"Ünïcode straße", rules({{"ÜNÏCODE", "unicode"}}), "unicode straße"},
      {"gonna go, GONNA", rules({{"gonna", "going to"}}), "going to go, going to"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TranscriptProcessor::applyDictionary(QString::fromUtf8(c.text), c.rules), QString::fromUtf8(c.expected))
        << c.text;
  }
}

TEST(TranscriptProcessor, RoutesEachTransformation) {
  RecordingEnhancer enhancer;
  const auto dictionary = [] { return rules({{"teh", "the"}}); };
  const TranscriptProcessor p(enhancer.function(), dictionary);

  // Raw: trimmed and corrected, the language model never asked.
  EXPECT_EQ(run(p, QStringLiteral(" \n\tteh  cat\u00a0\n"), Transformation::raw()), QStringLiteral("the  cat"));
  EXPECT_TRUE(enhancer.calls->empty());

  // Only whitespace: empty, and no rewrite whatever the transformation.
  EXPECT_EQ(run(p, QStringLiteral(" \n "), Transformation::preset(TransformPreset::tidy)), QString());
  EXPECT_TRUE(enhancer.calls->empty());

  EXPECT_EQ(run(p, QStringLiteral(" teh note "), Transformation::preset(TransformPreset::tidy)),
            QStringLiteral("<the note>"));
  EXPECT_EQ(run(p, QStringLiteral("hi"), Transformation::preset(TransformPreset::email)), QStringLiteral("<hi>"));
  EXPECT_EQ(run(p, QStringLiteral("hi"), Transformation::custom(QStringLiteral(" shout "))), QStringLiteral("<hi>"));
  EXPECT_EQ(run(p, QStringLiteral("hi"), Transformation::custom(QString())), QStringLiteral("<hi>"));
  ASSERT_EQ(enhancer.calls->size(), 4u);
  EXPECT_EQ((*enhancer.calls)[0].text, QStringLiteral("the note"));
  EXPECT_EQ((*enhancer.calls)[0].instructions, murel::transform_preset::instructions(TransformPreset::tidy));
  EXPECT_EQ((*enhancer.calls)[1].instructions, murel::transform_preset::instructions(TransformPreset::email));
  EXPECT_EQ((*enhancer.calls)[2].instructions, QStringLiteral(" shout "));  // custom text as written
  EXPECT_EQ((*enhancer.calls)[3].instructions, QString());                  // empty custom still asks
}

namespace {

QCoro::Task<QString> failingEnhance(QString, QString) {
  throw std::runtime_error("model failed");
  co_return QString();
}

QCoro::Task<QString> cancellingEnhance(murel::CancellationToken token, QString text, QString) {
  token.cancel();
  co_return text;
}

}  // namespace

TEST(TranscriptProcessor, PassesEnhanceErrorsAndCancellationOn) {
  const auto noRules = [] { return QList<DictionaryEntry>(); };
  const TranscriptProcessor failing(failingEnhance, noRules);
  EXPECT_TRUE(murel::test::settle(failing.process(QStringLiteral("x"), Transformation::preset(TransformPreset::tidy)))
                  ->threw<std::runtime_error>());
  EXPECT_EQ(run(failing, QStringLiteral("x"), Transformation::raw()), QStringLiteral("x"));

  murel::CancellationToken token;
  const TranscriptProcessor cancelling(
      [token](QString text, QString instructions) {
        return cancellingEnhance(token, std::move(text), std::move(instructions));
      },
      noRules);
  EXPECT_TRUE(
      murel::test::settle(cancelling.process(QStringLiteral("x"), Transformation::custom(QStringLiteral("y")), token))
          ->threw<murel::OperationCancelled>());
  // Raw never looks at the token: no language model, nothing to cancel.
  EXPECT_EQ(QCoro::waitFor(cancelling.process(QStringLiteral("x"), Transformation::raw(), token)), QStringLiteral("x"));
}

namespace {

constexpr qint64 kModelBytes = 3'659'530'240LL;

// A sparse file of `size` bytes: the real model's size without its disk space.
void makeSparseFile(const QString& path, qint64 size) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_TRUE(f.resize(size));
}

}  // namespace

TEST(TranscriptProcessor, SkipsTheLanguageModelUnlessItsFileHasTheExactSize) {
  const QString model = murel::test::freshDir(QStringLiteral("model")) + QStringLiteral("/gemma-4-E4B-it.litertlm");
  // Stands in for the language model's installed check: the file must have exactly its catalogue size.
  const auto installed = [model] {
    const QFileInfo info(model);
    return info.exists() && info.size() == kModelBytes;
  };
  RecordingEnhancer enhancer;
  const TranscriptProcessor p(TranscriptProcessor::enhanceWhenModelInstalled(installed, enhancer.function()), [] {
    return rules({{"teh", "the"}});
  });
  const Transformation tidy = Transformation::preset(TransformPreset::tidy);

  EXPECT_EQ(run(p, QStringLiteral(" teh end "), tidy), QStringLiteral("the end"));  // no file
  makeSparseFile(model, kModelBytes - 1);
  EXPECT_EQ(run(p, QStringLiteral(" teh end "), tidy), QStringLiteral("the end"));
  EXPECT_TRUE(enhancer.calls->empty());

  makeSparseFile(model, kModelBytes);
  EXPECT_EQ(run(p, QStringLiteral(" teh end "), tidy), QStringLiteral("<the end>"));
  EXPECT_EQ(enhancer.calls->size(), 1u);
  EXPECT_EQ(run(p, QStringLiteral(" teh end "), Transformation::raw()), QStringLiteral("the end"));
  EXPECT_EQ(enhancer.calls->size(), 1u);
  QFile::remove(model);
}

TEST(Transformation, StoredForms) {
  struct Case {
    Transformation value;
    const char* json;
  };
  const Case cases[] = {
      {Transformation::raw(), R"({"kind":"raw"})"},
      {Transformation::preset(TransformPreset::tidy), R"({"kind":"preset","value":"tidy"})"},
      {Transformation::preset(TransformPreset::email), R"({"kind":"preset","value":"email"})"},
      {Transformation::custom(QString()), R"({"kind":"custom","value":""})"},
      {Transformation::custom(QStringLiteral("Say \"hi\"\n")), R"({"kind":"custom","value":"Say \"hi\"\n"})"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value.toJsonText(), QByteArray(c.json));
    const auto back = Transformation::fromJson(QJsonDocument::fromJson(c.json).object());
    ASSERT_TRUE(back) << c.json;
    EXPECT_TRUE(*back == c.value) << c.json;
  }

  const char* readable[] = {R"({"kind":"raw","value":42})", R"({"value":"tidy","kind":"preset","x":1})"};
  for (const char* json : readable)
    EXPECT_TRUE(Transformation::fromJson(QJsonDocument::fromJson(json).object())) << json;
  const char* unreadable[] = {R"({"kind":"preset","value":"summary"})", R"({"kind":"preset"})",
                              R"({"kind":"Preset","value":"tidy"})",    R"({"kind":"custom"})",
                              R"({"kind":"custom","value":3})",         R"({"value":"tidy"})"};
  for (const char* json : unreadable)
    EXPECT_FALSE(Transformation::fromJson(QJsonDocument::fromJson(json).object())) << json;
  EXPECT_FALSE(Transformation::fromJson(QJsonValue(QStringLiteral("raw"))));
}

TEST(Transformation, EqualityNamesAndInstructions) {
  ASSERT_TRUE(murel::installTranslations(*QCoreApplication::instance()));
  using murel::transform_preset::instructions;
  EXPECT_TRUE(Transformation::preset(TransformPreset::tidy) == Transformation::preset(TransformPreset::tidy));
  EXPECT_FALSE(Transformation::preset(TransformPreset::tidy) ==
               Transformation::custom(instructions(TransformPreset::tidy)));
  EXPECT_FALSE(Transformation::custom(QString()) == Transformation::raw());
  // Canonically equivalent texts: precomposed é and e with a combining acute accent.
  EXPECT_TRUE(Transformation::custom(QStringLiteral("caf\u00e9")) ==
              Transformation::custom(QStringLiteral("cafe\u0301")));

  EXPECT_EQ(Transformation::preset(TransformPreset::tidy).displayName(), QStringLiteral("Tidy"));
  EXPECT_EQ(Transformation::preset(TransformPreset::email).displayName(), QStringLiteral("Email"));
  EXPECT_EQ(Transformation::custom(QStringLiteral("x")).displayName(), QStringLiteral("Custom"));
  EXPECT_EQ(Transformation::raw().displayName(), QStringLiteral("Raw"));

  EXPECT_EQ(instructions(TransformPreset::tidy).size(), 690);
  EXPECT_EQ(instructions(TransformPreset::email).size(), 844);
  EXPECT_TRUE(
      instructions(TransformPreset::tidy).startsWith(QStringLiteral("You are a transcription cleaner and formatter.")));
  EXPECT_TRUE(instructions(TransformPreset::email).contains(QStringLiteral("and tone \u2014 do not summarize")));
  EXPECT_TRUE(instructions(TransformPreset::email).endsWith(QStringLiteral("Return only the email text.")));
  EXPECT_EQ(murel::transform_preset::allCases(),
            (QList<TransformPreset>{TransformPreset::tidy, TransformPreset::email}));
}
