#pragma once

#include "onboarding/OnboardingStep.h"
#include "onboarding/PushTransition.h"
#include "runtime/Clock.h"

#include <QAbstractButton>
#include <QList>
#include <QPointer>

namespace murel {

class OnboardingButtonStyle;
class Tween;

// One page of the welcome carousel.
struct WelcomeMessage {
  QString headline;
  QString subline;
  bool operator==(const WelcomeMessage&) const = default;
};

// The five carousel pages in their order, translated once on first use.
const QList<WelcomeMessage>& welcomeMessages();

// A page dot of the carousel: a 6 px capsule, 22 px wide and accent for the
// current page, the width and colour easing over 0.15 s. The capsule is the
// click area.
class WelcomePageDot : public QAbstractButton {
  Q_OBJECT

 public:
  explicit WelcomePageDot(bool current, QWidget* parent = nullptr);
  void setCurrent(bool current);
  bool isCurrent() const { return current_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  bool current_;
  Tween* emphasis_;
};

// A chevron in a 20 by 20 click area, drawn in the secondary ink.
class WelcomeChevronButton : public QAbstractButton {
  Q_OBJECT

 public:
  WelcomeChevronButton(const QString& symbol, QWidget* parent = nullptr);
  QString symbol() const { return symbol_; }
  QSize sizeHint() const override { return QSize(20, 20); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  QString symbol_;
};

// The first onboarding step, shown without the header: the brand mark, a
// carousel of five messages that turns by itself, and "BEGIN →".
//
// The automatic turn waits 5 s on the injected clock. Any change of the page
// (by hand or by itself) or of the hover state starts a fresh wait; while the
// pointer is over the step, while the step is hidden, and in a preview run
// nothing is pending at all.
class WelcomeView : public OnboardingStep {
  Q_OBJECT

 public:
  explicit WelcomeView(Clock& clock, QWidget* parent = nullptr);
  ~WelcomeView() override;

  static constexpr std::chrono::seconds kAdvanceDelay{5};
  static constexpr int kMessagePushMs = 300;

  int index() const { return index_; }
  bool forward() const { return forward_; }
  bool isHovering() const { return hovering_; }
  bool hasPendingAdvance() const { return pending_ != 0; }

  // Shows page `target`, entering from the right when `forward`; the page
  // already shown changes nothing (not even the direction).
  void showMessage(int target, bool forward);
  // One page on or back, wrapping at both ends.
  void stepMessage(bool next);

  // The message widget on screen (the entering one during a turn).
  QWidget* messageView() const { return message_; }
  PushTransition* messageTransition() const { return transition_; }
  QWidget* carousel() const { return carousel_; }
  WelcomeChevronButton* previousButton() const { return previous_; }
  WelcomeChevronButton* nextButton() const { return next_; }
  WelcomePageDot* dot(int i) const { return dots_.value(i); }
  OnboardingButtonStyle* beginButton() const { return begin_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void setHovering(bool hovering);
  void restartWait();
  void cancelWait();
  QWidget* makeMessageView(int index);

  Clock& clock_;
  int index_ = 0;
  bool forward_ = true;
  bool hovering_ = false;
  Clock::TimerId pending_ = 0;
  QWidget* carousel_;
  QWidget* message_ = nullptr;
  QPointer<PushTransition> transition_;
  WelcomeChevronButton* previous_;
  WelcomeChevronButton* next_;
  QList<WelcomePageDot*> dots_;
  OnboardingButtonStyle* begin_;
};

}  // namespace murel
