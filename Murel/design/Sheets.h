#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>

class QAbstractButton;
class QHBoxLayout;

namespace murel {

class EditorialPillButton;
class TextLabel;

// The corner radius of sheets and alerts.
inline constexpr qreal kSheetCornerRadius = 10;

// Paints a sheet's face: the window background inside a rounded rectangle
// outlined by a 1 px hairline. X11 without a compositor draws no shadow, so
// the outline is what sets the sheet apart from the page behind it.
void paintSheetFace(QPainter& painter, const QWidget* widget);

// Darkens a window while a sheet or alert is over it: a child covering the
// whole window, above everything in it, following its size.
class SheetBackdrop : public QWidget {
  Q_OBJECT

 public:
  explicit SheetBackdrop(QWidget* window);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};

// Shows `dialog` as a sheet over `over`'s window: frameless, window-modal,
// centred on the window, which is dimmed while the dialog is open; its
// corners are cut to the sheet's radius. Escape rejects it (QDialog's own).
// The dialog deletes itself once closed.
void presentAsSheet(QDialog* dialog, QWidget* over);

// A confirmation or notice in the design's look, shown as a sheet: a title, a
// wrapped message and pill buttons at the trailing end, a destructive one in
// the danger colour. Escape and Cancel reject it; the focus starts on the
// cancel button, so Return never confirms a destructive action by accident.
class DSAlert : public QDialog {
  Q_OBJECT

 public:
  enum class Role { accept, destructive, cancel };
  static constexpr int kWidth = 400;

  DSAlert(const QString& title, const QString& message, QWidget* parent = nullptr);

  // Buttons are laid out in the order they are added, at the trailing end.
  EditorialPillButton* addButton(const QString& label, Role role);
  QList<EditorialPillButton*> buttons() const { return buttons_; }
  Role role(const QAbstractButton* button) const;
  QString title() const;
  QString message() const;
  TextLabel* titleLabel() const { return title_; }
  TextLabel* messageLabel() const { return message_; }
  QSize sizeHint() const override;

 Q_SIGNALS:
  // Before the alert closes: accepted for accept and destructive buttons,
  // rejected for cancel.
  void buttonClicked(QAbstractButton* button);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TextLabel* title_;
  TextLabel* message_;
  QHBoxLayout* buttonRow_;
  QList<EditorialPillButton*> buttons_;
  QList<Role> roles_;
};

}  // namespace murel
