#pragma once

#include "runtime/Cancellation.h"
#include "speech/SpeechModel.h"

#include <QCoroTask>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <exception>
#include <functional>
#include <optional>

class QMessageBox;

namespace murel {

class Clock;
class DSProgressBar;
class EditorialPillButton;
class EditorialStatusPill;
class ModelDownloader;
class SettingsChapterRow;
class Tween;

// Where the models page's downloaders fetch from and what times them.
struct ModelDownloadSettings {
  Clock& clock;   // the transfers' time-outs
  QUrl endpoint;  // empty: every file from its own location
};

// A running download's percentage: the whole number of progress × 100,
// truncated, and "%", in accent; a new number rolls up into place.
class DownloadPercentage : public QWidget {
  Q_OBJECT

 public:
  explicit DownloadPercentage(QWidget* parent = nullptr);

  // 0.999 reads 99%, 1 reads 100%.
  static QString textFor(double progress);
  void setProgress(double progress);
  QString text() const { return text_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  QString previous_;
  Tween* roll_;
};

// The trailing controls of a speech-model row, the first that applies: the
// percentage while a download runs; DOWNLOAD while the files are incomplete;
// the checked "ACTIVE" pill on the selected model; USE and DELETE otherwise.
// Disabled, all of it is drawn at half opacity.
class SpeechModelTrailing : public QWidget {
  Q_OBJECT

 public:
  explicit SpeechModelTrailing(QWidget* parent = nullptr);

  void update(bool isDownloaded, bool isSelected, bool isDisabled, std::optional<double> downloadProgress);

  DownloadPercentage* percentage() const { return percentage_; }
  EditorialPillButton* downloadButton() const { return download_; }
  EditorialStatusPill* activePill() const { return active_; }
  EditorialPillButton* useButton() const { return use_; }
  EditorialPillButton* deleteButton() const { return delete_; }
  bool isDimmed() const { return dimmed_; }

 Q_SIGNALS:
  void downloadClicked();
  void useClicked();
  void deleteClicked();

 private:
  DownloadPercentage* percentage_;
  EditorialPillButton* download_;
  EditorialStatusPill* active_;
  EditorialPillButton* use_;
  EditorialPillButton* delete_;
  bool dimmed_ = false;
};

// The language-model card's trailing controls, the first that applies: the
// percentage; the "READY" pill with DELETE; DOWNLOAD. Never disabled.
class ModelDownloadTrailing : public QWidget {
  Q_OBJECT

 public:
  explicit ModelDownloadTrailing(QWidget* parent = nullptr);

  void update(bool isDownloaded, std::optional<double> downloadProgress);

  DownloadPercentage* percentage() const { return percentage_; }
  EditorialPillButton* downloadButton() const { return download_; }
  EditorialStatusPill* readyPill() const { return ready_; }
  EditorialPillButton* deleteButton() const { return delete_; }

 Q_SIGNALS:
  void downloadClicked();
  void deleteClicked();

 private:
  DownloadPercentage* percentage_;
  EditorialPillButton* download_;
  QWidget* installed_;
  EditorialStatusPill* ready_;
  EditorialPillButton* delete_;
};

// "Delete this model?" over `over`, window-modal: Delete runs `confirm`,
// Cancel (or Escape) closes it and changes nothing. It deletes itself on close.
QMessageBox* presentModelDeletionConfirmation(QWidget* over, std::function<void()> confirm);

// "DOWNLOAD SIZE · 3.66 GB": the summed size of the files, in the file style.
QString downloadSizeText(const QList<ModelArtifact>& artifacts);

// One catalogue entry on the models page: number, name, description and
// download size, with its trailing controls and, while its download runs, a
// progress bar. Each time it comes on screen it makes a new downloader for the
// entry's files and reads whether they are installed; leaving the screen
// cancels its running download without a word. USE is handed to the page
// (`useRequested`); a failed download or deletion is reported through `failed`.
class SpeechModelSettingsRow : public QWidget {
  Q_OBJECT

 public:
  static constexpr double kResourceTimeoutSeconds = 3600;

  SpeechModelSettingsRow(int index, SpeechModelDescriptor descriptor, bool isSelected, bool isSwitching,
                         ModelDownloadSettings downloads, QWidget* parent = nullptr);
  ~SpeechModelSettingsRow() override;

  const SpeechModelDescriptor& descriptor() const { return descriptor_; }
  void setSelected(bool selected);
  void setSwitching(bool switching);
  bool isDownloaded() const { return isDownloaded_; }
  // This row's download task is running.
  bool isDownloading() const { return downloading_; }

  // DOWNLOAD: ignored before the row's downloader exists and while its download runs.
  void startRowDownload();
  // DELETE: asks first.
  void requestDelete();
  // The confirmed deletion: cancels a running download, removes the files.
  void deleteRowModel();

  ModelDownloader* downloader() const;
  SettingsChapterRow* chapterRow() const { return chapter_; }
  SpeechModelTrailing* trailing() const { return trailing_; }
  DSProgressBar* progressBar() const { return progress_; }
  QMessageBox* deletionConfirmation() const { return confirmation_; }

 Q_SIGNALS:
  void useRequested();
  void failed(const QString& message);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void prepareRowDownloader();
  void refreshRowInstalled();
  void finishDownload(ModelDownloader* downloader, std::exception_ptr error);
  void cancelDownload();
  void refresh();

  static QCoro::Task<void> runDownload(QPointer<SpeechModelSettingsRow> row, QPointer<ModelDownloader> downloader,
                                       CancellationToken cancel);

  SpeechModelDescriptor descriptor_;
  bool isSelected_;
  bool isSwitching_;
  ModelDownloadSettings downloads_;
  QPointer<ModelDownloader> downloader_;
  std::optional<CancellationToken> downloadCancel_;
  bool downloading_ = false;
  bool isDownloaded_ = false;
  bool onScreen_ = false;
  SettingsChapterRow* chapter_;
  SpeechModelTrailing* trailing_;
  QWidget* progressArea_;
  DSProgressBar* progress_;
  QPointer<QMessageBox> confirmation_;
};

}  // namespace murel
