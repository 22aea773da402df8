#pragma once

#include "hotkeys/HotKeyBinding.h"
#include "keys/ActivationMode.h"
#include "keys/KeyCombo.h"
#include "platform/KeyEventTap.h"
#include "runtime/Clock.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QUuid>

#include <functional>
#include <optional>

namespace murel {

class UserDefaults;

// The one place that sees the keyboard globally: owns the hotkey settings,
// registers the hotkeys with the event tap and turns presses and releases of
// the dictation hotkeys into the start and end of a key session. Main thread.
class HotKeyService : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool isActive READ isActive NOTIFY isActiveChanged)
  Q_PROPERTY(bool isRegistered READ isRegistered NOTIFY isRegisteredChanged)
  Q_PROPERTY(bool isPaused READ isPaused WRITE setPaused NOTIFY isPausedChanged)

 public:
  // What a key session stands for.
  struct Session {
    enum class Kind { dictation, commandEdit };
    Kind kind = Kind::dictation;
    std::optional<QUuid> modeId;  // the mode of a mode's own hotkey; dictation only

    static Session dictation(std::optional<QUuid> mode = std::nullopt) { return {Kind::dictation, mode}; }
    static Session commandEdit() { return {Kind::commandEdit, std::nullopt}; }
    friend bool operator==(const Session&, const Session&) = default;
  };

  // A mode's own hotkey, as the mode store lists it.
  struct ModeHotKey {
    QUuid modeId;
    std::optional<KeyCombo> hotkey;
  };

  // What the service reads of the user's data: the modes in list order with
  // their hotkeys, and whether voice edit is on. Read at every rebuild and by
  // currentBindings; changes are not observed (whoever changes them rebuilds).
  struct UserData {
    std::function<QList<ModeHotKey>()> modeHotKeys;
    std::function<bool()> isVoiceEditEnabled;
  };

  static constexpr qint32 kRegistrationFailed = 1000;

  // Reads the four settings (and writes back their effective values); installs nothing.
  // Hold times are measured on the tap's clock, from when the keys were caught.
  HotKeyService(UserDefaults& defaults, KeyEventTap& tap, UserData userData = {}, QObject* parent = nullptr);
  ~HotKeyService() override;

  void setUserData(UserData userData) { userData_ = std::move(userData); }

  bool isActive() const { return isActive_; }
  // A start or stop decided on a key event whose report has not reached
  // onSessionChanged yet.
  bool hasReportInFlight() const { return reportsInFlight_ > 0; }
  const std::optional<KeyCombo>& currentCombo() const { return currentCombo_; }
  const std::optional<KeyCombo>& changeModeCombo() const { return changeModeCombo_; }
  const std::optional<KeyCombo>& commandEditCombo() const { return commandEditCombo_; }
  std::optional<qint32> lastRegistrationError() const { return lastRegistrationError_; }
  bool isRegistered() const { return isRegistered_; }
  // The hotkeys another program held at the last rebuild, so they cannot be
  // caught; in registration order. Only the dictation hotkey's refusal counts
  // as a failed registration, the others are reported here for their rows.
  const QList<HotKeyBinding>& refusedBindings() const { return refusedBindings_; }
  ActivationMode activationMode() const { return activationMode_; }
  bool isPaused() const { return isPaused_; }

  // Each stores the value (none removes the key) on every call; observers hear of changes only.
  // Setting a hotkey does not rebuild the registrations: the caller does.
  void setCurrentCombo(std::optional<KeyCombo> combo);
  void setChangeModeCombo(std::optional<KeyCombo> combo);
  void setCommandEditCombo(std::optional<KeyCombo> combo);
  void setActivationMode(ActivationMode mode);
  void setPaused(bool paused);
  // A capture pauses the service until it ends; with several captures at
  // once the service stays paused until the last one ends.
  void holdPause();
  void releasePause();

  // Drops all key state and any running key session (without a report),
  // installs the tap if needed and registers the hotkeys anew.
  void reloadRegistrations();
  // Every hotkey by purpose: the three application hotkeys when set (voice
  // edit even while it is off) and every mode's own hotkey.
  HotKeyBindings currentBindings() const;
  // Ends the key session silently (no report).
  void resetSession();

  // Called one main-loop turn after a key session started (true) or ended (false).
  std::function<void(bool started, const Session& session)> onSessionChanged;
  // Called at once when the change-mode hotkey is pressed.
  std::function<void()> onChangeMode;

 Q_SIGNALS:
  void isActiveChanged();
  void currentComboChanged();
  void changeModeComboChanged();
  void commandEditComboChanged();
  void lastRegistrationErrorChanged();
  void isRegisteredChanged();
  void refusedBindingsChanged();
  void activationModeChanged();
  void isPausedChanged();

 private:
  enum class Action { recordMode, toggleRecording, changeMode, commandEdit };
  struct Registration {
    KeyCombo combo;
    Action action = Action::toggleRecording;
    QUuid modeId;
  };

  void handleDelivery(const KeyEventTap::Delivery& delivery);
  // `at`: when the key event was caught, on the service's clock.
  void pressRegistration(quint32 id, Clock::Duration at);
  void releaseRegistration(quint32 id, Clock::Duration at);
  void driveStateMachine(quint32 id, bool isRelease, const Session& session, Clock::Duration at);
  void postSessionChange(bool started, const Session& session);
  void setActive(bool active);
  void setRegistered(bool registered);
  void setLastRegistrationError(std::optional<qint32> error);
  void setRefusedBindings(QList<HotKeyBinding> bindings);
  static HotKeyBinding bindingOf(const Registration& registration);
  void storeCombo(const QString& key, const std::optional<KeyCombo>& combo);
  QList<ModeHotKey> modeHotKeys() const;
  bool isVoiceEditEnabled() const;

  UserDefaults& defaults_;
  KeyEventTap& tap_;
  UserData userData_;

  bool isActive_ = false;
  int reportsInFlight_ = 0;
  std::optional<KeyCombo> currentCombo_;
  std::optional<KeyCombo> changeModeCombo_;
  std::optional<KeyCombo> commandEditCombo_;
  std::optional<qint32> lastRegistrationError_;
  bool isRegistered_ = false;
  QList<HotKeyBinding> refusedBindings_;
  ActivationMode activationMode_ = ActivationMode::hybrid;
  bool isPaused_ = false;
  int pauseHolds_ = 0;

  ActivationStateMachine stateMachine_;
  QMap<quint32, Registration> registrations_;  // by id, in registration order
  std::optional<quint32> sessionOwner_;
  quint64 generation_ = 0;
};

}  // namespace murel
