#include "settings/TranscribeSettingsView.h"

#include "app/AppState.h"
#include "app/FilePanels.h"
#include "design/EditorialComponents.h"
#include "design/Motion.h"
#include "design/OnboardingButtonStyle.h"
#include "design/ProgressComponents.h"
#include "design/SettingsComponents.h"
#include "design/Symbols.h"
#include "design/Text.h"
#include "platform/Pasteboard.h"
#include "runtime/ByteCountText.h"
#include "runtime/Clock.h"
#include "runtime/Error.h"

#include <QCoroTask>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMimeDatabase>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <functional>

namespace murel {

namespace {

QCoro::Task<void> runTranscription(QPointer<TranscribeSettingsView> page, AppState* state, QString path,
                                   std::function<void(std::optional<QString>, QString)> finish) {
  std::optional<QString> text;
  QString error;
  try {
    auto task = state->transcribeFile(path);
    text = co_await std::move(task);
  } catch (...) {
    error = ErrorDescription::of(std::current_exception()).description;
  }
  // The page may be gone (tab switched, window closed): then nothing is touched.
  if (page) finish(text, error);
}

}  // namespace

QString fileSymbolFor(const QString& name) {
  const QList<QMimeType> types = QMimeDatabase().mimeTypesForFileName(name);
  for (const QMimeType& type : types) {
    if (type.name().startsWith(QLatin1String("video/"))) return QStringLiteral("film");
    for (const QString& parent : type.allAncestors())
      if (parent.startsWith(QLatin1String("video/"))) return QStringLiteral("film");
  }
  return QStringLiteral("waveform");
}

const QStringList& transcribableMimeTypes() {
  static const QStringList types = [] {
    const QList<QMimeType> all = QMimeDatabase().allMimeTypes();
    QStringList list;
    auto admit = [&](const std::function<bool(const QString&)>& isRoot) {
      for (const QMimeType& type : all)
        if (isRoot(type.name()) && !list.contains(type.name())) list.append(type.name());
      for (const QMimeType& type : all) {
        if (list.contains(type.name())) continue;
        const QStringList ancestors = type.allAncestors();
        if (std::any_of(ancestors.begin(), ancestors.end(), isRoot)) list.append(type.name());
      }
    };
    admit([](const QString& name) { return name.startsWith(QLatin1String("audio/")); });
    admit([](const QString& name) { return name.startsWith(QLatin1String("video/")); });
    for (const char* movie : {"video/mp4", "video/quicktime"})
      admit([movie](const QString& name) { return name == QLatin1String(movie); });
    return list;
  }();
  return types;
}

namespace {

// A symbol drawn like a 16 px medium glyph, centred in a 24 px wide frame.
class FileIcon : public QWidget {
 public:
  explicit FileIcon(QWidget* parent) : QWidget(parent) { setFixedSize(24, 24); }
  void setSymbol(const QString& symbol) {
    symbol_ = symbol;
    update();
  }
  QString symbol() const { return symbol_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = Symbols::sideForPointSize(16);
    const QRectF box((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    Symbols::paint(painter, box, symbol_, dsColor(DSColor::accent, this));
  }

 private:
  QString symbol_;
};

// The 3 px bar beside a result or an error, as tall as its row.
class ResultBar : public QWidget {
 public:
  ResultBar(DSColor color, QWidget* parent) : QWidget(parent), color_(color) {
    setFixedWidth(3);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), dsColor(color_, this)); }

 private:
  DSColor color_;
};

QVBoxLayout* column(QWidget* owner, int spacing) {
  auto* layout = new QVBoxLayout(owner);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(spacing);
  return layout;
}

QHBoxLayout* row(QWidget* owner, int spacing) {
  auto* layout = new QHBoxLayout(owner);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(spacing);
  return layout;
}

}  // namespace

QString formattedFileSize(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists() || !info.isFile()) return QStringLiteral("--");
  return fileByteCountText(info.size());
}

TranscribeSettingsView::TranscribeSettingsView(AppState& appState, Pasteboard& pasteboard, FilePanels& panels,
                                               Clock& clock, QWidget* parent)
    : QWidget(parent), appState_(appState), pasteboard_(pasteboard), panels_(panels), clock_(clock) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* page = new SettingsPageLayout(this);
  outer->addWidget(page);
  //% "Transcribe"
  page->addContent(new SettingsCompactHeader(qtTrId("settings.transcribe.title"), page->column()));

  //% "SOURCE FILE"
  auto* source = new SettingsCardSection(qtTrId("settings.transcribe.section.source"), page->column());
  auto* fileBlock = new QWidget(source);
  auto* fileStack = column(fileBlock, 0);

  emptyBlock_ = new QWidget(fileBlock);
  auto* emptyRow = row(emptyBlock_, 20);
  numeral_ = new EditorialChapterNumeral(0, false, true, emptyBlock_);
  numeral_->setOpacity(0.5);
  emptyRow->addWidget(numeral_, 0, Qt::AlignTop);
  auto* emptyTexts = new QWidget(emptyBlock_);
  auto* emptyColumn = column(emptyTexts, 4);
  //% "No file selected"
  emptyColumn->addWidget(new TextLabel(qtTrId("settings.transcribe.file.empty.title"),
                                       TextStyle{notoSans(16, DSWeight::bold), 2, DSColor::inkSecondary}, emptyTexts));
  //% "pick something to transcribe."
  emptyColumn->addWidget(new TextLabel(qtTrId("settings.transcribe.file.empty.description"),
                                       TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, emptyTexts));
  emptyRow->addWidget(emptyTexts, 1, Qt::AlignTop);
  fileStack->addWidget(emptyBlock_);

  chosenBlock_ = new QWidget(fileBlock);
  auto* chosenRow = row(chosenBlock_, 16);
  icon_ = new FileIcon(chosenBlock_);
  chosenRow->addWidget(icon_, 0, Qt::AlignVCenter);
  auto* chosenTexts = new QWidget(chosenBlock_);
  auto* chosenColumn = column(chosenTexts, 4);
  fileName_ = new TextLabel(QString(), TextStyle{notoSans(16, DSWeight::bold), 2, DSColor::ink}, chosenTexts);
  fileName_->setElided(Qt::ElideMiddle);
  fileSize_ = new TextLabel(QString(), TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, chosenTexts);
  chosenColumn->addWidget(fileName_);
  chosenColumn->addWidget(fileSize_);
  chosenRow->addWidget(chosenTexts, 1, Qt::AlignVCenter);
  fileStack->addWidget(chosenBlock_);
  fileBlock->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

  //% "SELECT"
  choose_ = new EditorialPillButton(
      qtTrId("settings.transcribe.file.select"), DSColor::accent, [this] { chooseSourceFile(); }, source);
  auto* sourceRow = new SettingsConfiguredValueRow(fileBlock, choose_, source);
  sourceRow->layout()->setContentsMargins(20, 20, 20, 20);
  qobject_cast<QBoxLayout*>(sourceRow->layout())->setStretchFactor(fileBlock, 1);
  source->addRow(sourceRow);
  page->addContent(source);

  //% "supports WAV, MP3, M4A, AIFF, FLAC, CAF, MP4, MOV, M4V."
  auto* formats = new TextLabel(qtTrId("settings.transcribe.supportedFormats"),
                                TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, page->column());
  formats->setContentsMargins(4, 12, 0, 0);
  page->addContent(formats);

  startBlock_ = new QWidget(page->column());
  auto* startLayout = column(startBlock_, 0);
  startLayout->setContentsMargins(4, 24, 0, 0);
  //% "TRANSCRIBE →"
  transcribe_ = new OnboardingButtonStyle(qtTrId("settings.transcribe.action.transcribe"), true, startBlock_);
  connect(transcribe_, &QAbstractButton::clicked, this, &TranscribeSettingsView::startFileTranscription);
  startLayout->addWidget(transcribe_, 0, Qt::AlignLeft);
  page->addContent(startBlock_);

  outputBlock_ = new QWidget(page->column());
  auto* outputOuter = column(outputBlock_, 0);
  outputOuter->setContentsMargins(0, 24, 0, 0);
  //% "OUTPUT"
  auto* output = new SettingsCardSection(qtTrId("settings.transcribe.section.output"), outputBlock_);
  outputOuter->addWidget(output);
  auto* outputRows = new QWidget(output);
  auto* outputStack = column(outputRows, 0);

  running_ = new QWidget(outputRows);
  auto* runningRow = row(running_, 16);
  runningRow->setContentsMargins(20, 20, 20, 20);
  spinner_ = new DSSpinner(16, running_);
  runningRow->addWidget(spinner_, 0, Qt::AlignVCenter);
  //% "listening to your file…"
  runningRow->addWidget(new TextLabel(qtTrId("settings.transcribe.status.transcribing"),
                                      TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, running_),
                        0, Qt::AlignVCenter);
  runningRow->addStretch(1);
  //% "RUNNING"
  runningRow->addWidget(new EditorialStatusPill(qtTrId("settings.transcribe.status.running"),
                                                EditorialStatusPill::Leading::dot, DSColor::accent, running_),
                        0, Qt::AlignVCenter);
  outputStack->addWidget(running_);

  completed_ = new QWidget(outputRows);
  auto* completedColumn = column(completed_, 16);
  completedColumn->setContentsMargins(20, 16, 20, 16);
  auto* resultRow = new QWidget(completed_);
  auto* resultLayout = row(resultRow, 16);
  resultLayout->addWidget(new ResultBar(DSColor::accent, resultRow));
  output_ = new SelectableParagraph(notoSans(14, DSWeight::medium), 4, DSColor::ink, resultRow);
  resultLayout->addWidget(output_, 1);
  completedColumn->addWidget(resultRow);
  //% "COPY"
  copy_ = new EditorialPillButton(
      qtTrId("settings.transcribe.copy.copy"), DSColor::accent, [this] { copyTranscription(); }, completed_);
  completedColumn->addWidget(copy_, 0, Qt::AlignRight);
  outputStack->addWidget(completed_);

  failed_ = new QWidget(outputRows);
  auto* errorRow = row(failed_, 16);
  errorRow->setContentsMargins(20, 16, 20, 16);
  errorRow->addWidget(new ResultBar(DSColor::danger, failed_));
  auto* errorTexts = new QWidget(failed_);
  auto* errorColumn = column(errorTexts, 4);
  //% "ERROR"
  errorColumn->addWidget(new TextLabel(qtTrId("settings.transcribe.error.title"),
                                       TextStyle{tracked(notoSans(10), 1.5), 2, DSColor::danger}, errorTexts));
  errorMessage_ = new TextLabel(QString(), TextStyle{notoSansItalic(14), 4, DSColor::ink}, errorTexts);
  errorColumn->addWidget(errorMessage_);
  errorRow->addWidget(errorTexts, 1, Qt::AlignTop);
  outputStack->addWidget(failed_);
  output->addRow(outputRows);
  page->addContent(outputBlock_);

  // Blocks that appear fade in; the copy mark's change fades faster.
  fade_ = new Tween(
      1.0, [this](qreal value) { applyFade(value); }, this);
  refresh();
}

void TranscribeSettingsView::chooseSourceFile() {
  //% "Select an audio or video file to transcribe"
  const auto chosen = panels_.chooseFile(transcribableMimeTypes(), qtTrId("settings.transcribe.filePicker.message"));
  if (!chosen) return;
  selectFile(*chosen);
  fadeIn(Motion::kToggle);
}

void TranscribeSettingsView::selectFile(const QString& path) {
  selectedFile_ = SelectedFile{QFileInfo(path).fileName(), path, formattedFileSize(path)};
  status_ = {};
  copied_ = false;
  canStart_ = true;
  refresh();
}

void TranscribeSettingsView::startFileTranscription() {
  if (!selectedFile_ || !canStart_) return;
  canStart_ = false;
  const int run = ++runs_;
  const QString path = selectedFile_->path;
  status_ = {TranscribeStatus::Case::transcribing, {}};
  copied_ = false;
  refresh();
  fadeIn(Motion::kToggle);
  QPointer<TranscribeSettingsView> self(this);
  auto finish = [self, run, path](std::optional<QString> text, const QString& error) {
    if (self) self->finishRun(run, path, std::move(text), error);
  };
  auto task = runTranscription(self, &appState_, path, std::move(finish));
  // Tied to the state, which outlives every page, so the run always ends.
  QCoro::connect(std::move(task), &appState_, [] {});
}

void TranscribeSettingsView::finishRun(int run, const QString& path, std::optional<QString> text,
                                       const QString& error) {
  // Only the newest run of the file still shown may change the page.
  if (run != runs_ || !selectedFile_ || selectedFile_->path != path) return;
  if (!text) {
    status_ = {TranscribeStatus::Case::error, error};
  } else if (text->isEmpty()) {
    //% "No speech detected in file"
    status_ = {TranscribeStatus::Case::error, qtTrId("settings.transcribe.error.noSpeech")};
  } else {
    status_ = {TranscribeStatus::Case::completed, *text};
  }
  refresh();
}

void TranscribeSettingsView::copyTranscription() {
  if (status_.kind != TranscribeStatus::Case::completed) return;
  pasteboard_.writeText(status_.text);
  copied_ = true;
  refresh();
  // One reset per press, never cancelled: the first press's reset ends the mark.
  QPointer<TranscribeSettingsView> self(this);
  clock_.schedule(std::chrono::milliseconds(1500), [self] {
    if (TranscribeSettingsView* page = self.data()) {
      page->copied_ = false;
      page->refresh();
    }
  });
}

void TranscribeSettingsView::refresh() {
  const bool hasFile = selectedFile_.has_value();
  emptyBlock_->setVisible(!hasFile);
  chosenBlock_->setVisible(hasFile);
  if (hasFile) {
    fileName_->setText(selectedFile_->name);
    fileSize_->setText(selectedFile_->size);
    static_cast<FileIcon*>(icon_)->setSymbol(fileSymbolFor(selectedFile_->name));
  }
  //% "CHANGE"
  choose_->setText(hasFile ? qtTrId("settings.transcribe.file.change") : qtTrId("settings.transcribe.file.select"));
  choose_->updateGeometry();
  const auto kind = status_.kind;
  startBlock_->setVisible(hasFile && canStart_ && kind == TranscribeStatus::Case::idle);
  outputBlock_->setVisible(kind != TranscribeStatus::Case::idle);
  running_->setVisible(kind == TranscribeStatus::Case::transcribing);
  completed_->setVisible(kind == TranscribeStatus::Case::completed);
  failed_->setVisible(kind == TranscribeStatus::Case::error);
  //% "“%1”"
  if (kind == TranscribeStatus::Case::completed)
    output_->setText(qtTrId("settings.transcribe.output.quoted").arg(status_.text));
  if (kind == TranscribeStatus::Case::error) errorMessage_->setText(status_.text);
  //% "COPIED"
  copy_->setText(copied_ ? qtTrId("settings.transcribe.copy.copied") : qtTrId("settings.transcribe.copy.copy"));
  copy_->setLeading(copied_ ? EditorialStatusPill::Leading::checkmark : EditorialStatusPill::Leading::none);
  copy_->setTint(copied_ ? DSColor::success : DSColor::accent);
  Q_EMIT statusChanged();
}

void TranscribeSettingsView::fadeIn(int durationMs) {
  fade_->jumpTo(0.0);
  fade_->animateTo(1.0, durationMs);
}

void TranscribeSettingsView::applyFade(qreal value) {
  for (QWidget* block : {chosenBlock_, startBlock_, outputBlock_}) Motion::setContentOpacity(block, value);
}

}  // namespace murel
