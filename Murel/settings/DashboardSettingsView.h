#pragma once

#include "text/DashboardMetrics.h"

#include <QDateTime>
#include <QList>
#include <QWidget>

#include <array>
#include <functional>

class QGridLayout;

namespace murel {

class SettingsCard;
class SettingsCardLabel;
class SettingsPageLayout;
class TextLabel;
class UsageStatsStore;

// A figure on one line in a fixed font: when too wide it shrinks down to 0.6
// of its size, then is cut. The text is its accessible name.
class DashboardValueText : public QWidget {
  Q_OBJECT

 public:
  DashboardValueText(qreal pixelSize, QWidget* parent = nullptr);

  QString text() const { return text_; }
  void setText(const QString& text);
  // The pixel size the text is drawn at in the current width.
  qreal fittedPixelSize() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  qreal pixelSize_;
};

// One stat tile: the accent label, the figure, and an optional caption.
class DashboardStatTile : public QWidget {
  Q_OBJECT

 public:
  DashboardStatTile(const QString& label, const std::optional<QString>& caption, bool emphasized,
                    QWidget* parent = nullptr);

  void setValue(const QString& value);
  DashboardValueText* valueText() const { return value_; }

 private:
  DashboardValueText* value_;
};

// The 26 weeks of levels, 13 px cells 4 px apart: 438 x 115.
class DashboardHeatmap : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kCell = 13;
  static constexpr int kGap = 4;

  explicit DashboardHeatmap(QWidget* parent = nullptr);

  void setWeeks(const QList<std::array<int, 7>>& weeks);
  const QList<std::array<int, 7>>& weeks() const { return weeks_; }
  // Where a cell is drawn, in the heatmap's coordinates.
  static QRect cellRect(int week, int day);
  static QColor levelColor(int level, const QWidget* widget);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QList<std::array<int, 7>> weeks_;
};

// The dashboard tab: six stat tiles and the 26-week heatmap, or the empty
// state before the first dictation. It only reads, and redraws on every change
// of the store's figures (coalesced into one redraw per turn of the event loop).
class DashboardSettingsView : public QWidget {
  Q_OBJECT

 public:
  enum Tile { timeSaved, words, dictations, keystrokes, pace, streak };

  // `now` gives the current moment (the system clock when empty).
  DashboardSettingsView(UsageStatsStore& stats, std::function<QDateTime()> now = {}, QWidget* parent = nullptr);

  const DashboardMetrics& metrics() const { return metrics_; }
  DashboardStatTile* tile(Tile tile) const { return tiles_[tile]; }
  DashboardHeatmap* heatmap() const { return heatmap_; }
  QWidget* emptyCard() const { return empty_; }
  QWidget* dataSection() const { return data_; }
  int redrawCount() const { return redraws_; }

  // Recomputes the metrics and shows them.
  void redraw();

 private:
  void scheduleRedraw();

  UsageStatsStore& stats_;
  std::function<QDateTime()> now_;
  DashboardMetrics metrics_;
  std::array<DashboardStatTile*, 6> tiles_{};
  QWidget* data_;
  DashboardHeatmap* heatmap_;
  QWidget* empty_;
  bool redrawPending_ = false;
  int redraws_ = 0;
};

}  // namespace murel
