#pragma once

#include "platform/DesktopColorScheme.h"

#include <QEvent>
#include <QObject>

#include <memory>
#include <optional>

class QWidget;

namespace murel {

// Light or dark, as the desktop asks through the XDG portal's
// "org.freedesktop.appearance" "color-scheme" setting. Light when there is no
// portal or no preference. Colours are looked up against it at paint time, so
// a change repaints the open windows without rebuilding any widget.
class Appearance : public QObject {
  Q_OBJECT
  Q_PROPERTY(Scheme scheme READ scheme NOTIFY schemeChanged)

 public:
  enum class Scheme { Light, Dark };
  Q_ENUM(Scheme)

  // The process-wide instance on the session bus, created (and subscribed to
  // the portal) on first use.
  static Appearance& shared();

  // Follows `desktop`'s preference.
  explicit Appearance(std::unique_ptr<platform::DesktopColorScheme> desktop, QObject* parent = nullptr);
  ~Appearance() override;

  Scheme scheme() const { return scheme_; }

  // The scheme a widget draws with: the nearest override among the widget and
  // its ancestors, else the desktop's.
  static Scheme schemeFor(const QWidget* widget);
  // Forces a widget subtree to one scheme (nullopt follows the desktop again)
  // and repaints it.
  static void setOverride(QWidget* widget, std::optional<Scheme> scheme);

  // Sent to every widget when the scheme it draws with may have changed, so
  // that components holding stock Qt widgets can refresh their palettes.
  static QEvent::Type changeEventType();

  // Maps the portal's value (0 no preference, 1 prefer dark, 2 prefer light).
  static Scheme schemeFromPortalValue(const QVariant& value);

 signals:
  void schemeChanged(murel::Appearance::Scheme scheme);

 private:
  void apply(Scheme scheme);

  std::unique_ptr<platform::DesktopColorScheme> desktop_;
  Scheme scheme_ = Scheme::Light;
};

}  // namespace murel
