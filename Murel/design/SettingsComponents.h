#pragma once

#include "design/Tokens.h"

#include <QAbstractButton>
#include <QPointer>
#include <QScrollArea>
#include <QWidget>

#include <functional>
#include <optional>

class QBoxLayout;
class QVBoxLayout;
class QLineEdit;
class QPlainTextEdit;

namespace murel {

class Clock;
class EditorialChapterNumeral;
class TextLabel;
class Tween;

// The scaffold of every settings page: a vertically scrolling column inset
// 48 px left and right, 32 px of air above the content and at least 80 px
// below it, no scroll bars, fading in while sliding 8 px to the left over
// 0.2 s the first time it is shown (at rest at once in a preview run). The
// column is always the viewport's width, and it scrolls exactly to its bottom
// space past the content, however the content's minimum sizes read.
class SettingsPageLayout : public QScrollArea {
  Q_OBJECT

 public:
  // The space under the content at the end of the scroll.
  static constexpr int kBottomSpace = 80;

  explicit SettingsPageLayout(QWidget* parent = nullptr);

  // Appends a view to the page's column (no spacing between views).
  void addContent(QWidget* widget);
  // The column widget the content lives in.
  QWidget* column() const { return column_; }

  bool appeared() const { return appeared_; }
  // 0 at the first frame of the entrance, 1 at rest.
  qreal entranceProgress() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void applyEntrance(qreal progress);

  QWidget* column_;
  QVBoxLayout* content_;
  bool appeared_;
  Tween* entrance_;
};

// The page title, with 20 px below it.
class SettingsCompactHeader : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsCompactHeader(const QString& title, QWidget* parent = nullptr);
  TextLabel* titleLabel() const { return title_; }

 private:
  TextLabel* title_;
};

// The small accent caption above a card, shown exactly as passed.
class SettingsCardLabel : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsCardLabel(const QString& label, QWidget* parent = nullptr);
  TextLabel* textLabel() const { return text_; }

 private:
  TextLabel* text_;
};

// A rounded, outlined surface holding rows, with a hairline rule (inset 20 px
// each side) between every two shown rows. A hidden row takes neither space
// nor a rule. Rows are cut at the rounded corners, and the outline is drawn
// over them.
class SettingsCard : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsCard(QWidget* parent = nullptr);

  void addRow(QWidget* row);
  void insertRow(int index, QWidget* row);
  int indexOf(QWidget* row) const;
  // Where the rules are drawn now, in the card's coordinates.
  QList<QRect> ruleRects() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  class Outline;
  void clipRow(QWidget* row) const;

  QVBoxLayout* rows_;
  Outline* outline_;
};

// Rows kept together in one row of a card, ruled between them as the card
// rules its own; it draws no surface of its own. A long list put into a few
// of these keeps the card's layout to tens of items, and a group added later
// leaves the rows of the others where they are, untouched.
class SettingsCardRowGroup : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsCardRowGroup(QWidget* parent = nullptr);

  void addRow(QWidget* row);
  void insertRow(int index, QWidget* row);
  int indexOf(QWidget* row) const;
  // Whether any of its rows is shown (a group without one should be hidden,
  // so that it takes neither space nor a rule in the card).
  bool hasShownRows() const;
  // Where its rules are drawn now, in the group's coordinates.
  QList<QRect> ruleRects() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QVBoxLayout* rows_;
};

// A card label above a card.
class SettingsCardSection : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsCardSection(const QString& label, QWidget* parent = nullptr);

  SettingsCard* card() const { return card_; }
  void addRow(QWidget* row);

 private:
  SettingsCard* card_;
};

// A setting: title (accent when active), optional description, and a control
// at the trailing end.
class SettingsRow : public QWidget {
  Q_OBJECT

 public:
  SettingsRow(const QString& label, const std::optional<QString>& description, bool isActive, QWidget* trailing,
              QWidget* parent = nullptr);

  void setActive(bool active);
  TextLabel* titleLabel() const { return title_; }
  TextLabel* descriptionLabel() const { return description_; }

 private:
  TextLabel* title_;
  TextLabel* description_ = nullptr;
};

// A numbered row; the whole row is clickable when given `onTap`.
class SettingsChapterRow : public QWidget {
  Q_OBJECT

 public:
  SettingsChapterRow(int index, const QString& label, const std::optional<QString>& description, bool isActive,
                     std::function<void()> onTap, QWidget* trailing, QWidget* parent = nullptr);

  void setActive(bool active);
  EditorialChapterNumeral* numeral() const { return numeral_; }
  TextLabel* titleLabel() const { return title_; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  EditorialChapterNumeral* numeral_;
  TextLabel* title_;
  std::function<void()> onTap_;
  bool pressed_ = false;
};

// The empty state of a card: a faint 00, a title and a hint.
class SettingsEmptyRow : public QWidget {
  Q_OBJECT

 public:
  SettingsEmptyRow(const QString& title, const QString& hint, QWidget* parent = nullptr);
};

// A leading and a trailing view, pushed apart.
class SettingsConfiguredValueRow : public QWidget {
  Q_OBJECT

 public:
  SettingsConfiguredValueRow(QWidget* leading, QWidget* trailing, QWidget* parent = nullptr);
};

// The small round icon button of list rows. While not `visible` it keeps its
// 28 x 28 place but is not seen, takes no clicks and no keyboard focus.
class SettingsActionButton : public QAbstractButton {
  Q_OBJECT

 public:
  SettingsActionButton(const QString& icon, std::optional<DSColor> accentColor, bool visible,
                       const QString& accessibilityLabel, std::function<void()> action, QWidget* parent = nullptr);

  // Out of reach at once when hidden; drawn fading over `fadeMs` either way.
  void setShown(bool visible, int fadeMs = 0);
  bool isShown() const { return visible_; }
  // How much of it is drawn: 0 hidden, 1 shown, between while fading.
  qreal revealProgress() const;
  // Cross-fades from the icon and colour drawn now over `fadeMs` (at once when 0).
  void setIcon(const QString& icon, std::optional<DSColor> accentColor, int fadeMs = 0);
  QString iconName() const { return icon_; }
  std::optional<DSColor> accentColor() const { return accent_; }
  // From 0 (the previous icon) to 1 (the current one, at rest).
  Tween* iconSwap() const { return swap_; }
  bool isHovering() const { return isHovering_; }

  QSize sizeHint() const override { return QSize(28, 28); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void setHovering(bool hovering);

  QString icon_;
  std::optional<DSColor> accent_;
  // What a running swap fades out.
  QString previousIcon_;
  std::optional<DSColor> previousAccent_;
  bool visible_;
  bool isHovering_ = false;
  Tween* hover_;
  Tween* reveal_;
  Tween* swap_;
  std::function<void()> action_;
};

// The confirm (green check) and cancel (red cross) buttons of an inline
// form, right-aligned in an 80 px box.
class SettingsInlineFormButtons : public QWidget {
  Q_OBJECT

 public:
  SettingsInlineFormButtons(std::function<void()> onConfirm, std::function<void()> onCancel, QWidget* parent = nullptr);

  SettingsActionButton* confirmButton() const { return confirm_; }
  SettingsActionButton* cancelButton() const { return cancel_; }

 private:
  SettingsActionButton* confirm_;
  SettingsActionButton* cancel_;
};

// The inline add-or-edit field: bold text over an underline that turns from
// a 1 px hairline into a 2 px accent line while focused. Multi-line fields
// grow from 3 to 10 lines, then scroll. With `autofocus` it takes the focus
// 50 ms after it comes on screen.
class SettingsInlineField : public QWidget {
  Q_OBJECT

 public:
  SettingsInlineField(const QString& placeholder, const QString& text, bool isMultiline, bool autofocus, Clock& clock,
                      QWidget* parent = nullptr);
  ~SettingsInlineField() override;

  QString text() const;
  void setText(const QString& text);
  bool isFocused() const;
  QWidget* editor() const;
  // The underline's current thickness (1 unfocused, 2 focused, between while
  // it animates).
  qreal underlineThickness() const;
  int visibleLineCount() const;

 signals:
  void textEdited(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void applyPalette();
  void resizeToLines();
  void cancelAutofocus();

  QString placeholder_;
  bool multiline_;
  bool autofocus_;
  Clock& clock_;
  quint64 autofocusTimer_ = 0;
  QLineEdit* line_ = nullptr;
  QPlainTextEdit* lines_ = nullptr;
  Tween* focus_;
};

}  // namespace murel
