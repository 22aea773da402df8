#include "settings/SpeechModelSettingsRow.h"

#include "design/EditorialComponents.h"
#include "design/Motion.h"
#include "design/ProgressComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "runtime/ByteCountText.h"
#include "runtime/Error.h"
#include "speech/ModelDownloader.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <cmath>

namespace murel {

namespace {

QFont percentageFont() { return tracked(notoSans(12), 1); }
constexpr int kRollMs = 150;

std::optional<double> downloadingProgress(const ModelDownloader* downloader) {
  if (!downloader || downloader->state().kind != ModelDownloader::State::Kind::Downloading) return std::nullopt;
  return downloader->state().progress;
}

bool isCancellation(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const OperationCancelled&) {
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

// DownloadPercentage

DownloadPercentage::DownloadPercentage(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  roll_ = new Tween(
      1, [this](qreal) { update(); }, this);
  text_ = textFor(0);
  setAccessibleName(text_);
}

QString DownloadPercentage::textFor(double progress) {
  // Truncated: the last percent shows only when the whole file is there.
  const qint64 whole = static_cast<qint64>(std::trunc(std::clamp(progress, 0.0, 1.0) * 100.0));
  //% "%1%"
  //: A running download's percentage, e.g. 42%.
  return qtTrId("settings.models.download.percent").arg(whole);
}

void DownloadPercentage::setProgress(double progress) {
  const QString text = textFor(progress);
  if (text == text_) return;
  previous_ = text_;
  text_ = text;
  setAccessibleName(text_);
  updateGeometry();
  roll_->jumpTo(0);
  roll_->animateTo(1, kRollMs);
}

QSize DownloadPercentage::sizeHint() const {
  // Wide enough for "100%", so the row does not jitter as the digits change.
  const QSizeF widest = TextMetrics::size(textFor(1), percentageFont(), 0);
  const QSizeF now = TextMetrics::size(text_, percentageFont(), 0);
  return QSize(int(std::ceil(std::max(widest.width(), now.width()))), int(std::ceil(now.height())));
}

void DownloadPercentage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setClipRect(rect());
  const QColor color = dsColor(DSColor::accent, this);
  const qreal t = roll_->value();
  const QRectF box(rect());
  // Counting up: the old number leaves upwards while the new one rises from below.
  if (t < 1 && !previous_.isEmpty()) {
    QColor fading = color;
    fading.setAlphaF(color.alphaF() * (1 - t));
    TextMetrics::draw(painter, box.translated(0, -t * box.height()), previous_, percentageFont(), 0, fading,
                      Qt::AlignRight, false);
  }
  QColor rising = color;
  rising.setAlphaF(color.alphaF() * t);
  TextMetrics::draw(painter, box.translated(0, (1 - t) * box.height()), text_, percentageFont(), 0, rising,
                    Qt::AlignRight, false);
}

// SpeechModelTrailing

namespace {

//% "DOWNLOAD"
//: Button to download a model that is not yet installed.
QString downloadText() { return qtTrId("settings.models.download"); }
//% "DELETE"
//: Button to delete a downloaded model.
QString deleteText() { return qtTrId("settings.models.delete"); }

}  // namespace

SpeechModelTrailing::SpeechModelTrailing(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(8);
  percentage_ = new DownloadPercentage(this);
  download_ = new EditorialPillButton(
      downloadText(), DSColor::accent, [this] { Q_EMIT downloadClicked(); }, this);
  //% "ACTIVE"
  //: Status pill shown on the selected speech model.
  active_ = new EditorialStatusPill(qtTrId("settings.models.status.active"), EditorialStatusPill::Leading::checkmark,
                                    DSColor::accent, this);
  //% "USE"
  //: Button that selects an installed speech model.
  use_ = new EditorialPillButton(
      qtTrId("settings.models.use"), DSColor::accent, [this] { Q_EMIT useClicked(); }, this);
  delete_ = new EditorialPillButton(
      deleteText(), DSColor::danger, [this] { Q_EMIT deleteClicked(); }, this);
  for (QWidget* w : std::initializer_list<QWidget*>{percentage_, download_, active_, use_, delete_})
    row->addWidget(w, 0, Qt::AlignVCenter);
  update(false, false, false, std::nullopt);
}

void SpeechModelTrailing::update(bool isDownloaded, bool isSelected, bool isDisabled,
                                 std::optional<double> downloadProgress) {
  const bool downloading = downloadProgress.has_value();
  if (downloading) percentage_->setProgress(*downloadProgress);
  percentage_->setVisible(downloading);
  download_->setVisible(!downloading && !isDownloaded);
  active_->setVisible(!downloading && isDownloaded && isSelected);
  use_->setVisible(!downloading && isDownloaded && !isSelected);
  delete_->setVisible(!downloading && isDownloaded && !isSelected);
  setEnabled(!isDisabled);
  if (dimmed_ != isDisabled) {
    dimmed_ = isDisabled;
    Motion::setContentOpacity(this, isDisabled ? 0.5 : 1.0);
  }
}

// ModelDownloadTrailing

ModelDownloadTrailing::ModelDownloadTrailing(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);
  percentage_ = new DownloadPercentage(this);
  download_ = new EditorialPillButton(
      downloadText(), DSColor::accent, [this] { Q_EMIT downloadClicked(); }, this);
  installed_ = new QWidget(this);
  auto* row = new QHBoxLayout(installed_);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(8);
  //% "READY"
  //: Status pill shown on a downloaded model.
  ready_ = new EditorialStatusPill(qtTrId("settings.models.status.ready"), EditorialStatusPill::Leading::none,
                                   DSColor::inkSecondary, installed_);
  delete_ = new EditorialPillButton(
      deleteText(), DSColor::danger, [this] { Q_EMIT deleteClicked(); }, installed_);
  row->addWidget(ready_, 0, Qt::AlignVCenter);
  row->addWidget(delete_, 0, Qt::AlignVCenter);
  column->addWidget(percentage_, 0, Qt::AlignRight);
  column->addWidget(installed_, 0, Qt::AlignRight);
  column->addWidget(download_, 0, Qt::AlignRight);
  update(false, std::nullopt);
}

void ModelDownloadTrailing::update(bool isDownloaded, std::optional<double> downloadProgress) {
  const bool downloading = downloadProgress.has_value();
  if (downloading) percentage_->setProgress(*downloadProgress);
  percentage_->setVisible(downloading);
  installed_->setVisible(!downloading && isDownloaded);
  download_->setVisible(!downloading && !isDownloaded);
}

// The deletion confirmation

QMessageBox* presentModelDeletionConfirmation(QWidget* over, std::function<void()> confirm) {
  //% "Delete this model?"
  //: Title of the confirmation dialog before deleting a downloaded model.
  const QString title = qtTrId("settings.models.delete.confirm.title");
  auto* box = new QMessageBox(over);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  box->setIcon(QMessageBox::Warning);
  box->setWindowTitle(title);
  box->setText(title);
  //% "you'll need to download it again before you can use it."
  //: Body of the confirmation dialog before deleting a downloaded model.
  box->setInformativeText(qtTrId("settings.models.delete.confirm.message"));
  //% "Delete"
  //: Destructive button confirming that a downloaded model should be deleted.
  QPushButton* remove = box->addButton(qtTrId("settings.models.delete.confirm.action"), QMessageBox::DestructiveRole);
  //% "Cancel"
  //: Generic button that dismisses a confirmation dialog without acting.
  QPushButton* cancel = box->addButton(qtTrId("common.cancel"), QMessageBox::RejectRole);
  box->setDefaultButton(cancel);
  box->setEscapeButton(cancel);
  QObject::connect(box, &QMessageBox::buttonClicked, box, [remove, confirm = std::move(confirm)](QAbstractButton* b) {
    if (b == remove) confirm();
  });
  box->open();
  return box;
}

QString downloadSizeText(const QList<ModelArtifact>& artifacts) {
  qint64 total = 0;
  for (const ModelArtifact& artifact : artifacts) total += artifact.sizeBytes;
  //% "DOWNLOAD SIZE · %1"
  //: Label disclosing a model's download size before the download begins.
  return qtTrId("model.download.size").arg(fileByteCountText(total));
}

// SpeechModelSettingsRow

SpeechModelSettingsRow::SpeechModelSettingsRow(int index, SpeechModelDescriptor descriptor, bool isSelected,
                                               bool isSwitching, ModelDownloadSettings downloads, QWidget* parent)
    : QWidget(parent),
      descriptor_(std::move(descriptor)),
      isSelected_(isSelected),
      isSwitching_(isSwitching),
      downloads_(std::move(downloads)) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(20, 0, 20, 0);
  column->setSpacing(0);
  trailing_ = new SpeechModelTrailing(this);
  const QString description = descriptor_.detail.text() + QLatin1Char('\n') + downloadSizeText(descriptor_.artifacts);
  chapter_ = new SettingsChapterRow(index, descriptor_.displayName.text(), description, false, {}, trailing_, this);
  column->addWidget(chapter_);
  progressArea_ = new QWidget(this);
  auto* progressLayout = new QVBoxLayout(progressArea_);
  progressLayout->setContentsMargins(0, 0, 0, 12);
  progress_ = new DSProgressBar(0.0, 4, progressArea_);
  progressLayout->addWidget(progress_);
  column->addWidget(progressArea_);
  connect(trailing_, &SpeechModelTrailing::downloadClicked, this, &SpeechModelSettingsRow::startRowDownload);
  connect(trailing_, &SpeechModelTrailing::useClicked, this, &SpeechModelSettingsRow::useRequested);
  connect(trailing_, &SpeechModelTrailing::deleteClicked, this, &SpeechModelSettingsRow::requestDelete);
  refresh();
}

SpeechModelSettingsRow::~SpeechModelSettingsRow() { cancelDownload(); }

ModelDownloader* SpeechModelSettingsRow::downloader() const { return downloader_.data(); }

void SpeechModelSettingsRow::setSelected(bool selected) {
  if (isSelected_ == selected) return;
  isSelected_ = selected;
  refresh();
}

void SpeechModelSettingsRow::setSwitching(bool switching) {
  if (isSwitching_ == switching) return;
  isSwitching_ = switching;
  refresh();
}

void SpeechModelSettingsRow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous() || onScreen_) return;
  onScreen_ = true;
  prepareRowDownloader();
}

void SpeechModelSettingsRow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (event->spontaneous() || !onScreen_) return;
  onScreen_ = false;
  cancelDownload();
}

void SpeechModelSettingsRow::prepareRowDownloader() {
  if (downloader_) {
    disconnect(downloader_, nullptr, this, nullptr);
    // A cancelled download still winding down takes its downloader with it when it ends.
    if (!downloading_) delete downloader_.data();
  }
  downloading_ = false;
  downloader_ = new ModelDownloader(descriptor_.artifacts, descriptor_.storageDirectory, kResourceTimeoutSeconds,
                                    downloads_.clock, this);
  downloader_->setModelName(descriptor_.id.rawValue);
  if (downloads_.endpoint.isValid()) downloader_->setEndpoint(downloads_.endpoint);
  connect(downloader_, &ModelDownloader::stateChanged, this, &SpeechModelSettingsRow::refreshRowInstalled);
  isDownloaded_ = descriptor_.isModelInstalled();
  refresh();
}

void SpeechModelSettingsRow::refreshRowInstalled() {
  if (!downloadingProgress(downloader_)) isDownloaded_ = descriptor_.isModelInstalled();
  refresh();
}

void SpeechModelSettingsRow::startRowDownload() {
  // One download per row: a second press while it runs would only be refused.
  if (!downloader_ || downloading_) return;
  downloading_ = true;
  downloadCancel_ = CancellationToken();
  auto task = runDownload(QPointer<SpeechModelSettingsRow>(this), downloader_, *downloadCancel_);
  // Tied to the row's downloader: the task ends with its download, cancelled or not.
  QCoro::connect(std::move(task), downloader_.data(), [] {});
}

QCoro::Task<void> SpeechModelSettingsRow::runDownload(QPointer<SpeechModelSettingsRow> row,
                                                      QPointer<ModelDownloader> downloader, CancellationToken cancel) {
  std::exception_ptr error;
  try {
    auto download = downloader->download(cancel);
    co_await std::move(download);
  } catch (...) {
    error = std::current_exception();
  }
  // The row may be gone (tab switched, window closed): then nothing is touched.
  if (row) row->finishDownload(downloader.data(), error);
}

void SpeechModelSettingsRow::finishDownload(ModelDownloader* downloader, std::exception_ptr error) {
  if (downloader != downloader_) {
    // A download of an earlier appearance, cancelled when the row left the screen.
    if (downloader) downloader->deleteLater();
    return;
  }
  downloading_ = false;
  downloadCancel_.reset();
  if (!error) {
    isDownloaded_ = true;
  } else if (!isCancellation(error)) {
    Q_EMIT failed(ErrorDescription::of(error).description);
  }
  refresh();
}

void SpeechModelSettingsRow::cancelDownload() {
  if (downloadCancel_) downloadCancel_->cancel();
  downloadCancel_.reset();
}

void SpeechModelSettingsRow::requestDelete() {
  if (confirmation_) return;
  confirmation_ = presentModelDeletionConfirmation(this, [self = QPointer<SpeechModelSettingsRow>(this)] {
    if (self) self->deleteRowModel();
  });
}

void SpeechModelSettingsRow::deleteRowModel() {
  cancelDownload();
  try {
    descriptor_.deleteModelFiles();
    isDownloaded_ = false;
  } catch (const std::exception& e) {
    Q_EMIT failed(ErrorDescription::of(e).description);
  }
  refresh();
}

void SpeechModelSettingsRow::refresh() {
  // A cancelled download leaves its downloader at the last percentage; only a running one shows it.
  const std::optional<double> progress = downloading_ ? downloadingProgress(downloader_) : std::nullopt;
  trailing_->update(isDownloaded_, isSelected_, isSwitching_, progress);
  if (progress) progress_->setProgress(*progress);
  progressArea_->setVisible(progress.has_value());
}

}  // namespace murel
