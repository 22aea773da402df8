#include "design/Appearance.h"

#include <QApplication>
#include <QWidget>

namespace murel {
namespace {

const char* const kOverrideProperty = "murelAppearance";

void notifySubtree(QWidget* root) {
  const QEvent::Type type = Appearance::changeEventType();
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets.prepend(root);
  for (QWidget* w : widgets) {
    QEvent event(type);
    QCoreApplication::sendEvent(w, &event);
  }
  root->update();
}

}  // namespace

Appearance& Appearance::shared() {
  static Appearance* instance =
      new Appearance(platform::DesktopColorScheme::onSessionBus(), QCoreApplication::instance());
  return *instance;
}

Appearance::Appearance(std::unique_ptr<platform::DesktopColorScheme> desktop, QObject* parent)
    : QObject(parent), desktop_(std::move(desktop)) {
  // No preference, or no desktop service to ask, is the light appearance.
  connect(desktop_.get(), &platform::DesktopColorScheme::preferenceChanged, this,
          [this](platform::DesktopColorScheme::Preference preference) {
            apply(preference == platform::DesktopColorScheme::Preference::Dark ? Scheme::Dark : Scheme::Light);
          });
}

Appearance::~Appearance() = default;

QEvent::Type Appearance::changeEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

Appearance::Scheme Appearance::schemeFromPortalValue(const QVariant& value) {
  return platform::DesktopColorScheme::fromPortalValue(value) == platform::DesktopColorScheme::Preference::Dark
             ? Scheme::Dark
             : Scheme::Light;
}

Appearance::Scheme Appearance::schemeFor(const QWidget* widget) {
  for (const QWidget* w = widget; w; w = w->parentWidget()) {
    const QVariant forced = w->property(kOverrideProperty);
    if (forced.isValid()) return forced.toInt() == int(Scheme::Dark) ? Scheme::Dark : Scheme::Light;
  }
  return shared().scheme();
}

void Appearance::setOverride(QWidget* widget, std::optional<Scheme> scheme) {
  widget->setProperty(kOverrideProperty, scheme ? QVariant(int(*scheme)) : QVariant());
  notifySubtree(widget);
}

void Appearance::apply(Scheme scheme) {
  if (scheme == scheme_) return;
  scheme_ = scheme;
  // One repaint of every window: widgets look their colours up while painting.
  if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
    for (QWidget* window : QApplication::topLevelWidgets()) notifySubtree(window);
  }
  emit schemeChanged(scheme_);
}

}  // namespace murel
