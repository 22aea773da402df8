#include "design/Sheets.h"

#include "design/CoreComponents.h"
#include "design/EditorialComponents.h"
#include "design/Text.h"
#include "design/Tokens.h"

#include <QBitmap>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace murel {

namespace {

// How dark the page behind a sheet turns.
constexpr qreal kBackdropOpacity = 0.35;

QPainterPath sheetOutline(const QRectF& bounds) {
  QPainterPath path;
  path.addRoundedRect(bounds, kSheetCornerRadius, kSheetCornerRadius);
  return path;
}

// The window's shape: the sheet's rounded rectangle, so the corners show what
// is behind rather than a square of window background.
void cutCorners(QWidget* window) {
  if (window->size().isEmpty()) return;
  QBitmap shape(window->size());
  shape.fill(Qt::color0);
  QPainter painter(&shape);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::color1);
  painter.drawPath(sheetOutline(QRectF(window->rect())));
  painter.end();
  window->setMask(shape);
}

// Keeps a sheet window's shape in step with its size.
class CornerCutter : public QObject {
 public:
  explicit CornerCutter(QWidget* window) : QObject(window) {
    window->installEventFilter(this);
    cutCorners(window);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize) cutCorners(static_cast<QWidget*>(watched));
    return false;
  }
};

}  // namespace

void paintSheetFace(QPainter& painter, const QWidget* widget) {
  painter.setRenderHint(QPainter::Antialiasing);
  // The stroke sits on the pixel grid just inside the edge.
  const QPainterPath outline = sheetOutline(QRectF(widget->rect()).adjusted(0.5, 0.5, -0.5, -0.5));
  painter.setPen(QPen(dsColor(DSColor::hairline, widget), 1));
  painter.setBrush(dsColor(DSColor::background, widget));
  painter.drawPath(outline);
}

// SheetBackdrop

SheetBackdrop::SheetBackdrop(QWidget* window) : QWidget(window) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setGeometry(window->rect());
  window->installEventFilter(this);
  raise();
}

bool SheetBackdrop::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
  // Whatever the window adds later stays under the dimming.
  if (watched == parentWidget() && event->type() == QEvent::ChildAdded) raise();
  return QWidget::eventFilter(watched, event);
}

void SheetBackdrop::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QColor shade(Qt::black);
  shade.setAlphaF(kBackdropOpacity);
  painter.fillRect(rect(), shade);
}

void presentAsSheet(QDialog* dialog, QWidget* over) {
  dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  dialog->setWindowModality(Qt::WindowModal);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->adjustSize();
  new CornerCutter(dialog);
  if (QWidget* window = over ? over->window() : nullptr) {
    QPointer<SheetBackdrop> backdrop = new SheetBackdrop(window);
    backdrop->show();
    // The page comes back the moment the dialog closes.
    QObject::connect(dialog, &QDialog::finished, backdrop, [backdrop] { delete backdrop.data(); });
    // A dialog deleted without closing (its page went) may be going down with the window.
    QObject::connect(dialog, &QObject::destroyed, backdrop, [backdrop] {
      if (backdrop) backdrop->deleteLater();
    });
    QRect frame(QPoint(), dialog->size());
    frame.moveCenter(window->frameGeometry().center());
    dialog->move(frame.topLeft());
  }
  dialog->open();
}

// DSAlert

namespace {
constexpr int kAlertInsetH = 24;
constexpr int kAlertInsetV = 20;
}  // namespace

DSAlert::DSAlert(const QString& title, const QString& message, QWidget* parent) : QDialog(parent) {
  setWindowTitle(title);
  setFixedWidth(kWidth);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* text = new QVBoxLayout;
  text->setContentsMargins(kAlertInsetH, kAlertInsetV + 4, kAlertInsetH, kAlertInsetV);
  text->setSpacing(8);
  title_ = new TextLabel(title, TextStyle{notoSans(16, DSWeight::bold), 2, DSColor::ink}, this);
  message_ = new TextLabel(message, TextStyle{notoSansItalic(14), 4, DSColor::inkMuted}, this);
  text->addWidget(title_);
  text->addWidget(message_);
  column->addLayout(text);
  column->addWidget(new EditorialRule(this));

  buttonRow_ = new QHBoxLayout;
  buttonRow_->setContentsMargins(kAlertInsetH, 16, kAlertInsetH, 16);
  buttonRow_->setSpacing(12);
  buttonRow_->addStretch(1);
  column->addLayout(buttonRow_);
}

EditorialPillButton* DSAlert::addButton(const QString& label, Role role) {
  const DSColor tint = role == Role::destructive ? DSColor::danger
                       : role == Role::cancel    ? DSColor::inkSecondary
                                                 : DSColor::accent;
  auto* button = new EditorialPillButton(label, tint, nullptr, this);
  button->setAccessibleName(label);
  button->setFocusPolicy(Qt::StrongFocus);
  buttonRow_->addWidget(button);
  buttons_.append(button);
  roles_.append(role);
  connect(button, &QAbstractButton::clicked, this, [this, button, role] {
    Q_EMIT buttonClicked(button);
    if (role == Role::cancel)
      reject();
    else
      accept();
  });
  return button;
}

DSAlert::Role DSAlert::role(const QAbstractButton* button) const {
  for (qsizetype i = 0; i < buttons_.size(); ++i)
    if (buttons_[i] == button) return roles_[i];
  return Role::cancel;
}

QSize DSAlert::sizeHint() const {
  // Always kWidth wide, the message wrapped to fit.
  return QSize(kWidth, layout()->totalHeightForWidth(kWidth));
}

QString DSAlert::title() const { return title_->text(); }
QString DSAlert::message() const { return message_->text(); }

void DSAlert::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paintSheetFace(painter, this);
}

void DSAlert::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  for (qsizetype i = 0; i < buttons_.size(); ++i)
    if (roles_[i] == Role::cancel) buttons_[i]->setFocus(Qt::OtherFocusReason);
}

void DSAlert::keyPressEvent(QKeyEvent* event) {
  // Return presses the focused pill, as Space does; QDialog would look for a
  // default push button, which an alert of pills has not.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (auto* focused = qobject_cast<EditorialPillButton*>(focusWidget()); focused && buttons_.contains(focused)) {
      focused->click();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}

}  // namespace murel
