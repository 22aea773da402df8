#pragma once

#include <QList>
#include <QString>
#include <QUuid>
#include <QWidget>

class QPainter;

namespace murel {

class EditorialPillButton;
class SettingsActionButton;
class SettingsCard;
class SettingsPageLayout;

// One row of a list that the user edits in place (dictionary rules,
// snippets): it paints its own texts, and shows an edit and a delete button at
// its trailing end while the pointer is over it. The buttons are made the
// first time they are needed, so that a list of thousands of rows stays cheap
// to build.
class EditableListRow : public QWidget {
  Q_OBJECT

 public:
  enum class Alignment { centre, top };

  // `verticalPadding` above and below the content; the hover area leaves out
  // the 20 px side insets unless `hoverTakesInsets`.
  EditableListRow(const QUuid& id, Alignment alignment, int verticalPadding, bool hoverTakesInsets,
                  QWidget* parent = nullptr);

  QUuid id() const { return id_; }
  bool isHovered() const { return hovered_; }
  void setHovered(bool hovered);
  SettingsActionButton* editButton();
  SettingsActionButton* deleteButton();
  // Where the texts are drawn, in the row's coordinates.
  QRect textRect() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 Q_SIGNALS:
  void hoverChanged(bool hovered);
  void editRequested();
  void deleteRequested();

 protected:
  // The height of the texts when they are `textWidth` wide.
  virtual int contentHeight(int textWidth) const = 0;
  virtual void paintContent(QPainter& painter, const QRect& textRect) = 0;
  // The texts changed: measure again.
  void contentChanged();

  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void ensureButtons();
  void placeButtons();
  void pointerAt(QPoint pos);
  int textWidthFor(int width) const;

  QUuid id_;
  Alignment alignment_;
  int verticalPadding_;
  bool hoverTakesInsets_;
  bool hovered_ = false;
  bool pointerInside_ = false;
  QWidget* buttons_ = nullptr;
  SettingsActionButton* edit_ = nullptr;
  SettingsActionButton* delete_ = nullptr;
  // Layout asks for the same widths over and over.
  mutable int cachedWidth_ = -1;
  mutable int cachedHeight_ = 0;
};

// Fades a view that just came into the list in, ease-out over `durationMs`.
void fadeIn(QWidget* widget, int durationMs);

// The top of a list page: the title, the card label with the toolbar pills
// at its end, the description, and the card that holds the list (returned).
SettingsCard* addListPageTop(SettingsPageLayout* page, const QString& title, const QString& cardLabel,
                             const QList<QWidget*>& toolbar, const QString& description);

}  // namespace murel
