#pragma once

#include "platform/x11/AccessibilityTrust.h"
#include "speech/SpeechModel.h"

#include <QList>
#include <QUrl>
#include <QWidget>

#include <functional>

class QHBoxLayout;

namespace murel {

class AppState;
class AudioDeviceManager;
class Clock;
class HotKeyService;
namespace platform {
class MicrophonePermission;
}

// What the steps of the onboarding flow may use of the rest of the
// application, handed in by whoever builds the window. Later steps add the
// services they need here (by reference, never through shared()).
struct OnboardingEnvironment {
  AudioDeviceManager& audioDevices;  // read by the permissions and microphone steps
  Clock& clock;                      // every wait of every step (carousel, reveals, polls)
  // The permissions step: the system's microphone answer, read afresh by its
  // polls, and whether the desktop lets us watch and type keys.
  platform::MicrophonePermission& microphonePermission;
  std::function<bool()> isAccessibilityTrusted;
  HotKeyService& hotKeys;  // the hotkey step's recorder, registrations and activation mode
  AppState& appState;      // the speech-model step's load, the trial's dictations
  // Test seams of the speech-model step: the rows it offers (the catalogue
  // when empty) and where it fetches every file from (each file's own address
  // when empty).
  QList<SpeechModelDescriptor> speechModels = {};
  QUrl downloadEndpoint = {};
  // What the desktop lacks for key access, worded on the accessibility row
  // when the trust check says no (a general explanation when unset).
  std::function<platform::KeyAccessReport()> keyAccess = {};
  // Whether a tray shows the application's icon: without one the texts say
  // how else to reach it (unset: no tray).
  std::function<bool()> isTrayHostAvailable = {};
};

// One screen of the onboarding flow. A step moves the flow only by emitting
// these signals; the container decides what follows. It is made afresh each
// time the flow enters it and deleted when the flow leaves it, so its state
// starts over on every visit: effects it has on the rest of the application
// are set when it is shown and undone in hideEvent or its destructor.
class OnboardingStep : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;

  // The row a step ends with: `leading` (the secondary Back) at the left edge,
  // `trailing` (the primary Next, Start …) at the right; either may be null.
  static QHBoxLayout* buttonRow(QWidget* leading, QWidget* trailing);

 Q_SIGNALS:
  // Back one step (ignored on the first).
  void backRequested();
  // On to the next step.
  void continueRequested();
  // The last step's Start: close the window and start the application.
  void finishRequested();
};

}  // namespace murel
