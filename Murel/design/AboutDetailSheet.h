#pragma once

#include <QScrollArea>
#include <QWidget>

namespace murel {

class EditorialPillButton;
class TextLabel;

// A scroll area as tall as its content up to a limit, then scrolling, with no
// scroll bars shown. An edge beyond which more content lies fades into the
// background, so a line cut there reads as "scroll on", not as the end.
class CappedScrollArea : public QScrollArea {
  Q_OBJECT

 public:
  CappedScrollArea(QWidget* content, int maxHeight, QWidget* parent = nullptr);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

  // The fades over the top and bottom edges; each shown only while content
  // lies beyond its edge.
  QWidget* topFade() const { return topFade_; }
  QWidget* bottomFade() const { return bottomFade_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void updateFades();

  int maxHeight_;
  QWidget* topFade_;
  QWidget* bottomFade_;
};

// The frame of a detail sheet, 480 px wide on the window background: an accent
// mark and the title, a rule, the body scrolling without bars once it is
// taller than 420 px, a rule, and a CLOSE pill at the trailing end.
//
// The title is shown exactly as given, never looked up: callers pass text
// already in the user's language. The frame presents nothing itself; the
// settings window shows it as a modal sheet, onboarding as an overlay.
class AboutDetailSheet : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 480;
  static constexpr int kMaxBodyHeight = 420;

  // Takes ownership of `body`.
  AboutDetailSheet(const QString& title, QWidget* body, QWidget* parent = nullptr);

  QWidget* body() const { return body_; }
  TextLabel* titleLabel() const { return title_; }
  CappedScrollArea* scrollArea() const { return scroll_; }
  EditorialPillButton* closeButton() const { return close_; }

 Q_SIGNALS:
  // Once per click of CLOSE.
  void closeRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QWidget* body_;
  TextLabel* title_;
  CappedScrollArea* scroll_;
  EditorialPillButton* close_;
};

}  // namespace murel
