#include "settings/DashboardSettingsView.h"

#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "design/Tokens.h"
#include "text/UsageStatsStore.h"

#include <QFontMetricsF>
#include <QGridLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>

namespace murel {

namespace {

constexpr qreal kMinimumScale = 0.6;

QFont valueFont(qreal pixelSize) { return notoSans(pixelSize, DSWeight::black); }

// A card around `content`, with 16 px of air on every side.
SettingsCard* paddedCard(QWidget* content, Qt::Alignment alignment, QWidget* parent) {
  auto* card = new SettingsCard(parent);
  auto* holder = new QWidget(card);
  auto* layout = new QVBoxLayout(holder);
  layout->setContentsMargins(16, 16, 16, 16);
  layout->setSpacing(0);
  content->setParent(holder);
  layout->addWidget(content, 0, alignment);
  card->addRow(holder);
  return card;
}

QWidget* spacer(int height, QWidget* parent) {
  auto* space = new QWidget(parent);
  space->setFixedHeight(height);
  return space;
}

}  // namespace

// DashboardValueText

DashboardValueText::DashboardValueText(qreal pixelSize, QWidget* parent) : QWidget(parent), pixelSize_(pixelSize) {
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void DashboardValueText::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  setAccessibleName(text);
  updateGeometry();
  update();
}

qreal DashboardValueText::fittedPixelSize() const {
  const qreal natural = QFontMetricsF(valueFont(pixelSize_)).horizontalAdvance(text_);
  if (natural <= width() || natural <= 0) return pixelSize_;
  return std::max(pixelSize_ * kMinimumScale, pixelSize_ * width() / natural);
}

QSize DashboardValueText::sizeHint() const {
  const QFontMetricsF metrics(valueFont(pixelSize_));
  return QSize(qCeil(metrics.horizontalAdvance(text_)), qCeil(metrics.height()));
}

QSize DashboardValueText::minimumSizeHint() const { return QSize(0, sizeHint().height()); }

void DashboardValueText::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const QFont font = valueFont(fittedPixelSize());
  const QFontMetricsF metrics(font);
  painter.setFont(font);
  painter.setPen(dsColor(DSColor::ink, this));
  // Still too wide at 0.6 of its size: cut at the end, on the same line.
  const QString shown = metrics.elidedText(text_, Qt::ElideRight, width());
  const qreal baseline = (height() - metrics.height()) / 2 + metrics.ascent();
  painter.drawText(QPointF(0, baseline), shown);
}

// DashboardStatTile

DashboardStatTile::DashboardStatTile(const QString& label, const std::optional<QString>& caption, bool emphasized,
                                     QWidget* parent)
    : QWidget(parent) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* content = new QWidget;
  auto* stack = new QVBoxLayout(content);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(8);
  auto* labelText = new TextLabel(label, TextStyle{tracked(notoSans(10), 1.5), 2, DSColor::accent}, content);
  labelText->setWrapping(false);
  stack->addWidget(labelText);
  value_ = new DashboardValueText(emphasized ? 32 : 26, content);
  stack->addWidget(value_);
  if (caption) {
    auto* captionText = new TextLabel(*caption, TextStyle{notoSansItalic(12), 2, DSColor::inkMuted}, content);
    captionText->setWrapping(false);
    stack->addWidget(captionText);
  }
  content->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  // The stack takes the tile's whole width, so a long figure knows where to shrink.
  outer->addWidget(paddedCard(content, Qt::Alignment(), this));
}

void DashboardStatTile::setValue(const QString& value) { value_->setText(value); }

// DashboardHeatmap

DashboardHeatmap::DashboardHeatmap(QWidget* parent) : QWidget(parent) { setFixedSize(sizeHint()); }

void DashboardHeatmap::setWeeks(const QList<std::array<int, 7>>& weeks) {
  if (weeks == weeks_) return;
  weeks_ = weeks;
  update();
}

QRect DashboardHeatmap::cellRect(int week, int day) {
  return QRect(week * (kCell + kGap), day * (kCell + kGap), kCell, kCell);
}

QColor DashboardHeatmap::levelColor(int level, const QWidget* widget) {
  switch (level) {
    case 0: return dsColor(DSColor::ink, widget, 0.06);
    case 1: return dsColor(DSColor::accent, widget, 0.3);
    case 2: return dsColor(DSColor::accent, widget, 0.55);
    case 3: return dsColor(DSColor::accent, widget, 0.78);
    default: return dsColor(DSColor::accent, widget);
  }
}

QSize DashboardHeatmap::sizeHint() const {
  return QSize(DashboardMetrics::kWeeks * kCell + (DashboardMetrics::kWeeks - 1) * kGap, 7 * kCell + 6 * kGap);
}

void DashboardHeatmap::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  for (int w = 0; w < weeks_.size(); ++w) {
    for (int d = 0; d < 7; ++d) {
      painter.setBrush(levelColor(weeks_[w][d], this));
      painter.drawRoundedRect(QRectF(cellRect(w, d)), 4, 4);
    }
  }
}

// DashboardSettingsView

DashboardSettingsView::DashboardSettingsView(UsageStatsStore& stats, std::function<QDateTime()> now, QWidget* parent)
    : QWidget(parent), stats_(stats), now_(now ? std::move(now) : [] { return QDateTime::currentDateTime(); }) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* page = new SettingsPageLayout(this);
  outer->addWidget(page);

  //% "Dashboard"
  //: Page header title for the Dashboard settings pane.
  page->addContent(new SettingsCompactHeader(qtTrId("settings.dashboard.title")));

  data_ = new QWidget;
  auto* dataColumn = new QVBoxLayout(data_);
  dataColumn->setContentsMargins(0, 0, 0, 0);
  dataColumn->setSpacing(0);
  auto* grid = new QGridLayout;
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(16);
  grid->setVerticalSpacing(16);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);
  grid->setColumnMinimumWidth(0, 10);
  grid->setColumnMinimumWidth(1, 10);
  //% "vs typing"
  //: Caption under the time-saved tile clarifying the comparison baseline.
  const QString vsTyping = qtTrId("settings.dashboard.caption.vsTyping");
  //% "all time"
  //: Caption under the words-dictated tile clarifying it is a lifetime total.
  const QString allTime = qtTrId("settings.dashboard.caption.allTime");
  //% "TIME SAVED"
  //: Metric tile label for total time saved versus typing.
  tiles_[timeSaved] = new DashboardStatTile(qtTrId("settings.dashboard.tile.timeSaved"), vsTyping, true, data_);
  //% "WORDS DICTATED"
  //: Metric tile label for the all-time dictated word count.
  tiles_[words] = new DashboardStatTile(qtTrId("settings.dashboard.tile.words"), allTime, true, data_);
  //% "DICTATIONS"
  //: Metric tile label for the total number of dictations.
  tiles_[dictations] = new DashboardStatTile(qtTrId("settings.dashboard.tile.dictations"), std::nullopt, false, data_);
  //% "KEYSTROKES SAVED"
  //: Metric tile label for the number of keystrokes saved.
  tiles_[keystrokes] = new DashboardStatTile(qtTrId("settings.dashboard.tile.keystrokes"), std::nullopt, false, data_);
  //% "AVG PACE"
  //: Metric tile label for the user's average dictation pace.
  tiles_[pace] = new DashboardStatTile(qtTrId("settings.dashboard.tile.pace"), std::nullopt, false, data_);
  //% "CURRENT STREAK"
  //: Metric tile label for the current consecutive-day streak.
  tiles_[streak] = new DashboardStatTile(qtTrId("settings.dashboard.tile.streak"), std::nullopt, false, data_);
  for (int i = 0; i < 6; ++i) grid->addWidget(tiles_[i], i / 2, i % 2);
  dataColumn->addLayout(grid);
  dataColumn->addWidget(spacer(24, data_));
  //% "ACTIVITY · LAST %1 WEEKS"
  //: Section label above the activity heatmap; %1 is the number of weeks shown.
  dataColumn->addWidget(new SettingsCardLabel(
      qtTrId("settings.dashboard.section.activity").arg(QLocale().toString(DashboardMetrics::kWeeks)), data_));
  heatmap_ = new DashboardHeatmap;
  dataColumn->addWidget(paddedCard(heatmap_, Qt::AlignLeft, data_));
  dataColumn->addWidget(spacer(24, data_));
  page->addContent(data_);

  auto* emptyCard = new SettingsCard;
  //% "No dictations yet"
  //: Empty-state title on the Dashboard before the first dictation.
  emptyCard->addRow(new SettingsEmptyRow(qtTrId("settings.dashboard.empty.title"),
                                         //% "hold your hotkey and speak — your stats appear here."
                                         //: Empty-state hint on the Dashboard before the first dictation.
                                         qtTrId("settings.dashboard.empty.hint"), emptyCard));
  empty_ = emptyCard;
  page->addContent(empty_);

  for (auto signal : {&UsageStatsStore::totalWordsChanged, &UsageStatsStore::totalCharactersChanged,
                      &UsageStatsStore::totalDictationsChanged, &UsageStatsStore::totalRecordingSecondsChanged,
                      &UsageStatsStore::dailyChanged}) {
    connect(&stats_, signal, this, &DashboardSettingsView::scheduleRedraw);
  }
  redraw();
}

void DashboardSettingsView::scheduleRedraw() {
  // One dictation changes five figures: draw once for all of them.
  if (redrawPending_) return;
  redrawPending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        redrawPending_ = false;
        redraw();
      },
      Qt::QueuedConnection);
}

void DashboardSettingsView::redraw() {
  ++redraws_;
  metrics_ = DashboardMetrics::make(stats_, now_(), QTimeZone::systemTimeZone());
  const QLocale locale;
  data_->setVisible(metrics_.hasData);
  empty_->setVisible(!metrics_.hasData);
  tiles_[timeSaved]->setValue(timeSavedText(metrics_.timeSavedMinutes, locale));
  tiles_[words]->setValue(locale.toString(metrics_.totalWords));
  tiles_[dictations]->setValue(locale.toString(metrics_.totalDictations));
  tiles_[keystrokes]->setValue(compactCountText(metrics_.keystrokesSaved, locale));
  //% "%1 wpm"
  //: Average pace tile value; wpm abbreviates words per minute.
  tiles_[pace]->setValue(metrics_.averageWPM
                             ? qtTrId("settings.dashboard.value.wpm").arg(locale.toString(*metrics_.averageWPM))
                             : QStringLiteral("—"));
  //% "%1 days"
  //: Current-streak tile value: number of consecutive days with a dictation.
  tiles_[streak]->setValue(qtTrId("settings.dashboard.value.streak").arg(locale.toString(metrics_.currentStreak)));
  heatmap_->setWeeks(metrics_.heatmap);
}

}  // namespace murel
