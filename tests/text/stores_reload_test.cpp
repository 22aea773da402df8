#include "StoreDump.h"

#include "runtime/UserDefaults.h"
#include "support/TestEnv.h"
#include "text/DictionaryStore.h"
#include "text/HistoryStore.h"
#include "text/ModeStore.h"
#include "text/ModelInactivityDelay.h"
#include "text/SnippetStore.h"
#include "text/UsageStatsStore.h"
#include "text/VoiceEditPreferences.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace murel;

TEST(TextStores, ReloadInANewProcessToTheSameValues) {
  const QString file = murel::test::freshDir(QStringLiteral("reload")) + QStringLiteral("/Murel/defaults.json");
  UserDefaults defaults(file);
  ModeStore modes(defaults);
  DictionaryStore dictionary(defaults);
  SnippetStore snippets(defaults);
  HistoryStore history(defaults);
  const QTimeZone berlin("Europe/Berlin");
  UsageStatsStore usage(defaults, berlin);
  VoiceEditPreferences voiceEdit(defaults);

  modes.add(Mode{QUuid::createUuid(), QStringLiteral("Courriel \u00e9crit"),
                 Transformation::preset(TransformPreset::email),
                 KeyCombo(Key::e, KeyModifiers::leftControl | KeyModifiers::rightShift), true});
  modes.add(Mode{QUuid::createUuid(), QStringLiteral("Pirate"),
                 Transformation::custom(QStringLiteral("Talk like a pirate.\n\"Arr\" \\ $1")), std::nullopt, false});
  dictionary.setEntries({{QUuid::createUuid(), QStringLiteral("teh"), QStringLiteral("the")},
                         {QUuid::createUuid(), QStringLiteral("na\u00efve"), QStringLiteral("\U0001F600 \"q\"")}});
  snippets.setEntries({{QUuid::createUuid(), QStringLiteral("sign off"), QStringLiteral("Best,\n  Ann\n")}});
  history.add(QStringLiteral("first\nline"));
  history.add(QStringLiteral("second \u2014 one"));
  usage.record(QStringLiteral("hello  world"), QDateTime(QDate(2026, 3, 29), QTime(1, 30), berlin), 1.25);
  usage.record(QStringLiteral("one more"), QDateTime(QDate(2026, 3, 29), QTime(23, 30), berlin), 0.1);
  usage.record(QStringLiteral("next"), QDateTime(QDate(2026, 3, 30), QTime(0, 5), berlin), 3);
  voiceEdit.setEnabled(true);
  defaults.setValue(QLatin1String(model_inactivity_delay::kKey), 45);

  const QString here = test::dumpStores({modes, dictionary, snippets, history, usage, voiceEdit, defaults});
  ASSERT_TRUE(here.contains(QStringLiteral("usage 5 ")));
  ASSERT_TRUE(here.contains(QStringLiteral("delay 45\n")));

  QProcess child;
  child.start(test::buildDir() + QStringLiteral("/bin/text_stores_child"), {file});
  ASSERT_TRUE(child.waitForFinished(30000));
  ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
  EXPECT_EQ(QString::fromUtf8(child.readAllStandardOutput()).toStdString(), here.toStdString());
}
