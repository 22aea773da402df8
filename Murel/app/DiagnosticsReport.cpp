#include "app/DiagnosticsReport.h"

#include "app/FilePanels.h"
#include "audio/AudioDeviceManager.h"
#include "platform/x11/AccessibilityTrust.h"
#include "runtime/DiagLog.h"
#include "runtime/UserDefaults.h"
#include "speech/LanguageModelFile.h"
#include "speech/SpeechModel.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSysInfo>
#include <QTimeZone>

#include <sys/utsname.h>
#include <unistd.h>

namespace murel {

namespace {

AppStateFactsProvider& appStateFactsProvider() {
  static AppStateFactsProvider provider;
  return provider;
}

QString padded(const QString& label, int width) { return label.leftJustified(width, QLatin1Char(' '), true); }

QString headerLine(const QString& label, const QString& value) { return padded(label, 11) + value; }
QString stateLine(const QString& label, const QString& value) { return padded(label, 16) + value; }

// Bytes up to the first zero byte, decoded as UTF-8; "unknown" when they are not UTF-8.
QString decodeFact(const QByteArray& bytes) {
  const qsizetype zero = bytes.indexOf('\0');
  const QByteArray text = zero < 0 ? bytes : bytes.left(zero);
  QString decoded = QString::fromUtf8(text);
  if (decoded.contains(QChar::ReplacementCharacter)) return QStringLiteral("unknown");
  return decoded;
}

QString systemVersion() {
  const QString pretty = QSysInfo::prettyProductName();
  const QString kernel = QSysInfo::kernelType() + QLatin1Char(' ') + QSysInfo::kernelVersion();
  return pretty.isEmpty() ? kernel : pretty + QStringLiteral(" (") + kernel + QLatin1Char(')');
}

qint64 physicalMemoryBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<qint64>(pages) * pageSize;
}

}  // namespace

void setAppStateFactsProvider(AppStateFactsProvider provider) { appStateFactsProvider() = std::move(provider); }

QString systemFactString(const QString& name) {
  if (name == QLatin1String("machine")) {
    struct utsname names {};
    if (::uname(&names) != 0) return QStringLiteral("unknown");
    return decodeFact(QByteArray(names.machine, sizeof(names.machine)));
  }
  if (name == QLatin1String("model")) {
    QFile file(QStringLiteral("/sys/class/dmi/id/product_name"));
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("unknown");
    QByteArray bytes = file.readAll();
    if (bytes.isEmpty()) return QStringLiteral("unknown");
    while (bytes.endsWith('\n')) bytes.chop(1);
    return decodeFact(bytes);
  }
  return QStringLiteral("unknown");
}

QString inputDeviceName(const QList<AudioDevice>& devices, quint32 selectedDeviceID) {
  for (const AudioDevice& device : devices)
    if (device.id == selectedDeviceID) return device.name;
  return QStringLiteral("system default");
}

QString microphonePermissionName(int status) {
  switch (status) {
    case 0: return QStringLiteral("notDetermined");
    case 1: return QStringLiteral("restricted");
    case 2: return QStringLiteral("denied");
    case 3: return QStringLiteral("authorized");
    default: return QStringLiteral("unknown");
  }
}

QString diagnosticsFileName(const QDateTime& now) {
  const QDate date = now.toLocalTime().date();
  return QStringLiteral("Murel-Diagnostics-") + QLocale::c().toString(date, QStringLiteral("yyyy-MM-dd")) +
         QStringLiteral(".txt");
}

DiagnosticsFacts collectDiagnosticsFacts(const DiagnosticsSources& sources) {
  DiagnosticsFacts facts;
  const QString version = QCoreApplication::applicationVersion();
  if (!version.isEmpty()) facts.appVersion = version;
#ifdef MUREL_BUILD_NUMBER
  facts.buildNumber = QStringLiteral(MUREL_BUILD_NUMBER);
#endif
  facts.systemVersion = systemVersion();
  facts.hardwareModel = systemFactString(QStringLiteral("model"));
  facts.machine = systemFactString(QStringLiteral("machine"));
  facts.physicalMemoryBytes = physicalMemoryBytes();
  facts.locale = QLocale().name();

  UserDefaults& defaults = sources.defaults;
  facts.selectedSpeechModel = selectedSpeechModel(defaults).id.rawValue;
  for (const SpeechModelDescriptor& model : SpeechModelDescriptor::catalog())
    facts.speechModels.append({model.id.rawValue, model.isModelInstalled()});
  facts.languageModelDownloaded = isGemmaModelInstalled();
  facts.microphonePermission = static_cast<int>(sources.microphone.status());
  facts.accessibilityTrusted = platform::isAccessibilityTrusted();
  {
    // A manager of its own reads the device list and the stored choice afresh.
    AudioDeviceManager manager(defaults, sources.microphone, sources.audioDevices);
    facts.inputDevice = inputDeviceName(manager.devices(), manager.selectedDeviceID());
  }
  const AppStateFacts state = appStateFactsProvider() ? appStateFactsProvider()() : AppStateFacts{};
  facts.status = state.status;
  facts.autoPaste = state.autoPaste;
  facts.lastError = state.lastError;
  facts.activationMode = state.activationMode;
  facts.log = DiagLog::shared().readAll();
  return facts;
}

QString buildDiagnosticsReport(const DiagnosticsFacts& facts) {
  const QString app = facts.appVersion.value_or(QStringLiteral("?")) + QStringLiteral(" (") +
                      facts.buildNumber.value_or(QStringLiteral("?")) + QLatin1Char(')');
  const QString memory = QString::asprintf("%.0f GB", static_cast<double>(facts.physicalMemoryBytes) / 1073741824.0);
  const QStringList header{
      QStringLiteral("=== Murel Diagnostics ==="),
      headerLine(QStringLiteral("app"), app),
      headerLine(QStringLiteral("system"), facts.systemVersion),
      headerLine(QStringLiteral("hardware"), facts.hardwareModel + QStringLiteral(" \u00B7 ") + facts.machine),
      headerLine(QStringLiteral("memory"), memory),
      headerLine(QStringLiteral("locale"), facts.locale),
  };

  QStringList modelLines;
  for (const auto& model : facts.speechModels)
    modelLines.append(padded(model.id, 24) +
                      (model.downloaded ? QStringLiteral("downloaded") : QStringLiteral("absent")));

  QString state = QStringLiteral("--- state ---\n") +
                  stateLine(QStringLiteral("speechSelected"), facts.selectedSpeechModel) + QLatin1Char('\n') +
                  modelLines.join(QLatin1Char('\n'));
  const QList<std::pair<QString, QString>> rest{
      {QStringLiteral("gemma"),
       facts.languageModelDownloaded ? QStringLiteral("downloaded") : QStringLiteral("absent")},
      {QStringLiteral("mic"), microphonePermissionName(facts.microphonePermission)},
      {QStringLiteral("accessibility"),
       facts.accessibilityTrusted ? QStringLiteral("trusted") : QStringLiteral("denied")},
      {QStringLiteral("hotkey"), activationModeRawValue(facts.activationMode)},
      {QStringLiteral("autoPaste"), facts.autoPaste ? QStringLiteral("true") : QStringLiteral("false")},
      {QStringLiteral("inputDevice"), facts.inputDevice},
      {QStringLiteral("status"), facts.status},
      {QStringLiteral("lastError"), facts.lastError.value_or(QStringLiteral("none"))},
  };
  for (const auto& [label, value] : rest) state += QLatin1Char('\n') + stateLine(label, value);

  return header.join(QLatin1Char('\n')) + QStringLiteral("\n\n") + state + QStringLiteral("\n\n--- log ---\n") +
         facts.log;
}

bool saveDiagnosticsReport(const DiagnosticsSources& sources, const QString& defaultName, const QString& title,
                           const QString& category) {
  return saveTextWithPanel(sources.panels, sources.workspace, DiagLog::shared(), defaultName, title, category,
                           [&sources] { return buildDiagnosticsReport(collectDiagnosticsFacts(sources)); });
}

bool exportDiagnosticsReport(const DiagnosticsSources& sources) {
  //% "Save diagnostics log"
  //: Title of the save dialog when exporting the diagnostics log.
  return saveDiagnosticsReport(sources, diagnosticsFileName(), qtTrId("diagnostics.save.title"),
                               QStringLiteral("diag"));
}

}  // namespace murel
