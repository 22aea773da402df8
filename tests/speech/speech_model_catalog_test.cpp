#include "runtime/SystemError.h"
#include "runtime/UserDefaults.h"
#include "speech/ModelHosting.h"
#include "speech/ParakeetModel.h"
#include "speech/Qwen3ASRModel.h"
#include "speech/SpeechModel.h"
#include "speech/WhisperModel.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

using namespace murel;

namespace {

QString modelsRoot() { return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Murel/Models/"); }

// A sparse file of exactly `size` bytes.
void makeFile(const QString& path, qint64 size) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  ASSERT_TRUE(f.resize(size));
}

SpeechModelDescriptor modelIn(const QString& dir, QList<ModelArtifact> artifacts) {
  SpeechModelDescriptor d;
  d.id = SpeechModelID(QStringLiteral("test"));
  d.artifacts = std::move(artifacts);
  d.storageDirectory = dir;
  return d;
}

ModelArtifact artifact(const QString& name, qint64 size) {
  return {name, modelFileURL(QStringLiteral("owner/repo"), name), size};
}

}  // namespace

TEST(SpeechModelCatalog, FiveEntriesInOrderWithTheirFilesAndSizes) {
  struct File {
    const char* name;
    qint64 size;
    const char* repository;
  };
  const struct {
    const char* id;
    const char* engine;
    const char* name;
    const char* detail;
    const char* family;
    QList<File> files;
  } expected[] = {
      {"qwen3ASR0_6BQ5",
       "Qwen3-ASR",
       "QWEN3-ASR 0.6B",
       "Alibaba · 30 languages · smaller model",
       "qwen3-asr",
       {{"Qwen3-ASR-0.6B.Q5_K_M.gguf", 551'374'304, kQwen3ASRSmallRepository},
        {"Qwen3-ASR-0.6B.mmproj-Q8_0.gguf", 214'392'608, kQwen3ASRSmallRepository}}},
      {"qwen3ASR1_7BQ5",
       "Qwen3-ASR",
       "QWEN3-ASR 1.7B",
       "Alibaba · 30 languages · most accurate",
       "qwen3-asr",
       {{"Qwen3-ASR-1.7B.Q5_K_M.gguf", 1'471'801'824, kQwen3ASRLargeRepository},
        {"Qwen3-ASR-1.7B.mmproj-Q8_0.gguf", 355'709'472, kQwen3ASRLargeRepository}}},
      {"smallEnglishQ8",
       "Whisper",
       "WHISPER SMALL ENGLISH",
       "OpenAI · English only · smaller model",
       "whisper",
       {{"ggml-small.en-q8_0.bin", 264'477'561, kWhisperModelRepository}}},
      {"largeV3TurboQ8",
       "Whisper",
       "WHISPER LARGE V3 TURBO",
       "OpenAI · 99 languages",
       "whisper",
       {{"ggml-large-v3-turbo-q8_0.bin", 874'188'075, kWhisperModelRepository}}},
      {"parakeetTDT0_6BV3Q8",
       "Parakeet",
       "PARAKEET TDT 0.6B V3",
       "NVIDIA · 25 European languages · automatic detection",
       "parakeet",
       {{"ggml-parakeet-tdt-0.6b-v3-q8_0.bin", 668'757'119, kParakeetModelRepository}}},
  };
  const auto& catalog = SpeechModelDescriptor::catalog();
  ASSERT_EQ(catalog.size(), 5);
  for (int i = 0; i < 5; ++i) {
    const SpeechModelDescriptor& d = catalog[i];
    const auto& e = expected[i];
    SCOPED_TRACE(e.id);
    EXPECT_EQ(d.id.rawValue, QLatin1String(e.id));
    EXPECT_EQ(d.engineName, QLatin1String(e.engine));
    EXPECT_EQ(d.displayName.text(), QString::fromUtf8(e.name));
    EXPECT_EQ(d.detail.text(), QString::fromUtf8(e.detail));
    EXPECT_EQ(d.storageDirectory, modelsRoot() + QLatin1String(e.family));
    ASSERT_EQ(d.artifacts.size(), e.files.size());
    for (int f = 0; f < e.files.size(); ++f) {
      EXPECT_EQ(d.artifacts[f].filename, QLatin1String(e.files[f].name));
      EXPECT_EQ(d.artifacts[f].sizeBytes, e.files[f].size);
      EXPECT_EQ(d.artifacts[f].remoteURL.toString(),
                QLatin1String(kModelHostingEndpoint) + QLatin1Char('/') + QLatin1String(e.files[f].repository) +
                    QStringLiteral("/resolve/main/") + QLatin1String(e.files[f].name));
    }
    EXPECT_FALSE(d.capabilities.streaming);
    ASSERT_TRUE(d.makeEngine);
    const auto a = d.makeEngine();
    const auto b = d.makeEngine();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_FALSE(a->isLoaded());
  }
  // The default is the Whisper large v3 turbo entry.
  EXPECT_EQ(SpeechModelDescriptor::defaultModel(), catalog[3]);
  EXPECT_EQ(&WhisperModel::descriptor(WhisperModel::smallEnglishQ8), &WhisperModel::catalogEntries()[0]);
  EXPECT_EQ(ParakeetModel::descriptor(ParakeetModel::tdt06bV3Q8), catalog[4]);
  EXPECT_EQ(Qwen3ASRModel::descriptor(Qwen3ASRModel::large17BQ5), catalog[1]);
}

TEST(SpeechModelCatalog, CapabilitiesAndAttributions) {
  const auto& c = SpeechModelDescriptor::catalog();
  const auto& qwen = c[0].capabilities;
  EXPECT_EQ(qwen.languages, LanguageSupport::selectable(qwen3LanguageCodes(), true));
  EXPECT_EQ(qwen3LanguageCodes().size(), 30);
  EXPECT_EQ(qwen3LanguageCodes().first(), QStringLiteral("en"));
  EXPECT_EQ(qwen3LanguageCodes().last(), QStringLiteral("mk"));
  EXPECT_EQ(qwen3LanguageNames().value(QStringLiteral("tl")), QStringLiteral("Filipino"));
  EXPECT_EQ(qwen3LanguageCodesByName().value(QStringLiteral("german")), QStringLiteral("de"));
  EXPECT_EQ(qwen.vocabularyBiasing, VocabularyBiasing::prompt(1500));
  EXPECT_EQ(qwen.voiceActivityDetection, VoiceActivityDetection::pipelineSegmentation(30.0));
  EXPECT_EQ(c[1].capabilities, qwen);

  EXPECT_EQ(c[2].capabilities.languages, LanguageSupport::fixed(QStringLiteral("en")));
  const auto& large = c[3].capabilities;
  ASSERT_EQ(large.languages.kind, LanguageSupport::Kind::Selectable);
  EXPECT_TRUE(large.languages.autoDetect);
  EXPECT_EQ(large.languages.codes.size(), 100);
  EXPECT_EQ(large.languages.codes.first(), QStringLiteral("af"));
  EXPECT_EQ(large.languages.codes.last(), QStringLiteral("yo"));
  EXPECT_TRUE(large.languages.codes.contains(QStringLiteral("jw")));
  for (int i : {2, 3}) {
    EXPECT_EQ(c[i].capabilities.vocabularyBiasing, VocabularyBiasing::prompt(700));
    EXPECT_EQ(c[i].capabilities.voiceActivityDetection, VoiceActivityDetection::builtIn());
  }

  const auto& parakeet = c[4].capabilities;
  EXPECT_EQ(parakeet.languages, LanguageSupport::detectOnly());
  EXPECT_EQ(parakeet.vocabularyBiasing, VocabularyBiasing::none());
  EXPECT_EQ(parakeet.voiceActivityDetection, VoiceActivityDetection::none());

  // One attribution per family, shown once in the acknowledgements.
  QSet<ModelAttribution> distinct;
  for (const auto& d : c) distinct.insert(d.attribution);
  EXPECT_EQ(distinct.size(), 3);
  EXPECT_EQ(c[2].attribution, c[3].attribution);
  EXPECT_EQ(c[2].attribution.name, QStringLiteral("Whisper"));
  EXPECT_EQ(c[2].attribution.license, QStringLiteral("MIT"));
  EXPECT_EQ(c[2].attribution.detail.text(), QStringLiteral("Speech recognition model by OpenAI."));
  EXPECT_EQ(c[4].attribution.license, QStringLiteral("CC BY 4.0"));
  EXPECT_EQ(c[0].attribution.license, QStringLiteral("Apache 2.0"));
  EXPECT_EQ(c[0].attribution.detail.text(), QStringLiteral("Speech recognition model by Alibaba Cloud's Qwen team."));
}

TEST(SpeechModelCatalog, InstalledOnlyAtExactSizes) {
  const qint64 size = WhisperModel::descriptor(WhisperModel::largeV3TurboQ8).artifacts[0].sizeBytes;
  const struct {
    const char* what;
    QList<qint64> expectedSizes;  // sizeBytes of each artifact
    QList<qint64> fileSizes;      // -1: no file
    bool partialToo;              // a leftover ".partial" of the right size beside each
    bool installed;
  } cases[] = {
      {"exact", {size}, {size}, false, true},
      {"one byte short", {size}, {size - 1}, false, false},
      {"one byte long", {size}, {size + 1}, false, false},
      {"missing", {size}, {-1}, false, false},
      {"only a .partial", {size}, {-1}, true, false},
      {"exact beside a .partial", {size}, {size}, true, true},
      {"expected size 0", {0}, {0}, false, false},
      {"expected size negative", {-5}, {0}, false, false},
      {"no files at all", {}, {}, false, true},
      {"second of two short", {300, 100}, {300, 99}, false, false},
      {"both of two exact", {300, 100}, {300, 100}, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QString dir = test::freshDir(QStringLiteral("installed"));
    QList<ModelArtifact> artifacts;
    for (int i = 0; i < c.expectedSizes.size(); ++i) {
      artifacts.append(artifact(QStringLiteral("model%1.bin").arg(i), c.expectedSizes[i]));
      if (c.fileSizes[i] >= 0) makeFile(dir + QStringLiteral("/model%1.bin").arg(i), c.fileSizes[i]);
      if (c.partialToo) makeFile(dir + QStringLiteral("/model%1.bin.partial").arg(i), c.expectedSizes[i]);
    }
    EXPECT_EQ(modelIn(dir, artifacts).isModelInstalled(), c.installed);
  }
}

TEST(SpeechModelCatalog, CatalogueEntriesInstalledInTheModelsFolder) {
  const SpeechModelDescriptor& qwen = Qwen3ASRModel::descriptor(Qwen3ASRModel::small06BQ5);
  QDir().mkpath(qwen.storageDirectory);
  makeFile(qwen.storageDirectory + QLatin1Char('/') + qwen.artifacts[0].filename, qwen.artifacts[0].sizeBytes);
  EXPECT_FALSE(qwen.isModelInstalled());
  makeFile(qwen.storageDirectory + QLatin1Char('/') + qwen.artifacts[1].filename, qwen.artifacts[1].sizeBytes);
  EXPECT_TRUE(qwen.isModelInstalled());
  EXPECT_FALSE(Qwen3ASRModel::descriptor(Qwen3ASRModel::large17BQ5).isModelInstalled());
  qwen.deleteModelFiles();
  EXPECT_FALSE(qwen.isModelInstalled());
  EXPECT_TRUE(QDir(qwen.storageDirectory).exists());
  EXPECT_TRUE(QDir(qwen.storageDirectory).isEmpty());
}

TEST(SpeechModelCatalog, DeletionRemovesFilesAndPartialsAndStopsAtTheFirstFailure) {
  const QString dir = test::freshDir(QStringLiteral("delete"));
  const auto model = modelIn(dir, {artifact(QStringLiteral("a.bin"), 10), artifact(QStringLiteral("b.bin"), 10)});
  makeFile(dir + QStringLiteral("/a.bin"), 10);
  makeFile(dir + QStringLiteral("/a.bin.partial"), 3);
  makeFile(dir + QStringLiteral("/b.bin.partial"), 3);
  makeFile(dir + QStringLiteral("/other.txt"), 1);
  model.deleteModelFiles();
  EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{QStringLiteral("other.txt")});
  // Nothing left to delete: no error.
  model.deleteModelFiles();

  // Another folder may be given.
  const QString other = test::freshDir(QStringLiteral("delete-other"));
  makeFile(other + QStringLiteral("/b.bin"), 10);
  model.deleteModelFiles(other);
  EXPECT_TRUE(QDir(other).isEmpty());

  // A path that cannot be removed (a non-empty folder in the file's place) stops
  // the deletion with an error; what came before is gone, what comes after stays.
  makeFile(dir + QStringLiteral("/a.bin"), 10);
  QDir().mkpath(dir + QStringLiteral("/a.bin.partial/inner"));
  makeFile(dir + QStringLiteral("/b.bin"), 10);
  EXPECT_THROW(model.deleteModelFiles(), SystemError);
  EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/a.bin")));
  EXPECT_TRUE(QFile::exists(dir + QStringLiteral("/b.bin")));
}

TEST(SpeechModelCatalog, SelectedModelFallsBackToTheDefault) {
  UserDefaults defaults(test::freshDir(QStringLiteral("defaults")) + QStringLiteral("/defaults.json"));
  const QString key = QString::fromLatin1(kSelectedSpeechModelKey);
  EXPECT_EQ(selectedSpeechModel(defaults).id.rawValue, QStringLiteral("largeV3TurboQ8"));
  const struct {
    QVariant stored;
    const char* expected;
  } cases[] = {
      {QStringLiteral(""), "largeV3TurboQ8"},
      {QStringLiteral("tinyQ5"), "largeV3TurboQ8"},
      {QStringLiteral("SmallEnglishQ8"), "largeV3TurboQ8"},
      {QVariant(qint64(3)), "largeV3TurboQ8"},
      {QStringLiteral("smallEnglishQ8"), "smallEnglishQ8"},
      {QStringLiteral("parakeetTDT0_6BV3Q8"), "parakeetTDT0_6BV3Q8"},
      {QStringLiteral("qwen3ASR0_6BQ5"), "qwen3ASR0_6BQ5"},
  };
  for (const auto& c : cases) {
    defaults.setValue(key, c.stored);
    EXPECT_EQ(selectedSpeechModel(defaults).id.rawValue, QLatin1String(c.expected))
        << c.stored.toString().toStdString();
    EXPECT_EQ(defaults.value(key), c.stored);  // nothing written back
  }
  EXPECT_EQ(&selectedSpeechModel(defaults), &SpeechModelDescriptor::catalog()[0]);
}

TEST(SpeechModelCatalog, LanguageDisplayNames) {
  const struct {
    const char* code;
    const char* shown;
  } cases[] = {
      {"auto", "AUTO-DETECT"}, {"de", "GERMAN"}, {"en", "ENGLISH"}, {"jw", "JAVANESE"},
      {"jv", "JAVANESE"},      {"qq", "QQ"},     {"zz", "ZZ"},      {"haw", "HAWAIIAN"},
  };
  for (const auto& c : cases) EXPECT_EQ(languageDisplayName(QLatin1String(c.code)), QLatin1String(c.shown)) << c.code;
}

TEST(SpeechModelCatalog, LanguageResolution) {
  const QStringList enDe{QStringLiteral("en"), QStringLiteral("de")};
  const std::optional<QString> none;
  const struct {
    LanguageSupport support;
    const char* selection;
    std::optional<QString> expected;
  } cases[] = {
      {LanguageSupport::selectable(enDe, false), "de", QStringLiteral("de")},
      {LanguageSupport::selectable(enDe, false), "auto", QStringLiteral("en")},
      {LanguageSupport::selectable(enDe, false), "fr", QStringLiteral("en")},
      {LanguageSupport::selectable(enDe, true), "de", QStringLiteral("de")},
      {LanguageSupport::selectable(enDe, true), "auto", none},
      {LanguageSupport::selectable(enDe, true), "fr", none},
      {LanguageSupport::selectable(enDe, true), "DE", none},
      {LanguageSupport::selectable({}, false), "en", none},
      {LanguageSupport::selectable({}, false), "auto", none},
      {LanguageSupport::fixed(QStringLiteral("en")), "auto", QStringLiteral("en")},
      {LanguageSupport::fixed(QStringLiteral("en")), "de", QStringLiteral("en")},
      {LanguageSupport::detectOnly(), "de", none},
      {LanguageSupport::detectOnly(), "auto", none},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.support.resolveLanguage(QLatin1String(c.selection)), c.expected) << c.selection;
  }
}
