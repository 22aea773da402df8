#pragma once

#include "design/Tokens.h"

#include <QAbstractButton>
#include <QPointer>
#include <QVariant>
#include <QWidget>

class QLineEdit;

namespace murel {

class TextLabel;
class Tween;
class DropdownControl;
class DropdownList;
class DropdownShadow;
class DropdownClickMonitor;

// One choice of a dropdown: the value written on a pick and its shown label.
struct DSDropdownOption {
  QVariant value;
  QString label;
};

// A single-choice picker: a caption, a closed control showing the current
// choice, and while open a list hanging from the control's bottom edge over
// whatever follows it in the window. The caller owns the value: it sets it
// with setSelection() and hears every pick through `picked` (also when the
// picked option is the one already selected). A mouse press anywhere else in
// the application closes the list; the click still reaches its target.
class DSDropdown : public QWidget {
  Q_OBJECT

 public:
  DSDropdown(const QString& label, const QList<DSDropdownOption>& options, const QVariant& selection,
             QWidget* parent = nullptr);
  ~DSDropdown() override;

  void setOptions(const QList<DSDropdownOption>& options);
  const QList<DSDropdownOption>& options() const { return options_; }
  void setSelection(const QVariant& selection);
  QVariant selection() const { return selection_; }
  // The label of the first option whose value equals the selection, else "".
  QString selectedLabel() const;

  bool isExpanded() const { return isExpanded_; }
  void setExpanded(bool expanded);
  // The closed control (the list's anchor) and, while open, the list.
  QWidget* control() const;
  QWidget* list() const;
  // The open list's outline in its window's coordinates (its shadow aside);
  // empty while closed.
  QRect listGeometry() const;
  // A mouse monitor exists only while the list is open.
  bool hasClickMonitor() const { return !monitor_.isNull(); }

 signals:
  void picked(const QVariant& value);
  void expandedChanged(bool expanded);

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  friend class DropdownControl;
  friend class DropdownList;
  friend class DropdownShadow;
  friend class DropdownClickMonitor;

  void toggleExpanded();
  void selectOption(int index);
  // Opens or closes; `animationMs` 0 changes everything at once.
  void changeExpanded(bool expanded, int animationMs);
  void installClickMonitor();
  void removeClickMonitor();
  // Whether a press at a global position on `target` is on the control or list.
  bool isInside(const QWidget* target, const QPoint& globalPos) const;
  void placeList();
  qreal openness() const;

  TextLabel* caption_;
  DropdownControl* control_;
  QPointer<DropdownList> list_;
  QPointer<DropdownClickMonitor> monitor_;
  QList<DSDropdownOption> options_;
  QVariant selection_;
  bool isExpanded_ = false;
  Tween* open_;
};

// Colours a stock text editor (QLineEdit, QPlainTextEdit) from the tokens as
// `reference` draws them: transparent box, ink text, accent selection.
// The face of a capsule menu button (the microphone and model pickers): its
// label in tracked 12 px capitals, a down chevron and a hairline capsule.
namespace CapsuleMenuFace {
QSize sizeHint(const QString& label);
bool contains(const QRect& rect, const QPoint& pos);
// Draws into `widget`'s whole rect, dimmed while `pressed`.
void paint(QWidget& widget, const QString& label, bool pressed);
}  // namespace CapsuleMenuFace

void applyEditorPalette(QWidget* editor, const QWidget* reference, DSColor text, DSColor placeholder,
                        qreal placeholderOpacity);

// A labelled one-line text field: a caption above a flat rounded box whose
// border turns from a hairline to a 2 px accent line while it has the focus.
class DSTextField : public QWidget {
  Q_OBJECT

 public:
  DSTextField(const QString& label, const QString& placeholder, const QString& text, QWidget* parent = nullptr);

  QString text() const;
  void setText(const QString& text);
  QLineEdit* lineEdit() const { return edit_; }
  bool isFocused() const;

 signals:
  // Every edit, as it happens.
  void textEdited(const QString& text);

 protected:
  bool event(QEvent* event) override;

 private:
  void applyPalette();

  TextLabel* caption_;
  QWidget* box_;
  QLineEdit* edit_;
};

}  // namespace murel
