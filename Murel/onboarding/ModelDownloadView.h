#pragma once

#include "design/EditorialComponents.h"
#include "design/Tokens.h"
#include "onboarding/OnboardingStep.h"
#include "runtime/Cancellation.h"
#include "speech/SpeechModel.h"

#include <QCoroTask>
#include <QList>
#include <QPointer>
#include <QUrl>

#include <memory>
#include <optional>

class QScrollArea;

namespace murel {

class AppState;
class DSProgressBar;
class ModelDownloader;
class OnboardingButtonStyle;
class TextLabel;

// What the speech-model step shows. Busy while downloading or loading.
struct SpeechModelSetupState {
  enum class Kind { downloading, error, idle, loading, ready };
  Kind kind = Kind::idle;
  double progress = 0;  // downloading: the fraction of the model's bytes on disk
  QString message;      // error: the text shown

  static SpeechModelSetupState downloading(double p) { return {Kind::downloading, p, {}}; }
  static SpeechModelSetupState error(QString m) { return {Kind::error, 0, std::move(m)}; }
  static SpeechModelSetupState idle() { return {}; }
  static SpeechModelSetupState loading() { return {Kind::loading, 0, {}}; }
  static SpeechModelSetupState ready() { return {Kind::ready, 0, {}}; }

  bool isBusy() const { return kind == Kind::downloading || kind == Kind::loading; }
  bool operator==(const SpeechModelSetupState& o) const {
    if (kind != o.kind) return false;
    if (kind == Kind::downloading) return progress == o.progress;
    if (kind == Kind::error) return message == o.message;
    return true;
  }
};

// The fifth onboarding step: one row per speech model, the chosen one's
// download with progress and cancel, then its load through the application
// state. NEXT → is enabled only once the model is loaded.
//
// The choice is the stored "selectedWhisperModel" (an id naming no row picks
// the default model's row). Coming on screen prepares a downloader for the
// chosen row and, when its files are all present, loads it at once; leaving
// cancels the running download. At most one download-or-load task runs; a task
// that ends after the step is gone, or after another task replaced it, changes
// nothing.
class ModelDownloadView : public OnboardingStep {
  Q_OBJECT

 public:
  struct Badge {
    QString label;
    EditorialStatusPill::Leading leading;
    DSColor tint;
  };

  // `catalog` and `endpoint` are test seams: the rows offered (the catalogue
  // when empty) and where every file is fetched from (each file's own address
  // when empty).
  explicit ModelDownloadView(AppState& appState, QList<SpeechModelDescriptor> catalog = {}, QUrl endpoint = {},
                             QWidget* parent = nullptr);
  ~ModelDownloadView() override;

  static constexpr double kResourceTimeoutSeconds = 3600;

  const SpeechModelSetupState& state() const { return state_; }
  bool isBusy() const { return state_.isBusy(); }
  const QList<SpeechModelDescriptor>& catalog() const { return catalog_; }
  // The chosen row: the catalogue entry with the stored id, else the default model's.
  const SpeechModelDescriptor& chosenEntry() const;
  ModelDownloader* downloader() const { return downloader_.get(); }
  bool hasTask() const { return task_.has_value(); }

  void selectModel(const SpeechModelDescriptor& entry);
  void prepareDownloader(const SpeechModelDescriptor& entry);
  void startModelDownload();
  void cancelModelDownload();
  QString downloadSizeText() const;
  Badge setupBadge() const;

  // "DOWNLOADING n%": the fraction times 100, cut toward zero.
  static int percentOf(double fraction);
  // The sum of a model's file sizes.
  static qint64 downloadSize(const SpeechModelDescriptor& entry);

  QList<QAbstractButton*> modelRows() const { return rows_; }
  QScrollArea* modelList() const { return list_; }
  EditorialStatusPill* badge() const { return badge_; }
  DSProgressBar* progressBar() const { return progress_; }
  TextLabel* errorText() const { return errorText_; }
  TextLabel* sizeText() const { return sizeText_; }
  OnboardingButtonStyle* downloadButton() const { return download_; }
  OnboardingButtonStyle* cancelButton() const { return cancel_; }
  OnboardingButtonStyle* backButton() const { return back_; }
  OnboardingButtonStyle* nextButton() const { return next_; }

 Q_SIGNALS:
  void stateChanged();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // The running task: cancelling its token cancels it; the id tells it apart
  // from the task that replaced it.
  struct TaskRef {
    CancellationToken token;
    quint64 id = 0;
  };

  // The tasks run detached from the step and reach it only through `self`,
  // and only while they are still the step's task.
  static QCoro::Task<void> runDownload(QPointer<ModelDownloadView> self, std::shared_ptr<ModelDownloader> downloader,
                                       TaskRef task);
  static QCoro::Task<void> runLoad(QPointer<ModelDownloadView> self, TaskRef task);
  static QCoro::Task<void> loadSelectedModel(QPointer<ModelDownloadView> self, TaskRef task);
  bool isCurrentTask(const TaskRef& task) const;
  TaskRef replaceTask();
  void followDownloader();
  void setState(const SpeechModelSetupState& state);
  void refresh();

  AppState& appState_;
  QList<SpeechModelDescriptor> catalog_;
  QUrl endpoint_;
  std::shared_ptr<ModelDownloader> downloader_;
  std::optional<TaskRef> task_;
  quint64 taskCount_ = 0;
  bool downloadRunning_ = false;
  SpeechModelSetupState state_;

  QScrollArea* list_;
  QList<QAbstractButton*> rows_;
  TextLabel* sizeText_;
  EditorialStatusPill* badge_;
  DSProgressBar* progress_;
  TextLabel* errorText_;
  OnboardingButtonStyle* download_;
  OnboardingButtonStyle* cancel_;
  OnboardingButtonStyle* back_;
  OnboardingButtonStyle* next_;
};

}  // namespace murel
