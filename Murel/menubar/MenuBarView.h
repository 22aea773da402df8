#pragma once

#include "menubar/MenuBarRows.h"

#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

namespace murel {

class AppState;
class AudioDeviceManager;
class ModeStore;
class OnboardingButtonStyle;
class SettingsNavigator;
class TextLabel;
class ThinDivider;
class UserDefaults;
class Workspace;

// The error the panel reports: an error status's message, else the last error
// the status no longer carries; none without either.
std::optional<QString> menuBarErrorMessage(const AppState& state);

// The card above the rows while there is an error: the title, the message as
// it stands, and OPEN SETTINGS (only with a settings link), RETRY and DISMISS.
class MenuBarErrorCard : public QWidget {
  Q_OBJECT

 public:
  MenuBarErrorCard(AppState& state, Workspace& workspace, QWidget* parent = nullptr);

  QString message() const;
  OnboardingButtonStyle* openSettingsButton() const { return openSettings_; }
  OnboardingButtonStyle* retryButton() const { return retry_; }
  QAbstractButton* dismissButton() const { return dismiss_; }
  // The buttons shown now, left to right.
  QList<QAbstractButton*> visibleButtons() const;

  // Follows the state; hides the card when there is no error.
  void refresh();

  static constexpr int kPaddingX = 32;
  static constexpr int kPaddingY = 20;

 private:
  void dismissError();

  AppState& state_;
  Workspace& workspace_;
  TextLabel* title_;
  TextLabel* message_;
  OnboardingButtonStyle* openSettings_;
  OnboardingButtonStyle* retry_;
  QAbstractButton* dismiss_;
  std::optional<QUrl> link_;
};

// The tray panel, 360 px wide: the error card, the mode, model, language and
// microphone rows, and TRANSCRIBE FILE, SETTINGS, CHECK FOR UPDATES…, SETUP
// GUIDE and QUIT MUREL, one hairline rule between neighbours. Built afresh each
// time the panel opens; everything it shows follows the objects it is given.
// Main thread.
class MenuBarView : public QWidget {
  Q_OBJECT

 public:
  struct Parts {
    AppState& appState;
    ModeStore& modes;
    UserDefaults& defaults;
    AudioDeviceManager& devices;
    // Which settings page opens; TRANSCRIBE FILE writes it.
    SettingsNavigator& navigator;
    // Opens the error's settings link.
    Workspace& workspace;
  };
  // What the action rows reach above this layer; the composition root wires them.
  struct Actions {
    std::function<void()> openSettings;
    std::function<void()> checkForUpdates;
    // Brings the onboarding window forward.
    std::function<void()> openSetupGuide;
    // Default: ends the application's event loop.
    std::function<void()> quit;
  };

  MenuBarView(Parts parts, Actions actions, bool isOnboardingComplete, QWidget* parent = nullptr);

  static constexpr int kWidth = 360;

  bool isOnboardingComplete() const { return isOnboardingComplete_; }
  void setOnboardingComplete(bool complete);
  // Whether more than one speech model was installed when the panel was first painted.
  bool hasModelChoice() const { return hasModelChoice_; }

  MenuBarErrorCard* errorCard() const { return errorCard_; }
  MenuBarModeRow* modeRow() const { return modeRow_; }
  MenuBarModelRow* modelRow() const { return modelRow_; }
  MenuBarLanguageRow* languageRow() const { return languageRow_; }
  MenuBarMicRow* micRow() const { return micRow_; }
  MenuBarActionRow* transcribeFileRow() const { return transcribeFile_; }
  MenuBarActionRow* settingsRow() const { return settings_; }
  MenuBarActionRow* checkForUpdatesRow() const { return checkForUpdates_; }
  MenuBarActionRow* setupGuideRow() const { return setupGuide_; }
  MenuBarActionRow* quitRow() const { return quit_; }
  // The rows and rules shown now, top to bottom.
  QList<QWidget*> visibleItems() const;

  QSize sizeHint() const override;
  bool hasHeightForWidth() const override { return false; }

 Q_SIGNALS:
  // The model scan after the first paint has run.
  void modelChoiceScanned();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void scanModelChoice();
  void refreshError();
  void transcribeFile();
  void openSettings();

  Parts p_;
  Actions actions_;
  bool isOnboardingComplete_;
  bool hasModelChoice_ = false;
  bool scanQueued_ = false;
  ModeMenuTarget* modeTarget_;
  ClosureMenuTarget* closureTarget_;
  LanguageMenuTarget* languageTarget_;
  MenuBarErrorCard* errorCard_;
  ThinDivider* errorRule_;
  MenuBarModeRow* modeRow_;
  MenuBarModelRow* modelRow_;
  ThinDivider* modelRule_;
  MenuBarLanguageRow* languageRow_;
  MenuBarMicRow* micRow_;
  MenuBarActionRow* transcribeFile_;
  MenuBarActionRow* settings_;
  MenuBarActionRow* checkForUpdates_;
  MenuBarActionRow* setupGuide_;
  MenuBarActionRow* quit_;
};

}  // namespace murel
