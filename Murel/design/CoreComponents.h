#pragma once

#include "design/Tokens.h"

#include <QWidget>

namespace murel {

// A named image of the application's resources ("Icons/info" is
// images/Icons/info.svg), drawn as a template in one colour, aspect ratio
// kept, centred in a `size` by `size` square.
class AppIcon : public QWidget {
  Q_OBJECT

 public:
  AppIcon(const QString& name, qreal size, QWidget* parent = nullptr);

  QString name() const { return name_; }
  // The template's colour: the foreground of its surroundings, ink unless told.
  void setColor(DSColor color, qreal opacity = 1.0);

  static QString resourcePath(const QString& name);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString name_;
  DSColor color_ = DSColor::ink;
  qreal opacity_ = 1.0;
};

// A 1 px hairline rule as wide as offered.
class ThinDivider : public QWidget {
  Q_OBJECT

 public:
  explicit ThinDivider(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// "01/07": the shown step (zero-based `current`, plus one) over the total.
class StepCounter : public QWidget {
  Q_OBJECT

 public:
  StepCounter(int current, int total, QWidget* parent = nullptr);

  void setStep(int current, int total);
  int current() const { return current_; }
  int total() const { return total_; }
  QString text() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString currentText() const;
  QString separatorText() const;
  QString totalText() const;

  int current_;
  int total_;
};

// A solid accent bar, `width` by `thickness`, centred in its frame.
class DSAccentStripe : public QWidget {
  Q_OBJECT

 public:
  DSAccentStripe(qreal width, qreal thickness, QWidget* parent = nullptr);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  qreal width_;
  qreal thickness_;
};

}  // namespace murel
