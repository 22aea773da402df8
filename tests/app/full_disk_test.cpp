// A full disk under the user's settings and exports: a tmpfs of a few hundred
// KB filled to the last byte, in a private mount namespace. Nothing saved
// before is lost, every refused save says why in plain words, and saving
// resumes once there is room again.
#include "SessionRig.h"

#include "app/AppState.h"
#include "app/ErrorNotifications.h"
#include "app/FilePanels.h"
#include "runtime/AppPaths.h"
#include "runtime/SettingsWrites.h"
#include "support/Alerts.h"
#include "support/FakeKeyEventTap.h"
#include "support/FullDisk.h"
#include "support/ScriptedFilePanels.h"
#include "text/DictionaryFile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace murel;
using namespace murel::test;

namespace {

QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A settings file as the next launch would read it: its dictionary's
// originals and its "showHud"; none when it does not parse. Read from a copy
// off the full disk, since loading a file writes its last good copy.
struct Stored {
  QStringList originals;
  std::optional<bool> showHud;
};
std::optional<Stored> stored(const QString& path) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(readFile(path), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QString copy = freshDir(QStringLiteral("stored")) + QStringLiteral("/defaults.json");
  if (!QFile::copy(path, copy)) return std::nullopt;
  UserDefaults defaults(copy);
  DictionaryStore dictionary(defaults);
  Stored result;
  for (const DictionaryEntry& entry : dictionary.entries()) result.originals.append(entry.original);
  result.showHud = defaults.boolValue(QStringLiteral("showHud"));
  return result;
}

DictionaryEntry rule(const char* original, const char* replacement) {
  return DictionaryEntry{QUuid::createUuid(), QString::fromUtf8(original), QString::fromUtf8(replacement)};
}

}  // namespace

TEST(FullDisk, SettingsAndExportsFailVisiblyKeepTheLastSavedStateAndResume) {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "needs the rig";
  if (!insidePrivateMounts()) return;
  const QString config = AppPaths::config();
  ASSERT_TRUE(QDir().mkpath(config));
  SessionRig rig(nullptr, config);
  FakeClock keyClock;
  FakeKeyEventTap tap{keyClock};
  HotKeyService hotKeys(rig.defaults, tap);
  TranscriptProcessor processor([](QString text, QString) -> QCoro::Task<QString> { co_return text; },
                                [&rig] { return rig.dictionary.entries(); });
  AppState app(AppState::Parts{
      rig.defaults, rig.modes, rig.dictionary, rig.engine, processor, rig.session, hotKeys, rig.diag, {}, {}, {}});
  QSignalSpy errorShown(&app, &AppState::lastErrorChanged);

  rig.dictionary.setEntries({rule("teh", "the")});
  const QString settings = rig.defaults.filePath();
  const QString lastGood = settings + QStringLiteral(".last-good");
  const QString exported = config + QStringLiteral("/murel-dictionary.txt");
  ScriptedPanels panels;
  panels.answer = exported;
  RecordingWorkspace workspace;
  const auto exportDictionary = [&] {
    return saveTextWithPanel(panels, workspace, DiagLog::shared(), QStringLiteral("murel-dictionary.txt"),
                             QStringLiteral("Save dictionary"), QStringLiteral("dictionary"),
                             [&rig] { return DictionaryFile::exportText(rig.dictionary.entries()); });
  };
  ASSERT_TRUE(exportDictionary());
  const QByteArray earlierExport = readFile(exported);
  ASSERT_FALSE(earlierExport.isEmpty());
  ASSERT_EQ(stored(settings)->originals, QStringList{QStringLiteral("teh")});
  ASSERT_FALSE(app.lastError());

  const QString filler = fillDisk(config);
  const QString expected = QStringLiteral("Settings couldn't be saved: no space left on device");

  // Adding a rule and changing a setting: each refused, said once for the
  // run of failures, and the files keep the last state that was saved.
  rig.dictionary.setEntries({rule("teh", "the"), rule("recieve", "receive")});
  EXPECT_EQ(app.lastError(), expected);
  EXPECT_EQ(ErrorNotifications::shownError(app), expected);
  app.setShowHud(false);
  EXPECT_EQ(app.lastError(), expected);
  EXPECT_EQ(errorShown.count(), 1) << "one failing run, one error";
  for (const QString& file : {settings, lastGood}) {
    SCOPED_TRACE(file.toStdString());
    EXPECT_GT(QFileInfo(file).size(), 0);
    const std::optional<Stored> kept = stored(file);
    ASSERT_TRUE(kept) << "does not parse";
    EXPECT_EQ(kept->originals, QStringList{QStringLiteral("teh")});
    EXPECT_EQ(kept->showHud, std::nullopt);
  }
  const QString log = DiagLog::shared().readAll();
  EXPECT_TRUE(log.contains(QStringLiteral("  defaults  save failed  No space left on device"))) << log.toStdString();

  // Exporting the dictionary: an alert names the cause; the earlier export stays.
  EXPECT_FALSE(exportDictionary());
  const QStringList shown = shownAlerts();
  ASSERT_EQ(shown.size(), 1) << shown.join(u'|').toStdString();
  EXPECT_TRUE(shown[0].contains(QStringLiteral("murel-dictionary.txt couldn't be written: no space left on device")))
      << shown[0].toStdString();
  EXPECT_EQ(readFile(exported), earlierExport);
  closeAlerts();

  // Room again: the next change saves everything, and the error goes.
  ASSERT_TRUE(QFile::remove(filler));
  app.setSoundCuesEnabled(false);
  EXPECT_EQ(app.lastError(), std::nullopt);
  EXPECT_FALSE(SettingsWrites::of(rig.defaults).failure());
  for (const QString& file : {settings, lastGood}) {
    SCOPED_TRACE(file.toStdString());
    const std::optional<Stored> saved = stored(file);
    ASSERT_TRUE(saved) << "does not parse";
    EXPECT_EQ(saved->originals, (QStringList{QStringLiteral("teh"), QStringLiteral("recieve")}));
    EXPECT_EQ(saved->showHud, false);
  }
  EXPECT_TRUE(exportDictionary());
  EXPECT_TRUE(readFile(exported).contains("recieve -> receive"));
}
