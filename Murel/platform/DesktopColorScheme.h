#pragma once

#include <QObject>
#include <QVariant>

#include <memory>

namespace murel::platform {

// The desktop's light or dark preference.
//
// Threading: main thread. Nothing blocks: the desktop's answer to the first
// question, every later change, and a desktop service that appears later all
// arrive as `preferenceChanged` (possibly repeating the last value).
class DesktopColorScheme : public QObject {
  Q_OBJECT

 public:
  enum class Preference { NoPreference, Dark, Light };
  Q_ENUM(Preference)

  using QObject::QObject;

  // The XDG desktop portal's "org.freedesktop.appearance" "color-scheme"
  // setting on the session bus; asked at once. NoPreference when there is no
  // portal or it lacks the setting.
  static std::unique_ptr<DesktopColorScheme> onSessionBus();

  // The portal's value (0 no preference, 1 prefer dark, 2 prefer light),
  // however deeply the bus wrapped it in variants.
  static Preference fromPortalValue(const QVariant& value);

 Q_SIGNALS:
  void preferenceChanged(murel::platform::DesktopColorScheme::Preference preference);
};

}  // namespace murel::platform
