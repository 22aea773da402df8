#pragma once

#include "runtime/Cancellation.h"
#include "speech/SpeechModel.h"

#include <QCoroTask>
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <exception>
#include <functional>
#include <optional>

class QAbstractButton;
class QMessageBox;

namespace murel {

class AppState;
class CapsuleMenuButton;
class Clock;
class DSProgressBar;
class EditorialPillButton;
class ModelDownloader;
class ModelDownloadTrailing;
class ModelInactivityDelayPicker;
class SettingsCardSection;
class SettingsPageLayout;
class SettingsRow;
class SpeechModelSettingsRow;
class TextLabel;
class UserDefaults;

// What the models page works on. The composition root hands it the
// application's own; tests hand it small stand-ins (kilobyte files, a fake
// clock, a loopback server, a state of their own).
struct ModelsPageProvider {
  AppState& appState;
  // Where "selectedWhisperModel", "whisperLanguage" and the model-memory delay live.
  UserDefaults& defaults;
  // The speech-model catalogue, in the order shown.
  QList<SpeechModelDescriptor> catalog;
  // The language-model file and its folder, with the file's install test and
  // its deletion (the file and its partial download).
  ModelArtifact languageModel;
  QString languageModelDirectory;
  std::function<bool()> isLanguageModelInstalled;
  std::function<void()> deleteLanguageModel;
  // Times the downloads' time-outs.
  Clock& downloadClock;
  // Times the spoken-language menu's delay.
  Clock& clock;
  // Every download fetches from this scheme, host and port when it is set.
  QUrl downloadEndpoint;

  // The application's catalogue, language-model file and clocks.
  static ModelsPageProvider application(AppState& appState, UserDefaults& defaults);
};

// The error banner of the models page: a danger bar, "ERROR" over the message,
// and DISMISS.
class ModelsErrorBanner : public QWidget {
  Q_OBJECT

 public:
  explicit ModelsErrorBanner(QWidget* parent = nullptr);

  void setMessage(const QString& message);
  TextLabel* messageLabel() const { return message_; }
  QAbstractButton* dismissButton() const { return dismiss_; }

 Q_SIGNALS:
  void dismissed();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TextLabel* message_;
  QAbstractButton* dismiss_;
};

// The "Models" tab: the catalogue's speech models to download, choose (USE) and
// delete; the spoken language of the chosen model; the on-device language
// model; and after how long idle models leave memory. Every failed action ends
// in one error banner. The page keeps one visit's state: leaving it cancels its
// downloads without a word, while a model switch already started runs to its end.
class ModelsSettingsView : public QWidget {
  Q_OBJECT

 public:
  static constexpr double kResourceTimeoutSeconds = 3600;

  explicit ModelsSettingsView(ModelsPageProvider provider, QWidget* parent = nullptr);
  ~ModelsSettingsView() override;

  // The catalogue entry stored under "selectedWhisperModel", else the default entry.
  const SpeechModelDescriptor& resolvedSelectedModel() const;

  // USE: switches the speech model through the application state.
  void useSpeechModel(const SpeechModelDescriptor& descriptor);
  bool isSwitchingSpeechModel() const { return isSwitching_; }
  const std::optional<QString>& errorMessage() const { return errorMessage_; }
  // A message shows the banner and scrolls the page to it: it sits below the
  // speech models, out of sight of a user who pressed DOWNLOAD further up.
  void setErrorMessage(std::optional<QString> message);

  // The language-model card's actions.
  void startGemmaDownload();
  void requestGemmaDelete();
  void performGemmaDelete();
  bool isGemmaDownloaded() const { return gemmaDownloaded_; }
  bool isGemmaDownloading() const { return gemmaDownloading_; }

  QList<SpeechModelSettingsRow*> speechModelRows() const { return rows_; }
  ModelsErrorBanner* errorBanner() const { return banner_; }
  SettingsRow* languageRow() const { return languageRow_; }
  // The language row's control, when the selected model lets the user choose.
  CapsuleMenuButton* languagePicker() const;
  ModelDownloader* gemmaDownloader() const { return gemmaDownloader_; }
  ModelDownloadTrailing* gemmaTrailing() const { return gemmaTrailing_; }
  DSProgressBar* gemmaProgressBar() const { return gemmaProgress_; }
  QMessageBox* gemmaDeleteConfirmation() const { return gemmaConfirmation_; }
  ModelInactivityDelayPicker* inactivityDelayPicker() const { return delayPicker_; }

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  static QCoro::Task<void> runSwitch(QPointer<ModelsSettingsView> page, AppState* state,
                                     SpeechModelDescriptor descriptor);
  static QCoro::Task<void> runGemmaDownload(QPointer<ModelsSettingsView> page, QPointer<ModelDownloader> downloader,
                                            CancellationToken cancel);
  void finishSwitch(std::exception_ptr error);
  void finishGemmaDownload(std::exception_ptr error);
  void onDefaultsChanged(const QString& key);
  void reapplyModelResidency();
  void refreshSelection();
  void rebuildLanguageRow();
  bool isGemmaFileComplete() const;
  void refreshGemmaSnapshot();
  void refreshGemmaCard();
  void cancelGemmaDownload();
  void revealBanner();

  ModelsPageProvider p_;
  bool isSwitching_ = false;
  std::optional<QString> errorMessage_;
  bool revealPending_ = false;
  bool gemmaDownloaded_ = false;
  bool gemmaDownloading_ = false;
  std::optional<CancellationToken> gemmaCancel_;
  std::optional<qint64> lastDelayMinutes_;
  QList<SpeechModelSettingsRow*> rows_;
  SettingsPageLayout* page_;
  QWidget* bannerArea_;
  ModelsErrorBanner* banner_;
  SettingsCardSection* languageSection_;
  QWidget* languageHolder_;
  SettingsRow* languageRow_ = nullptr;
  std::optional<LanguageSupport> shownLanguages_;
  ModelDownloader* gemmaDownloader_;
  ModelDownloadTrailing* gemmaTrailing_;
  QWidget* gemmaProgressArea_;
  DSProgressBar* gemmaProgress_;
  QPointer<QMessageBox> gemmaConfirmation_;
  ModelInactivityDelayPicker* delayPicker_;
};

}  // namespace murel
