#pragma once

#include "design/Sheets.h"
#include "runtime/Clock.h"
#include "text/HistoryStore.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QVBoxLayout;

namespace murel {

class EditorialChapterNumeral;
class Pasteboard;
class SettingsActionButton;
class SettingsCard;
class TextLabel;
class Tween;

// The age of an entry: "just now", "5m ago", "3h ago", "2d ago", "4mo ago"
// (months of 30 days, no years); a time in the future is "just now".
QString relativeTimeText(const QDateTime& timestamp, const QDateTime& now);

// Wrapped text cut after `maxLines` lines, the last one ending in an ellipsis.
// Its height is always the height of the lines it shows.
class ClampedText : public QWidget {
  Q_OBJECT

 public:
  ClampedText(const QString& text, const QFont& font, qreal lineSpacing, int maxLines, QWidget* parent = nullptr);

  QString text() const { return text_; }
  // The lines as drawn at `width` (the last ending in "…" when cut).
  QStringList linesAt(int width) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // The lines of `text` (the whole text or a prefix of it) at `width`; empty
  // when a prefix is too short to tell.
  QStringList layOut(const QString& text, int width, bool whole) const;

  QString text_;
  QFont font_;
  qreal lineSpacing_;
  int maxLines_;
  // Lines per width: layout asks for the same few widths many times over.
  mutable QHash<int, QStringList> cachedLines_;
};

// One saved transcription: its number, its text (at most two lines), its age,
// and the copy and delete buttons that the pointer or a fresh copy reveals.
class HistoryEntryRow : public QWidget {
  Q_OBJECT

 public:
  HistoryEntryRow(const HistoryEntry& entry, int index, QWidget* parent = nullptr);

  const HistoryEntry& entry() const { return entry_; }
  ClampedText* textView() const { return text_; }
  TextLabel* ageLabel() const { return age_; }
  SettingsActionButton* copyButton() const { return copy_; }
  SettingsActionButton* deleteButton() const { return delete_; }
  EditorialChapterNumeral* numeral() const { return numeral_; }
  void setAge(const QString& age);
  void setIndex(int index);
  void setHovered(bool hovered);
  void setCopied(bool copied);

 Q_SIGNALS:
  void hoverChanged(bool hovered);
  void copyRequested();
  void deleteRequested();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void applyMarks();

  HistoryEntry entry_;
  EditorialChapterNumeral* numeral_;
  ClampedText* text_;
  TextLabel* age_;
  SettingsActionButton* copy_;
  SettingsActionButton* delete_;
  bool hovered_ = false;
  bool copied_ = false;
};

// The history tab: the save-history switch and the saved transcriptions,
// newest first, to copy, delete, or clear all after a confirmation. The list
// is the store's at the moment the page is built; later entries appear when
// it is built again.
class HistorySettingsView : public QWidget {
  Q_OBJECT

 public:
  static constexpr Clock::Duration kCopiedMarkDuration = std::chrono::milliseconds(1500);

  // `now` dates the ages (the system clock when empty); `clock` times the copied mark.
  HistorySettingsView(HistoryStore& store, Pasteboard& pasteboard, Clock& clock, std::function<QDateTime()> now = {},
                      std::optional<QList<HistoryEntry>> entries = std::nullopt, QWidget* parent = nullptr);
  ~HistorySettingsView() override;

  const QList<HistoryEntry>& entries() const { return entries_; }
  std::optional<QUuid> hoveredEntryID() const { return hovered_; }
  std::optional<QUuid> copiedEntryID() const { return copied_; }
  QList<HistoryEntryRow*> rows() const;
  HistoryEntryRow* row(const QUuid& id) const;
  QWidget* saveToggle() const { return toggle_; }
  QWidget* clearAllButton() const { return clearAll_; }
  QWidget* emptyRow() const { return empty_; }
  // The clear-all confirmation while it is open.
  DSAlert* confirmation() const { return confirmation_; }

  void copyEntry(const HistoryEntry& entry);
  void deleteEntry(const QUuid& id);
  void presentClearAllConfirmation();
  void clearAll();
  // Recomputes every age text against now.
  void refreshAges();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void rebuildList();
  void showEmptyState(bool animated);
  // Takes a deleted row out: it folds away, then goes.
  void retireRow(HistoryEntryRow* row);
  void renumberRows();
  void setCopied(std::optional<QUuid> id);
  void copiedResetFired(Clock::TimerId timer, const QUuid& id);

  HistoryStore& store_;
  Pasteboard& pasteboard_;
  Clock& clock_;
  std::function<QDateTime()> now_;
  QList<HistoryEntry> entries_;
  std::optional<QUuid> hovered_;
  std::optional<QUuid> copied_;
  std::vector<Clock::TimerId> copiedResets_;
  QWidget* toggle_;
  QWidget* clearAll_;
  SettingsCard* listCard_;
  QWidget* empty_ = nullptr;
  QPointer<DSAlert> confirmation_;
};

}  // namespace murel
