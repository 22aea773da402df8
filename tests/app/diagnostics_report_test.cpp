// The diagnostics report: its exact layout from known facts, the facts this
// machine gives, and saving it through the panels and the file manager.
#include "AppProcessRig.h"

#include "app/DiagnosticsReport.h"
#include "app/FilePanels.h"
#include "audio/AudioDeviceManager.h"
#include "platform/dbus/FileManagerWorkspace.h"
#include "platform/pulse/SoundServer.h"
#include "runtime/DiagLog.h"
#include "runtime/Localization.h"
#include "runtime/UserDefaults.h"
#include "speech/LanguageModelFile.h"
#include "speech/SpeechModel.h"
#include "support/FakeFileManager.h"
#include "support/ScriptedFilePanels.h"
#include "support/TestEnv.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace murel;

namespace {

// The report's sources as the application has them: the rig's sound server,
// the shared user defaults, the file manager on the session bus; the save
// panel answers what the test sets.
struct RigSources {
  platform::SoundServer sound;
  test::ScriptedPanels panels;
  FileManagerWorkspace workspace;

  DiagnosticsSources sources() {
    return DiagnosticsSources{UserDefaults::shared(), sound.microphone(), sound.devices(), panels, workspace};
  }
};

DiagnosticsFacts knownFacts() {
  DiagnosticsFacts facts;
  facts.appVersion = QStringLiteral("1.4.0");
  facts.buildNumber = QStringLiteral("212");
  facts.systemVersion = QStringLiteral("Debian GNU/Linux 12 (bookworm) (Linux 6.1.0-18-amd64)");
  facts.hardwareModel = QStringLiteral("ThinkPad X1 Carbon Gen 11");
  facts.machine = QStringLiteral("x86_64");
  facts.physicalMemoryBytes = 17179869184;
  facts.locale = QStringLiteral("de_DE");
  facts.selectedSpeechModel = QStringLiteral("whisper-large-v3-turbo");
  facts.speechModels = {{QStringLiteral("qwen3-asr-0.6b"), false},
                        {QStringLiteral("whisper-large-v3-turbo"), true},
                        {QStringLiteral("an-identifier-longer-than-the-column"), true}};
  facts.languageModelDownloaded = false;
  facts.microphonePermission = 3;
  facts.accessibilityTrusted = true;
  facts.activationMode = ActivationMode::holdToActivate;
  facts.autoPaste = false;
  facts.inputDevice = QStringLiteral("Blue Yeti");
  facts.status = QStringLiteral("ERROR");
  facts.lastError = QStringLiteral("Model load failed: file is damaged");
  facts.log = QStringLiteral("09:05:03.042  session  bootstrap\n09:05:04.001  diag  export failed  FileError: x\n");
  return facts;
}

}  // namespace

TEST(DiagnosticsReport, LaysOutKnownFactsExactly) {
  const QString expected = QStringLiteral(
      "=== Murel Diagnostics ===\n"
      "app        1.4.0 (212)\n"
      "system     Debian GNU/Linux 12 (bookworm) (Linux 6.1.0-18-amd64)\n"
      "hardware   ThinkPad X1 Carbon Gen 11 \u00B7 x86_64\n"
      "memory     16 GB\n"
      "locale     de_DE\n"
      "\n"
      "--- state ---\n"
      "speechSelected  whisper-large-v3-turbo\n"
      "qwen3-asr-0.6b          absent\n"
      "whisper-large-v3-turbo  downloaded\n"
      "an-identifier-longer-thadownloaded\n"
      "gemma           absent\n"
      "mic             authorized\n"
      "accessibility   trusted\n"
      "hotkey          holdToActivate\n"
      "autoPaste       false\n"
      "inputDevice     Blue Yeti\n"
      "status          ERROR\n"
      "lastError       Model load failed: file is damaged\n"
      "\n"
      "--- log ---\n"
      "09:05:03.042  session  bootstrap\n"
      "09:05:04.001  diag  export failed  FileError: x\n");
  EXPECT_EQ(buildDiagnosticsReport(knownFacts()).toStdString(), expected.toStdString());
}

TEST(DiagnosticsReport, FallbacksForMissingFacts) {
  DiagnosticsFacts facts = knownFacts();
  facts.appVersion.reset();
  facts.buildNumber.reset();
  facts.lastError.reset();
  facts.log.clear();
  facts.microphonePermission = 7;
  facts.accessibilityTrusted = false;
  facts.physicalMemoryBytes = 1610612736;  // 1.5 GB rounds to even
  const QString report = buildDiagnosticsReport(facts);
  EXPECT_TRUE(report.contains(QStringLiteral("\napp        ? (?)\n")));
  EXPECT_TRUE(report.contains(QStringLiteral("\nmemory     2 GB\n")));
  EXPECT_TRUE(report.contains(QStringLiteral("\nmic             unknown\n")));
  EXPECT_TRUE(report.contains(QStringLiteral("\naccessibility   denied\n")));
  EXPECT_TRUE(report.contains(QStringLiteral("\nlastError       none\n")));
  EXPECT_TRUE(report.endsWith(QStringLiteral("\n\n--- log ---\n"))) << report.toStdString();

  const QList<std::pair<int, const char*>> mics{
      {0, "notDetermined"}, {1, "restricted"}, {2, "denied"}, {3, "authorized"}, {-1, "unknown"}};
  for (const auto& [value, name] : mics) EXPECT_EQ(microphonePermissionName(value), QLatin1String(name));
}

TEST(DiagnosticsReport, FileNameUsesTheLocalDateInWesternDigits) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
  const QDateTime day(QDate(2026, 3, 3), QTime(23, 59), QTimeZone::systemTimeZone());
  EXPECT_EQ(diagnosticsFileName(day), QStringLiteral("Murel-Diagnostics-2026-03-03.txt"));
  QLocale::setDefault(before);
}

TEST(DiagnosticsReport, InputDeviceNamesTheSelectedListedDevice) {
  const QList<AudioDevice> devices{{0, std::nullopt, QStringLiteral("System Default")},
                                   {5, QStringLiteral("alsa_input.usb"), QStringLiteral("Blue Yeti")}};
  EXPECT_EQ(inputDeviceName(devices, 0), QStringLiteral("System Default"));
  EXPECT_EQ(inputDeviceName(devices, 5), QStringLiteral("Blue Yeti"));
  EXPECT_EQ(inputDeviceName(devices, 9), QStringLiteral("system default"));
  EXPECT_EQ(inputDeviceName({}, 0), QStringLiteral("system default"));
}

// The facts of this machine under the rig: the sound server's default entry,
// the default model as a sparse file, the language model one byte short.
TEST(DiagnosticsReport, CollectsThisMachinesFacts) {
  const SpeechModelDescriptor& model = SpeechModelDescriptor::defaultModel();
  QDir().mkpath(model.storageDirectory);
  for (const ModelArtifact& artifact : model.artifacts) {
    QFile file(model.storageDirectory + QLatin1Char('/') + artifact.filename);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(artifact.sizeBytes));
  }
  QDir().mkpath(QFileInfo(gemmaModelPath()).path());
  {
    QFile gemma(gemmaModelPath());
    ASSERT_TRUE(gemma.open(QIODevice::WriteOnly));
    ASSERT_TRUE(gemma.resize(kGemmaModelSizeBytes - 1));
  }
  DiagLog::shared().log(QStringLiteral("session"), QStringLiteral("bootstrap"));

  RigSources rig;
  const DiagnosticsFacts facts = collectDiagnosticsFacts(rig.sources());
  // Defined when the build was configured: never the "?" of a missing fact.
  ASSERT_TRUE(facts.buildNumber.has_value());
  EXPECT_FALSE(facts.buildNumber->isEmpty());
  EXPECT_EQ(facts.selectedSpeechModel, model.id.rawValue);
  ASSERT_EQ(facts.speechModels.size(), SpeechModelDescriptor::catalog().size());
  for (const auto& line : facts.speechModels)
    EXPECT_EQ(line.downloaded, line.id == model.id.rawValue) << line.id.toStdString();
  EXPECT_FALSE(facts.languageModelDownloaded);
  EXPECT_EQ(facts.microphonePermission, 3);
  EXPECT_TRUE(facts.accessibilityTrusted);
  EXPECT_GT(facts.physicalMemoryBytes, 0);
  EXPECT_FALSE(facts.machine.isEmpty());
  EXPECT_NE(facts.machine, QStringLiteral("unknown"));
  {
    AudioDeviceManager manager(UserDefaults::shared(), rig.sound.microphone(), rig.sound.devices());
    ASSERT_FALSE(manager.devices().isEmpty());
    EXPECT_EQ(facts.inputDevice, manager.devices().constFirst().name);
  }
  EXPECT_TRUE(facts.log.endsWith(QStringLiteral("  session  bootstrap\n"))) << facts.log.toStdString();

  const QString report = buildDiagnosticsReport(facts);
  EXPECT_TRUE(report.contains(QStringLiteral("\ngemma           absent\n")));
  EXPECT_TRUE(report.contains(QStringLiteral("\nhotkey          hybrid\n")));
  model.deleteModelFiles();
}

TEST(SaveWithPanel, CancelBuildsNothingAndLogsNothing) {
  DiagLog log(test::freshDir(QStringLiteral("cancel")));
  test::ScriptedPanels panels;
  test::RecordingWorkspace workspace;
  int builds = 0;
  EXPECT_FALSE(saveTextWithPanel(panels, workspace, log, QStringLiteral("Murel-Diagnostics-2026-03-03.txt"),
                                 QStringLiteral("Save diagnostics log"), QStringLiteral("diag"), [&] {
                                   ++builds;
                                   return QStringLiteral("report");
                                 }));
  EXPECT_EQ(builds, 0);
  EXPECT_EQ(panels.askedName, QStringLiteral("Murel-Diagnostics-2026-03-03.txt"));
  EXPECT_EQ(panels.askedTitle, QStringLiteral("Save diagnostics log"));
  EXPECT_TRUE(workspace.revealed.isEmpty());
  EXPECT_EQ(log.readAll(), QString());
}

TEST(SaveWithPanel, ReplacesTheChosenFileOrLogsTheFailure) {
  const QString folder = test::freshDir(QStringLiteral("save"));
  DiagLog log(folder);
  test::ScriptedPanels panels;
  test::RecordingWorkspace workspace;
  const QString target = folder + QStringLiteral("/report.txt");
  {
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older, longer report that must go entirely");
  }
  panels.answer = target;
  EXPECT_TRUE(saveTextWithPanel(panels, workspace, log, QStringLiteral("x.txt"), QStringLiteral("t"),
                                QStringLiteral("dictionary"), [] { return QStringLiteral("caf\u00E9\n"); }));
  QFile written(target);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll(), QByteArray("caf\xC3\xA9\n"));
  EXPECT_EQ(workspace.revealed, QStringList{target});

  // A location inside a regular file cannot be written.
  panels.answer = target + QStringLiteral("/inside.txt");
  EXPECT_FALSE(saveTextWithPanel(panels, workspace, log, QStringLiteral("x.txt"), QStringLiteral("t"),
                                 QStringLiteral("dictionary"), [] { return QStringLiteral("text"); }));
  EXPECT_EQ(workspace.revealed.size(), 1);
  const QString logText = log.readAll();
  EXPECT_EQ(logText.count(QLatin1Char('\n')), 1);
  EXPECT_TRUE(logText.contains(QStringLiteral("  dictionary  export failed  FileError: "))) << logText.toStdString();
}

// The whole export: the title and name the user sees, the report in the file,
// and the file shown by the desktop's file manager over the session bus.
TEST(SaveWithPanel, ExportedReportIsShownByTheFileManager) {
  ASSERT_TRUE(installTranslations(*QCoreApplication::instance()));
  test::FakeFileManager fileManager(
      QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-fm")));
  RigSources rig;
  const QString target = test::freshDir(QStringLiteral("export")) + QStringLiteral("/diagnostics.txt");
  rig.panels.answer = target;
  EXPECT_TRUE(exportDiagnosticsReport(rig.sources()));
  EXPECT_EQ(rig.panels.askedTitle, QStringLiteral("Save diagnostics log"));
  EXPECT_EQ(rig.panels.askedName, diagnosticsFileName());
  QFile written(target);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_TRUE(written.readAll().startsWith("=== Murel Diagnostics ===\napp        "));
  EXPECT_TRUE(test::waitUntil([&] { return !fileManager.shown.isEmpty(); }));
  EXPECT_EQ(fileManager.shown, QStringList{QUrl::fromLocalFile(target).toString()});
}
