#include "settings/ModelsSettingsView.h"

#include "app/AppState.h"
#include "app/SessionServices.h"
#include "design/ProgressComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "runtime/Clock.h"
#include "runtime/Error.h"
#include "runtime/UserDefaults.h"
#include "settings/ModelPickers.h"
#include "settings/SpeechModelSettingsRow.h"
#include "speech/EngineHost.h"
#include "speech/LanguageModelFile.h"
#include "speech/ModelDownloader.h"
#include "text/ModelInactivityDelay.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include <cmath>

namespace murel {

namespace {

bool isCancellation(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const OperationCancelled&) {
    return true;
  } catch (...) {
    return false;
  }
}

// Space kept below the banner when it is scrolled into view, so it does not sit on the window's edge.
constexpr int kBannerRevealMargin = 24;

QWidget* blank(int height, QWidget* parent) {
  auto* spacer = new QWidget(parent);
  spacer->setFixedHeight(height);
  return spacer;
}

// The small text buttons of the page: no look of their own, dimmed while pressed.
class PlainTextButton : public QAbstractButton {
 public:
  PlainTextButton(const QString& text, const QFont& font, DSColor color, QWidget* parent)
      : QAbstractButton(parent), font_(font), color_(color) {
    setText(text);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
  }
  QSize sizeHint() const override {
    const QSizeF size = TextMetrics::size(text(), font_, 0);
    return QSize(int(std::ceil(size.width())), int(std::ceil(size.height())));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (isDown()) painter.setOpacity(0.7);
    TextMetrics::draw(painter, QRectF(rect()), text(), font_, 0, dsColor(color_, this), Qt::AlignLeft, false);
  }

 private:
  QFont font_;
  DSColor color_;
};

// The language row's value when there is nothing to choose.
TextLabel* languageName(const QString& code, QWidget* parent) {
  auto* label =
      new TextLabel(languageDisplayName(code), TextStyle{tracked(notoSans(12), 1.5), 2, DSColor::inkSecondary}, parent);
  label->setWrapping(false);
  return label;
}

}  // namespace

ModelsPageProvider ModelsPageProvider::application(AppState& appState, UserDefaults& defaults) {
  return ModelsPageProvider{appState,
                            defaults,
                            SpeechModelDescriptor::catalog(),
                            gemmaModelArtifact(),
                            gemmaModelDirectory(),
                            &isGemmaModelInstalled,
                            &deleteGemmaModel,
                            Clock::suspending(),
                            Clock::continuous(),
                            QUrl()};
}

// ModelsErrorBanner

ModelsErrorBanner::ModelsErrorBanner(QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  // The 3 px danger bar is painted in the leading margin.
  row->setContentsMargins(4 + 3 + 12, 12, 0, 12);
  row->setSpacing(12);
  auto* column = new QVBoxLayout;
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(4);
  //% "ERROR"
  //: Label heading the error banner.
  auto* title =
      new TextLabel(qtTrId("settings.models.error"), TextStyle{tracked(notoSans(10), 2), 2, DSColor::danger}, this);
  message_ = new TextLabel(QString(), TextStyle{notoSansItalic(14), 4, DSColor::ink}, this);
  column->addWidget(title);
  column->addWidget(message_);
  row->addLayout(column, 1);
  //% "DISMISS"
  //: Button to dismiss the error banner.
  dismiss_ =
      new PlainTextButton(qtTrId("settings.models.dismiss"), tracked(notoSans(9), 2), DSColor::inkSecondary, this);
  row->addWidget(dismiss_, 0, Qt::AlignTop);
  connect(dismiss_, &QAbstractButton::clicked, this, &ModelsErrorBanner::dismissed);
}

void ModelsErrorBanner::setMessage(const QString& message) { message_->setText(message); }

void ModelsErrorBanner::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(QRectF(4, 0, 3, height()), dsColor(DSColor::danger, this));
}

// ModelsSettingsView

ModelsSettingsView::ModelsSettingsView(ModelsPageProvider provider, QWidget* parent)
    : QWidget(parent), p_(std::move(provider)) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* page = new SettingsPageLayout(this);
  page_ = page;
  outer->addWidget(page);
  QWidget* column = page->column();
  //% "Models"
  //: Page header title for the Models settings pane.
  page->addContent(new SettingsCompactHeader(qtTrId("settings.models.title"), column));

  //% "SPEECH MODEL"
  //: Card label above the downloadable speech model.
  auto* speech = new SettingsCardSection(qtTrId("settings.models.speech_model"), column);
  const SpeechModelID selected = resolvedSelectedModel().id;
  const ModelDownloadSettings downloads{p_.downloadClock, p_.downloadEndpoint};
  for (int i = 0; i < p_.catalog.size(); ++i) {
    const SpeechModelDescriptor& descriptor = p_.catalog[i];
    auto* row = new SpeechModelSettingsRow(i + 1, descriptor, descriptor.id == selected, false, downloads, speech);
    connect(row, &SpeechModelSettingsRow::useRequested, this, [this, i] { useSpeechModel(p_.catalog[i]); });
    connect(row, &SpeechModelSettingsRow::failed, this, [this](const QString& message) { setErrorMessage(message); });
    speech->addRow(row);
    rows_.append(row);
  }
  page->addContent(speech);

  bannerArea_ = new QWidget(column);
  auto* bannerLayout = new QVBoxLayout(bannerArea_);
  bannerLayout->setContentsMargins(0, 0, 0, 0);
  bannerLayout->setSpacing(0);
  bannerLayout->addWidget(blank(20, bannerArea_));
  banner_ = new ModelsErrorBanner(bannerArea_);
  bannerLayout->addWidget(banner_);
  connect(banner_, &ModelsErrorBanner::dismissed, this, [this] { setErrorMessage(std::nullopt); });
  bannerArea_->setVisible(false);
  page->addContent(bannerArea_);
  connect(page->verticalScrollBar(), &QScrollBar::rangeChanged, this, &ModelsSettingsView::revealBanner);

  page->addContent(blank(24, column));
  //% "LANGUAGE"
  //: Card label for speech model language behavior.
  languageSection_ = new SettingsCardSection(qtTrId("settings.models.speech_language"), column);
  languageHolder_ = new QWidget(languageSection_);
  auto* holderLayout = new QVBoxLayout(languageHolder_);
  holderLayout->setContentsMargins(0, 0, 0, 0);
  languageSection_->addRow(languageHolder_);
  page->addContent(languageSection_);
  rebuildLanguageRow();

  page->addContent(blank(24, column));
  //% "LANGUAGE MODEL"
  //: Card label above the on-device language model used for transformations.
  auto* languageModel = new SettingsCardSection(qtTrId("settings.models.language_model"), column);
  auto* gemma = new QWidget(languageModel);
  auto* gemmaLayout = new QVBoxLayout(gemma);
  gemmaLayout->setContentsMargins(20, 0, 20, 0);
  gemmaLayout->setSpacing(0);
  gemmaTrailing_ = new ModelDownloadTrailing(gemma);
  //% "Google · on-device cleanup & formatting"
  //: Description of the on-device language model.
  const QString gemmaDescription =
      qtTrId("settings.models.gemma.description") + QLatin1Char('\n') + downloadSizeText({p_.languageModel});
  //% "GEMMA 4"
  //: Display name of the on-device language model.
  gemmaLayout->addWidget(new SettingsChapterRow(1, qtTrId("settings.models.gemma.name"), gemmaDescription, false, {},
                                                gemmaTrailing_, gemma));
  gemmaProgressArea_ = new QWidget(gemma);
  auto* progressLayout = new QVBoxLayout(gemmaProgressArea_);
  progressLayout->setContentsMargins(0, 12, 0, 12);
  gemmaProgress_ = new DSProgressBar(0.0, 4, gemmaProgressArea_);
  progressLayout->addWidget(gemmaProgress_);
  gemmaLayout->addWidget(gemmaProgressArea_);
  languageModel->addRow(gemma);
  page->addContent(languageModel);
  connect(gemmaTrailing_, &ModelDownloadTrailing::downloadClicked, this, &ModelsSettingsView::startGemmaDownload);
  connect(gemmaTrailing_, &ModelDownloadTrailing::deleteClicked, this, &ModelsSettingsView::requestGemmaDelete);

  gemmaDownloader_ = new ModelDownloader({p_.languageModel}, p_.languageModelDirectory, kResourceTimeoutSeconds,
                                         p_.downloadClock, this);
  if (p_.downloadEndpoint.isValid()) gemmaDownloader_->setEndpoint(p_.downloadEndpoint);
  connect(gemmaDownloader_, &ModelDownloader::stateChanged, this, &ModelsSettingsView::refreshGemmaSnapshot);
  gemmaDownloaded_ = isGemmaFileComplete();

  page->addContent(blank(24, column));
  //% "MODEL MEMORY"
  //: Card label above model memory settings.
  auto* memory = new SettingsCardSection(qtTrId("settings.models.automatic_unloading"), column);
  delayPicker_ = new ModelInactivityDelayPicker(p_.defaults, memory);
  //% "Unload models after"
  //: Label for the idle time before loaded models are unloaded.
  memory->addRow(new SettingsRow(qtTrId("settings.models.auto_unload.delay"),
                                 //% "each model loads only when needed. choose never to keep loaded models ready."
                                 //: Hint explaining model loading and the option to keep loaded models ready.
                                 qtTrId("settings.models.auto_unload.delay.hint"), false, delayPicker_, memory));
  page->addContent(memory);

  lastDelayMinutes_ = p_.defaults.integerValue(QString::fromLatin1(model_inactivity_delay::kKey));
  connect(&p_.defaults, &UserDefaults::valueChanged, this, &ModelsSettingsView::onDefaultsChanged);
  refreshGemmaCard();
}

ModelsSettingsView::~ModelsSettingsView() { cancelGemmaDownload(); }

const SpeechModelDescriptor& ModelsSettingsView::resolvedSelectedModel() const {
  const std::optional<QString> stored = p_.defaults.stringValue(QString::fromLatin1(kSelectedSpeechModelKey));
  const SpeechModelID fallback = SpeechModelDescriptor::defaultModel().id;
  const SpeechModelDescriptor* byDefault = nullptr;
  for (const SpeechModelDescriptor& descriptor : p_.catalog) {
    if (stored && descriptor.id.rawValue == *stored) return descriptor;
    if (!byDefault && descriptor.id == fallback) byDefault = &descriptor;
  }
  if (byDefault) return *byDefault;
  return p_.catalog.isEmpty() ? SpeechModelDescriptor::defaultModel() : p_.catalog.first();
}

CapsuleMenuButton* ModelsSettingsView::languagePicker() const {
  return languageRow_ ? languageRow_->findChild<CapsuleMenuButton*>() : nullptr;
}

void ModelsSettingsView::setErrorMessage(std::optional<QString> message) {
  errorMessage_ = std::move(message);
  if (errorMessage_) banner_->setMessage(*errorMessage_);
  bannerArea_->setVisible(errorMessage_.has_value());
  // Once the page has made room for the banner (one turn later, when its layout has run).
  revealPending_ = errorMessage_.has_value();
  if (revealPending_) QMetaObject::invokeMethod(this, &ModelsSettingsView::revealBanner, Qt::QueuedConnection);
}

void ModelsSettingsView::revealBanner() {
  if (!revealPending_ || !bannerArea_->isVisible()) return;
  // The banner's final place and height first: a new message's layouts run
  // from the banner up to the page's column, each waiting on the one below.
  for (QWidget* widget = banner_; widget && widget != page_->viewport(); widget = widget->parentWidget())
    if (QLayout* layout = widget->layout()) layout->activate();
  // Its centre with half its height and the margin around it: the whole banner and some air below it.
  const QRect area(banner_->mapTo(page_->widget(), QPoint(0, 0)), banner_->size());
  page_->ensureVisible(area.center().x(), area.center().y(), 0, area.height() / 2 + kBannerRevealMargin);
  // Until the column has grown to hold the banner, its place is not final:
  // the scroll range's change that follows tries again.
  const QWidget* column = page_->widget();
  const int needed =
      column->hasHeightForWidth() ? column->heightForWidth(column->width()) : column->minimumSizeHint().height();
  const QRect inViewport(banner_->mapTo(page_->viewport(), QPoint(0, 0)), banner_->size());
  revealPending_ = column->height() < needed || !page_->viewport()->rect().contains(inViewport);
}

void ModelsSettingsView::useSpeechModel(const SpeechModelDescriptor& descriptor) {
  if (isSwitching_) return;
  isSwitching_ = true;
  setErrorMessage(std::nullopt);
  for (SpeechModelSettingsRow* row : rows_) row->setSwitching(true);
  auto task = runSwitch(QPointer<ModelsSettingsView>(this), &p_.appState, descriptor);
  // Never cancelled: tied to the state, which outlives every page, so the switch ends.
  QCoro::connect(std::move(task), &p_.appState, [] {});
}

QCoro::Task<void> ModelsSettingsView::runSwitch(QPointer<ModelsSettingsView> page, AppState* state,
                                                SpeechModelDescriptor descriptor) {
  std::exception_ptr error;
  try {
    auto select = state->selectSpeechModel(descriptor);
    co_await std::move(select);
  } catch (...) {
    error = std::current_exception();
  }
  // The page may be gone (tab switched, window closed): its outcome is then not shown.
  if (page) page->finishSwitch(error);
}

void ModelsSettingsView::finishSwitch(std::exception_ptr error) {
  if (error) setErrorMessage(ErrorDescription::of(error).description);
  isSwitching_ = false;
  for (SpeechModelSettingsRow* row : rows_) row->setSwitching(false);
}

void ModelsSettingsView::onDefaultsChanged(const QString& key) {
  if (key == QLatin1String(kSelectedSpeechModelKey)) {
    refreshSelection();
  } else if (key == QLatin1String(model_inactivity_delay::kKey)) {
    const std::optional<qint64> minutes = p_.defaults.integerValue(key);
    if (minutes == lastDelayMinutes_) return;
    lastDelayMinutes_ = minutes;
    reapplyModelResidency();
  }
}

void ModelsSettingsView::reapplyModelResidency() { p_.appState.engineHost().scheduleIdleUnloads(); }

void ModelsSettingsView::refreshSelection() {
  const SpeechModelID selected = resolvedSelectedModel().id;
  for (SpeechModelSettingsRow* row : rows_) row->setSelected(row->descriptor().id == selected);
  rebuildLanguageRow();
}

void ModelsSettingsView::rebuildLanguageRow() {
  const LanguageSupport& languages = resolvedSelectedModel().capabilities.languages;
  if (languageRow_ && shownLanguages_ == languages) return;
  shownLanguages_ = languages;
  delete languageRow_;
  //% "Preferred language"
  //: Label for the Whisper preferred-language setting.
  const QString preferred = qtTrId("settings.models.preferred_language");
  //% "auto detects when no preference is set."
  //: Hint under the Whisper preferred-language setting.
  const QString preferredHint = qtTrId("settings.models.preferred_language.hint");
  switch (languages.kind) {
    case LanguageSupport::Kind::Fixed:
      languageRow_ = new SettingsRow(preferred, preferredHint, false,
                                     languageName(languages.fixedCode, languageHolder_), languageHolder_);
      break;
    case LanguageSupport::Kind::Selectable:
      languageRow_ = new SettingsRow(
          preferred, preferredHint, false,
          new SpeechLanguagePicker(languages.codes, languages.autoDetect, p_.defaults, p_.clock, languageHolder_),
          languageHolder_);
      break;
    case LanguageSupport::Kind::DetectOnly:
      //% "Language detection"
      //: Label for automatic spoken-language detection.
      languageRow_ = new SettingsRow(qtTrId("settings.models.language_detection"),
                                     //% "This model detects the spoken language automatically."
                                     //: Hint shown when the selected speech model always detects the language itself.
                                     qtTrId("settings.models.language.detect_only_hint"), false,
                                     languageName(QStringLiteral("auto"), languageHolder_), languageHolder_);
      break;
  }
  languageHolder_->layout()->addWidget(languageRow_);
}

// The language-model card

bool ModelsSettingsView::isGemmaFileComplete() const { return p_.isLanguageModelInstalled(); }

void ModelsSettingsView::startGemmaDownload() {
  // One download at a time: a second press while it runs would only be refused.
  if (gemmaDownloading_) return;
  setErrorMessage(std::nullopt);
  gemmaDownloading_ = true;
  gemmaCancel_ = CancellationToken();
  auto task = runGemmaDownload(QPointer<ModelsSettingsView>(this), gemmaDownloader_, *gemmaCancel_);
  QCoro::connect(std::move(task), gemmaDownloader_, [] {});
}

QCoro::Task<void> ModelsSettingsView::runGemmaDownload(QPointer<ModelsSettingsView> page,
                                                       QPointer<ModelDownloader> downloader, CancellationToken cancel) {
  std::exception_ptr error;
  try {
    auto download = downloader->download(cancel);
    co_await std::move(download);
  } catch (...) {
    error = std::current_exception();
  }
  if (page) page->finishGemmaDownload(error);
}

void ModelsSettingsView::finishGemmaDownload(std::exception_ptr error) {
  gemmaDownloading_ = false;
  gemmaCancel_.reset();
  if (!error) {
    gemmaDownloaded_ = true;
  } else if (!isCancellation(error)) {
    setErrorMessage(ErrorDescription::of(error).description);
  }
  refreshGemmaCard();
}

void ModelsSettingsView::refreshGemmaSnapshot() {
  if (gemmaDownloader_->state().kind != ModelDownloader::State::Kind::Downloading)
    gemmaDownloaded_ = isGemmaFileComplete();
  refreshGemmaCard();
}

void ModelsSettingsView::refreshGemmaCard() {
  std::optional<double> progress;
  // A cancelled download leaves the downloader at its last percentage; only a running one shows it.
  if (gemmaDownloading_ && gemmaDownloader_->state().kind == ModelDownloader::State::Kind::Downloading)
    progress = gemmaDownloader_->state().progress;
  gemmaTrailing_->update(gemmaDownloaded_, progress);
  if (progress) gemmaProgress_->setProgress(*progress);
  gemmaProgressArea_->setVisible(progress.has_value());
}

void ModelsSettingsView::requestGemmaDelete() {
  if (gemmaConfirmation_) return;
  gemmaConfirmation_ = presentModelDeletionConfirmation(this, [self = QPointer<ModelsSettingsView>(this)] {
    if (self) self->performGemmaDelete();
  });
}

void ModelsSettingsView::performGemmaDelete() {
  cancelGemmaDownload();
  setErrorMessage(std::nullopt);
  try {
    p_.deleteLanguageModel();
    gemmaDownloaded_ = false;
  } catch (const std::exception& e) {
    setErrorMessage(ErrorDescription::of(e).description);
  }
  refreshGemmaCard();
}

void ModelsSettingsView::cancelGemmaDownload() {
  if (gemmaCancel_) gemmaCancel_->cancel();
  gemmaCancel_.reset();
}

void ModelsSettingsView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!event->spontaneous()) cancelGemmaDownload();
}

}  // namespace murel
