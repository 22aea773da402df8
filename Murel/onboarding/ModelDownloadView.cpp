#include "onboarding/ModelDownloadView.h"

#include "app/AppState.h"
#include "design/CoreComponents.h"
#include "design/OnboardingButtonStyle.h"
#include "design/ProgressComponents.h"
#include "design/Symbols.h"
#include "design/Text.h"
#include "runtime/ByteCountText.h"
#include "runtime/Error.h"
#include "runtime/UserDefaults.h"
#include "speech/ModelDownloader.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyleOptionSlider>
#include <QVBoxLayout>

#include <cmath>
#include <utility>

namespace murel {
namespace {

const TextStyle kSmallCaps{tracked(notoSans(11), 1), 2, DSColor::inkSecondary};

// The radio mark of a row: a filled ring when chosen, an empty one otherwise.
class RadioMark : public QWidget {
 public:
  RadioMark() {
    const int side = int(std::ceil(Symbols::sideForPointSize(14)));
    setFixedSize(side, side + 2);
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  void setChosen(bool chosen) {
    if (chosen_ == chosen) return;
    chosen_ = chosen;
    update();
  }
  bool chosen() const { return chosen_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    Symbols::paint(painter, QRectF(0, 2, width(), width()),
                   chosen_ ? QStringLiteral("record.circle.fill") : QStringLiteral("circle"),
                   dsColor(chosen_ ? DSColor::accent : DSColor::inkSecondary, this));
  }

 private:
  bool chosen_ = false;
};

// One model of the list; the whole row takes the click.
class ModelRow : public QAbstractButton {
 public:
  explicit ModelRow(const SpeechModelDescriptor& entry) : id_(entry.id) {
    setText(entry.displayName.text());
    setAccessibleName(text());
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 12, 0, 12);
    row->setSpacing(16);
    mark_ = new RadioMark();
    row->addWidget(mark_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(4);
    auto* name = new TextLabel(entry.displayName.text(), TextStyle{notoSans(16, DSWeight::bold), 2, DSColor::ink});
    auto* detail = new TextLabel(entry.detail.text(), kSmallCaps);
    texts->addWidget(name);
    texts->addWidget(detail);
    row->addLayout(texts, 1);
    auto* size = new TextLabel(fileByteCountText(ModelDownloadView::downloadSize(entry)), kSmallCaps);
    size->setWrapping(false);
    row->addWidget(size, 0, Qt::AlignTop);
    for (QWidget* child : {static_cast<QWidget*>(name), static_cast<QWidget*>(detail), static_cast<QWidget*>(size)})
      child->setAttribute(Qt::WA_TransparentForMouseEvents);
  }

  const SpeechModelID& id() const { return id_; }
  void setChosen(bool chosen) { mark_->setChosen(chosen); }
  bool isChosen() const { return mark_->chosen(); }

  QSize sizeHint() const override { return layout()->sizeHint(); }
  QSize minimumSizeHint() const override { return layout()->minimumSize(); }

 protected:
  void paintEvent(QPaintEvent*) override {}

 private:
  SpeechModelID id_;
  RadioMark* mark_;
};

// The list's scroll bar: a slim rounded thumb in muted ink on a hairline
// track. It is drawn where the style puts the slider, so dragging it and
// clicking the track behave as any scroll bar does.
class ScrollIndicator : public QScrollBar {
 public:
  static constexpr int kWidth = 10;
  static constexpr qreal kThumbWidth = 4;

  ScrollIndicator() : QScrollBar(Qt::Vertical) { setFixedWidth(kWidth); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect slider = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal x = width() - kThumbWidth - 2;
    painter.fillRect(QRectF(x + kThumbWidth / 2 - 0.5, 0, 1, height()), dsColor(DSColor::hairline, this));
    painter.setPen(Qt::NoPen);
    painter.setBrush(dsColor(isSliderDown() ? DSColor::inkSecondary : DSColor::inkMuted, this));
    const QRectF thumb(x, slider.top() + 2, kThumbWidth, std::max(slider.height() - 4, 8));
    painter.drawRoundedRect(thumb, kThumbWidth / 2, kThumbWidth / 2);
  }
};

// The model list. It scrolls when its rows are taller than its space, and
// keeps the chosen row in view when that space changes: the status area below
// grows with a progress bar or an error line, which would otherwise push the
// row a user just picked out of sight.
class ModelList : public QScrollArea {
 public:
  void setChosenRow(QWidget* row) {
    if (row == chosen_) return;
    chosen_ = row;
    revealChosen();
  }
  void revealChosen() {
    if (chosen_) ensureWidgetVisible(chosen_, 0, 0);
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QScrollArea::resizeEvent(event);
    revealChosen();
  }

 private:
  QPointer<QWidget> chosen_;
};

}  // namespace

ModelDownloadView::ModelDownloadView(AppState& appState, QList<SpeechModelDescriptor> catalog, QUrl endpoint,
                                     QWidget* parent)
    : OnboardingStep(parent),
      appState_(appState),
      catalog_(catalog.isEmpty() ? SpeechModelDescriptor::catalog() : std::move(catalog)),
      endpoint_(std::move(endpoint)) {
  // Until the step comes on screen: a downloader for the default model.
  const SpeechModelDescriptor& fallback = SpeechModelDescriptor::defaultModel();
  downloader_ =
      std::make_shared<ModelDownloader>(fallback.artifacts, fallback.storageDirectory, kResourceTimeoutSeconds);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(48, 0, 48, 24);
  layout->setSpacing(0);
  layout->addSpacing(20);
  //% "Speech model"
  //: Title of the onboarding model download screen.
  layout->addWidget(
      new TextLabel(qtTrId("onboarding.engine.title"), TextStyle{notoSans(32, DSWeight::heavy), 2, DSColor::ink}));
  layout->addSpacing(8);
  //% "Choose and download a speech model to keep transcription private and on this computer."
  //: Subtitle of the onboarding model download screen.
  layout->addWidget(
      new TextLabel(qtTrId("onboarding.engine.subtitle"), TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}));
  layout->addSpacing(20);

  // The model list, with a rule over its top and bottom edges whatever it holds.
  auto* listFrame = new QWidget();
  auto* frame = new QGridLayout(listFrame);
  frame->setContentsMargins(0, 0, 0, 0);
  frame->setSpacing(0);
  auto* scroll = new ModelList();
  list_ = scroll;
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // A row cut at the edge is easily taken for the last one: the indicator says there is more.
  scroll->setVerticalScrollBar(new ScrollIndicator());
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll->viewport()->setAutoFillBackground(false);
  auto* rows = new QWidget();
  auto* rowsLayout = new QVBoxLayout(rows);
  rowsLayout->setContentsMargins(0, 0, 0, 0);
  rowsLayout->setSpacing(0);
  for (qsizetype i = 0; i < catalog_.size(); ++i) {
    const SpeechModelDescriptor entry = catalog_[i];
    auto* row = new ModelRow(entry);
    connect(row, &QAbstractButton::clicked, this, [this, entry] { selectModel(entry); });
    rows_.append(row);
    rowsLayout->addWidget(row);
    if (i + 1 < catalog_.size()) rowsLayout->addWidget(new ThinDivider());
  }
  rowsLayout->addStretch(1);
  scroll->setWidget(rows);
  // setWidget turns the palette fill on; the page colour shows through instead.
  rows->setAutoFillBackground(false);
  frame->addWidget(scroll, 0, 0);
  frame->addWidget(new ThinDivider(), 0, 0, Qt::AlignTop);
  frame->addWidget(new ThinDivider(), 0, 0, Qt::AlignBottom);
  layout->addWidget(listFrame, 1);

  // The status area.
  layout->addSpacing(16);
  auto* status = new QVBoxLayout();
  status->setSpacing(16);
  auto* line = new QHBoxLayout();
  sizeText_ = new TextLabel(QString(), kSmallCaps);
  sizeText_->setWrapping(false);
  line->addWidget(sizeText_, 0, Qt::AlignVCenter);
  line->addStretch(1);
  badge_ = new EditorialStatusPill(QString(), EditorialStatusPill::Leading::none, DSColor::inkMuted);
  line->addWidget(badge_, 0, Qt::AlignVCenter);
  status->addLayout(line);
  progress_ = new DSProgressBar(0.0, 4);
  status->addWidget(progress_);
  errorText_ = new TextLabel(QString(), TextStyle{notoSans(13), 4, DSColor::danger});
  status->addWidget(errorText_);
  //% "DOWNLOAD MODEL"
  //: Button to download the selected speech model.
  download_ = new OnboardingButtonStyle(qtTrId("onboarding.engine.downloadModel"), true);
  //% "CANCEL DOWNLOAD"
  //: Button to abort the speech model download during onboarding.
  cancel_ = new OnboardingButtonStyle(qtTrId("onboarding.engine.cancelDownload"), false);
  auto* action = new QHBoxLayout();
  action->setSpacing(0);
  action->addWidget(download_);
  action->addWidget(cancel_);
  action->addStretch(1);
  status->addLayout(action);
  layout->addLayout(status);

  layout->addSpacing(12);
  //% "Models are stored on this computer and can be changed later in Settings."
  //: Hint below the model choices on the onboarding model download screen.
  layout->addWidget(
      new TextLabel(qtTrId("onboarding.engine.settingsHint"), TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}));
  layout->addSpacing(20);

  //% "← BACK"
  //: Back button on the onboarding model download screen.
  back_ = new OnboardingButtonStyle(qtTrId("onboarding.engine.back"), false);
  //% "NEXT →"
  //: Next button on the onboarding model download screen.
  next_ = new OnboardingButtonStyle(qtTrId("onboarding.engine.next"), true);
  layout->addLayout(buttonRow(back_, next_));

  connect(download_, &QAbstractButton::clicked, this, &ModelDownloadView::startModelDownload);
  connect(cancel_, &QAbstractButton::clicked, this, &ModelDownloadView::cancelModelDownload);
  connect(back_, &QAbstractButton::clicked, this, &OnboardingStep::backRequested);
  connect(next_, &QAbstractButton::clicked, this, &OnboardingStep::continueRequested);
  followDownloader();
  refresh();
}

ModelDownloadView::~ModelDownloadView() {
  // Forgotten before it is cancelled: a task resuming inside the cancel
  // finds it is no longer the step's and touches nothing.
  const std::optional<TaskRef> task = std::exchange(task_, std::nullopt);
  if (task) task->token.cancel();
}

// ---- Choice ----

const SpeechModelDescriptor& ModelDownloadView::chosenEntry() const {
  const QString stored = appState_.defaults().stringValue(QLatin1String(kSelectedSpeechModelKey)).value_or(QString());
  for (const SpeechModelDescriptor& entry : catalog_)
    if (entry.id.rawValue == stored) return entry;
  const SpeechModelID& fallback = SpeechModelDescriptor::defaultModel().id;
  for (const SpeechModelDescriptor& entry : catalog_)
    if (entry.id == fallback) return entry;
  return SpeechModelDescriptor::defaultModel();
}

qint64 ModelDownloadView::downloadSize(const SpeechModelDescriptor& entry) {
  qint64 total = 0;
  for (const ModelArtifact& artifact : entry.artifacts) total += artifact.sizeBytes;
  return total;
}

int ModelDownloadView::percentOf(double fraction) {
  // Cut toward zero, but not below what the fraction stands for: 0.29 × 100
  // is 28.999… in binary and must read 29.
  return static_cast<int>(std::trunc(fraction * 100 + 1e-9));
}

QString ModelDownloadView::downloadSizeText() const {
  //% "DOWNLOAD SIZE · %1"
  //: Label disclosing a model's download size before the download begins.
  return qtTrId("model.download.size").arg(fileByteCountText(downloadSize(chosenEntry())));
}

ModelDownloadView::Badge ModelDownloadView::setupBadge() const {
  using Leading = EditorialStatusPill::Leading;
  switch (state_.kind) {
    case SpeechModelSetupState::Kind::idle:
      //% "NOT DOWNLOADED"
      return {qtTrId("onboarding.engine.badge.notDownloaded"), Leading::none, DSColor::inkMuted};
    case SpeechModelSetupState::Kind::downloading:
      //% "DOWNLOADING %1%"
      //: Speech model status showing download progress.
      return {qtTrId("onboarding.engine.badge.downloadingProgress").arg(percentOf(state_.progress)), Leading::none,
              DSColor::accent};
    case SpeechModelSetupState::Kind::loading:
      //% "LOADING"
      return {qtTrId("onboarding.engine.badge.loading"), Leading::none, DSColor::accent};
    case SpeechModelSetupState::Kind::ready:
      //% "READY"
      return {qtTrId("onboarding.engine.badge.active"), Leading::checkmark, DSColor::accent};
    case SpeechModelSetupState::Kind::error:
      //% "ERROR"
      return {qtTrId("onboarding.engine.badge.error"), Leading::none, DSColor::danger};
  }
  return {};
}

// ---- Operations ----

void ModelDownloadView::selectModel(const SpeechModelDescriptor& entry) {
  if (entry.id == chosenEntry().id) return;
  if (isBusy()) return;
  if (task_) task_->token.cancel();
  appState_.defaults().setValue(QLatin1String(kSelectedSpeechModelKey), entry.id.rawValue);
  prepareDownloader(entry);
  refresh();
}

void ModelDownloadView::prepareDownloader(const SpeechModelDescriptor& entry) {
  downloader_ = std::make_shared<ModelDownloader>(entry.artifacts, entry.storageDirectory, kResourceTimeoutSeconds);
  downloader_->setModelName(entry.id.rawValue);
  if (!endpoint_.isEmpty()) downloader_->setEndpoint(endpoint_);
  followDownloader();
  if (entry.isModelInstalled()) {
    auto load = runLoad(QPointer<ModelDownloadView>(this), replaceTask());
    QCoro::connect(std::move(load), this, [] {});
  } else {
    setState(SpeechModelSetupState::idle());
  }
}

void ModelDownloadView::startModelDownload() {
  downloadRunning_ = true;
  auto download = runDownload(QPointer<ModelDownloadView>(this), downloader_, replaceTask());
  QCoro::connect(std::move(download), this, [] {});
}

void ModelDownloadView::cancelModelDownload() {
  const std::optional<TaskRef> task = std::exchange(task_, std::nullopt);
  if (task) task->token.cancel();
  downloadRunning_ = false;
  setState(SpeechModelSetupState::idle());
}

ModelDownloadView::TaskRef ModelDownloadView::replaceTask() {
  // The old task is not cancelled here: the controls that lead here are
  // disabled or absent while one runs.
  task_ = TaskRef{CancellationToken(), ++taskCount_};
  return *task_;
}

bool ModelDownloadView::isCurrentTask(const TaskRef& task) const { return task_ && task_->id == task.id; }

QCoro::Task<void> ModelDownloadView::runDownload(QPointer<ModelDownloadView> self,
                                                 std::shared_ptr<ModelDownloader> downloader, TaskRef task) {
  std::exception_ptr error;
  try {
    auto download = downloader->download(task.token);
    co_await std::move(download);
  } catch (...) {
    error = std::current_exception();
  }
  ModelDownloadView* view = self.data();
  if (!view || !view->isCurrentTask(task)) co_return;
  view->downloadRunning_ = false;
  if (!error) {
    auto load = loadSelectedModel(self, task);
    co_await std::move(load);
    co_return;
  }
  try {
    std::rethrow_exception(error);
  } catch (const OperationCancelled&) {
    view->setState(SpeechModelSetupState::idle());
  } catch (...) {
    view->setState(SpeechModelSetupState::error(ErrorDescription::of(std::current_exception()).description));
  }
}

QCoro::Task<void> ModelDownloadView::runLoad(QPointer<ModelDownloadView> self, TaskRef task) {
  auto load = loadSelectedModel(self, task);
  co_await std::move(load);
}

QCoro::Task<void> ModelDownloadView::loadSelectedModel(QPointer<ModelDownloadView> self, TaskRef task) {
  AppState* app = nullptr;
  if (ModelDownloadView* view = self.data()) {
    view->setState(SpeechModelSetupState::loading());
    app = &view->appState_;
  } else {
    co_return;
  }
  try {
    auto load = app->loadSpeechModel(true, true);
    co_await std::move(load);
  } catch (...) {
    // Shown through the application's status and last error.
  }
  ModelDownloadView* view = self.data();
  if (!view || !view->isCurrentTask(task)) co_return;
  if (app->status().is(AppStatus::Kind::error)) {
    //% "Model load failed"
    view->setState(
        SpeechModelSetupState::error(app->lastError().value_or(qtTrId("onboarding.engine.modelLoadFailed"))));
  } else {
    view->setState(SpeechModelSetupState::ready());
  }
}

void ModelDownloadView::followDownloader() {
  // Only the progress of a running download moves the step; how the download
  // ends is the task's to say.
  connect(downloader_.get(), &ModelDownloader::stateChanged, this, [this, downloader = downloader_.get()] {
    if (downloader != downloader_.get() || !downloadRunning_) return;
    const ModelDownloader::State& state = downloader->state();
    if (state.kind == ModelDownloader::State::Kind::Downloading)
      setState(SpeechModelSetupState::downloading(state.progress));
  });
}

// ---- Screen ----

void ModelDownloadView::showEvent(QShowEvent* event) {
  OnboardingStep::showEvent(event);
  if (event->spontaneous()) return;
  prepareDownloader(chosenEntry());
  refresh();
}

void ModelDownloadView::hideEvent(QHideEvent* event) {
  OnboardingStep::hideEvent(event);
  if (event->spontaneous()) return;
  if (task_) task_->token.cancel();
}

void ModelDownloadView::setState(const SpeechModelSetupState& state) {
  if (state_ == state) return;
  state_ = state;
  refresh();
  Q_EMIT stateChanged();
}

void ModelDownloadView::refresh() {
  const SpeechModelID chosen = chosenEntry().id;
  const bool busy = isBusy();
  for (QAbstractButton* button : rows_) {
    auto* row = static_cast<ModelRow*>(button);
    row->setChosen(row->id() == chosen);
    row->setEnabled(!busy);
    if (row->isChosen()) static_cast<ModelList*>(list_)->setChosenRow(row);
  }
  sizeText_->setText(downloadSizeText());
  const Badge badge = setupBadge();
  badge_->setLabel(badge.label);
  badge_->setLeading(badge.leading);
  badge_->setTint(badge.tint);
  const auto kind = state_.kind;
  progress_->setVisible(kind == SpeechModelSetupState::Kind::downloading);
  if (kind == SpeechModelSetupState::Kind::downloading) progress_->setProgress(state_.progress);
  errorText_->setVisible(kind == SpeechModelSetupState::Kind::error);
  errorText_->setText(state_.message);
  download_->setVisible(kind == SpeechModelSetupState::Kind::idle || kind == SpeechModelSetupState::Kind::error);
  cancel_->setVisible(kind == SpeechModelSetupState::Kind::downloading);
  back_->setEnabled(!busy);
  next_->setEnabled(kind == SpeechModelSetupState::Kind::ready);
}

}  // namespace murel
