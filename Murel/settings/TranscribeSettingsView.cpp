#include "settings/TranscribeSettingsView.h"

#include "app/AppState.h"
#include "app/FilePanels.h"
#include "design/EditorialComponents.h"
#include "design/OnboardingButtonStyle.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "platform/Pasteboard.h"
#include "runtime/Clock.h"

#include <QCoroTask>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLocale>
#include <QMimeDatabase>
#include <QVBoxLayout>

#include <exception>

namespace murel {

namespace {

QString trimmedNumber(double value, int decimals) {
  QString text = QLocale::system().toString(value, 'f', decimals);
  const QString point = QLocale::system().decimalPoint();
  if (decimals > 0 && text.contains(point)) {
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(point)) text.chop(point.size());
  }
  return text;
}

// Every audio and video name pattern the MIME database knows, plus CAF, which
// the sample loader reads though Debian gives it no audio type.
QStringList mediaNameFilters() {
  static const QStringList filters = [] {
    QStringList patterns;
    for (const QMimeType& type : QMimeDatabase().allMimeTypes()) {
      const QString name = type.name();
      if (name.startsWith(QLatin1String("audio/")) || name.startsWith(QLatin1String("video/"))) {
        for (const QString& pattern : type.globPatterns())
          if (!patterns.contains(pattern)) patterns.append(pattern);
      }
    }
    patterns.append(QStringLiteral("*.caf"));
    return patterns;
  }();
  return filters;
}

QCoro::Task<void> runTranscription(QPointer<TranscribeSettingsView> page, AppState* state, QString path,
                                   std::function<void(std::optional<QString>, QString)> finish) {
  std::optional<QString> text;
  QString error;
  try {
    auto task = state->transcribeFile(path);
    text = co_await std::move(task);
  } catch (const std::exception& e) {
    error = QString::fromUtf8(e.what());
  }
  // The page may be gone (tab switched, window closed): then nothing is touched.
  if (page) finish(text, error);
}

}  // namespace

QString formattedFileSize(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists() || !info.isFile()) return QStringLiteral("--");
  const double bytes = static_cast<double>(info.size());
  //% "%1 bytes"
  if (bytes < 1000) return qtTrId("settings.transcribe.bytes").arg(QLocale::system().toString(info.size()));
  if (bytes < 1e6) return trimmedNumber(bytes / 1e3, 0) + QStringLiteral(" KB");
  if (bytes < 1e9) return trimmedNumber(bytes / 1e6, 1) + QStringLiteral(" MB");
  if (bytes < 1e12) return trimmedNumber(bytes / 1e9, 2) + QStringLiteral(" GB");
  return trimmedNumber(bytes / 1e12, 2) + QStringLiteral(" TB");
}

TranscribeSettingsView::TranscribeSettingsView(AppState& appState, Pasteboard& pasteboard, Clock& clock,
                                               QWidget* parent)
    : QWidget(parent), appState_(appState), pasteboard_(pasteboard), clock_(clock) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* page = new SettingsPageLayout(this);
  outer->addWidget(page);
  //% "Transcribe"
  page->addContent(new SettingsCompactHeader(qtTrId("settings.transcribe.title"), page->column()));

  //% "SOURCE FILE"
  auto* source = new SettingsCardSection(qtTrId("settings.transcribe.sourceFile"), page->column());
  auto* row = new QWidget(source);
  auto* rowLayout = new QHBoxLayout(row);
  rowLayout->setContentsMargins(20, 16, 20, 16);
  numeral_ = new TextLabel(QStringLiteral("0"), TextStyle{notoSans(14), 0, DSColor::inkMuted, 0.5}, row);
  rowLayout->addWidget(numeral_);
  auto* fileBlock = new QWidget(row);
  auto* fileLayout = new QVBoxLayout(fileBlock);
  fileLayout->setContentsMargins(0, 0, 0, 0);
  //% "No file selected"
  fileName_ =
      new TextLabel(qtTrId("settings.transcribe.noFile"), TextStyle{notoSans(15), 0, DSColor::inkMuted}, fileBlock);
  fileSize_ = new TextLabel(QString(), TextStyle{notoSans(12), 0, DSColor::inkMuted}, fileBlock);
  fileLayout->addWidget(fileName_);
  fileLayout->addWidget(fileSize_);
  rowLayout->addWidget(fileBlock, 1);
  //% "SELECT"
  choose_ = new EditorialPillButton(
      qtTrId("settings.transcribe.select"), DSColor::accent, [this] { chooseSourceFile(); }, row);
  rowLayout->addWidget(choose_);
  source->addRow(row);
  page->addContent(source);

  //% "TRANSCRIBE →"
  transcribe_ = new OnboardingButtonStyle(qtTrId("settings.transcribe.start"), true, page->column());
  connect(transcribe_, &QAbstractButton::clicked, this, &TranscribeSettingsView::startFileTranscription);
  page->addContent(transcribe_);

  outputCard_ = new QWidget(page->column());
  auto* outputLayout = new QVBoxLayout(outputCard_);
  outputLayout->setContentsMargins(20, 16, 20, 16);
  //% "listening to your file…"
  running_ = new TextLabel(qtTrId("settings.transcribe.listening"),
                           TextStyle{notoSansItalic(14), 4, DSColor::inkSecondary}, outputCard_);
  output_ = new TextLabel(QString(), TextStyle{notoSans(15), 4, DSColor::ink}, outputCard_);
  output_->setWrapping(true);
  //% "COPY"
  copy_ = new EditorialPillButton(
      qtTrId("settings.transcribe.copy"), DSColor::accent, [this] { copyTranscription(); }, outputCard_);
  outputLayout->addWidget(running_);
  outputLayout->addWidget(output_);
  outputLayout->addWidget(copy_, 0, Qt::AlignRight);
  page->addContent(outputCard_);
  refresh();
}

void TranscribeSettingsView::chooseSourceFile() {
  //% "Choose an audio or video file to transcribe"
  const auto chosen = presentOpenPanel(mediaNameFilters(), qtTrId("settings.transcribe.panelMessage"));
  if (chosen) selectFile(*chosen);
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
  refresh();
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
    status_ = {TranscribeStatus::Case::error, qtTrId("settings.transcribe.noSpeech")};
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
  numeral_->setStyle(TextStyle{notoSans(14), 0, hasFile ? DSColor::accent : DSColor::inkMuted, hasFile ? 1.0 : 0.5});
  fileName_->setText(hasFile ? selectedFile_->name : qtTrId("settings.transcribe.noFile"));
  fileName_->setColor(hasFile ? DSColor::ink : DSColor::inkMuted);
  fileSize_->setText(hasFile ? selectedFile_->size : QString());
  fileSize_->setVisible(hasFile);
  //% "CHANGE"
  choose_->setText(hasFile ? qtTrId("settings.transcribe.change") : qtTrId("settings.transcribe.select"));
  transcribe_->setVisible(hasFile && canStart_);
  const auto kind = status_.kind;
  outputCard_->setVisible(kind != TranscribeStatus::Case::idle);
  running_->setVisible(kind == TranscribeStatus::Case::transcribing);
  output_->setVisible(kind == TranscribeStatus::Case::completed || kind == TranscribeStatus::Case::error);
  if (kind == TranscribeStatus::Case::completed) {
    output_->setText(QStringLiteral("\u201C") + status_.text + QStringLiteral("\u201D"));
    output_->setColor(DSColor::ink);
  } else if (kind == TranscribeStatus::Case::error) {
    output_->setText(status_.text);
    output_->setColor(DSColor::danger);
  }
  copy_->setVisible(kind == TranscribeStatus::Case::completed);
  //% "COPIED"
  copy_->setText(copied_ ? qtTrId("settings.transcribe.copied") : qtTrId("settings.transcribe.copy"));
  copy_->setTint(copied_ ? DSColor::success : DSColor::accent);
  Q_EMIT statusChanged();
}

}  // namespace murel
