#pragma once

#include "design/CoreComponents.h"
#include "design/Tokens.h"

#include <QAbstractButton>
#include <QStringList>
#include <QWidget>

#include <functional>

namespace murel {

class TextLabel;
class Tween;

// A 1 px hairline rule; draws exactly like ThinDivider.
class EditorialRule : public ThinDivider {
  Q_OBJECT

 public:
  using ThinDivider::ThinDivider;
};

// A row number in the display face: "03", at most one line, shrinking to
// half size to fit its 44 px column.
class EditorialChapterNumeral : public QWidget {
  Q_OBJECT

 public:
  EditorialChapterNumeral(int index, bool isActive, bool topAlign, QWidget* parent = nullptr);

  QString text() const;
  void setActive(bool active);
  void setIndex(int index);
  bool isActive() const { return isActive_; }
  // The whole numeral's opacity (the empty row draws it at half).
  void setOpacity(qreal opacity);
  // The font scale it is drawn at to fit (1 when it fits, down to 0.5).
  qreal fitScale() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int index_;
  bool isActive_;
  bool topAlign_;
  qreal opacity_ = 1.0;
};

// A capsule on/off switch, 44 by 24. A click flips it (knob sliding over
// 0.15 s) and reports the new value through `toggled`; setOn() sets it at once.
class EditorialToggleButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit EditorialToggleButton(bool isOn, QWidget* parent = nullptr);

  bool isOn() const { return isChecked(); }
  void setOn(bool on);
  // 0 off, 1 on; in between while the knob slides.
  qreal knobPosition() const;

  QSize sizeHint() const override { return QSize(44, 24); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void nextCheckState() override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  Tween* slide_;
};

// A small capsule label in one colour, with an optional leading mark.
class EditorialStatusPill : public QWidget {
  Q_OBJECT

 public:
  enum class Leading { none, checkmark, dot, lock };
  Q_ENUM(Leading)

  EditorialStatusPill(const QString& label, Leading leading, DSColor tint, QWidget* parent = nullptr);

  QString label() const { return label_; }
  Leading leading() const { return leading_; }
  DSColor tint() const { return tint_; }
  void setLabel(const QString& label);
  void setLeading(Leading leading);
  // Fades from the old colour to the new one.
  void setTint(DSColor tint);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

  // Draws a pill into `rect` (also used by EditorialPillButton).
  static void paintPill(QPainter& painter, const QRectF& rect, const QString& label, Leading leading,
                        const QColor& color);
  static QSize pillSize(const QString& label, Leading leading);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString label_;
  Leading leading_;
  DSColor tint_;
  DSColor previousTint_;
  Tween* tintFade_;
};

// A pill that is a button: calls `action` once per click.
class EditorialPillButton : public QAbstractButton {
  Q_OBJECT

 public:
  EditorialPillButton(const QString& label, DSColor tint, std::function<void()> action, QWidget* parent = nullptr);

  void setTint(DSColor tint);
  DSColor tint() const { return tint_; }
  void setLeading(EditorialStatusPill::Leading leading);
  EditorialStatusPill::Leading leading() const { return leading_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  DSColor tint_;
  EditorialStatusPill::Leading leading_ = EditorialStatusPill::Leading::none;
  std::function<void()> action_;
};

// One key: an ink-filled rounded box with the label in the page colour.
class EditorialKeycap : public QWidget {
  Q_OBJECT

 public:
  EditorialKeycap(const QString& label, qreal minWidth, qreal height, qreal fontSize, QWidget* parent = nullptr);

  QString label() const { return label_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QFont font() const;

  QString label_;
  qreal minWidth_;
  qreal height_;
  qreal fontSize_;
};

// Keycaps joined by plus signs: "⌥ + Space".
class EditorialKeycapRow : public QWidget {
  Q_OBJECT

 public:
  EditorialKeycapRow(const QStringList& labels, qreal minWidth, qreal height, qreal fontSize, qreal plusSize,
                     QWidget* parent = nullptr);

  void setLabels(const QStringList& labels);
  QStringList labels() const { return labels_; }

 private:
  QStringList labels_;
  qreal minWidth_, height_, fontSize_, plusSize_;
};

// Wraps a row: a faint ink tint behind it while the pointer is over it,
// unless the row is active.
class EditorialRowHover : public QWidget {
  Q_OBJECT

 public:
  EditorialRowHover(QWidget* content, bool isActive, QWidget* parent = nullptr);

  void setActive(bool active);
  bool isActive() const { return isActive_; }
  bool isHovering() const { return isHovering_; }
  QWidget* content() const { return content_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void setHovering(bool hovering);

  QWidget* content_;
  bool isActive_;
  bool isHovering_ = false;
  Tween* fade_;
};

}  // namespace murel
