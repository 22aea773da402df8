#include "settings/HistorySettingsView.h"

#include "design/EditorialComponents.h"
#include "design/Motion.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "platform/Pasteboard.h"

#include <QAbstractButton>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QTextLayout>
#include <QVBoxLayout>

#include <cmath>

namespace murel {

QString relativeTimeText(const QDateTime& timestamp, const QDateTime& now) {
  const qint64 s = timestamp.msecsTo(now) / 1000;  // truncated toward zero
  if (s <= 59) {
    //% "just now"
    //: Relative timestamp for a very recent transcription.
    return qtTrId("settings.history.time.just_now");
  }
  if (s < 3600) {
    //% "%1m ago"
    //: Relative timestamp in minutes, e.g. '5m ago'.
    return qtTrId("settings.history.time.minutes").arg(s / 60);
  }
  if (s < 86'400) {
    //% "%1h ago"
    //: Relative timestamp in hours, e.g. '3h ago'.
    return qtTrId("settings.history.time.hours").arg(s / 3600);
  }
  if (s < 2'592'000) {
    //% "%1d ago"
    //: Relative timestamp in days, e.g. '2d ago'.
    return qtTrId("settings.history.time.days").arg(s / 86'400);
  }
  //% "%1mo ago"
  //: Relative timestamp in months, e.g. '4mo ago'.
  return qtTrId("settings.history.time.months").arg(s / 2'592'000);
}

// ClampedText

ClampedText::ClampedText(const QString& text, const QFont& font, qreal lineSpacing, int maxLines, QWidget* parent)
    : QWidget(parent), text_(text), font_(font), lineSpacing_(lineSpacing), maxLines_(maxLines) {
  // Its height comes from its width alone: a minimum of two lines (the hint)
  // would hold a one-line row's card taller than its rows.
  QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
  setAccessibleName(text);
}

QStringList ClampedText::linesAt(int width) const {
  // Layout asks for the same widths many times over; the text never changes.
  if (const auto found = cachedLines_.constFind(width); found != cachedLines_.constEnd()) return found.value();
  QStringList lines;
  if (width <= 0) return lines;
  // Only the start of a long text is shown, so only a prefix is laid out:
  // enough that the last line's remainder is over two lines wide. Then the
  // cut falls where it would in the whole text, and a word broken by the
  // prefix is too long for a line either way. Shaping the whole text at
  // every width made a full history page slow to build.
  const QFontMetricsF metrics(font_);
  const qreal narrowChar = std::max<qreal>(1, metrics.averageCharWidth() * 0.75);
  qsizetype length = qsizetype((maxLines_ + 1) * width / narrowChar) + 16;
  for (;;) {
    if (length >= text_.size())
      length = text_.size();
    else if (text_.at(length).isLowSurrogate())
      ++length;  // keep a surrogate pair whole
    const bool whole = length == text_.size();
    lines = layOut(whole ? text_ : text_.left(length), width, whole);
    if (!lines.isEmpty() || whole) break;
    length *= 2;
  }
  if (cachedLines_.size() > 8) cachedLines_.clear();
  cachedLines_.insert(width, lines);
  return lines;
}

QStringList ClampedText::layOut(const QString& text, int width, bool whole) const {
  QStringList lines;
  QTextLayout layout(text, font_);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  bool complete = whole;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    if (lines.size() == maxLines_ - 1) {
      // The last allowed line takes the rest, cut with an ellipsis when it does not fit.
      const QString rest = text.mid(line.textStart()).simplified();
      const QFontMetricsF metrics(font_);
      complete = complete || metrics.horizontalAdvance(rest) > 2 * width;
      if (complete) lines.append(metrics.elidedText(rest, Qt::ElideRight, width));
      break;
    }
    lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
  }
  layout.endLayout();
  // A prefix that ends before the last line is well filled says nothing.
  if (!complete) lines.clear();
  return lines;
}

int ClampedText::heightForWidth(int width) const {
  const qsizetype count = std::max<qsizetype>(1, linesAt(width).size());
  return qCeil(count * QFontMetricsF(font_).height() + (count - 1) * lineSpacing_);
}

QSize ClampedText::sizeHint() const {
  // Layouts size it by heightForWidth; laying the text out at a width it never
  // takes, only for a hint, cost as much as all its real layouts together.
  constexpr int kPreferredWidth = 400;
  const int lines = std::max(1, maxLines_);
  return QSize(kPreferredWidth, qCeil(lines * QFontMetricsF(font_).height() + (lines - 1) * lineSpacing_));
}

QSize ClampedText::minimumSizeHint() const { return QSize(40, qCeil(QFontMetricsF(font_).height())); }

void ClampedText::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setFont(font_);
  painter.setPen(dsColor(DSColor::ink, this));
  const QFontMetricsF metrics(font_);
  qreal y = metrics.ascent();
  for (const QString& line : linesAt(width())) {
    painter.drawText(QPointF(0, y), line);
    y += metrics.height() + lineSpacing_;
  }
}

// HistoryEntryRow

HistoryEntryRow::HistoryEntryRow(const HistoryEntry& entry, int index, QWidget* parent)
    : QWidget(parent), entry_(entry) {
  setAttribute(Qt::WA_Hover);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(20, 20, 20, 20);
  row->setSpacing(20);
  numeral_ = new EditorialChapterNumeral(index + 1, false, true, this);
  row->addWidget(numeral_, 0, Qt::AlignTop);

  auto* column = new QVBoxLayout;
  column->setSpacing(4);
  column->setContentsMargins(0, 0, 0, 0);
  text_ = new ClampedText(QStringLiteral("“") + entry.text + QStringLiteral("”"), notoSans(14, DSWeight::medium), 4, 2,
                          this);
  column->addWidget(text_);
  age_ = new TextLabel(QString(), TextStyle{notoSansItalic(12), 2, DSColor::inkMuted}, this);
  column->addWidget(age_);
  row->addLayout(column, 1);

  auto* buttons = new QWidget(this);
  buttons->setFixedWidth(80);
  auto* buttonRow = new QHBoxLayout(buttons);
  buttonRow->setContentsMargins(0, 0, 0, 0);
  buttonRow->setSpacing(8);
  buttonRow->addStretch(1);
  //% "Copy"
  //: Accessibility label for the icon-only copy button on a history entry.
  copy_ = new SettingsActionButton(
      QStringLiteral("doc.on.doc"), std::nullopt, false, qtTrId("settings.action.copy"),
      [this] { Q_EMIT copyRequested(); }, buttons);
  //% "Delete"
  //: Accessibility label for the icon-only delete button on a list entry.
  delete_ = new SettingsActionButton(
      QStringLiteral("trash"), DSColor::danger, false, qtTrId("settings.action.delete"),
      [this] { Q_EMIT deleteRequested(); }, buttons);
  buttonRow->addWidget(copy_);
  buttonRow->addWidget(delete_);
  row->addWidget(buttons, 0, Qt::AlignTop);
}

void HistoryEntryRow::setAge(const QString& age) { age_->setText(age.toLower()); }

void HistoryEntryRow::setIndex(int index) { numeral_->setIndex(index + 1); }

void HistoryEntryRow::setHovered(bool hovered) {
  if (hovered == hovered_) return;
  hovered_ = hovered;
  applyMarks();
}

void HistoryEntryRow::setCopied(bool copied) {
  if (copied == copied_) return;
  copied_ = copied;
  applyMarks();
}

void HistoryEntryRow::applyMarks() {
  numeral_->setActive(hovered_);
  // The copy mark comes and goes with the same short fade as the hover.
  copy_->setIcon(copied_ ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc"),
                 copied_ ? std::optional<DSColor>(DSColor::success) : std::nullopt, Motion::kHover);
  copy_->setShown(hovered_ || copied_, Motion::kHover);
  delete_->setShown(hovered_, Motion::kHover);
}

void HistoryEntryRow::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  Q_EMIT hoverChanged(true);
}

void HistoryEntryRow::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  Q_EMIT hoverChanged(false);
}

// HistorySettingsView

namespace {

// A pill that is pressed like a button and drawn as the status pill it holds.
class PillFaceButton : public QAbstractButton {
 public:
  PillFaceButton(EditorialStatusPill* face, QWidget* parent) : QAbstractButton(parent), face_(face) {
    face->setParent(this);
    face->setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(face->sizeHint());
    setAccessibleName(face->label());
    setCursor(Qt::PointingHandCursor);
  }

 protected:
  void paintEvent(QPaintEvent*) override {}

 private:
  EditorialStatusPill* face_;
};

}  // namespace

HistorySettingsView::HistorySettingsView(HistoryStore& store, Pasteboard& pasteboard, Clock& clock,
                                         std::function<QDateTime()> now, std::optional<QList<HistoryEntry>> entries,
                                         QWidget* parent)
    : QWidget(parent),
      store_(store),
      pasteboard_(pasteboard),
      clock_(clock),
      now_(now ? std::move(now) : [] { return QDateTime::currentDateTime(); }),
      entries_(entries ? std::move(*entries) : QList<HistoryEntry>(store.entries())) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* page = new SettingsPageLayout(this);
  outer->addWidget(page);

  //% "History"
  //: History settings page title.
  page->addContent(new SettingsCompactHeader(qtTrId("settings.history.title")));

  //% "LOG"
  //: Card label for the save-history toggle.
  auto* log = new SettingsCardSection(qtTrId("settings.history.log"));
  auto* toggle = new EditorialToggleButton(store_.isEnabled());
  toggle_ = toggle;
  //% "Save history"
  //: Label for the toggle that enables saving transcription history.
  log->addRow(new SettingsRow(qtTrId("settings.history.save"),
                              //% "store transcriptions locally for later reference."
                              //: Hint under the save-history toggle.
                              qtTrId("settings.history.save.hint"), false, toggle));
  connect(toggle, &QAbstractButton::toggled, this, [this](bool on) { store_.setEnabled(on); });
  connect(&store_, &HistoryStore::isEnabledChanged, toggle, [this, toggle] { toggle->setOn(store_.isEnabled()); });
  page->addContent(log);

  auto* gap = new QWidget;
  gap->setFixedHeight(24);
  page->addContent(gap);

  auto* header = new QWidget;
  auto* headerRow = new QHBoxLayout(header);
  headerRow->setContentsMargins(0, 0, 0, 8);
  //% "RECENT TRANSCRIPTIONS"
  //: Card label above the list of recent transcriptions.
  headerRow->addWidget(new SettingsCardLabel(qtTrId("settings.history.recent")), 0, Qt::AlignVCenter);
  headerRow->addStretch(1);
  //% "CLEAR ALL"
  //: Button to clear all saved transcriptions.
  auto* pill = new EditorialStatusPill(qtTrId("settings.history.clear_all"), EditorialStatusPill::Leading::none,
                                       DSColor::danger);
  auto* clearAll = new PillFaceButton(pill, header);
  connect(clearAll, &QAbstractButton::clicked, this, &HistorySettingsView::presentClearAllConfirmation);
  clearAll_ = clearAll;
  headerRow->addWidget(clearAll_, 0, Qt::AlignVCenter);
  page->addContent(header);

  listCard_ = new SettingsCard;
  page->addContent(listCard_);
  rebuildList();
}

HistorySettingsView::~HistorySettingsView() {
  for (Clock::TimerId id : copiedResets_) clock_.cancel(id);
}

QList<HistoryEntryRow*> HistorySettingsView::rows() const {
  QList<HistoryEntryRow*> result;
  for (HistoryEntryRow* row : listCard_->findChildren<HistoryEntryRow*>())
    if (!row->property("removed").toBool()) result.append(row);
  return result;
}

HistoryEntryRow* HistorySettingsView::row(const QUuid& id) const {
  for (HistoryEntryRow* row : rows())
    if (row->entry().id == id) return row;
  return nullptr;
}

void HistorySettingsView::rebuildList() {
  for (HistoryEntryRow* old : rows()) {
    old->setProperty("removed", true);
    old->hide();
    old->deleteLater();
  }
  if (empty_) {
    empty_->hide();
    empty_->deleteLater();
    empty_ = nullptr;
  }
  clearAll_->setVisible(!entries_.isEmpty());
  if (entries_.isEmpty()) {
    showEmptyState(false);
    return;
  }
  for (qsizetype i = 0; i < entries_.size(); ++i) {
    const HistoryEntry& entry = entries_[i];
    auto* row = new HistoryEntryRow(entry, static_cast<int>(i));
    const QUuid id = entry.id;
    connect(row, &HistoryEntryRow::hoverChanged, this, [this, id](bool hovered) {
      hovered_ = hovered ? std::optional<QUuid>(id) : std::nullopt;
      for (HistoryEntryRow* r : rows()) r->setHovered(hovered_ == r->entry().id);
    });
    connect(row, &HistoryEntryRow::copyRequested, this, [this, row] { copyEntry(row->entry()); });
    connect(row, &HistoryEntryRow::deleteRequested, this, [this, id] { deleteEntry(id); });
    row->setCopied(copied_ == id);
    listCard_->addRow(row);
  }
  refreshAges();
}

void HistorySettingsView::showEmptyState(bool animated) {
  clearAll_->setVisible(false);
  if (empty_) return;
  //% "No transcriptions yet"
  //: Empty-state title when no transcriptions exist.
  empty_ = new SettingsEmptyRow(qtTrId("settings.history.empty.title"),
                                //% "recordings will appear here after transcription."
                                //: Empty-state hint when no transcriptions exist.
                                qtTrId("settings.history.empty.hint"));
  listCard_->addRow(empty_);
  if (!animated) return;
  QWidget* empty = empty_;
  auto* fade = new Tween(
      0, [empty](qreal value) { Motion::setContentOpacity(empty, value); }, empty);
  Motion::setContentOpacity(empty, 0);
  fade->animateTo(1, Motion::kToggle);
}

void HistorySettingsView::retireRow(HistoryEntryRow* row) {
  row->setProperty("removed", true);
  row->setHovered(false);
  Motion::foldAway(row, Motion::kToggle, [row] {
    row->hide();
    row->deleteLater();
  });
}

void HistorySettingsView::renumberRows() {
  const QList<HistoryEntryRow*> shown = rows();
  for (qsizetype i = 0; i < shown.size(); ++i) shown[i]->setIndex(static_cast<int>(i));
}

void HistorySettingsView::refreshAges() {
  const QDateTime now = now_();
  for (HistoryEntryRow* row : rows()) row->setAge(relativeTimeText(row->entry().timestamp, now));
}

void HistorySettingsView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refreshAges();
}

void HistorySettingsView::setCopied(std::optional<QUuid> id) {
  copied_ = id;
  for (HistoryEntryRow* row : rows()) row->setCopied(copied_ == row->entry().id);
}

void HistorySettingsView::copyEntry(const HistoryEntry& entry) {
  pasteboard_.writeText(entry.text);
  setCopied(entry.id);
  const QUuid id = entry.id;
  // The destructor cancels what is pending, so the callback never outlives the page.
  auto timer = std::make_shared<Clock::TimerId>(0);
  *timer = clock_.schedule(kCopiedMarkDuration, [this, id, timer] { copiedResetFired(*timer, id); });
  copiedResets_.push_back(*timer);
}

void HistorySettingsView::copiedResetFired(Clock::TimerId timer, const QUuid& id) {
  std::erase(copiedResets_, timer);
  // A later copy keeps its own mark for its own time.
  if (copied_ && *copied_ == id) setCopied(std::nullopt);
}

void HistorySettingsView::deleteEntry(const QUuid& id) {
  entries_.removeIf([&id](const HistoryEntry& e) { return e.id == id; });
  if (hovered_ == id) hovered_.reset();
  store_.remove(id);
  for (HistoryEntryRow* gone : rows())
    if (gone->entry().id == id) retireRow(gone);
  renumberRows();
  if (entries_.isEmpty()) showEmptyState(true);
}

void HistorySettingsView::presentClearAllConfirmation() {
  if (confirmation_) return;
  //% "Clear all transcriptions?"
  //: Title of the confirmation dialog before clearing all saved transcriptions.
  const QString title = qtTrId("settings.history.clear_all.confirm.title");
  //% "this permanently deletes every saved transcription. this can't be undone."
  //: Body of the confirmation dialog before clearing all saved transcriptions.
  auto* alert = new DSAlert(title, qtTrId("settings.history.clear_all.confirm.message"), this);
  //% "Cancel"
  //: Generic button that dismisses a confirmation dialog without acting.
  alert->addButton(qtTrId("common.cancel"), DSAlert::Role::cancel);
  //% "Clear All"
  //: Destructive button confirming that all saved transcriptions should be cleared.
  QAbstractButton* clear =
      alert->addButton(qtTrId("settings.history.clear_all.confirm.action"), DSAlert::Role::destructive);
  connect(alert, &DSAlert::buttonClicked, this, [this, clear](QAbstractButton* button) {
    if (button == clear) clearAll();
  });
  confirmation_ = alert;
  presentAsSheet(alert, this);
}

void HistorySettingsView::clearAll() {
  entries_.clear();
  hovered_.reset();
  store_.clear();
  // A hundred rows folding at once would cost more than they show: they go,
  // and the empty state fades in.
  for (HistoryEntryRow* old : rows()) {
    old->setProperty("removed", true);
    old->hide();
    old->deleteLater();
  }
  showEmptyState(true);
}

}  // namespace murel
