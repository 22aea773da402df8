#pragma once

#include "keys/ActivationMode.h"
#include "platform/pulse/MicrophonePermission.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace murel {

struct AudioDevice;
class FilePanels;
class UserDefaults;
class Workspace;
namespace platform {
class AudioDevices;
}

// Where the report's facts come from and where a saved report goes; the
// composition root's parts.
struct DiagnosticsSources {
  UserDefaults& defaults;
  platform::MicrophonePermission& microphone;
  platform::AudioDevices& audioDevices;
  FilePanels& panels;
  Workspace& workspace;
};

// Everything the diagnostics report shows, gathered before it is laid out.
struct DiagnosticsFacts {
  struct SpeechModelLine {
    QString id;
    bool downloaded = false;
  };

  std::optional<QString> appVersion;
  std::optional<QString> buildNumber;
  QString systemVersion;
  QString hardwareModel;
  QString machine;
  qint64 physicalMemoryBytes = 0;
  QString locale;

  QString selectedSpeechModel;
  QList<SpeechModelLine> speechModels;  // catalogue order
  bool languageModelDownloaded = false;
  int microphonePermission = 0;  // platform::MicrophonePermissionStatus value
  bool accessibilityTrusted = false;
  ActivationMode activationMode = ActivationMode::hybrid;
  bool autoPaste = true;
  QString inputDevice;
  QString status;  // "LOADING", "READY", "RECORDING", "TRANSCRIBING" or "ERROR"
  std::optional<QString> lastError;
  QString log;
};

// What the application state and the hotkey service tell the report; the
// composition root provides it.
struct AppStateFacts {
  QString status = QStringLiteral("LOADING");
  bool autoPaste = true;
  std::optional<QString> lastError;
  ActivationMode activationMode = ActivationMode::hybrid;
};
using AppStateFactsProvider = std::function<AppStateFacts()>;
void setAppStateFactsProvider(AppStateFactsProvider provider);

// A platform fact by name for the hardware line: "model" (the machine's product
// name) or "machine" (the processor architecture); "unknown" when unreadable.
QString systemFactString(const QString& name);

// The first listed device with the selected id names the input; "system default" otherwise.
QString inputDeviceName(const QList<AudioDevice>& devices, quint32 selectedDeviceID);

QString microphonePermissionName(int status);

// "Murel-Diagnostics-yyyy-MM-dd.txt" for the local date of `now`.
QString diagnosticsFileName(const QDateTime& now = QDateTime::currentDateTime());

// The facts of this process and machine right now; reads the whole diagnostics log.
DiagnosticsFacts collectDiagnosticsFacts(const DiagnosticsSources& sources);

QString buildDiagnosticsReport(const DiagnosticsFacts& facts);

// Asks where to save, builds the report only once a location is chosen, writes
// and reveals it. True when written.
bool saveDiagnosticsReport(const DiagnosticsSources& sources, const QString& defaultName, const QString& title,
                           const QString& category);
bool exportDiagnosticsReport(const DiagnosticsSources& sources);

}  // namespace murel
